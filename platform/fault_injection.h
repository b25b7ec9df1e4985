// Makes a chosen call of a chosen platform service fail, so that every failure path of the
// operations can be driven by a test. Linked into the test programs only (see hooks.h); dormant
// unless a test arms it.
#pragma once

#include <cstdint>

#include "platform/hooks.h"

// Arms the nth call (counted from 1 after the last ClearFaults) of a service. Several services
// can be armed at once; arming a service again replaces its fault.
void InjectFault(Service service, uint32_t nthCall, uint32_t systemError, FaultKind kind = FaultKind::Fail);
void ClearFaults();
// Lets a folder scan read its files side by side with this many readers while a fault is
// armed (none otherwise), for a test whose outcome holds whichever file meets the fault; until
// ClearFaults.
void ReadSideBySideUnderFaults(uint32_t readers);
// Reports entries named name as reparse points of this tag, with these attributes besides,
// until ClearFaults (Windows backend only).
void StandInReparsePoint(const char* name, uint32_t tag, uint32_t attributes);
uint32_t ServiceCallCount(Service service);
