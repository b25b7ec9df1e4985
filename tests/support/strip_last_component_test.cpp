// Cutting a path back to its folder, in place, within the first length bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/path_buffer.h"
#include "support/strip_last_component.h"

namespace {

constexpr char kSentinel = '\x5A';

// The text, then sentinel bytes to the buffer's end: what lies at or past length must
// survive, what lies before it and after the cut must become zero whatever it held.
std::string Buffer(const std::string& text) {
  std::string buffer(kPathBufferSize, kSentinel);
  buffer.replace(0, text.size(), text);
  return buffer;
}

std::string Expected(const std::string& original, uint32_t length, const std::string& kept) {
  std::string expected = original;
  for (uint32_t i = static_cast<uint32_t>(kept.size()); i < length; ++i) expected[i] = '\0';
  return expected;
}

struct StripCase {
  const char* text;
  uint32_t length;
  const char* kept;
};

// Through StripLastComponentWith('\\', ...), or with the platform's own separator.
void ExpectStrips(bool platformSeparator, const StripCase& c) {
  const std::string original = Buffer(c.text);
  std::string buffer = original;
  if (platformSeparator) {
    StripLastComponent(buffer.data(), c.length);
  } else {
    StripLastComponentWith('\\', buffer.data(), c.length);
  }
  EXPECT_EQ(buffer, Expected(original, c.length, c.kept)) << c.text << " / " << c.length;
}

TEST(StripLastComponentTest, CutsAtTheLastBackslashWithinTheLength) {
  const StripCase cases[] = {
      {"C:\\Tools\\app.exe", 16, "C:\\Tools"},
      {"C:\\file.txt", 11, "C:"},
      {"D:\\out\\", 7, "D:\\out"},
      {"\\\\server\\share\\a.bin", 20, "\\\\server\\share"},
      {"movie.avi", 9, ""},
      {"C:\\Tools\\app.exe", 0, "C:\\Tools\\app.exe"},
      // Only the first length bytes count: the backslash at offset 8 lies outside.
      {"C:\\Tools\\app.exe", 8, "C:"},
      {"\\abc", 1, ""},
      // Bytes behind the text but within the length are zeroed too.
      {"C:\\x\\y", 10, "C:\\x"},
      {"C:/data/movie.avi", 17, ""},
      {"C:\\Моя папка\\Фильм.avi", static_cast<uint32_t>(std::strlen("C:\\Моя папка\\Фильм.avi")), "C:\\Моя папка"},
  };
  for (const StripCase& c : cases) ExpectStrips(false, c);
}

TEST(StripLastComponentTest, UsesThePlatformSeparator) {
#ifdef _WIN32
  ExpectStrips(true, {"C:\\a/b\\c.txt", 12, "C:\\a/b"});
  ExpectStrips(true, {"C:\\a/b", 6, "C:"});
#else
  ExpectStrips(true, {"/home/me/app", 12, "/home/me"});
  ExpectStrips(true, {"/home/a\\b", 9, "/home"});
#endif
}

}  // namespace
