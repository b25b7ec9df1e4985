// The record of the broken file, read once the blocks that travel are known, and written.
#include "stream/origin_record.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/fingerprint.h"
#include "core/fingerprint_part.h"

namespace {

bool Travels(const std::vector<uint32_t>& travelling, uint64_t b) {
  return std::binary_search(travelling.begin(), travelling.end(), static_cast<uint32_t>(b));
}

Outcome Reserve(OriginRecord* record, size_t count, Step listFull) {
  try {
    record->values.reserve(count);
  } catch (const std::bad_alloc&) {
    return Stopped(listFull, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return DoneOutcome();
}

void Sample(OriginRecord* record, uint64_t b, uint32_t value) {
  StoreOriginSample(record->samples + kOriginSampleBytes * record->origin.samples++, static_cast<uint32_t>(b), value);
}

}  // namespace

Outcome RecordFromTestFile(const TestEntries& entries, uint64_t recordedSize, uint64_t recordedEntries, uint64_t validSize,
                           const std::vector<uint32_t>& travelling, uint8_t* buffer, Step listFull, OriginRecord* record) {
  record->origin.recordedSize = recordedSize;
  record->origin.recordedEntries = recordedEntries;
  record->origin.kind = BlockValueKind::Checksum;
  record->origin.carried = static_cast<uint32_t>(travelling.size());
  Outcome reserved = Reserve(record, travelling.size(), listFull);
  if (reserved.ending != Ending::Done) return reserved;
  // The entries of the blocks block to last, as far as the test file has them.
  const auto read = [&](uint64_t block, uint64_t last) {
    const uint64_t from = 4 * (block - 1);
    const uint64_t to = std::min<uint64_t>(4 * last, entries.bytes);
    std::memset(buffer, 0, static_cast<size_t>(4 * (last - block + 1)));
    return from >= to ? SystemError{} : ReadAt(*entries.file, entries.at + from, buffer, static_cast<uint32_t>(to - from));
  };
  for (size_t j = 0; j < travelling.size();) {
    // Neighbours in one read.
    size_t run = 1;
    while (j + run < travelling.size() && run < kStreamBufferBytes / 4 && travelling[j + run] == travelling[j] + run) ++run;
    if (const SystemError failed = read(travelling[j], travelling[j] + run - 1)) return Stopped(Step::ReadTest, failed);
    for (size_t i = 0; i < run; ++i) {
      record->values.push_back(TestFileEntry(buffer + 4 * i, travelling[j + i], entries.bytes));
    }
    j += run;
  }
  // The sample, among the blocks both files have whole that do not travel.
  SystemError failed;
  SampleSpread(SampleCandidates(recordedSize, recordedEntries, validSize),
               [&](uint64_t j) { return Travels(travelling, j + 1); },
               [&](uint64_t j) {
                 if (failed || (failed = read(j + 1, j + 1))) return;
                 Sample(record, j + 1, TestFileEntry(buffer, j + 1, entries.bytes));
               });
  return failed ? Stopped(Step::ReadTest, failed) : DoneOutcome();
}

Outcome RecordFromFollowUp(const File& followUp, const FollowUpLayout& layout, const uint32_t* listed,
                           const std::vector<uint32_t>& travelling, Step listFull, OriginRecord* record) {
  record->origin.recordedSize = layout.size;
  record->origin.recordedEntries = BlockCount64(layout.size);
  record->origin.kind = BlockValueKind::Hash64;
  record->origin.carried = static_cast<uint32_t>(travelling.size());
  Outcome reserved = Reserve(record, travelling.size(), listFull);
  if (reserved.ending != Ending::Done) return reserved;
  const uint64_t perRegion = layout.BlocksPerRecord();
  // The hash the follow-up lists for block b of region listed[d].
  const auto hash = [&](uint64_t d, uint64_t b, uint32_t* value) {
    uint8_t bytes[8];
    const uint64_t at = layout.headerBytes + d * layout.RecordBytes() + 4 + 8 * ((b - 1) % perRegion);
    if (const SystemError failed = ReadAt(followUp, at, bytes, sizeof bytes)) return failed;
    *value = static_cast<uint32_t>(LoadU64LE(bytes));
    return SystemError{};
  };
  // The travelling blocks all lie in listed regions, in order.
  uint64_t d = 0;
  for (const uint32_t b : travelling) {
    while (d < layout.regions && listed[d] < (b - 1) / perRegion) ++d;
    uint32_t value = 0;
    // A travelling block beyond the regions listed is past the follow-up's end.
    if (d == layout.regions) return Stopped(Step::ReadTest, ErrorOf(SystemErrorKind::EndOfFile));
    if (const SystemError failed = hash(d, b, &value)) return Stopped(Step::ReadTest, failed);
    record->values.push_back(value);
  }
  // The sample, among the blocks of the listed regions (candidate j is block j % perRegion of
  // region listed[j / perRegion]); those past the file's end are no candidates.
  const uint64_t blocks = BlockCount64(layout.size);
  const auto block = [&](uint64_t j) { return uint64_t{listed[j / perRegion]} * perRegion + j % perRegion + 1; };
  SystemError failed;
  SampleSpread(layout.regions * perRegion, [&](uint64_t j) { return block(j) > blocks || Travels(travelling, block(j)); },
               [&](uint64_t j) {
                 uint32_t value = 0;
                 if (failed || (failed = hash(j / perRegion, block(j), &value))) return;
                 Sample(record, block(j), value);
               });
  return failed ? Stopped(Step::ReadTest, failed) : DoneOutcome();
}

Outcome WriteFingerprintPart(const File& output, const uint8_t* head, uint64_t headBytes, const OriginRecord& record,
                             uint8_t* buffer, uint64_t* at) {
  Hash128Stream check;
  check.Add(head, static_cast<size_t>(headBytes));
  if (const SystemError failed = WriteAt(output, *at, head, static_cast<uint32_t>(headBytes))) {
    return Stopped(Step::WriteOutput, failed);
  }
  *at += headBytes;
  for (size_t j = 0; j < record.values.size();) {
    const size_t run = std::min<size_t>(record.values.size() - j, kStreamBufferBytes / 4);
    for (size_t i = 0; i < run; ++i) StoreU32LE(buffer + 4 * i, record.values[j + i]);
    check.Add(buffer, 4 * run);
    if (const SystemError failed = WriteAt(output, *at, buffer, static_cast<uint32_t>(4 * run))) {
      return Stopped(Step::WriteOutput, failed);
    }
    *at += 4 * run;
    j += run;
  }
  const uint32_t sampleBytes = kOriginSampleBytes * record.origin.samples;
  std::memcpy(buffer, record.samples, sampleBytes);
  check.Add(buffer, sampleBytes);
  StoreHash128(buffer + sampleBytes, check.Digest());
  if (const SystemError failed = WriteAt(output, *at, buffer, sampleBytes + kFingerprintCheckBytes)) {
    return Stopped(Step::WriteOutput, failed);
  }
  *at += sampleBytes + kFingerprintCheckBytes;
  return DoneOutcome();
}
