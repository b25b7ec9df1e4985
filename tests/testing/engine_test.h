// The fixture of every test that runs an operation or support code: faults cleared, boxes and
// reports recorded, a scratch folder, and afterwards the check that nothing was left held.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/outcome.h"
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

// How an outcome reads in a failed expectation.
std::ostream& operator<<(std::ostream& out, const Outcome& outcome);

// 1 for an outcome that is Done, 0 otherwise: the result the dialog acts on.
int Finished(const Outcome& outcome);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Keeps an operation's outcome for the expectations below, and gives it back.
  const Outcome& Took(Outcome outcome);
  // Forgets the outcome taken and the boxes shown, for the next case of a table.
  void ForgetTaken();

  // The outcome taken is a stop at this step with the system's error code (for a condition the
  // program found itself, no code), and no box was shown.
  void ExpectStop(Step step, uint32_t code) const;
  void ExpectStop(Step step, SystemErrorKind kind) const;
  void ExpectFound(Step step) const;
  void ExpectIdentical() const;

  // Exactly one box was shown: an error box with this caption and the system's text for code.
  void ExpectErrorBox(const std::string& caption, uint32_t code) const;
  void ExpectErrorBox(const std::string& caption, SystemErrorKind kind) const;

  // A dummy owner: every box must name the window it was given.
  WindowHandle owner() const { return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x1000)); }

  ScratchFolder scratch;

 private:
  Outcome taken_;
  bool took_ = false;
};
