// What varnell-cli says in its own words, in the program's Russian (Windows-1251 in the
// Windows build, UTF-8 elsewhere, like the engine's messages). Formats take printf arguments.
#pragma once

#include "varnell_version.h"

namespace cli_text {

inline constexpr char kVersion[] = "varnell-cli " VARNELL_VERSION "\n";

inline constexpr char kSynopsis[] =
    "Использование:\n"
    "  varnell-cli scan-broken BROKEN_FILE OUTPUT_FOLDER\n"
    "  varnell-cli scan-valid VALID_FILE TEST_FILE OUTPUT_FOLDER [--list]\n"
    "  varnell-cli repair BROKEN_FILE REPAIR_FILE [--check TEST_FILE]\n"
    "  varnell-cli --help | --version\n";

inline constexpr char kHelp[] =
    "\n"
    "Ремонт повреждённой копии файла по целой копии, хранящейся в другом месте:\n"
    "  scan-broken  рядом с битым файлом пишет контрольный файл OUTPUT_FOLDER/ИМЯ.crc\n"
    "               (размер и контрольные суммы блоков по 4096 байт);\n"
    "  scan-valid   рядом с валидным файлом сравнивает его с контрольным файлом и пишет\n"
    "               ремонтный файл OUTPUT_FOLDER/ИМЯ.fix с отличающимися блоками;\n"
    "               номера блоков и их байты выводятся в stderr, с --list в stdout;\n"
    "  repair       ставит блоки ремонтного файла на место и перезаписывает битый файл;\n"
    "               с --check TEST_FILE сначала убеждается, что битый файл не изменился\n"
    "               с тех пор, как из него сделан контрольный файл TEST_FILE.\n"
    "\n"
    "Коды завершения: 0 готово; 1 операция остановлена (причина в stderr);\n"
    "2 неверный вызов; 3 scan-valid: содержимое идентично, ничего не записано;\n"
    "4 repair --check: проверка не пройдена, ничего не записано.\n";

inline constexpr char kUsageProblem[] = "varnell-cli: %s\n";
inline constexpr char kMoreHelp[] = "Подробнее: varnell-cli --help\n";
inline constexpr char kNoCommand[] = "не указана команда";
inline constexpr char kUnknownCommand[] = "неизвестная команда: %s";
inline constexpr char kUnknownOption[] = "неизвестный параметр: %s";
inline constexpr char kRepeatedOption[] = "параметр указан дважды: %s";
inline constexpr char kOptionNeedsValue[] = "после %s нужен путь к файлу";
inline constexpr char kMissingArguments[] = "%s: не хватает аргументов";
inline constexpr char kExtraArgument[] = "лишний аргумент: %s";

// One line on stdout after success: the file written and its size, or the file repaired and
// the number of blocks put in place.
inline constexpr char kTestFileWritten[] = "Записан контрольный файл: %s, размер в байтах: %u\n";
inline constexpr char kRepairFileWritten[] = "Записан ремонтный файл: %s, размер в байтах: %u\n";
inline constexpr char kRepaired[] = "Отремонтирован файл: %s, поставлено блоков: %u\n";

// The damaged blocks of a valid-file scan: a heading, then one line per block.
inline constexpr char kDamagedHeading[] = "Повреждённых блоков: %u (номер: первый-последний байт)\n";
inline constexpr char kDamagedBlock[] = "%u: %llu-%llu\n";
inline constexpr char kReadBack[] = "Не удалось прочитать записанный файл.";

// The --check guard's refusals; each is followed by kNothingWritten.
inline constexpr char kCheckFailed[] = "Проверка по контрольному файлу не пройдена: ";
inline constexpr char kCheckSizeDiffers[] =
    "размер битого файла %u байт, а в контрольном файле записан размер %u байт.\n";
inline constexpr char kCheckBlockDiffers[] =
    "блок %u (байты %llu-%llu) отличается от записанного в контрольном файле.\n";
inline constexpr char kCheckTestFileMalformed[] =
    "контрольный файл длиной %u байт не может быть контрольным файлом файла размером %u байт.\n";
inline constexpr char kCheckTestFileTooShort[] = "контрольный файл короче 4 байт.\n";
inline constexpr char kNothingWritten[] = "Битый файл не изменён.\n";

}  // namespace cli_text
