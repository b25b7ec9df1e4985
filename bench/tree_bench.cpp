// Driver for the benchmark of a folder's follow-up: makes a tree from a fixed seed in the shape
// of a real one (many small documents, fewer libraries of up to 16 MiB), damages a copy of it
// the way failing disks do, and counts the blocks in which two trees still differ.
//
//   tree_bench make-tree ROOT SEED               about 7,000 files, about 800 MiB
//   tree_bench damage-tree ROOT SEED FAULTS FILES DELETED [visible]
//                                                FAULTS 512-byte sector faults in FILES files
//                                                (zeroed, 0xFF, swapped with the next sector,
//                                                random; with visible no swaps, which the block
//                                                checksum cannot see), DELETED other files removed
//   tree_bench make-small-tree ROOT SEED FILES   FILES files of 1.5 to 12 KiB (evenly on a log
//                                                scale), ten to a folder, a hundred folders to
//                                                a folder above them: a cold disk's worst case
//   tree_bench damage-small-tree ROOT SEED FILES one byte changed in each of FILES files
//   tree_bench differing VALID BROKEN            differing_files, differing_blocks,
//                                                differing_bytes, missing_files
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kBlock = 4096;
constexpr uint64_t kSector = 512;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "tree_bench: %s\n", what.c_str());
  std::exit(1);
}

struct Xorshift {
  uint64_t state;
  uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  uint64_t Below(uint64_t n) { return Next() % n; }
};

void WriteFile(const fs::path& path, uint64_t size, Xorshift& random) {
  std::vector<char> bytes(size + 8);
  for (uint64_t i = 0; i < size; i += 8) {
    const uint64_t word = random.Next();
    std::memcpy(bytes.data() + i, &word, 8);
  }
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(size));
  if (!out) Die("cannot write " + path.string());
}

// The regular files below root, sorted, so that a seed picks the same ones every time.
std::vector<fs::path> FilesBelow(const fs::path& root) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

int MakeTree(const fs::path& root, uint64_t seed) {
  Xorshift random{seed | 1};
  uint64_t total = 0;
  // Documentation: 6,200 small files in packages of 10 to 60.
  for (int file = 0, package = 0; file < 6200; ++package) {
    const fs::path folder = root / "doc" / ("package-" + std::to_string(package));
    fs::create_directories(folder);
    const int count = 10 + static_cast<int>(random.Below(51));
    for (int i = 0; i < count && file < 6200; ++i, ++file) {
      const uint64_t size = 200 + random.Below(20000);
      WriteFile(folder / ("page-" + std::to_string(i) + ".html"), size, random);
      total += size;
    }
  }
  // Libraries: 735 of 64 KiB to 4 MiB (evenly on a log scale) and 5 of 8 to 16 MiB.
  for (int i = 0; i < 740; ++i) {
    const fs::path folder = root / "lib" / (i % 2 == 0 ? "x86_64-windows" : "i386-windows") / ("set-" + std::to_string(i / 40));
    fs::create_directories(folder);
    uint64_t size;
    if (i < 735) {
      const double exponent = 16.0 + 6.0 * static_cast<double>(random.Below(1000000)) / 1000000.0;
      size = static_cast<uint64_t>(std::exp2(exponent)) + random.Below(4096);
    } else {
      size = (8u << 20) + random.Below(8u << 20);
    }
    WriteFile(folder / ("module-" + std::to_string(i) + ".dll"), size, random);
    total += size;
  }
  std::printf("files=%d\nbytes=%" PRIu64 "\n", 6200 + 740, total);
  return 0;
}

int MakeSmallTree(const fs::path& root, uint64_t seed, uint64_t files) {
  Xorshift random{seed | 1};
  uint64_t total = 0;
  for (uint64_t file = 0; file < files; ++file) {
    const fs::path folder = root / ("set-" + std::to_string(file / 1000)) / ("part-" + std::to_string(file / 10 % 100));
    if (file % 10 == 0) fs::create_directories(folder);
    const double exponent = 10.5 + 3.0 * static_cast<double>(random.Below(1000000)) / 1000000.0;
    const uint64_t size = static_cast<uint64_t>(std::exp2(exponent));
    WriteFile(folder / ("item-" + std::to_string(file % 10) + ".dat"), size, random);
    total += size;
  }
  std::printf("files=%" PRIu64 "\nfolders=%" PRIu64 "\nbytes=%" PRIu64 "\n", files, (files + 9) / 10 + (files + 999) / 1000, total);
  return 0;
}

int DamageSmallTree(const fs::path& root, uint64_t seed, uint64_t files) {
  Xorshift random{seed | 1};
  std::vector<fs::path> all = FilesBelow(root);
  if (all.size() < files) Die("the tree is too small for that damage");
  for (uint64_t i = 0; i < files; ++i) {
    std::swap(all[i], all[i + random.Below(all.size() - i)]);
    std::fstream file(all[i], std::ios::in | std::ios::out | std::ios::binary);
    const auto at = static_cast<std::streamoff>(random.Below(fs::file_size(all[i])));
    char byte = 0;
    file.seekg(at);
    file.read(&byte, 1);
    byte = static_cast<char>(byte ^ 0x5A);  // never the byte it was
    file.seekp(at);
    file.write(&byte, 1);
    if (!file) Die("cannot damage " + all[i].string());
  }
  std::printf("damaged=%" PRIu64 "\n", files);
  return 0;
}

