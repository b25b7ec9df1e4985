// Driver for the timed runs of the engine's operations: makes the big input files, damages
// a copy, and runs one operation per process so that the runner scripts can time it against
// cat and cp and read its peak memory. Any message box means the run is not measuring what
// it claims to, so the sink aborts at once.
//
//   engine_bench make-file PATH SIZE SEED        pseudo-random contents, every block distinct
//   engine_bench damage PATH COUNT SEED          one changed byte in COUNT scattered blocks
//   engine_bench scan-broken BROKEN OUTDIR
//   engine_bench scan-valid VALID TEST OUTDIR [--report]
//   engine_bench repair BROKEN FIX [--report]
//
// With --report the operation prints key=value lines: its own time, the process's peak
// resident memory, the ledger's peak of committed memory and the expected peak.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/repair_file.h"
#include "whole_file/operations.h"
#include "platform/ledger.h"
#include "platform/platform.h"

namespace {

[[noreturn]] void Die(const char* what, const char* detail = "") {
  std::fprintf(stderr, "engine_bench: %s%s%s\n", what, detail[0] != '\0' ? ": " : "", detail);
  std::exit(1);
}

int AbortOnBox(WindowHandle, const char* text, const char* caption, unsigned type) {
  std::fprintf(stderr, "engine_bench: unexpected message box (type 0x%x)\n  caption: %s\n  text: %s\n", type, caption,
               text);
  std::abort();
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

uint64_t Pages(uint64_t bytes) { return (bytes + kPageSize - 1) / kPageSize; }

uint64_t PeakResidentBytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // Linux reports KiB
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

double Seconds(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

void Report(double seconds, uint64_t residentBefore, uint64_t expectedBytes) {
  std::printf("seconds=%.6f\n", seconds);
  std::printf("rss_before_bytes=%" PRIu64 "\n", residentBefore);
  std::printf("rss_peak_bytes=%" PRIu64 "\n", PeakResidentBytes());
  std::printf("committed_peak_bytes=%" PRIu64 "\n", PeakCommittedBytes());
  std::printf("expected_peak_bytes=%" PRIu64 "\n", expectedBytes);
}

int ScanValid(const char* validPath, const char* testPath, const char* outputFolder, bool report) {
  const uint64_t residentBefore = PeakResidentBytes();
  const auto start = std::chrono::steady_clock::now();
  const Outcome result = ScanValidFile(Reporter{}, validPath, testPath, outputFolder);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  if (result.ending != Ending::Done) Die("ScanValidFile did not finish");
  if (!report) return 0;

  // The repair file, OUTDIR/STEM.fix, tells how many blocks were carried.
  const char* slash = std::strrchr(validPath, '/');
  const std::string name = slash != nullptr ? slash + 1 : validPath;
  const std::string fixPath = std::string(outputFolder) + "/" + name.substr(0, name.rfind('.')) + ".fix";
  const int fd = open(fixPath.c_str(), O_RDONLY);
  uint8_t header[kRepairFileHeaderBytes];
  if (fd < 0 || read(fd, header, sizeof header) != sizeof header) Die("cannot read", fixPath.c_str());
  close(fd);
  const uint64_t damaged = LoadU32LE(header + 4);

  // Image, test-file buffer (N * 16 + 4), one page per repair block, one per 1024 list entries.
  const uint64_t blocks = BlockCount(static_cast<uint32_t>(FileSize(validPath)));
  const uint64_t expected =
      kPageSize * (Pages(blocks * kBlockSize) + Pages(blocks * 16 + 4) + damaged + (damaged + 1023) / 1024);
  Report(Seconds(elapsed), residentBefore, expected);
  std::printf("damaged_blocks=%" PRIu64 "\n", damaged);
  std::printf("repair_file_bytes=%" PRIu64 "\n", FileSize(fixPath.c_str()));
  return 0;
}

int Repair(const char* brokenPath, const char* fixPath, bool report) {
  const uint64_t residentBefore = PeakResidentBytes();
  const auto start = std::chrono::steady_clock::now();
  const Outcome result = RepairBrokenFile(Reporter{}, brokenPath, fixPath);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  if (result.ending != Ending::Done) Die("RepairBrokenFile did not finish");
  if (!report) return 0;

  const int fd = open(fixPath, O_RDONLY);
  uint8_t header[kRepairFileHeaderBytes];
  if (fd < 0 || read(fd, header, sizeof header) != sizeof header) Die("cannot read", fixPath);
  close(fd);
  // The repair file's buffer plus the broken file's, sized from the recorded valid size.
  const uint64_t expected = kPageSize * (Pages(FileSize(fixPath)) + Pages(ImageBytes(LoadU32LE(header))));
  Report(Seconds(elapsed), residentBefore, expected);
  std::printf("damaged_blocks=%" PRIu32 "\n", LoadU32LE(header + 4));
  return 0;
}

void Usage() {
  std::fprintf(stderr,
               "usage: engine_bench make-file PATH SIZE SEED\n"
               "       engine_bench damage PATH COUNT SEED\n"
               "       engine_bench scan-broken BROKEN OUTDIR\n"
               "       engine_bench scan-valid VALID TEST OUTDIR [--report]\n"
               "       engine_bench repair BROKEN FIX [--report]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  InstallMessageBoxSink(AbortOnBox);
  if (argc < 2) Usage();
  const std::string command = argv[1];
  const bool report = std::strcmp(argv[argc - 1], "--report") == 0;
  const int operands = argc - 2 - (report ? 1 : 0);

  if (command == "make-file" && operands == 3) return MakeFile(argv[2], ParseNumber(argv[3]), ParseNumber(argv[4]));
  if (command == "damage" && operands == 3) return Damage(argv[2], ParseNumber(argv[3]), ParseNumber(argv[4]));
  if (command == "scan-broken" && operands == 2) {
    if (ScanBrokenFile(Reporter{}, argv[2], argv[3]).ending != Ending::Done) Die("ScanBrokenFile did not finish");
    return 0;
  }
  if (command == "scan-valid" && operands == 3) return ScanValid(argv[2], argv[3], argv[4], report);
  if (command == "repair" && operands == 2) return Repair(argv[2], argv[3], report);
  Usage();
}
