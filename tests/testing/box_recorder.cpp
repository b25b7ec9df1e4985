// The message-box recorder.
#include "tests/testing/box_recorder.h"

namespace {

std::vector<RecordedBox> boxes;

int Record(WindowHandle owner, const char* text, const char* caption, unsigned type) {
  boxes.push_back(RecordedBox{owner, text, caption, type});
  return 1;
}

}  // namespace

void StartRecordingBoxes() {
  boxes.clear();
  InstallMessageBoxSink(Record);
}

const std::vector<RecordedBox>& RecordedBoxes() { return boxes; }
