// What the fuzz targets need: a scratch folder made once per process, plain file access that
// does not go through the platform layer under test, and checks that abort with a message
// (libFuzzer then keeps the input).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "platform/platform.h"

using Bytes = std::vector<uint8_t>;

// A file name in the scratch folder, which is made under $TMPDIR (or /tmp) on first use and
// removed, with the files named through here, when the process exits normally.
std::string ScratchPath(const char* name);

void WriteFileBytes(const std::string& path, const uint8_t* data, size_t size);
Bytes ReadFileBytes(const std::string& path);
// A folder at a scratch path (from ScratchPath); the names in it are taken through ScratchPath too.
void MakeFolder(const std::string& path);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);

uint32_t Le32At(const Bytes& bytes, size_t offset);  // missing bytes read as 0
void AppendLe32(Bytes& bytes, uint32_t value);

// From here on, a message box shown by anything is a failure: the operations show none.
void RefuseBoxes();

// Aborts with the message when the condition does not hold.
void Require(bool condition, const char* what);

// The engine must leave no file open and no memory region held after any call.
void RequireNothingHeld();

// Caps every file the process writes at kFileSizeLimit bytes: a write past it fails with the
// system's "file too large" instead of ending the process, so an input that names a huge valid
// size drives the write failure path instead of filling the disk.
inline constexpr uint64_t kFileSizeLimit = 256 * 1024;
void CapFileWrites();
