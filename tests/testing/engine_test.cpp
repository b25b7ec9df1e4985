// The engine-test fixture.
#include "tests/testing/engine_test.h"

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

void EngineTest::SetUp() {
  ClearFaults();
  ResetLedger();
  StartRecordingBoxes();
}

void EngineTest::TearDown() {
  ClearFaults();
  EXPECT_EQ(OpenFileCount(), 0u) << "files left open";
  EXPECT_EQ(HeldRegionCount(), 0u) << "memory regions left held";
  EXPECT_EQ(CommittedBytes(), 0u) << "memory left committed";
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

void EngineTest::ExpectOwnBox(const std::string& text, const std::string& caption, unsigned type) const {
  ASSERT_EQ(RecordedBoxes().size(), 1u);
  const RecordedBox& box = RecordedBoxes()[0];
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.type, type);
  EXPECT_EQ(box.owner, owner());
}
