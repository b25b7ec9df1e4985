// An exchange file of the folder forms read through the platform layer: in order, through
// one buffer, for the core's readers, and at any offset for the checksums and blocks the
// operations fetch later.
#pragma once

#include <cstdint>

#include "core/sequential_reader.h"
#include "platform/platform.h"

class FileReader : public SequentialReader {
 public:
  // Reads through buffer (capacity bytes, the caller's); length is the file's.
  FileReader(const File& file, uint64_t length, uint8_t* buffer, uint32_t capacity)
      : file_(&file), length_(length), buffer_(buffer), capacity_(capacity) {}

  // 0 when the file cannot be read; failure() then says why.
  int Read(void* into, uint32_t count) override;
  void Skip(uint64_t count) override { offset_ += count; }
  uint64_t Offset() const override { return offset_; }
  uint64_t Length() const override { return length_; }
  // Starts reading in order at offset.
  void Seek(uint64_t offset) { offset_ = offset; }

  const File& file() const { return *file_; }
  SystemError failure() const { return failure_; }

 private:
  const File* file_;
  SystemError failure_;
  uint64_t length_;
  uint8_t* buffer_;
  uint32_t capacity_;
  uint64_t offset_ = 0;
  // The file's bytes from bufferAt_ on are in the buffer, bufferBytes_ of them.
  uint64_t bufferAt_ = 0;
  uint32_t bufferBytes_ = 0;
};
