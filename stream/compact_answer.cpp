// Answering a compact test file.
#include "stream/compact_answer.h"

#include <algorithm>
#include <new>

#include "core/asking_repair_file.h"
#include "core/block.h"
#include "core/fingerprint_part.h"
#include "core/repair_origin.h"

Outcome ReadCompactTestFile(const File& testFile, uint64_t length, const uint8_t* start, uint8_t* buffer, Step allocate,
                            CompactTestFile* read) {
  CompactTestFileReader reader;
  bool started = false;
  try {
    started = reader.Start(start, length);
  } catch (const std::bad_alloc&) {
    return Stopped(allocate, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  if (!started) return Refused(Step::CheckCompactTestFile);
  uint8_t check[kCompactCheckBytes] = {};
  for (uint64_t at = kCompactHeaderBytes; at < length;) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(length - at, kStreamBufferBytes));
    if (const SystemError failed = ReadAt(testFile, at, buffer, count)) return Stopped(Step::ReadTest, failed);
    if (!reader.Take(buffer, count)) return Refused(Step::CheckCompactTestFile);
    // The check, the file's last bytes, may begin in the piece before the last.
    for (uint64_t i = std::max(at, length - kCompactCheckBytes); i < at + count; ++i) {
      check[i - (length - kCompactCheckBytes)] = buffer[i - at];
    }
    at += count;
  }
  if (!reader.Finish()) return Refused(Step::CheckCompactTestFile);
  read->check = LoadHash128(check);
  read->header = reader.Header();
  read->length = length;
  read->sketch.emplace(std::move(reader.Read()));
  return DoneOutcome();
}

Outcome DecodeCompactDifferences(Sketch& sketch, uint64_t brokenBlocks, uint64_t validBlocks, Step listFull,
                                 CompactDifferences* found) {
  // The estimate needs the symbols as they are before the peeling.
  found->estimate = EstimateDifferences(sketch.Cells(), sketch.Symbols());
  try {
    found->decoded = DecodeDifferences(
                         sketch.Symbols(), [brokenBlocks](uint64_t key) { return key >= 1 && key <= brokenBlocks; },
                         &found->differences) == DecodeVerdict::Decoded;
  } catch (const std::bad_alloc&) {
    return Stopped(listFull, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  std::sort(found->differences.begin(), found->differences.end(),
            [](const SketchDifference& a, const SketchDifference& b) { return a.key < b.key; });
  // Past the valid file's blocks only the broken side had a value, its checksum itself.
  for (const SketchDifference& d : found->differences) {
    if (d.key > validBlocks && d.delta > UINT32_MAX) return Refused(Step::CheckCompactTestFile);
  }
  return DoneOutcome();
}

Outcome AddDifferingBlocks(const CompactDifferences& found, uint64_t validBlocks, std::vector<uint32_t>* travelling,
                           Step listFull) {
  std::vector<uint32_t> merged;
  try {
    merged.reserve(travelling->size() + found.differences.size());
  } catch (const std::bad_alloc&) {
    return Stopped(listFull, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  auto next = travelling->begin();
  for (const SketchDifference& d : found.differences) {
    if (d.key > validBlocks) break;
    const uint32_t b = static_cast<uint32_t>(d.key);
    while (next != travelling->end() && *next < b) merged.push_back(*next++);
    if (next != travelling->end() && *next == b) ++next;
    merged.push_back(b);
  }
  merged.insert(merged.end(), next, travelling->end());
  travelling->swap(merged);
  return DoneOutcome();
}

Outcome RecordFromValidFile(const File& validFile, uint64_t recordedSize, uint64_t validSize,
                            const std::vector<uint32_t>& travelling, uint8_t* buffer, Step listFull, OriginRecord* record) {
  const uint64_t brokenBlocks = BlockCount64(recordedSize);
  record->origin.recordedSize = recordedSize;
  record->origin.recordedEntries = brokenBlocks;
  record->origin.kind = BlockValueKind::Checksum;
  record->origin.carried = static_cast<uint32_t>(travelling.size());
  try {
    record->values.reserve(travelling.size());
  } catch (const std::bad_alloc&) {
    return Stopped(listFull, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  SystemError failed;
  SampleSpread(
      SampleCandidates(recordedSize, brokenBlocks, validSize),
      [&](uint64_t j) { return std::binary_search(travelling.begin(), travelling.end(), static_cast<uint32_t>(j + 1)); },
      [&](uint64_t j) {
        const uint64_t start = j * kBlockSize;
        const uint32_t present = BlockBytesInFile(j + 1, validSize);
        if (failed || (failed = ReadPadded(validFile, start, buffer, present, kBlockSize))) return;
        StoreOriginSample(record->samples + kOriginSampleBytes * record->origin.samples++, static_cast<uint32_t>(j + 1),
                          BlockChecksum(buffer));
      });
  return failed ? Stopped(Step::ReadValid, failed) : DoneOutcome();
}

bool CarriedValues(const CompactDifferences& found, uint64_t brokenBlocks, const std::vector<uint32_t>& travelling,
                   const std::vector<uint32_t>& validChecksums, std::vector<uint32_t>* values) {
  auto d = found.differences.begin();
  for (size_t j = 0; j < travelling.size(); ++j) {
    const uint64_t b = travelling[j];
    uint64_t value = b > brokenBlocks ? 0 : validChecksums[j];
    while (d != found.differences.end() && d->key < b) ++d;
    if (b <= brokenBlocks && d != found.differences.end() && d->key == b) value = FieldAdd(value, d->delta);
    if (value > UINT32_MAX) return false;
    values->push_back(static_cast<uint32_t>(value));
  }
  return true;
}

Outcome WriteAskingRepairFile(const CompactTestFile& test, const CompactDifferences& found, OutputFile* output) {
  AskingRepairFile asking;
  asking.brokenSize = test.header.brokenSize;
  asking.answeredLength = test.length;
  asking.answeredCheck = test.check;
  asking.estimatedDifferences = static_cast<uint64_t>(found.estimate + 0.5);
  asking.askedLength = AskedTestFileLength(test.header.brokenSize, test.length, found.estimate, found.differences.size());
  // Nothing larger can be asked of a test file already as long as the plain form; no broken
  // side writes one, so it is not one that holds together.
  if (asking.askedLength == 0) return Refused(Step::CheckCompactTestFile);
  uint8_t bytes[kAskingRepairFileBytes];
  StoreAskingRepairFile(bytes, asking);
  if (const SystemError failed = WriteAt(output->file, 0, bytes, sizeof bytes)) return Stopped(Step::WriteOutput, failed);
  Outcome result = FinishOutput(output);
  if (result.ending != Ending::Done) return result;
  result.ending = Ending::MoreNeeded;
  result.outputBytes = sizeof bytes;
  return result;
}
