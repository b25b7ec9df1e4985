// What is on the screen: a window's pixels as the user sees them, saved as PNG for a person
// to look at, and single pixels for the tests.
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

// A COLORREF-style RGB triple as the screen shows it.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b; }

}  // namespace gui
