// How NTFS compares names: one UTF-16 unit at a time through the volume's upcase table, one
// unit to one unit (no ß to SS, no normalization). This is the table Windows 8 to 11 write,
// for the side that is not Windows; Windows itself is asked (platform.h: UpcaseNameUnit).
#pragma once

#include <cstdint>

uint16_t NtfsUpcase(uint16_t unit);
