// The bytes of an exchange file read in order, for the readers of the folder forms, whose
// files need not fit in memory. The tree operations give one over an open file; the core
// reads through it and knows nothing of files.
#pragma once

#include <cstdint>
#include <string>

class SequentialReader {
 public:
  virtual ~SequentialReader() = default;
  // Exactly count bytes from the current place on, which the caller has checked the file
  // holds; 0 when the file cannot be read (the reader keeps the system's error).
  virtual int Read(void* into, uint32_t count) = 0;
  // Moves the current place count bytes on, within the file.
  virtual void Skip(uint64_t count) = 0;
  virtual uint64_t Offset() const = 0;
  virtual uint64_t Length() const = 0;
  uint64_t Left() const { return Length() - Offset(); }
};

// What reading a record of a folder form came to.
enum class FolderFileVerdict {
  Read,
  Malformed,   // the bytes cannot be this form: the file is damaged, cut short or not ours
  ReadFailed,  // the file could not be read; the reader has the system's error
};

// The next count bytes: Malformed when the file ends first.
FolderFileVerdict ReadFolderBytes(SequentialReader& reader, void* into, uint32_t count);
FolderFileVerdict ReadFolderU16(SequentialReader& reader, uint32_t* value);
FolderFileVerdict ReadFolderU32(SequentialReader& reader, uint32_t* value);
// A u16 length and that many bytes, at least one.
FolderFileVerdict ReadFolderName(SequentialReader& reader, std::string* name);
