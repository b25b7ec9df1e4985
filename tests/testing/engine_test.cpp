// The engine-test fixture.
#include "tests/testing/engine_test.h"

#include <utility>

std::string SystemText(uint32_t code) {
  char* text = DescribeSystemError(code);
  if (text == nullptr) return "";
  std::string copy(text);
  FreeSystemErrorText(text);
  return copy;
}

std::string SystemText(SystemErrorKind kind) { return SystemText(SystemErrorCode(kind)); }

std::string ReleaseOrder() {
  std::string order;
  for (uint32_t i = 0; i < ReleaseEventCount(); ++i) {
    const ReleaseEvent event = ReleaseEventAt(i);
    if (!order.empty()) order += ' ';
    order += static_cast<char>(event.holding);
    order += std::to_string(event.ordinal);
  }
  return order;
}

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  switch (outcome.ending) {
    case Ending::Done: return out << "done";
    case Ending::Identical: return out << "identical";
    case Ending::Cancelled: return out << "cancelled";
    case Ending::Differs: return out << "differs in " << outcome.differing.size() << " ranges";
    case Ending::MoreNeeded: return out << "more needed (" << outcome.outputPath << ")";
    case Ending::OtherFile: return out << "other file (finding " << static_cast<int>(outcome.check.finding) << ", block " << outcome.check.block << ")";
    case Ending::Stopped: out << "stopped"; break;
    case Ending::CheckRefused: out << "check refused (finding " << static_cast<int>(outcome.check.finding) << ")"; break;
  }
  return out << " at step " << static_cast<int>(outcome.step) << ", system error " << outcome.systemError;
}

int Finished(const Outcome& outcome) { return outcome.ending == Ending::Done ? 1 : 0; }

void EngineTest::SetUp() {
  ClearFaults();
  ResetLedger();
  StartRecordingBoxes();
}

const Outcome& EngineTest::Took(Outcome outcome) {
  taken_ = std::move(outcome);
  took_ = true;
  return taken_;
}

void EngineTest::ForgetTaken() {
  taken_ = Outcome{};
  took_ = false;
  StartRecordingBoxes();
}

void EngineTest::ExpectStop(Step step, uint32_t code) const {
  EXPECT_TRUE(RecordedBoxes().empty()) << "an operation showed a box itself";
  ASSERT_TRUE(took_);
  const Outcome& outcome = taken_;
  EXPECT_EQ(outcome.ending, Ending::Stopped) << outcome;
  EXPECT_EQ(outcome.step, step) << outcome;
  EXPECT_EQ(outcome.systemError, code) << outcome << ": " << SystemText(outcome.systemError);
}

void EngineTest::ExpectStop(Step step, SystemErrorKind kind) const { ExpectStop(step, SystemErrorCode(kind)); }

void EngineTest::ExpectFound(Step step) const {
  EXPECT_TRUE(FoundByProgram(step));
  ExpectStop(step, 0);
}

void EngineTest::ExpectIdentical() const {
  EXPECT_TRUE(RecordedBoxes().empty()) << "an operation showed a box itself";
  ASSERT_TRUE(took_);
  EXPECT_EQ(taken_.ending, Ending::Identical) << taken_;
}

void EngineTest::TearDown() {
  ClearFaults();
  EXPECT_EQ(OpenFileCount(), 0u) << "files left open";
  EXPECT_EQ(HeldRegionCount(), 0u) << "memory regions left held";
  EXPECT_EQ(CommittedBytes(), 0u) << "memory left committed";
  EXPECT_EQ(RunningThreadCount(), 0u) << "threads left running";
}

void EngineTest::ExpectErrorBox(const std::string& caption, uint32_t code) const {
  ASSERT_EQ(RecordedBoxes().size(), 1u);
  const RecordedBox& box = RecordedBoxes()[0];
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, SystemText(code));
  EXPECT_EQ(box.type, kBoxIconError);
  EXPECT_EQ(box.owner, owner());
}

void EngineTest::ExpectErrorBox(const std::string& caption, SystemErrorKind kind) const {
  ExpectErrorBox(caption, SystemErrorCode(kind));
}
