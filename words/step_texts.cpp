// The words for each step.
#include "words/step_texts.h"

const char* StepMessage(Step step) {
  switch (step) {
    case Step::OpenBroken: return "Не удалось открыть битый файл.";
    case Step::SizeBroken: return "Не удалось узнать размер битого файла.";
    case Step::AllocateBroken: return "Не удалось выделить память для буфера под битый файл.";
    case Step::ReadBroken: return "Не удалось прочитать содержимое битого файла в память.";
    case Step::AllocateTestFileBuffer: return "Не удалось выделить память для буфера под создаваемый файл.";
    case Step::CreateOutput: return "Не удалось создать новый файл.";
    case Step::WriteOutput: return "Не удалось произвести запись в новый файл.";

    case Step::OpenValid: return "Не удалось открыть валидный файл.";
    case Step::OpenTest: return "Не удалось открыть контрольный файл.";
    case Step::SizeValid: return "Не удалось узнать размер валидного файла.";
    case Step::AllocateValid: return "Не удалось выделить память для буфера под валидный файл.";
    case Step::SizeTest: return "Не удалось узнать размер контрольного файла.";
    case Step::CheckTestFileSize: return "Битый файл имеет больший размер чем валидный файл";
    case Step::CheckLargeTestFile: return "Контрольный файл большого формата (от 4 ГБ) повреждён или обрезан";
    case Step::AllocateTest: return "Не удалось выделить память для буфера под контрольный файл.";
    case Step::ReadValid: return "Не удалось прочитать содержимое валидного файла в память.";
    case Step::ReadTest: return "Не удалось прочитать содержимое контрольного файла в память.";
    case Step::ReserveList: return "Не удалось зарезервировать память под список битых блоков.";
    case Step::ReserveRepairBlocks: return "Не удалось зарезервировать память под ремонтные блоки.";
    case Step::CommitRepairBlocks: return "Не удалось передать память под ремонтные блоки.";
    case Step::CommitList: return "Не удалось передать память под список битых блоков.";

    case Step::OpenRepair: return "Не удалось открыть ремонтный файл.";
    case Step::SizeRepair: return "Не удалось узнать размер ремонтного файла.";
    case Step::CommitRepairBuffer: return "Не удалось передать память для буфера под ремонтный файл.";
    case Step::ReadRepair: return "Не удалось прочитать содержимое ремонтного файла в буфер.";
    case Step::CheckRepairFile: return "Ремонтный файл повреждён или составлен не для этого битого файла";
    case Step::CheckLargeRepairFile: return "Ремонтный файл большого формата (от 4 ГБ) повреждён или обрезан";
    case Step::CommitBrokenBuffer: return "Не удалось передать память для буфера под битый файл.";
    case Step::WriteRepaired: return "Не удалось записать содержимое битого файла (отремонтированное) в память.";

    case Step::CheckTestFileForFolder: return "Контрольный файл составлен для папки: укажите папку, а не файл";
    case Step::CheckRepairFileForFolder: return "Ремонтный файл составлен для папки: укажите папку, а не файл";

    case Step::OpenBrokenFolder: return "Не удалось открыть битую папку.";
    case Step::OpenValidFolder: return "Не удалось открыть валидную папку.";
    case Step::ListFolder: return "Не удалось прочитать содержимое папки.";
    case Step::AllocateListing:
    case Step::AllocateRepairPlan:
    case Step::AllocateRepairEntry: return "Не удалось выделить память для списка файлов папки.";
    case Step::CheckTestFileForOneFile: return "Контрольный файл составлен для одного файла, а не для папки";
    case Step::CheckRepairFileForOneFile: return "Ремонтный файл составлен для одного файла, а не для папки";
    case Step::CheckFolderTestFile: return "Контрольный файл папки повреждён или обрезан";
    case Step::CheckFolderRepairFile: return "Ремонтный файл папки повреждён или обрезан";
    case Step::CheckRepairFileName: return "В ремонтном файле папки недопустимое имя файла; ничего не изменено";
    case Step::CreateFolder: return "Не удалось создать папку.";
    case Step::RenameEntry: return "Не удалось переименовать файл или папку.";
    case Step::RemoveExtra: return "Не удалось удалить лишний файл или папку.";
    case Step::AllocateFingerprint: return "Не удалось выделить память под отпечаток валидного файла.";
    case Step::CheckFingerprint:
      return "Отпечаток валидного файла в конце ремонтного файла повреждён или обрезан. Битый файл не изменён; "
             "получите ремонтный файл ещё раз";
    case Step::AllocateReadBack: return "Не удалось выделить память для проверки отремонтированного файла.";
    case Step::ReadBack: return "Не удалось прочитать отремонтированный файл для проверки.";
    case Step::CreateFollowUp:
      return "Файл всё ещё отличается от валидного, но не удалось создать уточняющий контрольный файл.";
    case Step::WriteFollowUp:
      return "Файл всё ещё отличается от валидного, но не удалось записать уточняющий контрольный файл.";
    case Step::CheckFollowUp: return "Уточняющий контрольный файл повреждён или составлен для файла другого размера";
  }
  return "";
}
