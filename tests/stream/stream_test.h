// What the tests of the streaming operations share: the fixture of the engine tests, runs of
// the three operations with an optional stop and progress record, and the bytes of a file.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "stream/operations.h"
#include "tests/testing/engine_test.h"

// Calls of the progress callback, as (done, total) pairs.
struct ProgressRecord {
  std::vector<std::pair<uint64_t, uint64_t>> calls;
  // Set the stop flag once done reaches this many bytes (0: never).
  uint64_t stopAt = 0;
  std::atomic<bool> stop{false};
};

StreamControl ControlFor(ProgressRecord* record);

class StreamTest : public EngineTest {
 protected:
  ScratchFolder elsewhere;  // the valid side
};

// A file's contents with block b (1-based) changed in one byte.
Bytes WithDamage(const Bytes& bytes, std::initializer_list<uint64_t> blocks);

// The file names in a folder, sorted (to see that no temporary file is left).
std::vector<std::string> FolderEntries(const std::string& folder);

// Writes bytes into an existing file at offset, without going through the code under test;
// the file's other bytes stay as they are (holes stay holes).
void WriteBytesAt(const std::string& path, uint64_t offset, const Bytes& bytes);
// Reads count bytes at offset.
Bytes ReadBytesAt(const std::string& path, uint64_t offset, size_t count);
