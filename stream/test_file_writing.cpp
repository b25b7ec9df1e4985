// Writing a broken file's test file in either form. The file is read a slice at a time while a
// second thread takes the block checksums and adds them to the sketch; the plain form's entries
// are written a few slices' worth at a time, the compact form's bytes once the sketch is whole.
#include "stream/test_file_writing.h"

#include <algorithm>
#include <new>
#include <optional>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/compact_test_file.h"
#include "core/sketch.h"
#include "core/test_file.h"
#include "stream/origin_check.h"

namespace {

// The plain form's entries of this many slices go to the file in one write.
constexpr uint32_t kSlicesPerWrite = 16;
constexpr uint32_t kEntriesBytes = 4 * kStreamBufferBlocks * kSlicesPerWrite;

class TestFileJob final : public SliceJob {
 public:
  TestFileJob(const File& brokenFile, const File& output, uint8_t* entries, uint64_t written, Sketch* sketch)
      : brokenFile_(brokenFile), output_(output), entries_(entries), written_(written), sketch_(sketch) {}
  uint64_t written() const { return written_ + gathered_; }

  // Writes the entries gathered so far.
  SystemError Write() {
    if (gathered_ > 0) {
      if (const SystemError failed = WriteAt(output_, written_, entries_, gathered_)) return failed;
    }
    written_ += gathered_;
    gathered_ = 0;
    return SystemError{};
  }

  Outcome Fill(Slice& slice) override {
    // The last block is taken padded with zero bytes, as the test file's checksum takes it.
    if (const SystemError failed = ReadPadded(brokenFile_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
      return Stopped(Step::ReadBroken, failed);
    }
    return DoneOutcome();
  }
  void Work(Slice& slice) override {
    for (uint32_t i = 0; i < slice.blocks; ++i) slice.checksums[i] = BlockChecksum(slice.bytes + i * kBlockSize);
    if (sketch_ != nullptr) sketch_->AddBlocks(slice.offset / kBlockSize + 1, slice.checksums, slice.blocks);
  }
  Outcome Collect(Slice& slice) override {
    if (entries_ == nullptr) return DoneOutcome();
    if (gathered_ + 4 * slice.blocks > kEntriesBytes) {
      if (const SystemError failed = Write()) return Stopped(Step::WriteOutput, failed);
    }
    for (uint32_t i = 0; i < slice.blocks; ++i) StoreU32LE(entries_ + gathered_ + 4 * i, slice.checksums[i]);
    gathered_ += 4 * slice.blocks;
    return DoneOutcome();
  }

 private:
  const File& brokenFile_;
  const File& output_;
  uint8_t* entries_;
  uint64_t written_;
  uint32_t gathered_ = 0;
  Sketch* sketch_;
};

// Whether the first symbols of the sketch, behind the header of a broken file of size bytes,
// make the compact test file the request answers.
bool GivesAnswered(const Sketch& sketch, uint64_t size, const AnsweredTestFile& answered) {
  if (CompactTestFileLength(answered.symbols) != answered.length) return false;
  Hash128Stream check;
  uint8_t unit[kCompactCellsBytes];
  check.Add(unit, StoreCompactTestFileHeader(unit, size, answered.symbols));
  StoreEstimatorCells(unit, sketch.Cells());
  check.Add(unit, kCompactCellsBytes);
  for (uint32_t i = 0; i < answered.symbols; ++i) {
    StoreCodedSymbol(unit, sketch.Symbols()[i]);
    check.Add(unit, kCompactSymbolBytes);
  }
  return check.Digest() == answered.check;
}

// Emits the compact test file of the sketch into output, through buffer (kStreamBufferBytes).
SystemError EmitCompact(const Sketch& sketch, uint64_t size, uint32_t symbols, const File& output, uint8_t* buffer,
                        uint64_t* written) {
  CompactTestFileWriter writer(size, symbols);
  while (!writer.Complete()) {
    const uint64_t at = writer.Offset();
    const size_t count = writer.Emit(buffer, kStreamBufferBytes, &sketch);
    if (const SystemError failed = WriteAt(output, at, buffer, static_cast<uint32_t>(count))) return failed;
  }
  *written = writer.Length();
  return SystemError{};
}

}  // namespace

uint32_t ChooseSymbols(uint64_t plainLength, const TestFileChoice& choice, uint32_t (*forBudget)(uint64_t budget),
                       uint32_t byDefault, uint64_t (*compactLength)(uint32_t symbols)) {
  uint32_t symbols = 0;
  if (choice.budget > 0) {
    if (choice.budget >= plainLength) return 0;
    symbols = forBudget(choice.budget);
  } else {
    if (plainLength <= choice.plainUpTo) return 0;
    symbols = byDefault;
  }
  return symbols == 0 || compactLength(symbols) >= plainLength ? 0 : symbols;
}

uint32_t ChosenSymbols(uint64_t brokenSize, const TestFileChoice& choice) {
  return ChooseSymbols(TestFileLength(brokenSize), choice, &CompactSymbolsForBudget, DefaultCompactSymbols(brokenSize),
                       &CompactTestFileLength);
}

Outcome WriteTestFileOf(const File& brokenFile, uint64_t size, uint32_t symbols, const AnsweredTestFile* answered,
                        const File& output, SliceRing& ring, Progress& progress, uint64_t* written) {
  // The sketch the compact form carries, and the one the request answers: the larger serves both.
  const uint32_t sketched = std::max(symbols, answered != nullptr ? answered->symbols : 0u);
  std::optional<Sketch> sketch;
  Memory entries;
  if (sketched > 0) {
    try {
      sketch.emplace(sketched);
    } catch (const std::bad_alloc&) {
      return Stopped(Step::AllocateTestFileBuffer, ErrorOf(SystemErrorKind::NotEnoughMemory));
    }
  }
  if (symbols == 0) {
    if (const SystemError failed = CommitMemory(kEntriesBytes, &entries)) return Stopped(Step::AllocateTestFileBuffer, failed);
  }

  // The plain form's header goes first, its entries as they come.
  uint64_t at = 0;
  if (symbols == 0) {
    at = StoreTestFileHeader(entries.bytes(), size);
    if (const SystemError failed = WriteAt(output, 0, entries.bytes(), static_cast<uint32_t>(at))) {
      return Stopped(Step::WriteOutput, failed);
    }
  }
  TestFileJob job(brokenFile, output, entries.bytes(), at, sketch ? &*sketch : nullptr);
  Outcome read = RunSlices(ring, job, size, progress);
  if (read.ending == Ending::Done && symbols == 0) {
    if (const SystemError failed = job.Write()) read = Stopped(Step::WriteOutput, failed);
  }
  entries.Release();
  if (read.ending != Ending::Done) return read;

  if (answered != nullptr && !GivesAnswered(*sketch, size, *answered)) {
    CheckRefusal why;
    why.finding = CheckFinding::TestFileDiffers;
    why.brokenSize = size;
    return OtherFileOutcome(why);
  }
  if (symbols == 0) {
    *written = job.written();
    return DoneOutcome();
  }
  if (const SystemError failed = EmitCompact(*sketch, size, symbols, output, ring.slices[0].bytes, written)) {
    return Stopped(Step::WriteOutput, failed);
  }
  return DoneOutcome();
}
