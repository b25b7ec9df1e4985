// The dialog's services as the program has them: the system's own calls.
#include "ui/dialog_services.h"

#include <new>

HANDLE TakeProcessHeap() { return GetProcessHeap(); }

void* AllocateWorkRecord(size_t bytes) { return ::operator new(bytes, std::nothrow); }

void FreeWorkRecord(void* record) { ::operator delete(record); }

HANDLE CreateSuspendedThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  return CreateThread(nullptr, 0, routine, parameter, CREATE_SUSPENDED, nullptr);
}
