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
// hash taken by the library in one call: version 1, or with origin (the record's 24 bytes of
// fields) version 2, whose values and samples are record.
Bytes ReferenceFingerprintPart(const Bytes& valid, const Bytes* origin = nullptr, const Bytes& record = {});

// The repair file the valid-file scan must write for this valid file and test file, its
// fingerprint and the record of the broken file included, or an empty vector when it must
// report identical contents (but with prove, as scan-valid --prove writes it). Assumes the test
// file passes the size check.
Bytes ReferenceRepairFile(const Bytes& valid, const Bytes& testFile, bool prove = false);

// The broken file after a repair file is applied: the valid size, every carried block in
// place, the broken file's own bytes elsewhere, zeros where it had none.
Bytes ReferenceRepairedFile(const Bytes& broken, const Bytes& repairFile);
