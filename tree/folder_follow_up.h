// The folder follow-up test file a folder repair writes when files still differ from their
// fingerprints (the format is core/folder_follow_up.h): for each such file the regions that
// differ, with a strong hash of every block of them, read from the file as the repair left it;
// a file that could not be made at all is asked for whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "platform/platform.h"
#include "stream/steps.h"

struct DifferingFile {
  std::string path;              // as the repair file names it
  uint64_t size = 0;             // the valid size, which the file has now
  std::vector<uint32_t> regions;  // ascending; none: the whole file is asked for
};

// Writes NAME.crc (NAME: the broken folder's own name) into followUpFolder, or beside the
// broken folder when that is null, reading the files below top through buffer
// (kStreamBufferBytes). Done with the follow-up's path and size in the outcome; a stop at
// CreateFollowUp, WriteFollowUp or ReadBack.
Outcome WriteFolderFollowUp(const FolderHandle& top, const char* brokenFolderPath, const char* followUpFolder,
                            const std::vector<DifferingFile>& files, uint8_t* buffer, Progress& progress);
