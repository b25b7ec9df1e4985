// What the window says to the user, in Windows-1251 Russian (the build converts them).
#pragma once

namespace ui_text {

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

inline constexpr char kChooseFile[] = "Выберите файл для открытия.";
inline constexpr char kChooseFolder[] = "Выберите папку.";

}  // namespace ui_text
