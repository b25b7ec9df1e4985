// When a file's modification time counts as the recorded one.
#include "core/file_stamp.h"

bool TimesAgree(const FileStamp& kept, const FileStamp& recorded) {
  // Whole seconds far apart disagree whatever the nanoseconds say; their distance is taken
  // without a difference that could overflow.
  const int64_t a = kept.seconds;
  const int64_t b = recorded.seconds;
  const uint64_t distance = a >= b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b) : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
  if (distance > 3) return false;
  const int64_t apart = (a - b) * int64_t{kNanosecondsPerSecond} + int64_t{kept.nanoseconds} - int64_t{recorded.nanoseconds};
  return apart < 2 * int64_t{kNanosecondsPerSecond} && apart > -2 * int64_t{kNanosecondsPerSecond};
}