int DamageTree(const fs::path& root, uint64_t seed, uint64_t faults, uint64_t files, uint64_t deleted, bool visible) {
  Xorshift random{seed | 1};
  std::vector<fs::path> all = FilesBelow(root);
  // Faults go to files of at least 64 KiB, as a disk's bad sectors meet the big files most.
  std::vector<fs::path> big;
  std::copy_if(all.begin(), all.end(), std::back_inserter(big), [](const fs::path& p) { return fs::file_size(p) >= 65536; });
  if (big.size() < files || all.size() < files + deleted) Die("the tree is too small for that damage");
  for (uint64_t i = 0; i < files; ++i) std::swap(big[i], big[i + random.Below(big.size() - i)]);
  big.resize(files);
  uint64_t kinds[4] = {};
  for (uint64_t f = 0; f < faults; ++f) {
    const fs::path& path = big[f % files];
    const uint64_t sectors = fs::file_size(path) / kSector;
    // A sector and, for a swap, the next one in the same block: the block checksum cannot see it.
    uint64_t sector = random.Below(sectors - 1);
    // Each file gets faults of different kinds: a swap beside a fault the checksum sees.
    uint64_t kind = (f + f / files) % 4;
    if (visible && kind == 2) kind = 3;
    if (kind == 2 && sector % (kBlock / kSector) == kBlock / kSector - 1) --sector;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    char bytes[2 * kSector];
    file.seekg(static_cast<std::streamoff>(sector * kSector));
    file.read(bytes, sizeof bytes);
    switch (kind) {
      case 0: std::memset(bytes, 0, kSector); break;
      case 1: std::memset(bytes, 0xFF, kSector); break;
      case 2: std::swap_ranges(bytes, bytes + kSector, bytes + kSector); break;
      default:
        for (uint64_t i = 0; i < kSector; i += 8) {
          const uint64_t word = random.Next();
          std::memcpy(bytes + i, &word, 8);
        }
    }
    file.seekp(static_cast<std::streamoff>(sector * kSector));
    file.write(bytes, sizeof bytes);
    if (!file) Die("cannot damage " + path.string());
    ++kinds[kind];
  }
  // Deleted: files the faults did not touch.
  uint64_t removed = 0;
  while (removed < deleted) {
    const fs::path& path = all[random.Below(all.size())];
    if (std::find(big.begin(), big.end(), path) != big.end() || !fs::exists(path)) continue;
    fs::remove(path);
    ++removed;
  }
  std::printf("zeroed=%" PRIu64 "\nerased=%" PRIu64 "\nswapped=%" PRIu64 "\nrandom=%" PRIu64 "\ndeleted=%" PRIu64 "\n", kinds[0],
              kinds[1], kinds[2], kinds[3], removed);
  return 0;
}

int Differing(const fs::path& valid, const fs::path& broken) {
  uint64_t files = 0, blocks = 0, bytes = 0, missing = 0;
  std::vector<char> a(1u << 20), b(1u << 20);
  for (const fs::path& path : FilesBelow(valid)) {
    const fs::path other = broken / fs::relative(path, valid);
    if (!fs::exists(other)) {
      ++missing;
      continue;
    }
    std::ifstream x(path, std::ios::binary), y(other, std::ios::binary);
    const uint64_t size = fs::file_size(path);
    bool differs = fs::file_size(other) != size;
    for (uint64_t at = 0; at < size; at += a.size()) {
      x.read(a.data(), static_cast<std::streamsize>(a.size()));
      y.read(b.data(), static_cast<std::streamsize>(b.size()));
      const uint64_t got = static_cast<uint64_t>(x.gcount());
      for (uint64_t block = 0; block < got; block += kBlock) {
        const uint64_t count = std::min(kBlock, got - block);
        if (std::memcmp(a.data() + block, b.data() + block, count) != 0) {
          ++blocks;
          bytes += count;
          differs = true;
        }
      }
    }
    files += differs ? 1 : 0;
  }
  std::printf("differing_files=%" PRIu64 "\ndiffering_blocks=%" PRIu64 "\ndiffering_bytes=%" PRIu64 "\nmissing_files=%" PRIu64 "\n",
              files, blocks, bytes, missing);
  return 0;
}

uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (end == text || *end != '\0') Die(std::string("not a number: ") + text);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make-tree" && argc == 4) return MakeTree(argv[2], Number(argv[3]));
  if (command == "damage-tree" && (argc == 7 || (argc == 8 && std::strcmp(argv[7], "visible") == 0))) {
    return DamageTree(argv[2], Number(argv[3]), Number(argv[4]), Number(argv[5]), Number(argv[6]), argc == 8);
  }
  if (command == "differing" && argc == 4) return Differing(argv[2], argv[3]);
  if (command == "make-small-tree" && argc == 5) return MakeSmallTree(argv[2], Number(argv[3]), Number(argv[4]));
  if (command == "damage-small-tree" && argc == 5) return DamageSmallTree(argv[2], Number(argv[3]), Number(argv[4]));
  std::fprintf(stderr,
               "usage: tree_bench make-tree ROOT SEED\n"
               "       tree_bench damage-tree ROOT SEED FAULTS FILES DELETED [visible]\n"
               "       tree_bench make-small-tree ROOT SEED FILES\n"
               "       tree_bench damage-small-tree ROOT SEED FILES\n"
               "       tree_bench differing VALID BROKEN\n");
  return 2;
}
