// The test file of a broken file, written in one read of the file in the form chosen: the
// plain form, a checksum per block, or the compact form, a sketch of the blocks whose size
// follows the damage it can take (core/compact_test_file.h). The broken-file scan writes it,
// and so does a repair that answers an asking repair file with a larger one.
#pragma once

#include <cstdint>

#include "core/fingerprint.h"
#include "core/outcome.h"
#include "platform/platform.h"
#include "stream/operations.h"
#include "stream/pipeline.h"
#include "stream/steps.h"

// The choice of form a file's and a folder's test file share: the plain form (0) where the
// budget reaches its length, where it is no longer than choice.plainUpTo, or where the compact
// form would be no shorter; else the compact form's symbols, for the budget (forBudget) or by
// default (byDefault). compactLength: the compact form's length for a number of symbols.
uint32_t ChooseSymbols(uint64_t plainLength, const TestFileChoice& choice, uint32_t (*forBudget)(uint64_t budget),
                       uint32_t byDefault, uint64_t (*compactLength)(uint32_t symbols));
// The compact form's symbols for a broken file of this size, or 0 for the plain form.
uint32_t ChosenSymbols(uint64_t brokenSize, const TestFileChoice& choice);

// The compact test file an asking repair file answers, which the broken file must still give:
// its symbols are the first of any larger sketch of the same file.
struct AnsweredTestFile {
  uint32_t symbols = 0;
  uint64_t length = 0;
  Hash128 check;
};

// Reads the broken file (size bytes) through the ring and writes its test file into output
// from offset 0: the plain form when symbols is 0, else the compact form of that many symbols.
// With answered, the same read makes that file's sketch too; the file must give it byte for
// byte, or the outcome is OtherFile (CheckFinding::TestFileDiffers) and output holds nothing
// worth keeping. Done with *written the test file's length; stops at AllocateTestFileBuffer
// (the sketch's memory), ReadBroken or WriteOutput; Cancelled when asked.
Outcome WriteTestFileOf(const File& brokenFile, uint64_t size, uint32_t symbols, const AnsweredTestFile* answered,
                        const File& output, SliceRing& ring, Progress& progress, uint64_t* written);
