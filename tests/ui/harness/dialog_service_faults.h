// The dialog's services (ui/dialog_services.h) as the dialog's tests link them: the system's
// own calls, each of which a test can make fail once, with a chosen last error.
#pragma once

#include <cstdint>

enum class DialogService { ProcessHeap, WorkRecord, WorkerThread, Count };

// Makes the nth call (counted from 1 after the last ClearDialogFaults) of a service fail.
void InjectDialogFault(DialogService service, uint32_t nthCall, uint32_t systemError);
void ClearDialogFaults();
