// Screenshots and the guide's pictures. The PNG writer is small enough to keep here: stored
// (uncompressed) deflate blocks need no compressor, only the two checksums the format asks for.
#include "tests/ui/harness/screenshot.h"

#include <cstdio>

#include "tests/ui/harness/gui_driver.h"

namespace gui {

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char type[5], const std::vector<uint8_t>& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBe32(out, Crc32(typed.data(), typed.size()));
}

}  // namespace

namespace {

Image CaptureFromDc(HDC source, RECT area) {
  Image image;
  image.width = area.right - area.left;
  image.height = area.bottom - area.top;
  if (image.width <= 0 || image.height <= 0) return Image{};
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, image.width, image.height, source, area.left, area.top, SRCCOPY);
  GdiFlush();
  const auto* rows = static_cast<const uint32_t*>(bits);
  image.pixels.assign(rows, rows + static_cast<size_t>(image.width) * image.height);
  for (uint32_t& pixel : image.pixels) pixel &= 0x00FFFFFF;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return image;
}

}  // namespace

Image CaptureScreen(RECT area) {
  HDC screen = GetDC(nullptr);
  Image image = CaptureFromDc(screen, area);
  ReleaseDC(nullptr, screen);
  return image;
}

Image CaptureFromWindow(HWND window, RECT area) {
  HDC dc = GetWindowDC(window);
  Image image = CaptureFromDc(dc, area);
  ReleaseDC(window, dc);
  return image;
}

Image CaptureWindow(HWND window) {
  RECT area;
  GetWindowRect(window, &area);
  return CaptureScreen(area);
}

bool SavePng(const Image& image, const std::string& path) {
  std::vector<uint8_t> raw;  // each row: filter type 0, then RGB
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < image.width; ++x) {
      const uint32_t pixel = image.At(x, y);
      raw.push_back(static_cast<uint8_t>(pixel >> 16));
      raw.push_back(static_cast<uint8_t>(pixel >> 8));
      raw.push_back(static_cast<uint8_t>(pixel));
    }
  }
  std::vector<uint8_t> zlib = {0x78, 0x01};
  size_t offset = 0;
  do {
    const size_t size = std::min<size_t>(65535, raw.size() - offset);
    const bool last = offset + size == raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back(static_cast<uint8_t>(size));
    zlib.push_back(static_cast<uint8_t>(size >> 8));
    zlib.push_back(static_cast<uint8_t>(~size));
    zlib.push_back(static_cast<uint8_t>(~size >> 8));
    zlib.insert(zlib.end(), raw.begin() + offset, raw.begin() + offset + size);
    offset += size;
  } while (offset < raw.size());
  uint32_t a = 1, b = 0;  // Adler-32 of the uncompressed rows
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(zlib, (b << 16) | a);

  std::vector<uint8_t> header;
  PutBe32(header, static_cast<uint32_t>(image.width));
  PutBe32(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(file, "IHDR", header);
  PutChunk(file, "IDAT", zlib);
  PutChunk(file, "IEND", {});

  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written;
}

std::string ScreenshotPath(const std::string& name) {
  // Next to the test executable, in the build folder.
  char folder[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
  std::string path(folder, length);
  path.resize(path.find_last_of('\\') + 1);
  path += "screenshots";
  CreateDirectoryA(path.c_str(), nullptr);
  return path + "\\" + name;
}

namespace {

// Wine under a display without a window manager can leave the caption of the active window
// drawn as an inactive one's; Windows draws it active.
void DrawCaptionActive(HWND window) {
  SetForegroundWindow(window);
  SendMessageA(window, WM_NCACTIVATE, TRUE, 0);
  Pump(150);
}

}  // namespace

bool SaveWindowPicture(HWND window, const std::string& name) {
  DrawCaptionActive(window);
  return SavePng(CaptureWindow(window), ScreenshotPath(name));
}

bool SaveBoxPicture(HWND dialog, HWND box, const std::string& name, const POINT* topLeft) {
  RECT dialogRect, boxRect;
  GetWindowRect(dialog, &dialogRect);
  GetWindowRect(box, &boxRect);
  const POINT middle{(dialogRect.left + dialogRect.right - (boxRect.right - boxRect.left)) / 2,
                     (dialogRect.top + dialogRect.bottom - (boxRect.bottom - boxRect.top)) / 2};
  const POINT at = topLeft != nullptr ? *topLeft : middle;
  SetWindowPos(box, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  DrawCaptionActive(box);
  return SavePng(CaptureScreen(dialogRect), ScreenshotPath(name));
}

}  // namespace gui
