// What a file keeps beside its bytes that a folder repair carries over: its permission bits and
// its modification time, as the platform reads and sets them and the folder repair file stores them.
#pragma once

#include <cstdint>

// The valid side keeps no permission bits (Windows): a file made from such a record gets what
// any new file in its folder gets.
inline constexpr uint32_t kNoPermissions = 0xFFFFFFFF;
// The bits that travel: read, write and execute of the owner, the group and the others. The
// set-user, set-group and sticky bits never do: a file from elsewhere gains no privilege.
inline constexpr uint32_t kCarriedPermissions = 0777;
inline constexpr uint32_t kNanosecondsPerSecond = 1000000000;

struct FileStamp {
  uint32_t permissions = kNoPermissions;  // kCarriedPermissions at most, or kNoPermissions
  int64_t seconds = 0;                    // since 1970-01-01 00:00 UTC; earlier times are negative
  uint32_t nanoseconds = 0;               // below kNanosecondsPerSecond
};

// Whether a file's modification time is the recorded one as its file system keeps it: within two
// seconds, the steps FAT keeps times in (others keep 1 s, 10 ms or 100 ns), so that a time set
// once is never taken for one that differs.
bool TimesAgree(const FileStamp& kept, const FileStamp& recorded);
