// What the varnell-cli tests share: a broken side and a valid side in two scratch folders,
// and the texts the program prints, composed the way it composes them.
#pragma once

#include <string>
#include <vector>

#include "tests/testing/engine_test.h"

// The outcome of one run: exit status and the two streams, as bytes (UTF-8).
struct CliOutcome {
  int status;
  std::string out;
  std::string err;
};

std::string Text(const Bytes& bytes);

// varnell-cli run in this process with these arguments, its two streams caught in files of
// streams.
CliOutcome RunCliWith(const ScratchFolder& streams, const std::vector<std::string>& arguments);

// The damaged contents used throughout: size bytes of noise, with blocks (1-based) changed.
Bytes Damage(const Bytes& valid, std::initializer_list<uint32_t> blocks);

// A path inside a folder, with the platform's separator.
std::string Join(const std::string& folder, const std::string& name);

// The lines the program prints.
std::string TestFileWrittenLine(const std::string& path, uint64_t size);
std::string RepairFileWrittenLine(const std::string& path, uint64_t size);
std::string RepairedLine(const std::string& path, uint32_t blocks);
std::string DamagedList(const std::vector<std::string>& ranges);
// The valid file's fingerprint as a scan names it on stderr, and as a verified repair does.
std::string FingerprintLine(const Bytes& valid);
std::string VerifiedLine(const Bytes& valid);
// The one line of a failure: "varnell-cli: PATH: what failed: reason"; what loses its full stop
// before a reason (the system's text, whose line end goes), and a condition the program found
// itself has none.
std::string ErrorLine(const std::string& path, const std::string& what, const std::string& reason = std::string());

class CliTest : public EngineTest {
 protected:
  ScratchFolder elsewhere;  // the valid side
};
