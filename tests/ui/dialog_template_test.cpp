// The resources as compiled into the module: the main dialog's template read back field by field
// and compared with the layout the window code relies on, the icon group's two images and the
// version record. The test links the same resource object as varnell.exe and reads its own module.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ui/control_ids.h"
#include "varnell_version.h"

namespace {

std::vector<uint8_t> LoadModuleResource(const char* name, const char* type) {
  HRSRC found = FindResourceA(nullptr, name, type);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  if (bytes == nullptr) return {};
  return std::vector<uint8_t>(bytes, bytes + SizeofResource(nullptr, found));
}

// An ordinal (0xFFFF then a WORD) or a string, as the template's class and text fields hold them.
struct NameOrOrdinal {
  std::optional<uint16_t> ordinal;
  std::wstring name;
  bool operator==(const NameOrOrdinal&) const = default;
};

NameOrOrdinal Atom(uint16_t value) { return {value, {}}; }
NameOrOrdinal Name(const wchar_t* value) { return {std::nullopt, value}; }

void PrintTo(const NameOrOrdinal& value, std::ostream* out) {
  if (value.ordinal) {
    *out << "ordinal 0x" << std::hex << *value.ordinal << std::dec;
    return;
  }
  *out << "\"";
  for (wchar_t c : value.name) {
    if (c >= 0x20 && c < 0x7F) *out << static_cast<char>(c);
    else *out << "\\x" << std::hex << static_cast<unsigned>(c) << std::dec;
  }
  *out << "\"";
}

// Reads the little-endian fields of a resource in order; running past the end marks it broken
// and yields zeros, so a short template fails its comparisons instead of reading out of bounds.
class FieldReader {
 public:
  explicit FieldReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  uint16_t Word() {
    if (!Have(2)) return 0;
    uint16_t value = static_cast<uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
    at_ += 2;
    return value;
  }
  uint32_t Dword() {
    uint32_t low = Word();
    return low | static_cast<uint32_t>(Word()) << 16;
  }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  uint8_t Byte() {
    if (!Have(1)) return 0;
    return bytes_[at_++];
  }
  std::wstring String() {
    std::wstring text;
    for (uint16_t c = Word(); c != 0 && !broken_; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }
  NameOrOrdinal NameOrOrdinalField() {
    if (Have(2) && bytes_[at_] == 0xFF && bytes_[at_ + 1] == 0xFF) {
      Word();
      return Atom(Word());
    }
    return {std::nullopt, String()};
  }
  void AlignToDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }

  size_t offset() const { return at_; }
  bool broken() const { return broken_; }

 private:
  bool Have(size_t count) {
    if (at_ + count > bytes_.size()) broken_ = true;
    return !broken_;
  }

  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
  bool broken_ = false;
};

struct DialogItem {
  uint32_t helpId;
  uint32_t exStyle;
  uint32_t style;
  int16_t x, y, cx, cy;
  uint32_t id;
  NameOrOrdinal windowClass;
  NameOrOrdinal text;
  uint16_t creationDataSize;
};

struct DialogTemplate {
  uint16_t version;
  uint16_t signature;
  uint32_t helpId;
  uint32_t exStyle;
  uint32_t style;
  uint16_t itemCount;
  int16_t x, y, cx, cy;
  NameOrOrdinal menu;
  NameOrOrdinal windowClass;
  std::wstring title;
  uint16_t pointSize;
  uint16_t weight;
  uint8_t italic;
  uint8_t charset;
  std::wstring typeface;
  std::vector<DialogItem> items;
  size_t bytesParsed;
  bool truncated;
};

// DLGTEMPLATEEX followed by its DLGITEMTEMPLATEEX records, each on a DWORD boundary.
DialogTemplate ParseDialogTemplate(const std::vector<uint8_t>& bytes) {
  FieldReader in(bytes);
  DialogTemplate dialog{};
  dialog.version = in.Word();
  dialog.signature = in.Word();
  dialog.helpId = in.Dword();
  dialog.exStyle = in.Dword();
  dialog.style = in.Dword();
  dialog.itemCount = in.Word();
  dialog.x = in.Short();
  dialog.y = in.Short();
  dialog.cx = in.Short();
  dialog.cy = in.Short();
  dialog.menu = in.NameOrOrdinalField();
  dialog.windowClass = in.NameOrOrdinalField();
  dialog.title = in.String();
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = in.Word();
    dialog.weight = in.Word();
    dialog.italic = in.Byte();
    dialog.charset = in.Byte();
    dialog.typeface = in.String();
  }
  for (unsigned i = 0; i < dialog.itemCount && !in.broken(); ++i) {
    in.AlignToDword();
    DialogItem item{};
    item.helpId = in.Dword();
    item.exStyle = in.Dword();
    item.style = in.Dword();
    item.x = in.Short();
    item.y = in.Short();
    item.cx = in.Short();
    item.cy = in.Short();
    item.id = in.Dword();
    item.windowClass = in.NameOrOrdinalField();
    item.text = in.NameOrOrdinalField();
    item.creationDataSize = in.Word();
    dialog.items.push_back(item);
  }
  dialog.bytesParsed = in.offset();
  dialog.truncated = in.broken();
  return dialog;
}

