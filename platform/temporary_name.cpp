// Composing a temporary output's path.
#include "platform/temporary_name.h"

#include <cstring>

#include "platform/platform.h"

namespace {

constexpr char kPrefix[] = ".varnell-";
constexpr char kSuffix[] = ".tmp";
constexpr uint32_t kRandomCharacters = 12;
// Lower case and digits only: Windows does not tell "A" from "a" in a name.
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
static_assert((sizeof kPrefix - 1) + kRandomCharacters + (sizeof kSuffix - 1) < kTemporaryNameRoom,
              "a temporary name within a folder fits the room the callers give it");

}  // namespace

int ComposeTemporaryPath(const char* finalPath, uint32_t folderLength, uint64_t random, char* out, uint32_t capacity) {
  const uint32_t length = folderLength + (sizeof kPrefix - 1) + kRandomCharacters + (sizeof kSuffix - 1);
  if (length >= capacity) return 0;
  std::memcpy(out, finalPath, folderLength);
  char* at = out + folderLength;
  std::memcpy(at, kPrefix, sizeof kPrefix - 1);
  at += sizeof kPrefix - 1;
  for (uint32_t i = 0; i < kRandomCharacters; ++i, random >>= 5) *at++ = kAlphabet[random & 31];
  std::memcpy(at, kSuffix, sizeof kSuffix);
  return 1;
}

bool IsTemporaryName(const char* name) {
  const size_t length = std::strlen(name);
  return length == (sizeof kPrefix - 1) + kRandomCharacters + (sizeof kSuffix - 1) &&
         std::strncmp(name, kPrefix, sizeof kPrefix - 1) == 0 && std::strcmp(name + length - (sizeof kSuffix - 1), kSuffix) == 0;
}
