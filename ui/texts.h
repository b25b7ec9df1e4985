// What the dialog says in its own words, in Russian, UTF-8 like every text of the program; they
// reach the screen through the wide calls (ui/window_text.h), so they read the same under any
// code page. The words for the steps an operation stops at, which varnell-cli prints too, are
// in words/step_texts.h; ui/outcome_boxes.cpp puts both into the dialog's boxes.
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
// The text of a step's error box, instead of the system's, when a file ended before the size
// it had when it was measured.
inline constexpr char kFileChangedWhileRead[] =
    "Файл изменился во время чтения: он стал короче. Запустите операцию снова, когда файл перестанет меняться.";
// Instead of the task-done box when the new file is in place but its folder was not flushed;
// the system's text follows after a blank line.
inline constexpr char kMayNotSurvivePowerCut[] =
    "Новый файл записан и уже заменил прежний, но папку с ним не удалось сбросить на диск: при "
    "сбое питания новый файл может пропасть.";

// Work on a folder: the closing box lists what the user must know of its entries.
inline constexpr char kFolderExtras[] = "Лишние файлы и папки (есть только в битой папке, оставлены на месте):";
inline constexpr char kFolderSkipped[] = "Пропущены:";
inline constexpr char kFolderMismatch[] = "Не совпали с отпечатком валидного файла (нужен новый обмен):";
// The closing box of a folder's repair in which a file did not match its fingerprint: never
// the success of a done task.
inline constexpr char kFolderRepairDiffers[] =
    "Ремонт папки выполнен не полностью: часть файлов после записи не совпала с валидными. "
    "Сделайте шаги 1–3 для этой папки ещё раз.";
inline constexpr char kMoreEntries[] = "… и ещё %u";
inline constexpr char kFolderRepairStoppedPartly[] =
    "Ремонт прерван. Битая папка отремонтирована частично; чтобы закончить ремонт, запустите его ещё раз "
    "с тем же ремонтным файлом.";
inline constexpr char kFolderRepairStoppedUntouched[] = "Ремонт прерван до первой записи. Битая папка не изменена.";
inline constexpr char kRefusedName[] = "Имя: %s";

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
