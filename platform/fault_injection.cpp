// Fault injection for the platform services: a call counter and at most one armed fault
// per service, and one entry standing in for a reparse point.
#include "platform/fault_injection.h"

#include <cstring>
#include <mutex>

namespace {

struct ArmedFault {
  uint32_t nthCall;  // 0: not armed
  uint32_t systemError;
  FaultKind kind;
};

constexpr int kServiceCount = static_cast<int>(Service::Count);
uint32_t callCounts[kServiceCount];
ArmedFault armed[kServiceCount];

struct StandIn {
  char name[64];
  uint32_t tag;  // 0: none
  uint32_t attributes;
};
StandIn standIn;
uint32_t readersUnderFaults;
// The readers of a folder scan count their calls too.
std::mutex lock;

}  // namespace

void InjectFault(Service service, uint32_t nthCall, uint32_t systemError, FaultKind kind) {
  std::lock_guard<std::mutex> held(lock);
  armed[static_cast<int>(service)] = ArmedFault{nthCall, systemError, kind};
}

void ClearFaults() {
  std::lock_guard<std::mutex> held(lock);
  readersUnderFaults = 0;
  for (int i = 0; i < kServiceCount; ++i) {
    callCounts[i] = 0;
    armed[i] = ArmedFault{0, 0, FaultKind::Fail};
  }
  standIn = StandIn{};
}

void StandInReparsePoint(const char* name, uint32_t tag, uint32_t attributes) {
  standIn = StandIn{};
  std::strncpy(standIn.name, name, sizeof standIn.name - 1);
  standIn.tag = tag;
  standIn.attributes = attributes;
}

uint32_t StandInReparseTag(const char* name, uint32_t* attributes) {
  if (standIn.tag == 0 || std::strcmp(name, standIn.name) != 0) return 0;
  *attributes = standIn.attributes;
  return standIn.tag;
}

void ReadSideBySideUnderFaults(uint32_t readers) {
  std::lock_guard<std::mutex> held(lock);
  readersUnderFaults = readers;
}

uint32_t SideBySideReaders(uint32_t wanted) {
  std::lock_guard<std::mutex> held(lock);
  for (const ArmedFault& fault : armed) {
    if (fault.nthCall != 0) return wanted < readersUnderFaults ? wanted : readersUnderFaults;
  }
  return wanted;
}

uint32_t ServiceCallCount(Service service) {
  std::lock_guard<std::mutex> held(lock);
  return callCounts[static_cast<int>(service)];
}

int TakeFault(Service service, uint32_t* systemError, FaultKind* kind) {
  std::lock_guard<std::mutex> held(lock);
  const int i = static_cast<int>(service);
  ++callCounts[i];
  if (armed[i].nthCall == 0 || armed[i].nthCall != callCounts[i]) return 0;
  *systemError = armed[i].systemError;
  *kind = armed[i].kind;
  return 1;
}
