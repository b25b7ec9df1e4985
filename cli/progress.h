// The progress line of varnell-cli: one stderr line, redrawn in place, with the percent done,
// the MiB done of the MiB in all and the speed. Shown only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "stream/operations.h"

class ProgressLine {
 public:
  // shown: false makes every call a no-op (not a terminal, or --quiet).
  ProgressLine(std::FILE* stream, bool shown) : stream_(stream), shown_(shown) {}
  ~ProgressLine() { Erase(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Fills the control's callback; the stop flag is the caller's.
  void Attach(StreamControl* control);
  // Clears the line, so that what follows starts at the line's beginning.
  void Erase();

 private:
  static void Update(void* context, uint64_t done, uint64_t total);

  std::FILE* stream_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};
