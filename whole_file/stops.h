// How the dialog's operations end when they do not finish: the outcome, told to the reporter
// at once. The same words as the streaming operations' (stream/steps.h).
#pragma once

#include "core/outcome.h"
#include "whole_file/operations.h"

// A failed call: its step, with the system's error as the call left it.
Outcome StoppedAt(const Reporter& reporter, Step step);
// A step refused with an error the operation names itself.
Outcome StoppedAt(const Reporter& reporter, Step step, uint32_t systemError);
// A condition the operation found itself.
Outcome Refused(const Reporter& reporter, Step step);
Outcome ReportIdentical(const Reporter& reporter);
// The broken file is not the one the repair file was made for: why, in check.
Outcome ReportOtherFile(const Reporter& reporter, const CheckRefusal& check);
