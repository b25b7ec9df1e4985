// The files are written with the system's own calls, not through the program: the length is
// set with SetFilePointerEx and SetEndOfFile, which leaves a hole, and the few data blocks go
// in at their offsets.
#include "tests/ui/harness/sparse_files.h"

#include <windows.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>
#include <stdexcept>

#include "core/compact_test_file.h"
#include "core/fingerprint.h"
#include "core/fingerprint_part.h"
#include "core/repair_origin.h"
#include "platform/win32/wide.h"
#include "tests/testing/reference.h"

namespace gui {

namespace {

constexpr uint64_t kBlock = 4096;

Bytes Le64(uint64_t value) { return Concat({Le32(static_cast<uint32_t>(value)), Le32(static_cast<uint32_t>(value >> 32))}); }

uint32_t ChecksumOf(const SparseFile& file, uint64_t index) { return ReferenceChecksum(file.Block(index), 0); }

const Bytes* FindBlock(const SparseFile& file, uint64_t index) {
  const auto found = file.blocks.find(index);
  if (found != file.blocks.end()) return &found->second;
  for (const SparseFile::Run& run : file.runs) {
    if (index >= run.first && index - run.first < run.count) return &run.block;
  }
  return nullptr;
}

HANDLE OpenOrThrow(const std::string& path, DWORD access, DWORD creation) {
  HANDLE file = CreateFileW(Wide(path.c_str()).c_str(), access, FILE_SHARE_READ, nullptr, creation, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  return file;
}

}  // namespace

Bytes SparseFile::Block(uint64_t index) const {
  const Bytes* block = FindBlock(*this, index);
  return block == nullptr ? Bytes(kBlock, 0) : *block;
}

std::vector<uint64_t> SparseFile::DataBlocks() const {
  std::set<uint64_t> indices;
  for (const auto& entry : blocks) indices.insert(entry.first);
  for (const Run& run : runs) {
    for (uint64_t i = 0; i < run.count; ++i) indices.insert(run.first + i);
  }
  return std::vector<uint64_t>(indices.begin(), indices.end());
}

SparseFile SparseFileOf(const Bytes& start, uint64_t size) {
  SparseFile file;
  file.size = size;
  for (uint64_t at = 0; at < start.size(); at += kBlock) {
    Bytes block(kBlock, 0);
    std::copy(start.begin() + static_cast<std::ptrdiff_t>(at),
              start.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(at + kBlock, start.size())), block.begin());
    file.blocks[at / kBlock] = block;
  }
  return file;
}

Bytes RandomBlock(const SparseFile& file, uint64_t index, uint32_t seed) {
  Bytes block = RandomBytes(seed, kBlock);
  const uint64_t end = (index + 1) * kBlock;
  if (end > file.size) std::fill(block.end() - static_cast<std::ptrdiff_t>(end - file.size), block.end(), 0);
  return block;
}

void WriteSparseFile(const std::string& path, const SparseFile& file) {
  HANDLE handle = OpenOrThrow(path, GENERIC_WRITE, CREATE_ALWAYS);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(file.size);
  bool ok = SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
  for (uint64_t index : file.DataBlocks()) {
    const Bytes& bytes = *FindBlock(file, index);
    const uint64_t offset = index * kBlock;
    const DWORD count = static_cast<DWORD>(std::min<uint64_t>(kBlock, file.size - offset));
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    ok = ok && SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && WriteFile(handle, bytes.data(), count, &written, nullptr) &&
         written == count;
  }
  CloseHandle(handle);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

Bytes LargeTestFileOf(const SparseFile& broken) {
  Bytes out = Concat({Le32(0xFFFFFFFF), Le64(broken.size)});
  out.resize(out.size() + 4 * broken.BlockCount(), 0);
  for (uint64_t index : broken.DataBlocks()) {
    const Bytes entry = Le32(ChecksumOf(broken, index));
    std::copy(entry.begin(), entry.end(), out.begin() + static_cast<std::ptrdiff_t>(12 + 4 * index));
  }
  return out;
}

Bytes CompactTestFileOf(const SparseFile& broken, uint32_t symbols) {
  Sketch sketch(symbols);
  for (uint64_t index : broken.DataBlocks()) sketch.Add(index + 1, ChecksumOf(broken, index));
  CompactTestFileWriter writer(broken.size, symbols);
  Bytes out(writer.Length());
  writer.Emit(out.data(), out.size(), &sketch);
  return out;
}

// The model's bytes from offset, count of them.
static Bytes BytesOf(const SparseFile& file, uint64_t offset, size_t count) {
  Bytes bytes(count, 0);
  for (uint64_t index = offset / kBlock; index * kBlock < offset + count && index < file.BlockCount(); ++index) {
    const Bytes block = file.Block(index);
    for (uint64_t i = 0; i < kBlock; ++i) {
      const uint64_t at = index * kBlock + i;
      if (at >= offset && at < offset + count && at < file.size) bytes[at - offset] = block[i];
    }
  }
  return bytes;
}

// The fingerprint part of version 2: the regions' hashes and the record of the broken file,
// whose values (one per carried block) and samples are given.
static Bytes FingerprintPartOf(const SparseFile& valid, const RepairOrigin& origin, const std::vector<uint32_t>& values,
                               const std::vector<std::pair<uint32_t, uint32_t>>& samples, const RepairAnswers* answers) {
  const uint64_t regionSize = FingerprintRegionSize(valid.size);
  std::vector<Hash128> regions;
  Hash128Stream whole;
  const std::vector<uint64_t> data = valid.DataBlocks();
  const Bytes zeros(regionSize, 0);
  for (uint64_t offset = 0; offset < valid.size; offset += regionSize) {
    const size_t count = static_cast<size_t>(std::min(regionSize, valid.size - offset));
    const bool empty = std::lower_bound(data.begin(), data.end(), offset / kBlock) ==
                       std::lower_bound(data.begin(), data.end(), (offset + count + kBlock - 1) / kBlock);
    const Bytes region = empty ? Bytes() : BytesOf(valid, offset, count);
    const uint8_t* bytes = empty ? zeros.data() : region.data();
    regions.push_back(Xxh3Hash128(bytes, count));
    whole.Add(bytes, count);
  }
  Bytes part(FingerprintPartBytes(FingerprintForm::EveryRegion, regions.size(), &origin, answers));
  uint64_t at = StoreFingerprintHead(part.data(), valid.size, whole.Digest(), regions.data(), nullptr, 0, origin, answers);
  for (const uint32_t value : values) {
    const Bytes le = Le32(value);
    std::copy(le.begin(), le.end(), part.begin() + static_cast<std::ptrdiff_t>(at));
    at += 4;
  }
  for (const auto& [block, value] : samples) {
    StoreOriginSample(part.data() + at, block, value);
    at += kOriginSampleBytes;
  }
  part.resize(SealFingerprintPart(part.data(), at));
  return part;
}

Bytes LargeRepairFileOf(const SparseFile& valid, const SparseFile& broken, const Bytes* testFile) {
  std::set<uint64_t> candidates;
  for (uint64_t index : valid.DataBlocks()) candidates.insert(index);
  for (uint64_t index : broken.DataBlocks()) candidates.insert(index);
  Bytes numbers;
  Bytes blocks;
  std::vector<uint32_t> values;
  std::set<uint64_t> carried;
  for (uint64_t index : candidates) {
    // Blocks past the broken file's end have no entry, which reads as 0.
    const uint32_t expected = index < broken.BlockCount() ? ChecksumOf(broken, index) : 0;
    if (index >= valid.BlockCount() || ChecksumOf(valid, index) == expected) continue;
    const Bytes number = Le32(static_cast<uint32_t>(index + 1));
    numbers.insert(numbers.end(), number.begin(), number.end());
    const Bytes block = valid.Block(index);
    blocks.insert(blocks.end(), block.begin(), block.end());
    values.push_back(expected);
    carried.insert(index);
  }
  // The sample: up to 64 of the first C blocks, spread evenly, the next one not carried standing
  // in for one that is, and one taken stands for every sample due by then.
  uint64_t count = std::min(broken.BlockCount(), valid.BlockCount());
  if (broken.size > valid.size) count = std::min<uint64_t>(count, valid.size / kBlock);
  const uint64_t most = std::min<uint64_t>(count, 64);
  std::vector<std::pair<uint32_t, uint32_t>> samples;
  uint64_t after = 0;
  for (uint64_t i = 0; i < most; ++i) {
    uint64_t j = i * count / most;
    if (j < after) continue;
    while (j < count && carried.count(j) != 0) ++j;
    if (j >= count) break;
    samples.emplace_back(static_cast<uint32_t>(j + 1), ChecksumOf(broken, j));
    after = j + 1;
  }
  RepairOrigin origin;
  origin.recordedSize = broken.size;
  origin.recordedEntries = broken.BlockCount();
  origin.carried = static_cast<uint32_t>(values.size());
  origin.samples = static_cast<uint32_t>(samples.size());
  RepairAnswers answers;
  if (testFile != nullptr) answers.testFile = Xxh3Hash128(testFile->data(), testFile->size());
  return Concat({Le32(0), Le32(origin.carried), Le64(valid.size), numbers, blocks,
                 FingerprintPartOf(valid, origin, values, samples, testFile != nullptr ? &answers : nullptr)});
}

bool HoldsBytesOf(const std::string& path, const SparseFile& model, uint64_t fromBlock, uint64_t toBlock) {
  HANDLE file = OpenOrThrow(path, GENERIC_READ, OPEN_EXISTING);
  LARGE_INTEGER size{};
  bool same = GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) == model.size;
  const uint64_t end = std::min(model.size, toBlock < model.size / kBlock ? toBlock * kBlock : model.size);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(fromBlock * kBlock);
  same = same && SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
  constexpr DWORD kChunk = 16 << 20;
  Bytes buffer(kChunk);
  for (uint64_t done = fromBlock * kBlock; same && done < end;) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kChunk, end - done));
    same = ReadFile(file, buffer.data(), want, &got, nullptr) && got == want;
    // Whole blocks: the chunk is a multiple of 4096, and a short last chunk is zero-padded.
    std::fill(buffer.begin() + got, buffer.end(), 0);
    for (uint64_t b = 0; same && b * kBlock < got; ++b) {
      const Bytes* expected = FindBlock(model, done / kBlock + b);
      const uint8_t* actual = buffer.data() + b * kBlock;
      same = expected != nullptr ? std::equal(expected->begin(), expected->end(), actual)
                                 : std::all_of(actual, actual + kBlock, [](uint8_t byte) { return byte == 0; });
    }
    done += got;
  }
  CloseHandle(file);
  return same;
}

Bytes BlockOnDisk(const std::string& path, uint64_t index) {
  HANDLE file = OpenOrThrow(path, GENERIC_READ, OPEN_EXISTING);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(index * kBlock);
  Bytes block(kBlock, 0);
  DWORD got = 0;
  const bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, block.data(), kBlock, &got, nullptr);
  CloseHandle(file);
  if (!ok) throw std::runtime_error("cannot read " + path);
  return block;
}

}  // namespace gui
