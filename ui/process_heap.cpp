// GetProcessHeap behind the fault injection's switch.
#include "ui/process_heap.h"

#include "platform/hooks.h"

HANDLE TakeProcessHeap() {
  uint32_t error = 0;
  FaultKind kind;
  if (TakeFault(Service::ProcessHeap, &error, &kind)) {
    SetLastError(error);
    return nullptr;
  }
  return GetProcessHeap();
}
