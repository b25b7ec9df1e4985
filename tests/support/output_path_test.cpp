// Output file names: folder text, separator, stem of the source path, extension.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/output_path.h"
#include "support/path_buffer.h"

namespace {

// A path buffer as the callers prepare it: the folder's text, zeros behind it.
std::string PathBuffer(const std::string& text) {
  std::string buffer(kPathBufferSize, '\0');
  buffer.replace(0, text.size(), text);
  return buffer;
}

struct BuildCase {
  const char* folder;
  const char* source;
  const char* extension;
  const char* expected;  // the buffer's text afterwards
  int result;
};

TEST(BuildOutputPathTest, JoinsFolderStemAndExtensionWithABackslash) {
  const BuildCase cases[] = {
      {"D:\\out", "C:\\data\\movie.avi", ".crc", "D:\\out\\movie.crc", 1},
      {"D:\\out\\", "C:\\data\\movie.avi", ".crc", "D:\\out\\\\movie.crc", 1},
      {"D:\\", "C:\\data\\movie.avi", ".fix", "D:\\\\movie.fix", 1},
      {"D:\\out", "C:\\data\\archive.tar.gz", ".crc", "D:\\out\\archive.tar.crc", 1},
      {"D:\\out", "C:\\data\\movie.", ".crc", "D:\\out\\movie.crc", 1},
      {"D:\\out", "C:\\data\\.profile", ".crc", "D:\\out\\.crc", 1},
      {"D:\\out", "C:\\my.dir\\movie", ".crc", "D:\\out\\my.crc", 1},
      {"D:\\out", "\\\\server\\share\\film.mkv", ".fix", "D:\\out\\film.fix", 1},
      {"C:", "C:\\data\\movie.avi", ".crc", "C:\\movie.crc", 1},
      // UTF-8: no byte of a letter of two, three or four bytes is a dot or a backslash, not
      // even the second byte of 表, which is a backslash in code page 932.
      {"D:\\out", "C:\\data\\Фильм.avi", ".crc", "D:\\out\\Фильм.crc", 1},
      {"D:\\Копия", "C:\\Ёлка\\Фильм ёж.avi", ".fix", "D:\\Копия\\Фильм ёж.fix", 1},
      {"D:\\出力", "C:\\データ\\表.txt", ".crc", "D:\\出力\\表.crc", 1},
      // No stem: the buffer keeps the folder's text and the caller's create fails on it.
      {"D:\\out", "C:\\data\\movie", ".crc", "D:\\out", 0},
      {"D:\\out", "movie.avi", ".crc", "D:\\out", 0},
      {"D:\\out", "C:/data/movie.avi", ".crc", "D:\\out", 0},
      {"", "C:\\data\\movie.avi", ".crc", "", 0},
  };
  for (const BuildCase& c : cases) {
    std::string buffer = PathBuffer(c.folder);
    const SystemError failed = BuildOutputPathWith('\\', buffer.data(), c.source, c.extension);
    EXPECT_EQ(failed ? 0 : 1, c.result) << c.source;
    EXPECT_EQ(buffer, PathBuffer(c.expected)) << c.folder << " + " << c.source;
    if (c.result == 0) {
      EXPECT_EQ(failed.code, SystemErrorCode(SystemErrorKind::InvalidName)) << c.folder << " + " << c.source;
    }
  }
}

TEST(BuildOutputPathTest, UsesThePlatformSeparator) {
#ifdef _WIN32
  std::string buffer = PathBuffer("D:\\out");
  EXPECT_FALSE(BuildOutputPath(buffer.data(), "C:\\my.dir\\movie", ".crc"));
  EXPECT_EQ(buffer, PathBuffer("D:\\out\\my.crc"));
#else
  std::string buffer = PathBuffer("/srv/out");
  EXPECT_FALSE(BuildOutputPath(buffer.data(), "/home/me/back\\slash.avi", ".crc"));
  EXPECT_EQ(buffer, PathBuffer("/srv/out/back\\slash.crc"));
#endif
}

TEST(BuildOutputPathTest, ReadsAtMost519CharactersOfTheSource) {
  // The 520th character is a dot. Seen, it would make the long run of y the stem and the
  // path too long; cut off, the dot after "s" is the last one.
  const std::string source = "C:\\s.t" + std::string(513, 'y') + ".";
  ASSERT_EQ(source.size(), 520u);
  std::string buffer = PathBuffer("D:\\out");
  EXPECT_FALSE(BuildOutputPathWith('\\', buffer.data(), source.c_str(), ".crc"));
  EXPECT_EQ(buffer, PathBuffer("D:\\out\\s.crc"));
}

struct LengthCase {
  size_t folderLength;  // in letters, each one UTF-16 unit
  size_t stemLength;
  int result;
  const char* letter;  // the folder's, of one, two or three bytes
};

TEST(BuildOutputPathTest, RefusesAPathThatDoesNotFitAndWritesNothingPastTheBuffer) {
  // folder + separator + stem + ".crc" may have 519 units: folder + stem <= 514.
  const LengthCase cases[] = {
      {509, 5, 1, "f"}, {3, 511, 1, "f"},    {509, 6, 0, "f"},    {514, 1, 0, "f"},   {519, 0, 0, "f"},
      {519, 8, 0, "f"}, {509, 5, 1, "ж"}, {509, 6, 0, "ж"}, {509, 5, 1, "表"}, {514, 1, 0, "表"},
  };
  constexpr size_t kGuard = 64;
  constexpr char kSentinel = '\x5A';
  for (const LengthCase& c : cases) {
    std::string folder = "D:\\";
    for (size_t i = 3; i < c.folderLength; ++i) folder += c.letter;
    const std::string source = "C:\\" + std::string(c.stemLength, 's') + ".avi";
    std::vector<char> memory(kPathBufferSize + kGuard, kSentinel);
    const std::string before = PathBuffer(folder);
    std::memcpy(memory.data(), before.data(), kPathBufferSize);

    const SystemError failed = BuildOutputPathWith('\\', memory.data(), source.c_str(), ".crc");
    EXPECT_EQ(failed ? 0 : 1, c.result) << c.folderLength << " + " << c.stemLength;
    const std::string after(memory.data(), kPathBufferSize);
    if (c.result == 1) {
      const std::string expected = folder + "\\" + std::string(c.stemLength, 's') + ".crc";
      EXPECT_EQ(after, PathBuffer(expected)) << c.folderLength << " + " << c.stemLength;
    } else {
      EXPECT_EQ(after, before) << c.folderLength << " + " << c.stemLength;
      EXPECT_EQ(failed.code, SystemErrorCode(SystemErrorKind::NameTooLong));
    }
    EXPECT_EQ(std::string(memory.data() + kPathBufferSize, kGuard), std::string(kGuard, kSentinel))
        << "written past the buffer: " << c.folderLength << " + " << c.stemLength;
  }
}

}  // namespace
