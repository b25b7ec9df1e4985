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
// fields) version 3, whose values and samples are record and which names answered (the whole
// test file the repair file answers) and no earlier test file.
Bytes ReferenceFingerprintPart(const Bytes& valid, const Bytes* origin = nullptr, const Bytes& record = {},
                               const Bytes& answered = {});

// The repair file the valid-file scan must write for this valid file and test file, its
// fingerprint and the record of the broken file included; when every checksum matches, the one
// of no blocks that lets the other side prove it. It names answered, the test file as it
// travelled (testFile itself unless given: a compact one is answered as its plain form would be).
Bytes ReferenceRepairFile(const Bytes& valid, const Bytes& testFile, const Bytes* answered = nullptr);

// Whether the valid-file scan must say that every checksum matches.
bool ReferenceChecksumsMatch(const Bytes& valid, const Bytes& testFile);

// The broken file after a repair file is applied: the valid size (a longer copy cut), every
// carried block in place, the broken file's own bytes elsewhere, zeros where it had none.
Bytes ReferenceRepairedFile(const Bytes& broken, const Bytes& repairFile);
