// The dialog's own calls that no test can make fail for real: taking the process heap,
// allocating the record of the work of Start and starting the thread that does it. The
// program links dialog_services.cpp; the dialog's tests link a version of their own that can
// make each of them fail (tests/ui/harness/dialog_service_faults.cpp).
#pragma once

#include <windows.h>

#include <cstddef>

// GetProcessHeap: null with the last error set on failure.
HANDLE TakeProcessHeap();

// Memory for the work's record, and its return; null on failure.
void* AllocateWorkRecord(size_t bytes);
void FreeWorkRecord(void* record);

// CreateThread of a thread that starts suspended; null with the last error set on failure.
HANDLE CreateSuspendedThread(LPTHREAD_START_ROUTINE routine, void* parameter);
