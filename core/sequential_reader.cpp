// The fields every record of the folder forms is made of.
#include "core/sequential_reader.h"

#include "core/byte_order.h"

FolderFileVerdict ReadFolderBytes(SequentialReader& reader, void* into, uint32_t count) {
  if (reader.Left() < count) return FolderFileVerdict::Malformed;
  if (count > 0 && !reader.Read(into, count)) return FolderFileVerdict::ReadFailed;
  return FolderFileVerdict::Read;
}

FolderFileVerdict ReadFolderU16(SequentialReader& reader, uint32_t* value) {
  uint8_t bytes[2];
  const FolderFileVerdict verdict = ReadFolderBytes(reader, bytes, sizeof bytes);
  *value = verdict == FolderFileVerdict::Read ? LoadU16LE(bytes) : 0;
  return verdict;
}

FolderFileVerdict ReadFolderU32(SequentialReader& reader, uint32_t* value) {
  uint8_t bytes[4];
  const FolderFileVerdict verdict = ReadFolderBytes(reader, bytes, sizeof bytes);
  *value = verdict == FolderFileVerdict::Read ? LoadU32LE(bytes) : 0;
  return verdict;
}

FolderFileVerdict ReadFolderName(SequentialReader& reader, std::string* name) {
  uint32_t length = 0;
  FolderFileVerdict verdict = ReadFolderU16(reader, &length);
  if (verdict != FolderFileVerdict::Read) return verdict;
  if (length == 0) return FolderFileVerdict::Malformed;
  name->resize(length);
  return ReadFolderBytes(reader, name->data(), length);
}
