// What varnell-cli says in its own words, in the program's Russian, UTF-8 in both builds. The
// words for the steps an operation stops at are the dialog's (words/step_texts.h). Formats take
// printf arguments.
#pragma once

#include "varnell_version.h"

namespace cli_text {

inline constexpr char kVersion[] = "varnell-cli " VARNELL_VERSION "\n";

inline constexpr char kSynopsis[] =
    "Использование:\n"
    "  varnell-cli scan-broken BROKEN_FILE OUTPUT_FOLDER [--quiet] [--json]\n"
    "  varnell-cli scan-valid VALID_FILE TEST_FILE OUTPUT_FOLDER [--list] [--prove] [--quiet] [--json]\n"
    "  varnell-cli repair BROKEN_FILE REPAIR_FILE [--check TEST_FILE] [--no-verify] [--follow-up FOLDER]\n"
    "                     [--quiet] [--json]\n"
    "  varnell-cli repair BROKEN_FOLDER REPAIR_FILE [--delete-extra] [--quiet] [--json]\n"
    "  varnell-cli verify FILE REPAIR_FILE [--quiet] [--json]\n"
    "  varnell-cli --help | --version\n";

inline constexpr char kHelp[] =
    "\n"
    "Ремонт повреждённой копии файла по целой копии, хранящейся в другом месте:\n"
    "  scan-broken  рядом с битым файлом пишет контрольный файл OUTPUT_FOLDER/ИМЯ.crc\n"
    "               (размер и контрольные суммы блоков по 4096 байт);\n"
    "  scan-valid   рядом с валидным файлом сравнивает его с контрольным файлом и пишет\n"
    "               ремонтный файл OUTPUT_FOLDER/ИМЯ.fix с отличающимися блоками и отпечатком\n"
    "               валидного файла (XXH3-128); номера блоков и их байты выводятся в stderr,\n"
    "               с --list в stdout; с --prove ремонтный файл пишется и для идентичных копий.\n"
    "               Уточняющий контрольный файл (после ремонта с расхождениями) получает ответ\n"
    "               ровно с теми блоками, что всё ещё отличаются;\n"
    "  repair       ставит блоки ремонтного файла на место битого файла и даёт ему размер\n"
    "               валидного; с --check TEST_FILE сначала убеждается, что битый файл не\n"
    "               изменился с тех пор, как из него сделан контрольный файл TEST_FILE.\n"
    "               Затем читает файл заново и сравнивает с отпечатком валидного файла\n"
    "               (--no-verify: без этой проверки); если файл всё ещё отличается, пишет\n"
    "               уточняющий контрольный файл ИМЯ.crc рядом с битым файлом или в папку\n"
    "               --follow-up FOLDER. Прерванный ремонт завершается повторным запуском\n"
    "               с тем же ремонтным файлом, без --check.\n"
    "  verify       сравнивает FILE с отпечатком в ремонтном файле, ничего не записывая.\n"
    "  --quiet      без строки хода работы и без сообщений об успехе.\n"
    "  --json       один объект JSON в stdout с итогом работы; сообщения — в stderr.\n"
    "\n"
    "Вместо файла можно указать папку: контрольный файл ИМЯ_ПАПКИ.crc описывает все файлы\n"
    "и папки в ней, ремонтный файл ИМЯ_ПАПКИ.fix несёт всё, чего битой папке не хватает,\n"
    "а ремонт папки исправляет, создаёт и переименовывает файлы и папки в ней. Лишние\n"
    "файлы и папки (есть только в битой папке) он лишь называет, а с --delete-extra\n"
    "удаляет. Ссылки не открываются и не создаются никогда.\n"
    "\n"
    "Файлы любого размера (до 16 ТБ); контрольный и ремонтный файлы появляются под\n"
    "своими именами только целиком записанными.\n"
    "\n"
    "Коды завершения: 0 готово; 1 операция остановлена (причина в stderr);\n"
    "2 неверный вызов; 3 scan-valid: содержимое идентично, ничего не записано;\n"
    "4 repair --check: проверка не пройдена, ничего не записано;\n"
    "5 repair, verify: файл (или файл папки) всё ещё отличается от валидного (места в stderr);\n"
    "6 папка: готово, но часть файлов или папок пропущена (они перечислены в stderr);\n"
    "7 файл записан и заменил прежний, но может не пережить сбой питания;\n"
    "8 verify: в ремонтном файле нет отпечатка, проверять не с чем.\n";

inline constexpr char kUsageProblem[] = "varnell-cli: %s\n";
inline constexpr char kMoreHelp[] = "Подробнее: varnell-cli --help\n";
inline constexpr char kNoCommand[] = "не указана команда";
inline constexpr char kUnknownCommand[] = "неизвестная команда: %s";
inline constexpr char kUnknownOption[] = "неизвестный параметр: %s";
inline constexpr char kRepeatedOption[] = "параметр указан дважды: %s";
inline constexpr char kOptionNeedsValue[] = "после %s нужен путь";
inline constexpr char kMissingArguments[] = "%s: не хватает аргументов";
inline constexpr char kExtraArgument[] = "лишний аргумент: %s";
inline constexpr char kDeleteExtraForFolder[] = "%s: только для ремонта папки";
inline constexpr char kCheckForFile[] = "%s: только для ремонта одного файла";
// Written to stderr when stdout could not be written: the exit status is then 1.
inline constexpr char kOutputFailed[] = "varnell-cli: не удалось записать стандартный вывод\n";

// One line on stdout after success: the file written and its size, or the file repaired and
// the number of blocks put in place.
inline constexpr char kTestFileWritten[] = "Записан контрольный файл: %s, размер в байтах: %llu\n";
inline constexpr char kRepairFileWritten[] = "Записан ремонтный файл: %s, размер в байтах: %llu\n";
inline constexpr char kRepaired[] = "Отремонтирован файл: %s, поставлено блоков: %u\n";
inline constexpr char kFolderRepaired[] = "Отремонтирована папка: %s, изменено файлов: %llu, создано папок: %llu\n";
// A name a folder's repair file may not carry: the name, then why.
inline constexpr char kRefusedName[] = "Имя: ";

// After the success line when the output is in place but the flush of its folder failed;
// the system's text follows on a line of its own.
inline constexpr char kMayNotSurvivePowerCut[] =
    "Внимание: новый файл уже на месте прежнего, но папку не удалось сбросить на диск; при сбое "
    "питания новый файл может пропасть.\n";

// The valid file's fingerprint a scan has written, on stderr.
inline constexpr char kFingerprintWritten[] = "Отпечаток валидного файла (XXH3-128, как у xxh128sum): %s\n";

// What a repair says of its result, on stderr; verify's success is its line on stdout.
inline constexpr char kVerified[] = "Результат проверен: файл совпадает с валидным, XXH3-128 %s.\n";
inline constexpr char kNotChecked[] = "Результат не проверен: в ремонтном файле нет отпечатка валидного файла.\n";
inline constexpr char kCheckSkipped[] = "Результат не проверен (--no-verify).\n";
inline constexpr char kFileVerified[] = "Файл совпадает с валидным: %s, XXH3-128 %s\n";
inline constexpr char kNoFingerprint[] = "В ремонтном файле нет отпечатка валидного файла: проверять не с чем.\n";
// A file that still differs: the heading, one line per range, why, and the way on.
inline constexpr char kDiffers[] = "Файл всё ещё отличается от валидного, мест: %u (первый-последний байт):\n";
inline constexpr char kDifferingRange[] = "%llu-%llu\n";
inline constexpr char kDiffersWhy[] =
    "Такие повреждения не видны контрольным суммам блоков; их находит только отпечаток валидного файла.\n";
inline constexpr char kFollowUpWritten[] = "Записан уточняющий контрольный файл: %s, размер в байтах: %llu\n";
inline constexpr char kFollowUpNext[] =
    "Передайте его владельцу валидного файла: scan-valid с ним даст ремонтный файл ровно с отличающимися "
    "блоками; примените его так же.\n";

// The damaged blocks of a valid-file scan: a heading, then one line per block.
inline constexpr char kDamagedHeading[] = "Повреждённых блоков: %u (номер: первый-последний байт)\n";
inline constexpr char kDamagedBlock[] = "%u: %llu-%llu\n";

// A refused check: kCheckFailed, the reason (one line), then kNothingWritten.
inline constexpr char kCheckFailed[] = "Проверка по контрольному файлу не пройдена: ";
inline constexpr char kNothingWritten[] = "Битый файл не изменён.\n";
// The reasons.
inline constexpr char kCheckSizeDiffers[] = "размер битого файла %llu байт, а в контрольном файле записан размер %llu байт.";
inline constexpr char kCheckBlockDiffers[] = "блок %u (байты %llu-%llu) отличается от записанного в контрольном файле.";
inline constexpr char kCheckTestFileMalformed[] =
    "контрольный файл длиной %llu байт не может быть контрольным файлом файла размером %llu байт.";
inline constexpr char kCheckTestFileTooShort[] = "контрольный файл короче 4 байт.";
inline constexpr char kCheckTestFileForFolder[] = "контрольный файл составлен для папки, а не для файла.";

// In place of the system's text when a file ended before the size it had when it was measured.
inline constexpr char kFileChangedWhileRead[] =
    "Файл изменился, пока его читали: он стал короче. Запустите команду снова, когда файл перестанет меняться.\n";

// A stop asked for from outside (an interrupt); a repair cut short is finished by running it again.
inline constexpr char kCancelled[] = "Работа прервана.\n";
inline constexpr char kFolderRunAgain[] =
    "Битая папка отремонтирована не полностью: запустите ремонт с тем же ремонтным файлом ещё раз.\n";
inline constexpr char kRunAgain[] = "Битый файл отремонтирован не полностью: запустите ремонт с тем же ремонтным файлом ещё раз.\n";
// The same after a repair with --check: the partly repaired file no longer matches its test
// file, so the same command would be refused.
inline constexpr char kRunAgainWithoutCheck[] =
    "Битый файл отремонтирован не полностью: запустите ремонт с тем же ремонтным файлом ещё раз, без --check "
    "(файл уже частично изменён, и проверка его не пропустит).\n";

// The progress line on a terminal: percent, MiB done of MiB in all, MiB per second. It is
// drawn over itself from the line's start.
inline constexpr char kProgress[] = "%3u%%  %.1f из %.1f МиБ  %.1f МиБ/с";

}  // namespace cli_text
