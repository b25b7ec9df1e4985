// Drawing the progress line: at the first report, then at most ten times a second, and the
// last report of the work in any case.
#include "cli/progress.h"

#include <string>

#include "cli/console.h"
#include "cli/output.h"
#include "words/words.h"

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace

void ProgressLine::Attach(StreamControl* control) {
  if (!shown_) return;
  control->progress = Update;
  control->context = this;
}

void ProgressLine::Update(void* context, uint64_t done, uint64_t total) {
  auto* line = static_cast<ProgressLine*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (line->drawn_ && done < total && now - line->last_ < kRedrawInterval) return;
  line->last_ = now;
  const double seconds = std::chrono::duration<double>(now - line->start_).count();
  const unsigned percent = total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
  const double speed = seconds > 0 ? done / kMiB / seconds : 0;
  // From the line's start; spaces behind it cover what a longer line drawn before left there.
  std::string text = "\r";
  text += Format(CurrentWords().cli.progress, percent, done / kMiB, total / kMiB, speed);
  text += "   ";
  WriteText(line->stream_, text.c_str());
  std::fflush(line->stream_);
  line->drawn_ = true;
}

void ProgressLine::Erase() {
  if (!drawn_) return;
  WriteText(stream_, ("\r" + std::string(70, ' ') + "\r").c_str());
  std::fflush(stream_);
  drawn_ = false;
}
