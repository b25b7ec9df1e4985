// The words both programs use for what happened to the entries of a folder: the events of
// its scans and its repair, why an entry was skipped, and why a name was refused, in the
// program's Russian, UTF-8 in both builds. Formats take the entry's path as %s, in UTF-8,
// and a number as %llu.
#pragma once

#include "tree/outcome.h"

namespace entry_text {

inline constexpr char kFoldersIdentical[] = "Содержимое битой и оригинальной папки оказалось идентичным.";

inline constexpr char kDamaged[] = "Повреждён, блоков: %llu: %s";
inline constexpr char kLengthDiffers[] = "Отличается только длиной: %s";
inline constexpr char kMissing[] = "Нет в битой папке, будет передан целиком: %s";
inline constexpr char kFolderMissing[] = "Папки нет в битой папке, будет создана: %s";
inline constexpr char kCaseDiffers[] = "Имя отличается регистром букв, будет переименован: %s";
inline constexpr char kExtra[] = "Лишний, есть только в битой папке: %s";
inline constexpr char kExtraFolder[] = "Лишняя папка, есть только в битой папке: %s";
inline constexpr char kRepaired[] = "Отремонтирован, поставлено блоков: %llu: %s";
inline constexpr char kCreated[] = "Создан: %s";
inline constexpr char kFolderCreated[] = "Создана папка: %s";
inline constexpr char kRenamed[] = "Переименован: %s";
inline constexpr char kDeleted[] = "Удалён лишний: %s";
inline constexpr char kFolderDeleted[] = "Удалена лишняя папка: %s";
inline constexpr char kMismatch[] = "Не совпадает с отпечатком валидного файла, нужен новый обмен: %s";
inline constexpr char kVerified[] = "Совпадает с отпечатком валидного файла: %s";
inline constexpr char kSkipped[] = "Пропущен: %s";

// Why an entry was skipped: the line after kSkipped.
inline constexpr char kSkipLink[] = "это символическая ссылка или точка соединения";
inline constexpr char kSkipNotRegular[] = "это не файл и не папка (устройство, канал или сокет)";
inline constexpr char kSkipBadName[] = "имя нельзя передать: ";
inline constexpr char kSkipTooDeep[] = "папка вложена глубже 128 уровней";
inline constexpr char kSkipBrokenSide[] = "пропущен при сканировании битой папки: ";
inline constexpr char kSkipBrokenUnreadable[] = "его не удалось прочитать";
inline constexpr char kSkipNotPossibleThere[] = "такое имя невозможно в битой папке: ";
inline constexpr char kSkipNameTaken[] = "на его месте другой файл, папка или ссылка";
inline constexpr char kSkipGone[] = "его уже нет в битой папке";
inline constexpr char kSkipNotEmpty[] = "папка не пуста";

// Why a name is refused.
inline constexpr char kNameEmpty[] = "пустое имя или пустая часть пути";
inline constexpr char kNameAbsolute[] = "путь от корня диска";
inline constexpr char kNameDot[] = "часть пути «.» или «..»";
inline constexpr char kNameBackslash[] = "обратная косая черта в имени";
inline constexpr char kNameColon[] = "двоеточие в имени";
inline constexpr char kNameControl[] = "управляющий символ в имени";
inline constexpr char kNameNotUtf8[] = "имя не в кодировке UTF-8";
inline constexpr char kNameForbidden[] = "знак, запрещённый в именах Windows";
inline constexpr char kNameReserved[] = "зарезервированное имя устройства Windows";
inline constexpr char kNameTrailing[] = "имя оканчивается точкой или пробелом";
inline constexpr char kNameTooLong[] = "слишком длинное имя или путь";
inline constexpr char kNameCaseClash[] = "два имени отличаются только регистром букв";

}  // namespace entry_text

const char* NameFaultText(NameFault fault);

// The event's format (one %s, and %llu first where it has a number).
const char* EventFormat(const EntryReport& entry);

// Why a skipped entry was skipped, in one line: the reason's words, with the fault's words
// or the system's text where they belong (systemText: the system's text for the entry's
// error, already in the program's encoding; ignored where it does not belong).
std::string SkipReasonText(const EntryReport& entry, const char* systemText);
