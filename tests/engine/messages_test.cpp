// The engine's texts, checked once against the wording users see, byte for byte; the other
// tests refer to them by name.
#include <gtest/gtest.h>

#include <string>

#include "engine/messages.h"

namespace {

struct Text {
  const char* constant;
  const char* expected;
};

TEST(MessagesTest, SayExactlyWhatTheUsersAreShown) {
  const Text texts[] = {
      {message::kOpenBroken, "Не удалось открыть битый файл."},
      {message::kSizeBroken, "Не удалось узнать размер битого файла."},
      {message::kAllocateBroken, "Не удалось выделить память для буфера под битый файл."},
      {message::kReadBroken, "Не удалось прочитать содержимое битого файла в память."},
      {message::kAllocateTestBuffer, "Не удалось выделить память для буфера под создаваемый файл."},
      {message::kCreateOutput, "Не удалось создать новый файл."},
      {message::kWriteOutput, "Не удалось произвести запись в новый файл."},
      {message::kOpenValid, "Не удалось открыть валидный файл."},
      {message::kOpenTest, "Не удалось открыть контрольный файл."},
      {message::kSizeValid, "Не удалось узнать размер валидного файла."},
      {message::kAllocateValid, "Не удалось выделить память для буфера под валидный файл."},
      {message::kSizeTest, "Не удалось узнать размер контрольного файла."},
      {message::kAllocateTest, "Не удалось выделить память для буфера под контрольный файл."},
      {message::kReadValid, "Не удалось прочитать содержимое валидного файла в память."},
      {message::kReadTest, "Не удалось прочитать содержимое контрольного файла в память."},
      {message::kReserveList, "Не удалось зарезервировать память под список битых блоков."},
      {message::kReserveRepairBlocks, "Не удалось зарезервировать память под ремонтные блоки."},
      {message::kCommitRepairBlocks, "Не удалось передать память под ремонтные блоки."},
      {message::kCommitList, "Не удалось передать память под список битых блоков."},
      {message::kOpenRepair, "Не удалось открыть ремонтный файл."},
      {message::kSizeRepair, "Не удалось узнать размер ремонтного файла."},
      {message::kCommitRepairBuffer, "Не удалось передать память для буфера под ремонтный файл."},
      {message::kReadRepair, "Не удалось прочитать содержимое ремонтного файла в буфер."},
      {message::kCommitBrokenBuffer, "Не удалось передать память для буфера под битый файл."},
      {message::kWriteRepaired, "Не удалось записать содержимое битого файла (отремонтированное) в память."},
      {message::kUnforeseen, "Возникла ситуация не предусмотренная логикой программы"},
      {message::kBrokenLargerThanValid, "Битый файл имеет больший размер чем валидный файл"},
      {message::kRepairFileDamaged, "Ремонтный файл повреждён или составлен не для этого битого файла"},
      {message::kIdentical, "Содержимое битого и оригинального файла оказалось идентичным."},
      {message::kAttention, "Внимание"},
  };
  for (const Text& text : texts) EXPECT_EQ(std::string(text.constant), text.expected);
}

TEST(MessagesTest, ReachWindowsInCodePage1251) {
#ifdef _WIN32
  // "Внимание" in Windows-1251: one byte per letter.
  EXPECT_EQ(std::string(message::kAttention), "\xC2\xED\xE8\xEC\xE0\xED\xE8\xE5");
#else
  EXPECT_EQ(std::string(message::kAttention), "\xD0\x92\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB5");
#endif
}

}  // namespace
