// The fixture of every test that runs engine or support code: faults cleared, boxes recorded,
// a scratch folder, and afterwards the check that nothing was left open or allocated.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/fault_injection.h"
#include "platform/ledger.h"
#include "platform/platform.h"
#include "tests/testing/box_recorder.h"
#include "tests/testing/scratch_folder.h"

// The system's text for an error code as ReportSystemError shows it ("" when it has none).
std::string SystemText(uint32_t code);
std::string SystemText(SystemErrorKind kind);

// The order in which files (F) and memory regions (M) came back since the test began,
// numbered in the order they were obtained: "F2 F1 M2 M1".
std::string ReleaseOrder();

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Exactly one box was shown: an error box with this caption and the system's text for code.
  void ExpectErrorBox(const std::string& caption, uint32_t code) const;
  void ExpectErrorBox(const std::string& caption, SystemErrorKind kind) const;
  // Exactly one box with the program's own text and caption.
  void ExpectOwnBox(const std::string& text, const std::string& caption, unsigned type) const;

  // A dummy owner: every box must name the window it was given.
  WindowHandle owner() const { return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x1000)); }

  ScratchFolder scratch;
};
