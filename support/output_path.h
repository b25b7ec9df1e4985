// Naming output files: the output folder, a separator, the stem of the input file's name
// and a fixed extension (D:\out + C:\data\movie.avi + ".crc" gives D:\out\movie.crc). Paths are
// UTF-8, walked byte by byte: no byte of a letter of more than one byte is a separator or a dot.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// pathBuffer is a path buffer (kPathBufferSize bytes) holding the output folder's text,
// zero-filled behind it. On success it holds the output path. The buffer stays unchanged, and the
// failure says why, when no output name can be made: the folder text is empty or the source
// path has no stem (no dot, or no separator before its last dot), which is an invalid name; or
// the path would be longer than a path may be, a name too long.
SystemError BuildOutputPath(char* pathBuffer, const char* sourcePath, const char* extension);

// The same with a given separator; BuildOutputPath uses the platform's own.
SystemError BuildOutputPathWith(char separator, char* pathBuffer, const char* sourcePath, const char* extension);

// Appends a separator, the first nameLength bytes of name and the extension behind the
// folder text (folderLength bytes) in pathBuffer; a name too long, the buffer unchanged, when the
// path would be longer than a path may be (519 UTF-16 units). The name builders end here.
SystemError AppendOutputName(char* pathBuffer, size_t folderLength, char separator, const char* name, size_t nameLength,
                     const char* extension);

// The output path of a folder: the output folder, a separator, the folder's own name (the
// last component of folderPath, separators at its end ignored) and the extension
// (D:\out + C:\data\photos + ".crc" gives D:\out\photos.crc). Refused like
// BuildOutputPath, and as an invalid name when folderPath has no name of its own ("C:\", ".").
SystemError BuildFolderOutputPath(char* pathBuffer, const char* folderPath, const char* extension);
