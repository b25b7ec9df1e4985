// Outcomes, progress and the small helpers of the streaming operations.
#include "stream/steps.h"

#include <cstring>

StreamResult StoppedAt(const char* message) {
  StreamResult result;
  result.outcome = StreamOutcome::Stopped;
  result.message = message;
  result.boxType = kBoxIconError;
  result.systemError = LastSystemError();
  return result;
}

StreamResult StoppedAt(const char* message, SystemErrorKind kind) {
  SetLastSystemError(SystemErrorCode(kind));
  return StoppedAt(message);
}

StreamResult Refused(const char* text, const char* caption, unsigned boxType) {
  StreamResult result;
  result.outcome = StreamOutcome::Stopped;
  result.message = text;
  result.caption = caption;
  result.boxType = boxType;
  return result;
}

StreamResult CancelledResult(bool brokenFileChanged) {
  StreamResult result;
  result.outcome = StreamOutcome::Cancelled;
  result.brokenFileChanged = brokenFileChanged;
  return result;
}

bool Progress::StopRequested() const {
  return control_.stop != nullptr && control_.stop->load(std::memory_order_relaxed);
}

void Progress::Advance(uint64_t bytes) {
  done_ += bytes;
  if (control_.progress != nullptr) control_.progress(control_.context, done_, total_);
}

int ReadPadded(FileHandle file, uint64_t offset, uint8_t* buffer, uint32_t count, uint32_t padTo) {
  if (count > 0 && !ReadAt(file, offset, buffer, count)) return 0;
  if (padTo > count) std::memset(buffer + count, 0, padTo - count);
  return 1;
}

bool AllZero(const uint8_t* bytes, uint64_t count) {
  // Word at a time where the bytes allow; the tail byte by byte.
  uint64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if (word != 0) return false;
  }
  for (; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}
