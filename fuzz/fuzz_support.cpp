// Scratch files and checks for the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/ledger.h"

namespace {

std::string scratchFolder;
std::vector<std::string>* madePaths = nullptr;
bool boxesRefused = false;

void RemoveScratch() {
  // Newest first, so that a folder's files go before the folder.
  if (madePaths != nullptr) {
    for (auto path = madePaths->rbegin(); path != madePaths->rend(); ++path) {
      if (unlink(path->c_str()) != 0) rmdir(path->c_str());
    }
  }
  if (!scratchFolder.empty()) rmdir(scratchFolder.c_str());
}

const std::string& Folder() {
  if (scratchFolder.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/varnell-fuzz.XXXXXX";
    std::vector<char> writable(pattern.begin(), pattern.end());
    writable.push_back('\0');
    Require(mkdtemp(writable.data()) != nullptr, "cannot make the scratch folder");
    scratchFolder = writable.data();
    madePaths = new std::vector<std::string>;
    std::atexit(RemoveScratch);
  }
  return scratchFolder;
}

int RefuseBox(WindowHandle, const char* text, const char* caption, unsigned) {
  std::fprintf(stderr, "\nvarnell fuzz check failed: a box was shown: %s | %s\n", caption, text);
  std::abort();
}

}  // namespace

std::string ScratchPath(const char* name) {
  std::string path = Folder() + "/" + name;
  bool known = false;
  for (const std::string& made : *madePaths) known = known || made == path;
  if (!known) madePaths->push_back(path);
  return path;
}

void WriteFileBytes(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Require(fd >= 0, "cannot create a scratch file");
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    Require(put > 0, "cannot write a scratch file");
    data += put;
    size -= static_cast<size_t>(put);
  }
  close(fd);
}

Bytes ReadFileBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  Require(fd >= 0, "cannot open a scratch file");
  struct stat info;
  Require(fstat(fd, &info) == 0, "cannot stat a scratch file");
  Bytes bytes(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
    Require(got > 0, "cannot read a scratch file");
    done += static_cast<size_t>(got);
  }
  close(fd);
  return bytes;
}

void MakeFolder(const std::string& path) { Require(mkdir(path.c_str(), 0700) == 0, "cannot make a scratch folder"); }

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

uint32_t Le32At(const Bytes& bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    if (offset + i < bytes.size()) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

void AppendLe32(Bytes& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void RefuseBoxes() {
  if (boxesRefused) return;
  InstallMessageBoxSink(RefuseBox);
  boxesRefused = true;
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "\nvarnell fuzz check failed: %s\n", what);
  std::abort();
}

void RequireNothingHeld() {
  Require(OpenFileCount() == 0, "a file is still open after the call");
  Require(HeldRegionCount() == 0, "a memory region is still held after the call");
  Require(CommittedBytes() == 0, "memory is still committed after the call");
}

void CapFileWrites() {
  // Ignored, so that a write past the cap fails with EFBIG instead of ending the process.
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  Require(getrlimit(RLIMIT_FSIZE, &limit) == 0, "cannot read the file size limit");
  limit.rlim_cur = kFileSizeLimit;
  Require(setrlimit(RLIMIT_FSIZE, &limit) == 0, "cannot set the file size limit");
}
