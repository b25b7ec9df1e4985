// Which requests the dialog hands to the streaming operations: those whose deciding file is
// 4 GiB or more, which its own operations must refuse for their size, repairs whose repair
// file has the large form, and scans of a follow-up test file.
#pragma once

#include <cstdint>

#include "core/file_kinds.h"

// sizingPath: the file whose size decides (the broken file in modes 1 and 3, the valid file
// in mode 2); repairFilePath: mode 3's repair file, else null. Anything that cannot be looked
// at says no: the dialog's own operation then meets the problem and reports it as it does.
bool GoesToStreaming(const char* sizingPath, const char* repairFilePath);

// The kind of exchange file, from the file's first bytes; Plain when it cannot be looked at
// (the operation then meets the problem itself).
ExchangeFileKind ExchangeFileKindAt(const char* path);
