// The files are written with the system's own calls, not through the program: the length is
// set with SetFilePointerEx and SetEndOfFile, which leaves a hole, and the few data blocks go
// in at their offsets.
#include "tests/ui/harness/sparse_files.h"

#include <windows.h>

#include <set>
#include <stdexcept>

#include "tests/testing/reference.h"

namespace gui {

namespace {

constexpr uint64_t kBlock = 4096;

Bytes Le64(uint64_t value) { return Concat({Le32(static_cast<uint32_t>(value)), Le32(static_cast<uint32_t>(value >> 32))}); }

uint32_t ChecksumOf(const SparseFile& file, uint64_t index) {
  const auto found = file.blocks.find(index);
  return found == file.blocks.end() ? 0 : ReferenceChecksum(found->second, 0);
}

HANDLE OpenOrThrow(const std::string& path, DWORD access, DWORD creation) {
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  return file;
}

}  // namespace

Bytes SparseFile::Block(uint64_t index) const {
  const auto found = blocks.find(index);
  return found == blocks.end() ? Bytes(kBlock, 0) : found->second;
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
  for (const auto& [index, bytes] : file.blocks) {
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
  for (const auto& [index, bytes] : broken.blocks) {
    const Bytes entry = Le32(ChecksumOf(broken, index));
    std::copy(entry.begin(), entry.end(), out.begin() + static_cast<std::ptrdiff_t>(12 + 4 * index));
  }
  return out;
}

Bytes LargeRepairFileOf(const SparseFile& valid, const SparseFile& broken) {
  std::set<uint64_t> candidates;
  for (const auto& entry : valid.blocks) candidates.insert(entry.first);
  for (const auto& entry : broken.blocks) candidates.insert(entry.first);
  Bytes numbers;
  Bytes blocks;
  uint32_t count = 0;
  for (uint64_t index : candidates) {
    // Blocks past the broken file's end have no entry, which reads as 0.
    const uint32_t expected = index < broken.BlockCount() ? ChecksumOf(broken, index) : 0;
    if (index >= valid.BlockCount() || ChecksumOf(valid, index) == expected) continue;
    const Bytes number = Le32(static_cast<uint32_t>(index + 1));
    numbers.insert(numbers.end(), number.begin(), number.end());
    const Bytes block = valid.Block(index);
    blocks.insert(blocks.end(), block.begin(), block.end());
    ++count;
  }
  return Concat({Le32(0), Le32(count), Le64(valid.size), numbers, blocks});
}

bool SameBytes(const std::string& a, const std::string& b) {
  HANDLE first = OpenOrThrow(a, GENERIC_READ, OPEN_EXISTING);
  HANDLE second = OpenOrThrow(b, GENERIC_READ, OPEN_EXISTING);
  LARGE_INTEGER sizeA{}, sizeB{};
  bool same = GetFileSizeEx(first, &sizeA) && GetFileSizeEx(second, &sizeB) && sizeA.QuadPart == sizeB.QuadPart;
  constexpr DWORD kChunk = 16 << 20;
  Bytes bufferA(kChunk), bufferB(kChunk);
  for (LONGLONG done = 0; same && done < sizeA.QuadPart;) {
    DWORD gotA = 0, gotB = 0;
    same = ReadFile(first, bufferA.data(), kChunk, &gotA, nullptr) && ReadFile(second, bufferB.data(), kChunk, &gotB, nullptr) &&
           gotA == gotB && gotA > 0 && std::equal(bufferA.begin(), bufferA.begin() + gotA, bufferB.begin());
    done += gotA;
  }
  CloseHandle(first);
  CloseHandle(second);
  return same;
}

}  // namespace gui
