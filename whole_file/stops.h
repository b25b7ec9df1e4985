// How the dialog's operations end when they do not finish: the outcome, told to the reporter
// at once.
#pragma once

#include "core/outcome.h"
#include "whole_file/operations.h"

// A failed call: its step, with the system's error as the call left it.
Outcome StopAt(const Reporter& reporter, Step step);
// A step refused with an error the operation names itself.
Outcome StopAt(const Reporter& reporter, Step step, uint32_t systemError);
// A condition the operation found itself.
Outcome StopFound(const Reporter& reporter, Step step);
Outcome ReportIdentical(const Reporter& reporter);