const NameOrOrdinal kButton = Atom(0x80);
const NameOrOrdinal kEdit = Atom(0x81);
const NameOrOrdinal kStatic = Atom(0x82);

struct ExpectedItem {
  uint32_t id;
  NameOrOrdinal windowClass;
  uint32_t style;
  uint32_t exStyle;
  int16_t x, y, cx, cy;
  const wchar_t* text;
};

// The main dialog's controls in template order, which is also the tab order. Four labels and the
// mode-3 radio are a dialog unit or two wider than at first, so that their texts fit at every scale.
const ExpectedItem kExpectedItems[] = {
    {1026, kButton, 0x50000007, 0, 2, 12, 274, 32, L"Сканирование битого файла"},
    {1004, kButton, 0x50010009, 0, 2, 3, 136, 8, L"Режим сканирования битого файла"},
    {1005, kButton, 0x50010009, 0, 2, 48, 148, 9, L"Режим сканирования валидного файла"},
    {1006, kButton, 0x50010009, 0, 2, 114, 117, 9, L"Режим ремонта битого файла"},
    {1027, kButton, 0x58000007, 0, 2, 59, 274, 52, L"Сканирование валидного файла"},
    {1008, kEdit, 0x50010080, 0x200, 100, 24, 170, 13, L""},
    {1030, kStatic, 0x50000000, 0, 10, 27, 45, 8, L"Битый файл:"},
    {1031, kStatic, 0x58000000, 0, 10, 73, 58, 8, L"Валидный файл:"},
    {1032, kStatic, 0x58000000, 0, 10, 92, 89, 8, L"Контрольный файл (*.crc):"},
    {1028, kButton, 0x58000007, 0, 2, 125, 274, 52, L"Ремонт битого файла"},
    {1016, kButton, 0x50010000, 0, 4, 203, 48, 13, L"Старт"},
    {1017, kButton, 0x50010000, 0, 56, 203, 48, 13, L"Закрыть"},
    {1009, kEdit, 0x58010080, 0x200, 100, 70, 170, 13, L""},
    {1010, kEdit, 0x58010080, 0x200, 100, 90, 170, 13, L""},
    {1011, kEdit, 0x58010080, 0x200, 100, 136, 170, 13, L""},
    {1012, kEdit, 0x58010080, 0x200, 100, 156, 170, 13, L""},
    {1033, kStatic, 0x58000000, 0, 10, 142, 45, 8, L"Битый файл:"},
    {1034, kStatic, 0x58000000, 0, 10, 160, 80, 8, L"Ремонтный файл (*.fix):"},
    {1038, Name(L"msctls_statusbar32"), 0x50000000, 0, 0, 198, 280, 12, L"IDC_SBR"},
    {1035, kStatic, 0x50000000, 0, 4, 184, 100, 8, L"Путь к создаваемому файлу:"},
    {1013, kEdit, 0x50010080, 0x200, 108, 182, 166, 13, L""},
    {1036, kStatic, 0x58000000, 0, 190, 204, 84, 9, L"© 2026 Varnell"},
};
constexpr size_t kExpectedItemCount = sizeof kExpectedItems / sizeof kExpectedItems[0];

class DialogTemplateTest : public testing::Test {
 protected:
  void SetUp() override {
    bytes_ = LoadModuleResource(MAKEINTRESOURCEA(IDD_MAIN), RT_DIALOG);
    ASSERT_FALSE(bytes_.empty()) << "no dialog resource " << IDD_MAIN;
    dialog_ = ParseDialogTemplate(bytes_);
  }

  std::vector<uint8_t> bytes_;
  DialogTemplate dialog_;
};

