// The dialog's services with a fault switch of their own.
#include "tests/ui/harness/dialog_service_faults.h"

#include <new>

#include "ui/dialog_services.h"

namespace {

struct Armed {
  uint32_t nthCall = 0;  // 0: not armed
  uint32_t systemError = 0;
};

constexpr int kServiceCount = static_cast<int>(DialogService::Count);
uint32_t callCounts[kServiceCount];
Armed armed[kServiceCount];

// Counts the call; on the armed one sets the last error and returns true.
bool Fails(DialogService service) {
  const int i = static_cast<int>(service);
  ++callCounts[i];
  if (armed[i].nthCall == 0 || armed[i].nthCall != callCounts[i]) return false;
  SetLastError(armed[i].systemError);
  return true;
}

}  // namespace

void InjectDialogFault(DialogService service, uint32_t nthCall, uint32_t systemError) {
  armed[static_cast<int>(service)] = Armed{nthCall, systemError};
}

void ClearDialogFaults() {
  for (int i = 0; i < kServiceCount; ++i) {
    callCounts[i] = 0;
    armed[i] = Armed{};
  }
}

HANDLE TakeProcessHeap() { return Fails(DialogService::ProcessHeap) ? nullptr : GetProcessHeap(); }

void* AllocateWorkRecord(size_t bytes) {
  return Fails(DialogService::WorkRecord) ? nullptr : ::operator new(bytes, std::nothrow);
}

void FreeWorkRecord(void* record) { ::operator delete(record); }

HANDLE CreateSuspendedThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  if (Fails(DialogService::WorkerThread)) return nullptr;
  return CreateThread(nullptr, 0, routine, parameter, CREATE_SUSPENDED, nullptr);
}
