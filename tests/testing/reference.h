// An independent model of the two exchange files, written from their byte layout and the
// byte-wise form of the checksum (byte j of the checksum is the exclusive-or of the block's
// bytes j, j + 4, ..., j + 4092), so the engine is checked against a second derivation.
#pragma once

#include <cstdint>

#include "tests/testing/scratch_folder.h"

uint32_t ReferenceChecksum(const Bytes& file, uint64_t blockIndex);

// The test file of a broken file with these contents.
Bytes ReferenceTestFile(const Bytes& broken);

// The fingerprint part behind the repair blocks, laid out field by field, with each region's
// hash taken by the library in one call.
Bytes ReferenceFingerprintPart(const Bytes& valid);

// The repair file the valid-file scan must write for this valid file and test file, its
// fingerprint included, or an empty vector when it must report identical contents. Assumes
// the test file passes the size check.
Bytes ReferenceRepairFile(const Bytes& valid, const Bytes& testFile);

// The broken file after a repair file is applied: the valid size, every carried block in
// place, the broken file's own bytes elsewhere, zeros where it had none.
Bytes ReferenceRepairedFile(const Bytes& broken, const Bytes& repairFile);
