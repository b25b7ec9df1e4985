// The words for the steps, checked once against the wording users see, byte for byte; the
// other tests refer to steps by name.
#include <gtest/gtest.h>

#include <string>

#include "words/step_texts.h"

namespace {

struct StepText {
  Step step;
  const char* expected;
};

TEST(StepTextsTest, SayExactlyWhatTheUsersAreShown) {
  const StepText texts[] = {
      {Step::OpenBroken, "Не удалось открыть битый файл."},
      {Step::SizeBroken, "Не удалось узнать размер битого файла."},
      {Step::AllocateBroken, "Не удалось выделить память для буфера под битый файл."},
      {Step::ReadBroken, "Не удалось прочитать содержимое битого файла в память."},
      {Step::AllocateTestFileBuffer, "Не удалось выделить память для буфера под создаваемый файл."},
      {Step::CreateOutput, "Не удалось создать новый файл."},
      {Step::WriteOutput, "Не удалось произвести запись в новый файл."},
      {Step::OpenValid, "Не удалось открыть валидный файл."},
      {Step::OpenTest, "Не удалось открыть контрольный файл."},
      {Step::SizeValid, "Не удалось узнать размер валидного файла."},
      {Step::AllocateValid, "Не удалось выделить память для буфера под валидный файл."},
      {Step::SizeTest, "Не удалось узнать размер контрольного файла."},
      {Step::AllocateTest, "Не удалось выделить память для буфера под контрольный файл."},
      {Step::ReadValid, "Не удалось прочитать содержимое валидного файла в память."},
      {Step::ReadTest, "Не удалось прочитать содержимое контрольного файла в память."},
      {Step::CommitList, "Не удалось передать память под список битых блоков."},
      {Step::OpenRepair, "Не удалось открыть ремонтный файл."},
      {Step::SizeRepair, "Не удалось узнать размер ремонтного файла."},
      {Step::CommitRepairBuffer, "Не удалось передать память для буфера под ремонтный файл."},
      {Step::ReadRepair, "Не удалось прочитать содержимое ремонтного файла в буфер."},
      {Step::CommitBrokenBuffer, "Не удалось передать память для буфера под битый файл."},
      {Step::WriteRepaired, "Не удалось записать содержимое битого файла (отремонтированное) в память."},
      {Step::CheckTestFileSize, "Битый файл имеет больший размер чем валидный файл"},
      {Step::CheckRepairFile, "Ремонтный файл повреждён или составлен не для этого битого файла"},
      {Step::CheckLargeTestFile, "Контрольный файл большого формата (от 4 ГБ) повреждён или обрезан"},
      {Step::CheckLargeRepairFile, "Ремонтный файл большого формата (от 4 ГБ) повреждён или обрезан"},
      {Step::CheckTestFileForFolder, "Контрольный файл составлен для папки: укажите папку, а не файл"},
      {Step::CheckRepairFileForFolder, "Ремонтный файл составлен для папки: укажите папку, а не файл"},
      {Step::OpenBrokenFolder, "Не удалось открыть битую папку."},
      {Step::OpenValidFolder, "Не удалось открыть валидную папку."},
      {Step::ListFolder, "Не удалось прочитать содержимое папки."},
      {Step::AllocateListing, "Не удалось выделить память для списка файлов папки."},
      {Step::CheckTestFileForOneFile, "Контрольный файл составлен для одного файла, а не для папки"},
      {Step::CheckRepairFileForOneFile, "Ремонтный файл составлен для одного файла, а не для папки"},
      {Step::CheckFolderTestFile, "Контрольный файл папки повреждён или обрезан"},
      {Step::CheckFolderRepairFile, "Ремонтный файл папки повреждён или обрезан"},
      {Step::CheckRepairFileName, "В ремонтном файле папки недопустимое имя файла; ничего не изменено"},
      {Step::CreateFolder, "Не удалось создать папку."},
      {Step::RenameEntry, "Не удалось переименовать файл или папку."},
      {Step::RemoveExtra, "Не удалось удалить лишний файл или папку."},
      {Step::AllocateRepairPlan, "Не удалось выделить память для списка файлов папки."},
      {Step::AllocateRepairEntry, "Не удалось выделить память для списка файлов папки."},
      {Step::AllocateFingerprint, "Не удалось выделить память под отпечаток валидного файла."},
      {Step::CheckFingerprint, "Отпечаток валидного файла в конце ремонтного файла повреждён или обрезан. Битый файл "
                               "не изменён; получите ремонтный файл ещё раз"},
      {Step::AllocateReadBack, "Не удалось выделить память для проверки отремонтированного файла."},
      {Step::ReadBack, "Не удалось прочитать отремонтированный файл для проверки."},
      {Step::CreateFollowUp, "Файл всё ещё отличается от валидного, но не удалось создать уточняющий контрольный файл."},
      {Step::WriteFollowUp, "Файл всё ещё отличается от валидного, но не удалось записать уточняющий контрольный файл."},
      {Step::CheckFollowUp, "Уточняющий контрольный файл повреждён или составлен для файла другого размера"},
      {Step::KeepFileAttributes, "Не удалось перенести права доступа и время изменения файла на его отремонтированную копию."},
      {Step::CheckFolderFollowUp, "Уточняющий контрольный файл папки повреждён или обрезан"},
      {Step::CheckCompactTestFile, "Компактный контрольный файл повреждён или обрезан"},
      {Step::CheckAskingRepairFile, "Ремонтный файл-запрос повреждён или обрезан"},
      {Step::CheckTestFileBudget, "Разрешённый размер не больше уже отправленного контрольного файла: разрешите больший"},
      {Step::ReadValidStamp, "Не удалось прочитать права доступа и время изменения валидного файла."},
      {Step::SetFileStamp, "Не удалось установить файлу время изменения валидного файла."},
  };
  // Every step has its words.
  EXPECT_EQ(sizeof texts / sizeof texts[0], static_cast<size_t>(kLastStep) + 1);
  for (const StepText& text : texts) EXPECT_EQ(std::string(StepMessage(text.step)), text.expected);
  EXPECT_EQ(std::string(kRussian.shared.unforeseen), "Возникла ситуация не предусмотренная логикой программы");
  EXPECT_EQ(std::string(kRussian.shared.identical), "Содержимое битого и оригинального файла оказалось идентичным.");
  EXPECT_EQ(std::string(kRussian.shared.attention), "Внимание");
}

}  // namespace