TEST_F(DialogTemplateTest, HeaderIsAnExtendedTemplateOfAFixedCaptionedWindow) {
  EXPECT_EQ(dialog_.version, 1);
  EXPECT_EQ(dialog_.signature, 0xFFFF);
  EXPECT_EQ(dialog_.helpId, 0u);
  EXPECT_EQ(dialog_.exStyle, 0u);
  // WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT: no popup, modal frame,
  // centring, maximise box or sizing border.
  EXPECT_EQ(dialog_.style, 0x10CA0040u);
  EXPECT_EQ(dialog_.itemCount, kExpectedItemCount);
  EXPECT_EQ(dialog_.x, 6);
  EXPECT_EQ(dialog_.y, 6);
  EXPECT_EQ(dialog_.cx, 278);
  EXPECT_EQ(dialog_.cy, 232);
  EXPECT_EQ(dialog_.menu, Name(L"")) << "no menu";
  EXPECT_EQ(dialog_.windowClass, Name(L"")) << "the standard dialog class";
  EXPECT_EQ(dialog_.title, L"Varnell v1.0 beta");
  EXPECT_EQ(dialog_.pointSize, 8);
  EXPECT_EQ(dialog_.weight, 0);
  EXPECT_EQ(dialog_.italic, 0);
  EXPECT_EQ(dialog_.charset, DEFAULT_CHARSET);
  EXPECT_EQ(dialog_.typeface, L"MS Sans Serif");
}

TEST_F(DialogTemplateTest, ControlsMatchTheLayoutInOrder) {
  ASSERT_EQ(dialog_.items.size(), kExpectedItemCount);
  for (size_t i = 0; i < kExpectedItemCount; ++i) {
    const ExpectedItem& want = kExpectedItems[i];
    const DialogItem& got = dialog_.items[i];
    SCOPED_TRACE(testing::Message() << "control #" << i + 1 << ", id " << want.id);
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.windowClass, want.windowClass);
    EXPECT_EQ(got.style, want.style) << std::hex << "got 0x" << got.style << ", want 0x" << want.style;
    EXPECT_EQ(got.exStyle, want.exStyle);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    EXPECT_EQ(got.text, Name(want.text));
    EXPECT_EQ(got.helpId, 0u);
    EXPECT_EQ(got.creationDataSize, 0);
  }
}

TEST_F(DialogTemplateTest, TemplateEndsWithItsLastControl) {
  EXPECT_FALSE(dialog_.truncated);
  // Only the padding to a DWORD boundary may follow the last record.
  EXPECT_LE(dialog_.bytesParsed, bytes_.size());
  EXPECT_LT(bytes_.size() - dialog_.bytesParsed, 4u);
}

TEST_F(DialogTemplateTest, ControlIdsAreTheSharedConstants) {
  // The window code finds its controls through ui/control_ids.h; the template must use the same ids.
  const uint32_t ids[] = {IDC_GROUP_BROKEN_SCAN, IDC_MODE_BROKEN_SCAN, IDC_MODE_VALID_SCAN,
                          IDC_MODE_REPAIR, IDC_GROUP_VALID_SCAN, IDC_BROKEN_FILE,
                          IDC_LABEL_BROKEN_FILE, IDC_LABEL_VALID_FILE, IDC_LABEL_TEST_FILE,
                          IDC_GROUP_REPAIR, IDC_START, IDC_CLOSE,
                          IDC_VALID_FILE, IDC_TEST_FILE, IDC_REPAIR_BROKEN_FILE,
                          IDC_REPAIR_FILE, IDC_LABEL_REPAIR_BROKEN_FILE, IDC_LABEL_REPAIR_FILE,
                          IDC_STATUS_BAR, IDC_LABEL_OUTPUT_FOLDER, IDC_OUTPUT_FOLDER,
                          IDC_CREDIT};
  ASSERT_EQ(sizeof ids / sizeof ids[0], kExpectedItemCount);
  for (size_t i = 0; i < kExpectedItemCount; ++i) EXPECT_EQ(ids[i], kExpectedItems[i].id) << "row " << i + 1;
}

#pragma pack(push, 2)
struct IconGroupEntry {
  uint8_t width;
  uint8_t height;
  uint8_t colourCount;
  uint8_t reserved;
  uint16_t planes;
  uint16_t bitCount;
  uint32_t bytesInResource;
  uint16_t iconId;
};
#pragma pack(pop)
static_assert(sizeof(IconGroupEntry) == 14);

