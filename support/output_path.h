// Naming output files: the output folder, a separator, the stem of the input file's name
// and a fixed extension (D:\out + C:\data\movie.avi + ".crc" gives D:\out\movie.crc).
#pragma once

// pathBuffer is a 520-byte path buffer holding the output folder's text, zero-filled behind
// it. On success it holds the output path and the result is 1. The result is 0, the buffer
// unchanged and the last error set, when no output name can be made: the folder text is
// empty or the source path has no stem (no dot, or no separator before its last dot),
// which is an invalid name; or the path would not fit in the buffer, a name too long.
int BuildOutputPath(char* pathBuffer, const char* sourcePath, const char* extension);

// The same with a given separator; BuildOutputPath uses the platform's own.
int BuildOutputPathWith(char separator, char* pathBuffer, const char* sourcePath, const char* extension);

// The output path of a folder: the output folder, a separator, the folder's own name (the
// last component of folderPath, separators at its end ignored) and the extension
// (D:\out + C:\data\photos + ".crc" gives D:\out\photos.crc). Refused like
// BuildOutputPath, and as an invalid name when folderPath has no name of its own ("C:\", ".").
int BuildFolderOutputPath(char* pathBuffer, const char* folderPath, const char* extension);
