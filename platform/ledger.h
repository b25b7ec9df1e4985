// Accounting of what the platform services hand out: open files, memory regions, threads, the
// pages committed in them, and the order in which they come back. Tests assert that an
// operation leaves nothing behind and releases in its documented order. Linked into the
// test programs only: the backends report to it through hooks.h.
#pragma once

#include <cstdint>

#include "platform/hooks.h"

enum class Holding : char { File = 'F', Region = 'M' };

struct ReleaseEvent {
  Holding holding;
  uint32_t ordinal;  // 1 for the first file (or region) acquired since ResetLedger, and so on
};

// For the tests.
void ResetLedger();
uint32_t OpenFileCount();
uint32_t HeldRegionCount();
uint32_t RunningThreadCount();
uint64_t CommittedBytes();
uint64_t PeakCommittedBytes();
uint32_t ReleaseEventCount();
ReleaseEvent ReleaseEventAt(uint32_t index);
