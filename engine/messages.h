// What the engine says to the user, in Windows-1251 Russian (the build converts them).
#pragma once

namespace message {

// Captions of the error boxes; their body is the system's text for the cause.
inline constexpr char kOpenBroken[] = "Не удалось открыть битый файл.";
inline constexpr char kSizeBroken[] = "Не удалось узнать размер битого файла.";
inline constexpr char kAllocateBroken[] = "Не удалось выделить память для буфера под битый файл.";
inline constexpr char kReadBroken[] = "Не удалось прочитать содержимое битого файла в память.";
inline constexpr char kAllocateTestBuffer[] = "Не удалось выделить память для буфера под создаваемый файл.";
inline constexpr char kCreateOutput[] = "Не удалось создать новый файл.";
inline constexpr char kWriteOutput[] = "Не удалось произвести запись в новый файл.";

inline constexpr char kOpenValid[] = "Не удалось открыть валидный файл.";
inline constexpr char kOpenTest[] = "Не удалось открыть контрольный файл.";
inline constexpr char kSizeValid[] = "Не удалось узнать размер валидного файла.";
inline constexpr char kAllocateValid[] = "Не удалось выделить память для буфера под валидный файл.";
inline constexpr char kSizeTest[] = "Не удалось узнать размер контрольного файла.";
inline constexpr char kAllocateTest[] = "Не удалось выделить память для буфера под контрольный файл.";
inline constexpr char kReadValid[] = "Не удалось прочитать содержимое валидного файла в память.";
inline constexpr char kReadTest[] = "Не удалось прочитать содержимое контрольного файла в память.";
inline constexpr char kReserveList[] = "Не удалось зарезервировать память под список битых блоков.";
inline constexpr char kReserveRepairBlocks[] = "Не удалось зарезервировать память под ремонтные блоки.";
inline constexpr char kCommitRepairBlocks[] = "Не удалось передать память под ремонтные блоки.";
inline constexpr char kCommitList[] = "Не удалось передать память под список битых блоков.";

inline constexpr char kOpenRepair[] = "Не удалось открыть ремонтный файл.";
inline constexpr char kSizeRepair[] = "Не удалось узнать размер ремонтного файла.";
inline constexpr char kCommitRepairBuffer[] = "Не удалось передать память для буфера под ремонтный файл.";
inline constexpr char kReadRepair[] = "Не удалось прочитать содержимое ремонтного файла в буфер.";
inline constexpr char kCommitBrokenBuffer[] = "Не удалось передать память для буфера под битый файл.";
inline constexpr char kWriteRepaired[] = "Не удалось записать содержимое битого файла (отремонтированное) в память.";

// Conditions the logic finds itself: text and caption are both the program's own.
inline constexpr char kUnforeseen[] = "Возникла ситуация не предусмотренная логикой программы";
inline constexpr char kBrokenLargerThanValid[] = "Битый файл имеет больший размер чем валидный файл";
inline constexpr char kRepairFileDamaged[] = "Ремонтный файл повреждён или составлен не для этого битого файла";
// The forms for files of 4 GiB and more, whose header or length does not hold together.
inline constexpr char kLargeTestFileDamaged[] = "Контрольный файл большого формата (от 4 ГБ) повреждён или обрезан";
inline constexpr char kLargeRepairFileDamaged[] = "Ремонтный файл большого формата (от 4 ГБ) повреждён или обрезан";
inline constexpr char kIdentical[] = "Содержимое битого и оригинального файла оказалось идентичным.";
inline constexpr char kAttention[] = "Внимание";

}  // namespace message
