// Why `repair --check` refuses a broken file, in the program's words: one line each, without
// its line break (the program's Russian, Windows-1251 in the Windows build, UTF-8 elsewhere).
// Formats take printf arguments.
#pragma once

namespace check_text {

inline constexpr char kSizeDiffers[] = "размер битого файла %llu байт, а в контрольном файле записан размер %llu байт.";
inline constexpr char kBlockDiffers[] = "блок %u (байты %llu-%llu) отличается от записанного в контрольном файле.";
inline constexpr char kTestFileMalformed[] =
    "контрольный файл длиной %llu байт не может быть контрольным файлом файла размером %llu байт.";
inline constexpr char kTestFileTooShort[] = "контрольный файл короче 4 байт.";

}  // namespace check_text
