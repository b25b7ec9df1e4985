// What is on the screen: a window's pixels as the user sees them, saved as PNG for a person
// to look at (the user guide's pictures among them), and single pixels for the tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gui {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, row by row from the top

  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  bool operator==(const Image&) const = default;
};

// The screen area of a rectangle in screen coordinates, or of a window's whole rectangle.
Image CaptureScreen(RECT area);
Image CaptureWindow(HWND window);
// A rectangle of a window's own drawing (window coordinates), read from its device context:
// it holds what was drawn a moment ago, which the screen may show only after the next flush.
Image CaptureFromWindow(HWND window, RECT area);
// Writes the image as PNG; returns false when the file cannot be written.
bool SavePng(const Image& image, const std::string& path);

// The folder the screenshots go to: <build>/screenshots, made on first use.
std::string ScreenshotPath(const std::string& name);

// Pictures for the user guide. A test takes one with SaveWindowPicture or SaveBoxPicture
// under a name of its own, and scripts/screenshots, which lists the test and the name, copies
// it into docs/screenshots. The fonts are Windows' own in the prefix build/windows/wine-run
// prepares. Paths a picture shows are a user's, not a test's: a test keeps its files in
// ScratchFolder(BrokenOwnersFolder()) and ScratchFolder(ValidOwnersFolder()), whose users are
// Russian on a Russian system and English on any other (the display language decides, as it
// decides the dialog's words).
inline bool RussianUsers() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN; }
inline const char* BrokenOwnersFolder() {
  return RussianUsers() ? "C:\\Users\\Иван\\Downloads" : "C:\\Users\\John\\Downloads";
}
inline const char* ValidOwnersFolder() {
  return RussianUsers() ? "C:\\Users\\Анна\\Documents" : "C:\\Users\\Anna\\Documents";
}

// The window as the user sees it after clicking into it: in front, its caption active.
bool SaveWindowPicture(HWND window, const std::string& name);
// A message box over its dialog (the test's display has no window manager to place it), at
// topLeft or else in the middle, and the screen under the dialog.
bool SaveBoxPicture(HWND dialog, HWND box, const std::string& name, const POINT* topLeft = nullptr);

// A COLORREF-style RGB triple as the screen shows it.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b; }

}  // namespace gui
