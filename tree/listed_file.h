// A file of a listed tree as the two scans take it: reached through the open folders, opened
// for reading and sized, or told as skipped with the step and the system's error.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "tree/folder_cursor.h"
#include "tree/listing.h"
#include "tree/outcome.h"

// The steps of a scan's own files.
struct ListedFileSteps {
  Step open;
  Step size;
};

// Opens the listing's entry index for reading into *file and takes its size into *size; or why
// it cannot be had, with nothing left open and the step it failed at in *failedAt: the open, or
// the size, which a size no exchange file carries fails too (FileTooLarge).
SystemError OpenListedFile(FolderCursor& cursor, const TreeListing& listing, uint32_t index, const ListedFileSteps& steps,
                           File* file, uint64_t* size, Step* failedAt);

// A file that could not be opened or read: skipped, as a link when the system's error says one
// stood in its place, with the step and the error, and the program that held it where the
// system named one.
EntryReport UnreadableReport(std::string path, Step step, SystemError failed);
