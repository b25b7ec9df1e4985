// Makes a chosen call of a chosen platform service fail, so that every failure path of the
// engine can be driven by a test. Dormant unless a test arms it.
#pragma once

#include <cstdint>

enum class Service {
  OpenInputFile,
  CreateOutputFile,
  GetFileSize32,
  ReadWhole,
  WriteWhole,
  SeekToStart,
  CommitMemory,
  ReserveMemory,
  CommitPage,
  // The window's one call that cannot be made to fail for real: taking the process heap.
  ProcessHeap,
  Count
};

enum class FaultKind {
  // The call fails before reaching the system, with the given system error.
  Fail,
  // The system transfers one byte fewer than asked and reports success: the short read or
  // write that real disks and networks produce now and then, and that a test cannot cause.
  ShortTransfer,
};

// Arms the nth call (counted from 1 after the last ClearFaults) of a service. Several services
// can be armed at once; arming a service again replaces its fault.
void InjectFault(Service service, uint32_t nthCall, uint32_t systemError, FaultKind kind = FaultKind::Fail);
void ClearFaults();
uint32_t ServiceCallCount(Service service);

// For the backends: counts a call and says whether it is the armed one.
// Returns 1 and fills in the fault when the call must misbehave.
int TakeFault(Service service, uint32_t* systemError, FaultKind* kind);
