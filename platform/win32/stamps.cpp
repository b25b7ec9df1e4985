// What a file keeps beside its bytes that a folder repair carries: on Windows its modification
// time only (its security comes from its folder), between FILETIME's 100 ns since 1601 and the
// stamp's seconds and nanoseconds since 1970.
#include <windows.h>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"

namespace {

// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kIntervalsTo1970 = 116444736000000000;
constexpr int64_t kIntervalsPerSecond = 10000000;

}  // namespace

SystemError GetFileStamp(const File& file, FileStamp* stamp) {
  if (const SystemError failed = Fault(Service::GetFileStamp)) return failed;
  FILETIME written;
  if (!GetFileTime(Native(file), nullptr, nullptr, &written)) return LastError();
  const int64_t intervals =
      static_cast<int64_t>((static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime) - kIntervalsTo1970;
  // Floored, so that a time before 1970 keeps its nanoseconds positive.
  int64_t seconds = intervals / kIntervalsPerSecond;
  int64_t rest = intervals % kIntervalsPerSecond;
  if (rest < 0) {
    rest += kIntervalsPerSecond;
    --seconds;
  }
  stamp->permissions = kNoPermissions;
  stamp->seconds = seconds;
  stamp->nanoseconds = static_cast<uint32_t>(rest * 100);
  return SystemError{};
}

SystemError SetModificationTime(const File& file, const FileStamp& stamp) {
  if (const SystemError failed = Fault(Service::SetModificationTime)) return failed;
  // Times FILETIME cannot hold (before 1601, or past 30828) are refused, not wrapped.
  constexpr int64_t kEarliest = -kIntervalsTo1970 / kIntervalsPerSecond;
  constexpr int64_t kLatest = (INT64_MAX - kIntervalsTo1970) / kIntervalsPerSecond - 1;
  if (stamp.seconds < kEarliest || stamp.seconds > kLatest) return Failure(ERROR_INVALID_PARAMETER);
  const uint64_t intervals =
      static_cast<uint64_t>(stamp.seconds * kIntervalsPerSecond + kIntervalsTo1970 + stamp.nanoseconds / 100);
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(intervals);
  written.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
  return SetFileTime(Native(file), nullptr, nullptr, &written) ? SystemError{} : LastError();
}
