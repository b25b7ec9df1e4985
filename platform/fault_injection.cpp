// Fault injection for the platform services: a call counter and at most one armed fault
// per service.
#include "platform/fault_injection.h"

namespace {

struct ArmedFault {
  uint32_t nthCall;  // 0: not armed
  uint32_t systemError;
  FaultKind kind;
};

constexpr int kServiceCount = static_cast<int>(Service::Count);
uint32_t callCounts[kServiceCount];
ArmedFault armed[kServiceCount];

}  // namespace

void InjectFault(Service service, uint32_t nthCall, uint32_t systemError, FaultKind kind) {
  armed[static_cast<int>(service)] = ArmedFault{nthCall, systemError, kind};
}

void ClearFaults() {
  for (int i = 0; i < kServiceCount; ++i) {
    callCounts[i] = 0;
    armed[i] = ArmedFault{0, 0, FaultKind::Fail};
  }
}

uint32_t ServiceCallCount(Service service) { return callCounts[static_cast<int>(service)]; }

int TakeFault(Service service, uint32_t* systemError, FaultKind* kind) {
  const int i = static_cast<int>(service);
  ++callCounts[i];
  if (armed[i].nthCall == 0 || armed[i].nthCall != callCounts[i]) return 0;
  *systemError = armed[i].systemError;
  *kind = armed[i].kind;
  return 1;
}
