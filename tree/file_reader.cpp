// Reading an exchange file in order through one buffer.
#include "tree/file_reader.h"

#include <cstring>

int FileReader::Read(void* into, uint32_t count) {
  auto* out = static_cast<uint8_t*>(into);
  while (count > 0) {
    if (offset_ < bufferAt_ || offset_ >= bufferAt_ + bufferBytes_) {
      // A large piece goes straight into place; a small one refills the buffer.
      if (count >= capacity_) {
        if ((failure_ = ReadAt(*file_, offset_, out, count))) return 0;
        offset_ += count;
        return 1;
      }
      const uint64_t left = length_ - offset_;
      const uint32_t fill = left < capacity_ ? static_cast<uint32_t>(left) : capacity_;
      if (fill == 0) {
        failure_ = ErrorOf(SystemErrorKind::EndOfFile);
        return 0;
      }
      if ((failure_ = ReadAt(*file_, offset_, buffer_, fill))) return 0;
      bufferAt_ = offset_;
      bufferBytes_ = fill;
    }
    const uint64_t inBuffer = bufferAt_ + bufferBytes_ - offset_;
    const uint32_t take = inBuffer < count ? static_cast<uint32_t>(inBuffer) : count;
    std::memcpy(out, buffer_ + (offset_ - bufferAt_), take);
    out += take;
    offset_ += take;
    count -= take;
  }
  return 1;
}
