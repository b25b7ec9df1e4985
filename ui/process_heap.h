// The process heap, from which the browse buttons' records come.
#pragma once

#include <windows.h>

// GetProcessHeap, which tests can make fail (null, with a chosen last error) through the
// platform's fault injection: it cannot be made to fail for real.
HANDLE TakeProcessHeap();
