// The golden files of tests/golden/, compiled into the test program at configure time, so that
// the Windows build under Wine reads them without a path into the source tree.
#pragma once

#include <string>

#include "tests/testing/scratch_folder.h"

// The bytes of tests/golden/NAME (NAME with its folder, as "fingerprint/repair.fix").
Bytes GoldenFile(const std::string& name);
