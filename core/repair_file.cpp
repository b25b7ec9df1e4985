// Writing and checking the repair file's header, and the dialog's check of a whole file.
#include "core/repair_file.h"

#include "core/byte_order.h"
#include "core/exchange_rules.h"

RepairFileForm RepairFileFormFor(uint64_t validSize) {
  return validSize < kLargeFormSize ? RepairFileForm::Small : RepairFileForm::Large;
}

uint32_t RepairFileHeaderBytes(RepairFileForm form) {
  switch (form) {
    case RepairFileForm::Small: return kRepairFileHeaderBytes;
    case RepairFileForm::Large: return kLargeRepairFileHeaderBytes;
  }
  return kRepairFileHeaderBytes;
}

uint32_t StoreRepairFileHeader(uint8_t* out, uint64_t validSize, uint32_t damagedCount) {
  const RepairFileForm form = RepairFileFormFor(validSize);
  switch (form) {
    case RepairFileForm::Small:
      StoreU32LE(out, static_cast<uint32_t>(validSize));
      StoreU32LE(out + 4, damagedCount);
      break;
    case RepairFileForm::Large:
      StoreU32LE(out, 0);
      StoreU32LE(out + 4, damagedCount);
      StoreU64LE(out + 8, validSize);
      break;
  }
  return RepairFileHeaderBytes(form);
}

RepairFileVerdict ReadRepairFileLayout(const uint8_t* start, uint64_t length, RepairFileLayout* layout) {
  *layout = RepairFileLayout{};
  if (length < kRepairFileHeaderBytes) return RepairFileVerdict::TooShort;
  layout->validSize = LoadU32LE(start);
  layout->damagedCount = LoadU32LE(start + 4);
  if (layout->validSize != 0) {
    return length < layout->BlocksEnd() ? RepairFileVerdict::Incomplete : RepairFileVerdict::Read;
  }
  layout->form = RepairFileForm::Large;
  layout->headerBytes = kLargeRepairFileHeaderBytes;
  if (length < kLargeRepairFileHeaderBytes) return RepairFileVerdict::LargeMalformed;
  layout->validSize = LoadU64LE(start + 8);
  if (layout->validSize < kLargeFormSize || layout->validSize > kLargestExchangedSize || length < layout->BlocksEnd()) {
    return RepairFileVerdict::LargeMalformed;
  }
  return RepairFileVerdict::Read;
}
