// Which exchange file a file is, and which one: an input given where the file itself (or the
// other kind of exchange file) goes is known by its structure, never by its name; and an
// exchange file is named by the XXH3-128 of its bytes, which the files that answer it carry.
#pragma once

#include <cstdint>

#include "core/fingerprint.h"
#include "core/fingerprint_part.h"
#include "platform/platform.h"

enum class ExchangeFileRole {
  None,        // nothing an exchange file's structure shows: a file of the user's own
  TestFile,    // a compact or follow-up test file, or a folder's test file of either form
  RepairFile,  // a repair file whose fingerprint part's check holds, a request for a larger test
               // file, or a folder's repair file or request
};

// Reads what it needs of a file of length bytes through buffer (kStreamBufferBytes): its first
// bytes and, where they lay out a repair file, the fingerprint part behind its blocks. A plain
// test file has no structure of its own and is None.
SystemError FindExchangeFileRole(const File& file, uint64_t length, uint8_t* buffer, ExchangeFileRole* role);

// What a repair file says it answers, where its fingerprint part's header (version 3) says so;
// found is false for any other file. Its check is not taken: this only advises.
SystemError ReadRepairAnswers(const File& file, uint64_t length, bool* found, RepairAnswers* answers);

// Whether a file that failed to read as a repair file is a plain test file: its length is
// exactly the one its first word, as the size of a broken file, gives it.
bool LooksLikePlainTestFile(const uint8_t* start, uint64_t length);

// The XXH3-128 of the whole file of length bytes, read through buffer (kStreamBufferBytes).
SystemError HashWholeFile(const File& file, uint64_t length, uint8_t* buffer, Hash128* hash);
