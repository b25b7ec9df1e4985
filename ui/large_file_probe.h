// Which requests the dialog hands to the streaming operations: those whose deciding file is
// 4 GiB or more, which its own operations must refuse for their size, and repairs whose
// repair file has the large form.
#pragma once

#include <cstdint>

// sizingPath: the file whose size decides (the broken file in modes 1 and 3, the valid file
// in mode 2); repairFilePath: mode 3's repair file, else null. Anything that cannot be looked
// at says no: the dialog's own operation then meets the problem and reports it as it does.
bool GoesToStreaming(const char* sizingPath, const char* repairFilePath);

// Whether the path names a folder, which the folder operations take.
bool NamesFolder(const char* path);

// Whether the file is a folder's test file or repair file, from its first bytes; false when
// it cannot be looked at (the operation then meets the problem itself).
bool HoldsFolderExchangeFile(const char* path);
// Whether mode 2's test file is a follow-up test file, which only the streaming scan answers.
bool IsFollowUpTestFile(const char* testFilePath);
