// What the dialog says in its own words, in Windows-1251 Russian (the build converts them).
// The words for the steps an operation stops at, which varnell-cli prints too, are in
// support/step_texts.h; ui/outcome_boxes.cpp puts both into the dialog's boxes.
#pragma once

namespace dialog_text {

inline constexpr char kBrowseCaption[] = "...";
inline constexpr char kAllocateBrowseRecord[] = "Не удалось выделить место в дополнительном heap'е.";
inline constexpr char kGetProcessHeap[] = "Не удалось получить хэндл heap'а процесса.";

inline constexpr char kFillAllFields[] = "Вы должны заполнить все поля ввода.";
inline constexpr char kAttentionExclaimed[] = "Внимание!";

inline constexpr char kWorking[] = "Работаю";
inline constexpr char kReady[] = "Готов к работе";
inline constexpr char kModeBrokenScan[] = "Текущий режим: сканирование битого файла";
inline constexpr char kModeValidScan[] = "Текущий режим: сканирование валидного файла";
inline constexpr char kModeRepair[] = "Текущий режим: ремонт битого файла";
inline constexpr char kTaskDone[] = "Поставленная задача выполнена";

// Work on files of 4 GiB and more, which runs while the dialog stays in use.
inline constexpr char kWorkingPercent[] = "Работаю: %u%%";
inline constexpr char kStartWorker[] = "Не удалось запустить поток для работы с файлом.";
inline constexpr char kAskStop[] = "Прервать текущую операцию?";
inline constexpr char kScanStopped[] =
    "Операция прервана. Новый файл не создан; если файл с таким именем уже был, он остался без изменений.";
inline constexpr char kRepairStoppedPartly[] =
    "Ремонт прерван. Битый файл отремонтирован частично; чтобы закончить ремонт, запустите его ещё раз "
    "с тем же ремонтным файлом.";
inline constexpr char kRepairStoppedUntouched[] = "Ремонт прерван до первой записи. Битый файл не изменён.";

// A repair whose result the valid file's fingerprint shows still differs: a warning box in
// these parts, the first few ranges between the head and the rest.
inline constexpr char kDiffersHead[] = "Ремонт выполнен, но файл всё ещё отличается от валидного. Мест с отличиями: %u.";
inline constexpr char kDiffersRange[] = "байты %s–%s";
inline constexpr char kDiffersMore[] = "и ещё мест: %u";
inline constexpr char kDiffersWhy[] =
    "Такие повреждения не видны контрольным суммам блоков, по которым программа ищет отличия; "
    "их показал отпечаток валидного файла из ремонтного файла.";
inline constexpr char kDiffersNext[] =
    "Что делать дальше: записан уточняющий контрольный файл\n%s\nПередайте его владельцу валидного "
    "файла. В режиме 2 он выберет этот файл как контрольный и пришлёт новый ремонтный файл, "
    "в котором будут ровно отличающиеся блоки; примените его в режиме 3.";

inline constexpr char kChooseFile[] = "Выберите файл для открытия.";
inline constexpr char kChooseFolder[] = "Выберите папку.";

}  // namespace dialog_text
