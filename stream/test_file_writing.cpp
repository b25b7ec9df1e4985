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
  TestFileJob(FileHandle brokenFile, FileHandle output, uint8_t* entries, uint64_t written, Sketch* sketch)
      : brokenFile_(brokenFile), output_(output), entries_(entries), written_(written), sketch_(sketch) {}
  uint64_t written() const { return written_ + gathered_; }

  // Writes the entries gathered so far.
  bool Write() {
    if (gathered_ > 0 && !WriteAt(output_, written_, entries_, gathered_)) return false;
    written_ += gathered_;
    gathered_ = 0;
    return true;
  }

  Outcome Fill(Slice& slice) override {
    // The last block is taken padded with zero bytes, as the dialog's image always held it.
    if (!ReadPadded(brokenFile_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
      return StoppedAt(Step::ReadBroken);
    }
    return DoneOutcome();
  }
  void Work(Slice& slice) override {
    for (uint32_t i = 0; i < slice.blocks; ++i) slice.checksums[i] = BlockChecksum(slice.bytes + i * kBlockSize);
    if (sketch_ != nullptr) sketch_->AddBlocks(slice.offset / kBlockSize + 1, slice.checksums, slice.blocks);
  }
  Outcome Collect(Slice& slice) override {
    if (entries_ == nullptr) return DoneOutcome();
    if (gathered_ + 4 * slice.blocks > kEntriesBytes && !Write()) return StoppedAt(Step::WriteOutput);
    for (uint32_t i = 0; i < slice.blocks; ++i) StoreU32LE(entries_ + gathered_ + 4 * i, slice.checksums[i]);
    gathered_ += 4 * slice.blocks;
    return DoneOutcome();
  }

 private:
  FileHandle brokenFile_;
  FileHandle output_;
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
bool EmitCompact(const Sketch& sketch, uint64_t size, uint32_t symbols, FileHandle output, uint8_t* buffer, uint64_t* written) {
  CompactTestFileWriter writer(size, symbols);
  while (!writer.Complete()) {
    const uint64_t at = writer.Offset();
    const size_t count = writer.Emit(buffer, kStreamBufferBytes, &sketch);
    if (!WriteAt(output, at, buffer, static_cast<uint32_t>(count))) return false;
  }
  *written = writer.Length();
  return true;
}

}  // namespace

uint32_t ChosenSymbols(uint64_t brokenSize, const TestFileChoice& choice) {
  const uint64_t plain = TestFileLength(brokenSize);
  uint32_t symbols = 0;
  if (choice.budget > 0) {
    if (choice.budget >= plain) return 0;
    symbols = CompactSymbolsForBudget(choice.budget);
  } else {
    if (plain <= choice.plainUpTo) return 0;
    symbols = DefaultCompactSymbols(brokenSize);
  }
  return symbols == 0 || PlainFormIsSmaller(brokenSize, symbols) ? 0 : symbols;
}

Outcome WriteTestFileOf(FileHandle brokenFile, uint64_t size, uint32_t symbols, const AnsweredTestFile* answered,
                        FileHandle output, SliceRing& ring, Progress& progress, uint64_t* written) {
  // The sketch the compact form carries, and the one the request answers: the larger serves both.
  const uint32_t sketched = std::max(symbols, answered != nullptr ? answered->symbols : 0u);
  std::optional<Sketch> sketch;
  uint8_t* entries = nullptr;
  if (sketched > 0) {
    try {
      sketch.emplace(sketched);
    } catch (const std::bad_alloc&) {
      return StoppedAt(Step::AllocateTestFileBuffer, SystemErrorKind::NotEnoughMemory);
    }
  }
  if (symbols == 0) {
    entries = static_cast<uint8_t*>(CommitMemory(kEntriesBytes));
    if (entries == nullptr) return StoppedAt(Step::AllocateTestFileBuffer);
  }
  const auto release = [&] {
    if (entries != nullptr) ReleaseMemory(entries);
  };

  // The plain form's header goes first, its entries as they come.
  uint64_t at = 0;
  if (symbols == 0) {
    at = StoreTestFileHeader(entries, size);
    if (!WriteAt(output, 0, entries, static_cast<uint32_t>(at))) {
      release();
      return StoppedAt(Step::WriteOutput);
    }
  }
  TestFileJob job(brokenFile, output, entries, at, sketch ? &*sketch : nullptr);
  Outcome read = RunSlices(ring, job, size, progress);
  if (read.ending == Ending::Done && symbols == 0 && !job.Write()) read = StoppedAt(Step::WriteOutput);
  release();
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
  if (!EmitCompact(*sketch, size, symbols, output, ring.slices[0].bytes, written)) return StoppedAt(Step::WriteOutput);
  return DoneOutcome();
}
