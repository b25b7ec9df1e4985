// The shared part of the streaming-operation tests.
#include "tests/stream/stream_test.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace {

void Record(void* context, uint64_t done, uint64_t total) {
  auto* record = static_cast<ProgressRecord*>(context);
  record->calls.emplace_back(done, total);
  if (record->stopAt != 0 && done >= record->stopAt) record->stop = true;
}

}  // namespace

StreamControl ControlFor(ProgressRecord* record) {
  StreamControl control;
  control.progress = Record;
  control.context = record;
  control.stop = &record->stop;
  return control;
}

Bytes WithDamage(const Bytes& bytes, std::initializer_list<uint64_t> blocks) {
  Bytes damaged = bytes;
  for (const uint64_t block : blocks) damaged[(block - 1) * 4096] ^= 0x5A;
  return damaged;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::FILE* OpenAt(const std::string& path, const char* mode, uint64_t offset) {
  std::FILE* file = OpenPath(path, mode);
  if (file == nullptr) throw std::runtime_error("cannot open " + path);
#ifdef _WIN32
  const int moved = _fseeki64(file, static_cast<long long>(offset), SEEK_SET);
#else
  const int moved = fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
  if (moved != 0) {
    std::fclose(file);
    throw std::runtime_error("cannot seek in " + path);
  }
  return file;
}

}  // namespace

void WriteBytesAt(const std::string& path, uint64_t offset, const Bytes& bytes) {
  std::FILE* file = OpenAt(path, "r+b", offset);
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  if (std::fclose(file) != 0 || written != bytes.size()) throw std::runtime_error("cannot write " + path);
}

Bytes ReadBytesAt(const std::string& path, uint64_t offset, size_t count) {
  std::FILE* file = OpenAt(path, "rb", offset);
  Bytes bytes(count);
  const size_t got = std::fread(bytes.data(), 1, count, file);
  std::fclose(file);
  bytes.resize(got);
  return bytes;
}
