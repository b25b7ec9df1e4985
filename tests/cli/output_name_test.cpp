// varnell-cli's output names: the file's own name decides, never a folder's.
#include <gtest/gtest.h>

#include <string>

#include "cli/output_name.h"
#include "platform/platform.h"
#include "support/path_buffer.h"

namespace {

std::string PathBuffer(const std::string& text) {
  std::string buffer(kPathBufferSize, '\0');
  buffer.replace(0, text.size(), text);
  return buffer;
}

TEST(NameOutputAfterFileTest, TakesTheFilesOwnNameUpToItsLastDot) {
  // "/out/" and ".crc" around 510 letters make 519 characters, the most a path may have.
  const std::string longest = "/data/" + std::string(510, 'n');
  const std::string tooLong = "/data/" + std::string(511, 'n');
  const std::string longestOutput = "/out/" + std::string(510, 'n') + ".crc";
  const struct {
    const char* folder;
    const char* source;
    const char* expected;  // the buffer's text afterwards; the folder alone when refused
    SystemErrorKind refusal;
    int result;
  } cases[] = {
      {"/out", "/data/disk.img", "/out/disk.crc", {}, 1},
      {"/out", "/data/disk", "/out/disk.crc", {}, 1},
      {"/out", "x.y/disk", "/out/disk.crc", {}, 1},
      {"/out", "/data/x.y/disk.img", "/out/disk.crc", {}, 1},
      {"/out", "disk", "/out/disk.crc", {}, 1},
      {"/out", "/data/archive.tar.gz", "/out/archive.tar.crc", {}, 1},
      {"/out", "/data/disk.", "/out/disk.crc", {}, 1},
      {"/out", "/data/.profile", "/out/.profile.crc", {}, 1},
      {".", "Мой фильм", "./Мой фильм.crc", {}, 1},
      {"/out", "/data/", "/out", SystemErrorKind::InvalidName, 0},
      {"", "/data/disk", "", SystemErrorKind::InvalidName, 0},
      {"/out", longest.c_str(), longestOutput.c_str(), {}, 1},
      {"/out", tooLong.c_str(), "/out", SystemErrorKind::NameTooLong, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    std::string buffer = PathBuffer(c.folder);
    SetLastSystemError(0);
    EXPECT_EQ(NameOutputAfterFileWith('/', buffer.data(), c.source, ".crc"), c.result);
    EXPECT_EQ(buffer, PathBuffer(c.expected));
    EXPECT_EQ(LastSystemError(), c.result == 1 ? 0 : SystemErrorCode(c.refusal));
  }
}

}  // namespace
