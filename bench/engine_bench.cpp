// Makes the benchmarks' big input files and damages a copy, so that the runner scripts time
// varnell-cli on the same bytes every run.
//
//   engine_bench make-file PATH SIZE SEED        pseudo-random contents, every block distinct
//   engine_bench damage PATH COUNT SEED          one changed byte in COUNT scattered blocks
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/block.h"

namespace {

[[noreturn]] void Die(const char* what, const char* detail = "") {
  std::fprintf(stderr, "engine_bench: %s%s%s\n", what, detail[0] != '\0' ? ": " : "", detail);
  std::exit(1);
}

uint64_t ParseNumber(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (end == text || *end != '\0') Die("not a number", text);
  return value;
}

uint64_t FileSize(const char* path) {
  struct stat info;
  if (stat(path, &info) != 0) Die("cannot stat", path);
  return static_cast<uint64_t>(info.st_size);
}

struct Xorshift {
  uint64_t state;
  uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

void WriteAll(int fd, const uint8_t* bytes, size_t count, const char* path) {
  while (count > 0) {
    const ssize_t put = write(fd, bytes, count);
    if (put <= 0) Die("cannot write", path);
    bytes += put;
    count -= static_cast<size_t>(put);
  }
}

int MakeFile(const char* path, uint64_t size, uint64_t seed) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Die("cannot create", path);
  Xorshift random{seed | 1};
  std::vector<uint8_t> chunk(4u << 20);
  for (uint64_t done = 0; done < size;) {
    for (size_t i = 0; i < chunk.size(); i += 8) {
      const uint64_t word = random.Next();
      std::memcpy(chunk.data() + i, &word, 8);
    }
    const size_t count = static_cast<size_t>(size - done < chunk.size() ? size - done : chunk.size());
    WriteAll(fd, chunk.data(), count, path);
    done += count;
  }
  close(fd);
  return 0;
}

// One block in each of COUNT equal stretches of the file, at a random place in it, gets
// one byte changed; a single changed byte always changes the block's checksum.
int Damage(const char* path, uint64_t count, uint64_t seed) {
  const uint64_t blocks = BlockCount64(FileSize(path));
  if (count == 0 || count > blocks) Die("damage count must be from 1 to the file's block count");
  const int fd = open(path, O_RDWR);
  if (fd < 0) Die("cannot open", path);
  const uint64_t size = FileSize(path);
  Xorshift random{seed | 1};
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t first = i * blocks / count;
    const uint64_t stretch = (i + 1) * blocks / count - first;
    const uint64_t block = first + random.Next() % stretch;
    uint64_t offset = block * kBlockSize + random.Next() % kBlockSize;
    if (offset >= size) offset = size - 1;  // a partial last block
    uint8_t byte;
    if (pread(fd, &byte, 1, static_cast<off_t>(offset)) != 1) Die("cannot read", path);
    byte ^= static_cast<uint8_t>(1 + random.Next() % 255);
    if (pwrite(fd, &byte, 1, static_cast<off_t>(offset)) != 1) Die("cannot write", path);
  }
  close(fd);
  return 0;
}

void Usage() {
  std::fprintf(stderr,
               "usage: engine_bench make-file PATH SIZE SEED\n"
               "       engine_bench damage PATH COUNT SEED\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) Usage();
  const std::string command = argv[1];
  if (command == "make-file") return MakeFile(argv[2], ParseNumber(argv[3]), ParseNumber(argv[4]));
  if (command == "damage") return Damage(argv[2], ParseNumber(argv[3]), ParseNumber(argv[4]));
  Usage();
}
