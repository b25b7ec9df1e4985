// The boxes of a folder's work: the closing box with the entries the user must know of (the
// extra ones the repair left, the skipped ones, the ones that do not match their
// fingerprints), identical folders, a stop with the entry or name it concerns, and a stop on
// request. Names may hold any letter, so these boxes are shown with the wide calls.
#pragma once

#include <windows.h>

#include "tree/outcome.h"
#include "ui/program_state.h"

void ShowFolderOutcome(HWND dialog, WorkMode mode, const TreeOutcome& result);