TEST(IconGroupTest, HoldsA32And16PixelImageOf16ColoursWithMasks) {
  std::vector<uint8_t> group = LoadModuleResource(MAKEINTRESOURCEA(IDI_APP), RT_GROUP_ICON);
  ASSERT_GE(group.size(), 6u) << "no icon group " << IDI_APP;
  FieldReader header(group);
  EXPECT_EQ(header.Word(), 0);
  EXPECT_EQ(header.Word(), 1) << "type: icon";
  const uint16_t count = header.Word();
  ASSERT_EQ(count, 2);
  ASSERT_EQ(group.size(), 6u + count * sizeof(IconGroupEntry));

  std::vector<int> sizes;
  for (uint16_t i = 0; i < count; ++i) {
    IconGroupEntry entry;
    std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
    SCOPED_TRACE(testing::Message() << "entry " << i << ", " << int{entry.width} << " pixels");
    sizes.push_back(entry.width);
    EXPECT_EQ(entry.height, entry.width);
    EXPECT_EQ(entry.colourCount, 16);
    EXPECT_EQ(entry.planes, 1);
    EXPECT_EQ(entry.bitCount, 4);

    // The image itself: a 4-bit DIB of twice the height (colours, then the AND mask).
    std::vector<uint8_t> image = LoadModuleResource(MAKEINTRESOURCEA(entry.iconId), RT_ICON);
    ASSERT_EQ(image.size(), entry.bytesInResource);
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER info;
    std::memcpy(&info, image.data(), sizeof info);
    EXPECT_EQ(info.biWidth, entry.width);
    EXPECT_EQ(info.biHeight, 2 * entry.width);
    EXPECT_EQ(info.biBitCount, 4);
    EXPECT_EQ(info.biCompression, static_cast<DWORD>(BI_RGB));
    const size_t colourRow = (entry.width * 4 + 31) / 32 * 4;
    const size_t maskRow = (entry.width + 31) / 32 * 4;
    EXPECT_EQ(image.size(), sizeof info + 16 * sizeof(RGBQUAD) + entry.width * (colourRow + maskRow));
  }
  EXPECT_EQ(sizes, (std::vector<int>{32, 16}));

  // The system takes each size from the group as the window code will ask for it.
  for (int size : {32, 16}) {
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO parts{};
    ASSERT_TRUE(GetIconInfo(icon, &parts));
    BITMAP mask{};
    GetObjectA(parts.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, size);
    if (parts.hbmColor) DeleteObject(parts.hbmColor);
    DeleteObject(parts.hbmMask);
    DestroyIcon(icon);
  }
}

std::wstring VersionString(std::vector<uint8_t>& version, const wchar_t* name) {
  std::wstring path = std::wstring(L"\\StringFileInfo\\041904E3\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(version.data(), path.c_str(), &value, &length) || value == nullptr) return L"<missing>";
  return static_cast<const wchar_t*>(value);
}

TEST(VersionResourceTest, NamesTheProjectVersionInRussian) {
  std::vector<uint8_t> version = LoadModuleResource(MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  ASSERT_FALSE(version.empty());
  // VerQueryValueW works on a writable copy, as GetFileVersionInfoW would give it.
  version.resize(version.size() * 2);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  // The numbers and the texts both come from the project's one version.
  constexpr DWORD kVersionMS = (VARNELL_VERSION_MAJOR << 16) | VARNELL_VERSION_MINOR;
  constexpr DWORD kVersionLS = VARNELL_VERSION_PATCH << 16;
  EXPECT_EQ(fixed->dwFileVersionMS, kVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, kVersionLS);
  EXPECT_EQ(fixed->dwProductVersionMS, kVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, kVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_EQ(length, sizeof *translation);
  EXPECT_EQ(translation->language, 0x0419);
  EXPECT_EQ(translation->codePage, 1251);

  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } strings[] = {
      {L"ProductName", L"Varnell"},
      {L"ProductVersion", L"" VARNELL_VERSION},
      {L"FileVersion", L"" VARNELL_VERSION},
      {L"OriginalFilename", L"varnell.exe"},
      {L"InternalName", L"varnell"},
      // Non-ASCII text shows that the UTF-8 source was read as UTF-8.
      {L"FileDescription", L"Varnell — ремонт повреждённых файлов"},
      {L"LegalCopyright", L"© 2026 Varnell"},
  };
  for (const auto& string : strings) {
    EXPECT_EQ(VersionString(version, string.name), string.value) << string.name;
  }
}

}  // namespace
