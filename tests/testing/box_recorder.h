// Catches every message box the code under test shows, instead of showing it.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct RecordedBox {
  WindowHandle owner;
  std::string text;
  std::string caption;
  unsigned type;
};

// Installs the recorder and forgets earlier boxes.
void StartRecordingBoxes();
const std::vector<RecordedBox>& RecordedBoxes();
