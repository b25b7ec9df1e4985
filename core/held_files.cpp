// When to try a held file again.
#include "core/held_files.h"

#include <algorithm>

namespace {

constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kLockViolation = 33;
constexpr uint32_t kFirstPauseMs = 100;
constexpr uint32_t kLongestPauseMs = 2000;

}  // namespace

bool IsHeldError(uint32_t windowsError) { return windowsError == kSharingViolation || windowsError == kLockViolation; }

uint32_t HeldFilePause(uint32_t tries, uint32_t entryWaitedMs, uint32_t runWaitedMs) {
  if (tries == 0 || entryWaitedMs >= kHeldEntryWaitMs || runWaitedMs >= kHeldRunWaitMs) return 0;
  // 100 ms, doubled after each try, at most 2 s; never past what is left.
  const uint32_t doublings = std::min<uint32_t>(tries - 1, 5);
  const uint32_t pause = std::min(kFirstPauseMs << doublings, kLongestPauseMs);
  return std::min({pause, kHeldEntryWaitMs - entryWaitedMs, kHeldRunWaitMs - runWaitedMs});
}
