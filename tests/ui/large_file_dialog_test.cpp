// Files of 4 GiB and more through the real dialog, driven as a user drives it: the work runs
// while another thread keeps asking the dialog for answers, the status bar, the controls and
// the cursor are watched, the close box is clicked and the question answered, and the files on
// disk are compared with what the exchange must give. The files are sparse and go with the test.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/asking_repair_file.h"
#include "core/compact_test_file.h"
#include "platform/fault_injection.h"
#include "platform/ledger.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "words/step_texts.h"
#include "tests/testing/scratch_folder.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/dialog_service_faults.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "tests/ui/harness/screenshot.h"
#include "tests/ui/harness/sparse_files.h"
#include "ui/browse_edit.h"
#include "ui/control_ids.h"
#include "ui/background_work.h"
#include "ui/program_state.h"
#include "words/words.h"

namespace {

// The system's text as a box shows it above words of the program's own.
std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

using gui::kGiB;
using gui::SparseFile;

constexpr uint64_t kFourGiBBlock = 4 * kGiB / 4096;

// Every text the state part is given, and when.
struct StateWrite {
  std::string text;
  ULONGLONG at;
};
std::vector<StateWrite> stateWrites;
WNDPROC statusBarProc = nullptr;

LRESULT CALLBACK RecordingStatusBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SB_SETTEXTW && LOBYTE(LOWORD(wParam)) == 0) {
    const auto* text = reinterpret_cast<const wchar_t*>(lParam);
    stateWrites.push_back({Utf8(text, wcslen(text)), GetTickCount64()});
  }
  return CallWindowProcW(statusBarProc, window, message, wParam, lParam);
}

// The percentage of a state text, or -1 when it shows none.
int PercentOf(const std::string& text) {
  unsigned percent = 0;
  char check[64] = {};
  if (std::sscanf(text.c_str(), kRussian.dialog.workingPercent, &percent) != 1) return -1;
  std::snprintf(check, sizeof check, kRussian.dialog.workingPercent, percent);
  return text == check ? static_cast<int>(percent) : -1;
}

// How long the dialog has to answer. The system calls a window not responding after five
// seconds; a dialog held by the work itself would not answer for the whole of an 8 GiB file,
// while a loaded machine of two cores can keep any thread waiting a few hundred milliseconds.
constexpr UINT kAnswerWithinMs = 2000;

// Asks the dialog from another thread, as the system does before it calls a window not
// responding: every 50 ms, with kAnswerWithinMs to answer. Each question is kept with the time it
// was asked, so that only those asked while the work ran are held against the dialog.
class ResponseProbe {
 public:
  struct Question {
    ULONGLONG askedAt;
    bool answered;
  };

  explicit ResponseProbe(HWND dialog) : thread_([this, dialog] { Run(dialog); }) {}
  ~ResponseProbe() { Stop(); }
  // The dialog's thread keeps answering until the last question is in.
  void Stop() {
    stop_ = true;
    gui::PumpUntil([this] { return finished_.load(); }, 1000);
    if (thread_.joinable()) thread_.join();
  }
  // While the test itself holds the dialog's thread (a screenshot, a box it opens), no
  // question is asked.
  void Pause(bool paused) {
    paused_ = paused;
    if (paused) gui::PumpUntil([this] { return !asking_.load(); }, 1000);
  }
  // Call after Stop.
  const std::vector<Question>& questions() const { return questions_; }

 private:
  void Run(HWND dialog) {
    for (; !stop_; Sleep(50)) {
      if (paused_) continue;
      asking_ = true;
      const ULONGLONG askedAt = GetTickCount64();
      DWORD_PTR result = 0;
      const bool answered = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerWithinMs, &result) != 0;
      questions_.push_back({askedAt, answered});
      asking_ = false;
    }
    finished_ = true;
  }
  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> asking_{false};
  std::atomic<bool> finished_{false};
  std::vector<ResponseProbe::Question> questions_;
  std::thread thread_;
};

// Start, the radios and the fields with their buttons: what the work must hold and give back.
constexpr int kHeldControls[] = {IDC_MODE_BROKEN_SCAN, IDC_MODE_VALID_SCAN, IDC_MODE_REPAIR, IDC_START,
                                 IDC_BROKEN_FILE,      IDC_VALID_FILE,      IDC_TEST_FILE,   IDC_REPAIR_BROKEN_FILE,
                                 IDC_REPAIR_FILE,      IDC_OUTPUT_FOLDER};

// The middle of the caption's close box, found the way the system finds it: along the
// caption's middle row, then down the column through the box's middle (few calls, so the
// search itself does not keep the dialog from answering).
POINT CloseBoxOf(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const auto isClose = [window](int x, int y) { return SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE; };
  const int row = r.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  int left = -1, right = -1;
  for (int x = r.right - 1; x > r.right - 80; --x) {
    if (!isClose(x, row)) continue;
    if (right < 0) right = x;
    left = x;
  }
  if (right < 0) return POINT{-1, -1};
  const int column = (left + right) / 2;
  int top = row, bottom = row;
  while (top > r.top && isClose(column, top - 1)) --top;
  while (bottom < r.top + 60 && isClose(column, bottom + 1)) ++bottom;
  return POINT{column, (top + bottom) / 2};
}

// A click on the close box. The press starts the system's own tracking loop on this thread,
// so both halves go into the input queue before anything is pumped.
void ClickCloseBox(HWND window) {
  const POINT box = CloseBoxOf(window);
  ASSERT_GE(box.x, 0) << "no close box found";
  gui::MoveMouseTo(box);
  gui::SendMouseInput(MOUSEEVENTF_LEFTDOWN);
  gui::SendMouseInput(MOUSEEVENTF_LEFTUP);
  gui::Pump(50);
}

class LargeFileDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMessageBoxSink(nullptr);
    ClearFaults();
    OpenDialog();
  }
  void TearDown() override {
    gui::CloseMainDialog(dialog_);
    ClearFaults();
  }

  void OpenDialog() {
    dialog_ = gui::OpenMainDialog();
    ASSERT_NE(dialog_, nullptr);
    catcher_.Ignore(dialog_);
    statusBarProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(Item(IDC_STATUS_BAR), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingStatusBar)));
  }

  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::string State() const { return gui::StatusText(Item(IDC_STATUS_BAR), 0); }

  // Answers the stop question with stopAnswer and every other box with OK; notes the state
  // part while each box is up.
  void AnswerBoxes(int stopAnswer) {
    statesAtBoxes_.clear();
    catcher_.whileOpen = [this, stopAnswer](HWND box, const gui::SeenBox& seen) {
      statesAtBoxes_.push_back(State());
      catcher_.answer = seen.text == kRussian.dialog.askStop ? stopAnswer : IDOK;
      if (seen.text == kRussian.dialog.askStop && onQuestion_) onQuestion_(box);
    };
  }

  std::vector<int32_t> ControlStates() const {
    std::vector<int32_t> states;
    for (int id : kHeldControls) {
      states.push_back(IsWindowEnabled(Item(id)) ? 1 : 0);
      if (id >= IDC_BROKEN_FILE && id <= IDC_OUTPUT_FOLDER) states.push_back(BrowseButtonEnabled(Item(id)));
    }
    return states;
  }

  // Clicks Start and pumps until the work and every box after it are over. duringWork runs
  // once, when the state part shows a percentage above 0 and the work still runs.
  void RunWork(const std::function<void()>& duringWork = nullptr) {
    stateWrites.clear();
    gui::Click(Item(IDC_START));
    bool called = false;
    const bool ended = gui::PumpUntil(
        [&] {
          if (!called && duringWork && BackgroundWorkRunning() && PercentOf(State()) > 0) {
            called = true;
            duringWork();
          }
          return !BackgroundWorkRunning();
        },
        240000);
    ASSERT_TRUE(ended) << "the work did not end";
    gui::Pump(50);
  }

  std::vector<int> Percentages() const {
    std::vector<int> percentages;
    for (const StateWrite& write : stateWrites) {
      if (PercentOf(write.text) >= 0) percentages.push_back(PercentOf(write.text));
    }
    return percentages;
  }

  // Working, then rising percentages, each only when it changed and at most a few a second,
  // then ready.
  void ExpectProgressThenReady(size_t atLeastPercentages) const {
    ASSERT_GE(stateWrites.size(), 2u);
    EXPECT_EQ(stateWrites.front().text, kRussian.dialog.working);
    EXPECT_EQ(stateWrites.back().text, kRussian.dialog.ready);
    const std::vector<int> percentages = Percentages();
    EXPECT_EQ(percentages.size(), stateWrites.size() - 2) << "only percentages between working and ready";
    ASSERT_GE(percentages.size(), atLeastPercentages);
    EXPECT_EQ(percentages.front(), 0);
    for (size_t i = 1; i < percentages.size(); ++i) EXPECT_GT(percentages[i], percentages[i - 1]);
    const ULONGLONG span = stateWrites.back().at - stateWrites.front().at;
    EXPECT_LE(percentages.size(), 2 + span / 200) << "at most a few updates a second";
  }

  // Every question asked from the first percentage until the ready text was answered in time
  // (but those of the last kAnswerWithinMs, whose answer may fall after the work).
  void ExpectAnsweredWhileWorking(const ResponseProbe& probe, bool longWork) const {
    ULONGLONG from = 0, to = 0;
    for (const StateWrite& write : stateWrites) {
      if (from == 0 && PercentOf(write.text) >= 0) from = write.at;
      if (write.text == kRussian.dialog.ready) to = write.at;
    }
    int asked = 0;
    for (const ResponseProbe::Question& question : probe.questions()) {
      if (question.askedAt < from || question.askedAt > to) continue;
      ++asked;
      if (question.askedAt + kAnswerWithinMs > to) continue;
      EXPECT_TRUE(question.answered) << "no answer within " << kAnswerWithinMs << " ms to the question asked " << question.askedAt - from
                                     << " ms into the work of " << to - from << " ms";
    }
    if (longWork) {
      EXPECT_GT(asked, 3);
    }
  }

  // The boxes shown since the last NewBoxes call.
  std::vector<gui::SeenBox> NewBoxes() {
    const auto& all = catcher_.boxes();
    std::vector<gui::SeenBox> fresh(all.begin() + static_cast<std::ptrdiff_t>(boxesSeen_), all.end());
    boxesSeen_ = all.size();
    return fresh;
  }
  void ExpectCompletionOnly() {
    const std::vector<gui::SeenBox> boxes = NewBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kRussian.dialog.taskDone);
    EXPECT_EQ(boxes[0].caption, kRussian.shared.attention);
    EXPECT_EQ(boxes[0].icon, gui::BoxIcon::None);
    EXPECT_EQ(boxes[0].owner, dialog_);
    ASSERT_EQ(statesAtBoxes_.size(), 1u);
    EXPECT_EQ(statesAtBoxes_[0], kRussian.dialog.ready);
  }

  HWND dialog_ = nullptr;
  gui::BoxCatcher catcher_;
  std::vector<std::string> statesAtBoxes_;
  std::function<void(HWND)> onQuestion_;
  size_t boxesSeen_ = 0;
  // Where the broken file and where the valid file are: the two people's own folders, since
  // these tests take the guide's pictures of large files.
  ScratchFolder local_{gui::BrokenOwnersFolder()};
  ScratchFolder remote_{gui::ValidOwnersFolder()};
};

// A valid file past 4 GiB with data here and there, and a broken copy whose damage lies past
// 4 GiB: changed data, data in a hole, a hole where data was, a changed partial last block,
// and a run of extra damaged blocks (the one block of noise repeated) where the valid file
// has a hole.
struct Exchange {
  SparseFile valid;
  SparseFile broken;
};

Exchange MakeExchange(uint64_t size, uint32_t extraDamage, uint32_t seed) {
  Exchange e;
  e.valid.size = size;
  const uint64_t last = e.valid.BlockCount() - 1;
  for (uint64_t index : {uint64_t{0}, uint64_t{1000}, kFourGiBBlock - 1, kFourGiBBlock + 5, kFourGiBBlock + 77, last}) {
    e.valid.blocks[index] = gui::RandomBlock(e.valid, index, seed++);
  }
  e.broken = e.valid;
  e.broken.blocks[kFourGiBBlock + 5] = gui::RandomBlock(e.valid, kFourGiBBlock + 5, seed++);
  e.broken.blocks[kFourGiBBlock + 300] = gui::RandomBlock(e.valid, kFourGiBBlock + 300, seed++);
  e.broken.blocks.erase(kFourGiBBlock + 77);
  e.broken.blocks[last] = gui::RandomBlock(e.valid, last, seed++);
  if (extraDamage > 0) e.broken.runs.push_back({kFourGiBBlock + 1000, extraDamage, gui::RandomBlock(e.valid, 0, seed++)});
  return e;
}

struct ExchangeCase {
  const char* name;
  uint64_t size;
  // Damage to carry: a few blocks, or more than the compact test file of the dialog's size can
  // describe, which takes a round that asks for a larger one.
  uint32_t extraDamage;
  bool asksForMore;
};

class LargeExchangeTest : public LargeFileDialogTest, public ::testing::WithParamInterface<ExchangeCase> {};

// Each mode in turn on the same pair of files, as the two people of an exchange do it; in
// every mode the dialog answers, shows its progress and holds its controls while it works,
// goes on when asked to close and answered No (Escape, the close box, Close), and gives
// everything back afterwards. From 4 GiB mode 1 writes the compact test file; where it cannot
// describe the damage, mode 2 writes the request for more and mode 3 the larger test file, each
// in a box that says to send it back, and the exchange goes on with that.
TEST_P(LargeExchangeTest, GoesThroughAllThreeModesWhileTheDialogAnswers) {
  const Exchange e = MakeExchange(GetParam().size, GetParam().extraDamage, 41);
  gui::WriteSparseFile(local_.Path("disk.img"), e.broken);
  gui::WriteSparseFile(remote_.Path("disk.img"), e.valid);
  AnswerBoxes(IDNO);

  struct Step {
    int radio;
    std::vector<std::pair<int, std::string>> fields;
    bool asks = false;  // ends with a file to send back instead of the next step's
  };
  const Step brokenScan{IDC_MODE_BROKEN_SCAN, {{IDC_BROKEN_FILE, local_.Path("disk.img")}, {IDC_OUTPUT_FOLDER, local_.path()}}};
  const auto validScan = [&](bool asks) {
    return Step{IDC_MODE_VALID_SCAN,
                {{IDC_VALID_FILE, remote_.Path("disk.img")}, {IDC_TEST_FILE, remote_.Path("disk.crc")}, {IDC_OUTPUT_FOLDER, remote_.path()}},
                asks};
  };
  const auto repair = [&](bool asks) {
    return Step{IDC_MODE_REPAIR, {{IDC_REPAIR_BROKEN_FILE, local_.Path("disk.img")}, {IDC_REPAIR_FILE, local_.Path("disk.fix")}}, asks};
  };
  std::vector<Step> steps = {brokenScan, validScan(GetParam().asksForMore)};
  if (GetParam().asksForMore) steps.insert(steps.end(), {repair(true), validScan(false)});
  steps.push_back(repair(false));
  // One dialog plays both sides here, so mode 3's follow-up folder is the output folder mode 2
  // left: the larger test file goes beside the valid file's copy of the test file.
  const std::string request = remote_.Path("disk.fix"), larger = remote_.Path("disk.crc");
  const auto watch = catcher_.whileOpen;
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox& seen) {
    watch(box, seen);
    if (seen.icon == gui::BoxIcon::Information) {
      gui::SaveBoxPicture(dialog_, box, seen.text.find(request) != std::string::npos ? "asked-for-more.png" : "larger-test-file.png");
    }
  };
  for (const Step& step : steps) {
    SCOPED_TRACE("mode " + std::to_string(step.radio - IDC_MODE_BROKEN_SCAN + 1));
    statesAtBoxes_.clear();
    gui::Click(Item(step.radio));
    for (const auto& [id, text] : step.fields) gui::TypeInto(Item(id), text);
    const std::vector<int32_t> before = ControlStates();

    std::vector<int32_t> during;
    HCURSOR cursorOverStart = nullptr;
    ResponseProbe probe(dialog_);
    RunWork([&] {
      during = ControlStates();
      gui::MoveMouseTo(gui::CentreOf(Item(IDC_START)));
      cursorOverStart = GetCursor();
      if (step.radio == IDC_MODE_BROKEN_SCAN) {
        probe.Pause(true);
        gui::SaveWindowPicture(dialog_, "progress-in-status-bar.png");
        probe.Pause(false);
      }
      // Each way to close, answered No: the work goes on to its end. The probe waits meanwhile:
      // opening a message box is the system's work, and no part of the dialog's.
      probe.Pause(true);
      switch (step.radio) {
        case IDC_MODE_BROKEN_SCAN:
          gui::PressKey(VK_ESCAPE);
          break;
        case IDC_MODE_VALID_SCAN:
          ClickCloseBox(dialog_);
          break;
        case IDC_MODE_REPAIR:
          gui::Click(Item(IDC_CLOSE));
          break;
      }
      probe.Pause(false);
    });
    probe.Stop();

    // Every mode runs long enough to be watched: a repair of a few blocks too, since it reads
    // the whole file back for its check.
    ExpectAnsweredWhileWorking(probe, true);
    ExpectProgressThenReady(2);
    ASSERT_EQ(during.size(), before.size()) << "the work ended before a percentage above 0 showed";
    EXPECT_EQ(during, std::vector<int32_t>(before.size(), 0)) << "held while it works";
    EXPECT_EQ(cursorOverStart, program.waitCursor);
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_CLOSE)));
    EXPECT_EQ(ControlStates(), before) << "given back as they were";
    EXPECT_EQ(program.busy, 0u);
    EXPECT_TRUE(IsWindowVisible(dialog_));

    const std::vector<gui::SeenBox> boxes = NewBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, kRussian.dialog.askStop);
    EXPECT_EQ(boxes[0].caption, kRussian.shared.attention);
    EXPECT_EQ(boxes[0].icon, gui::BoxIcon::Question);
    EXPECT_EQ(boxes[0].owner, dialog_);
    char sendBack[1024] = "";
    if (step.asks) {
      std::snprintf(sendBack, sizeof sendBack, step.radio == IDC_MODE_VALID_SCAN ? kRussian.shared.askedForMore : kRussian.shared.largerTestFile,
                    (step.radio == IDC_MODE_VALID_SCAN ? request : larger).c_str());
    }
    if (step.asks) {
      EXPECT_EQ(boxes[1].text, std::string(sendBack)) << "No goes on to the end";
    } else {
      EXPECT_EQ(boxes[1].text, kRussian.dialog.taskDone) << "No goes on to the end";
    }
    EXPECT_EQ(boxes[1].icon, step.asks ? gui::BoxIcon::Information : gui::BoxIcon::None);
    EXPECT_EQ(statesAtBoxes_.back(), kRussian.dialog.ready);
    EXPECT_EQ(OpenFileCount(), 0u);
    EXPECT_EQ(HeldRegionCount(), 0u);

    switch (step.radio) {
      case IDC_MODE_BROKEN_SCAN:
        ASSERT_EQ(local_.Read("disk.crc"), gui::CompactTestFileOf(e.broken, DefaultCompactSymbols(e.broken.size)));
        remote_.Write("disk.crc", local_.Read("disk.crc"));
        break;
      case IDC_MODE_VALID_SCAN:
        if (step.asks) {
          const Bytes asking = remote_.Read("disk.fix");
          AskingRepairFile read;
          ASSERT_TRUE(ReadAskingRepairFile(asking.data(), asking.size(), &read));
          EXPECT_GE(read.estimatedDifferences, GetParam().extraDamage / 2);
        } else {
          const Bytes answered = remote_.Read("disk.crc");
          ASSERT_EQ(remote_.Read("disk.fix"), gui::LargeRepairFileOf(e.valid, e.broken, &answered));
        }
        local_.Write("disk.fix", remote_.Read("disk.fix"));
        break;
      case IDC_MODE_REPAIR:
        if (step.asks) {
          EXPECT_TRUE(gui::HoldsBytesOf(local_.Path("disk.img"), e.broken)) << "the request only reads the broken file";
          EXPECT_GT(remote_.Size("disk.crc"), CompactTestFileLength(DefaultCompactSymbols(e.broken.size)));
        } else {
          EXPECT_TRUE(gui::HoldsBytesOf(local_.Path("disk.img"), e.valid)) << "the valid file's bytes";
        }
        break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeExchangeTest,
                         ::testing::Values(ExchangeCase{"FiveGiBAndABitWithAFewDamagedBlocks", 5 * kGiB + 1234, 0, false},
                                           ExchangeCase{"EightGiBWith30000DamagedBlocks", 8 * kGiB, 30000, true}),
                         [](const ::testing::TestParamInfo<ExchangeCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

TEST_F(LargeFileDialogTest, AValidScanStoppedThroughTheCloseBoxWritesNothingAndKeepsTheOlderFile) {
  const Exchange e = MakeExchange(8 * kGiB, 0, 7);
  gui::WriteSparseFile(remote_.Path("disk.img"), e.valid);
  remote_.Write("disk.crc", gui::LargeTestFileOf(e.broken));
  const Bytes older = RandomBytes(3, 5000);
  remote_.Write("disk.fix", older);
  gui::Click(Item(IDC_MODE_VALID_SCAN));
  gui::TypeInto(Item(IDC_VALID_FILE), remote_.Path("disk.img"));
  gui::TypeInto(Item(IDC_TEST_FILE), remote_.Path("disk.crc"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), remote_.path());
  AnswerBoxes(IDYES);
  onQuestion_ = [this](HWND box) { gui::SaveBoxPicture(dialog_, box, "stop-question.png"); };
  bool visibleAtLastBox = false;
  bool runningAtLastBox = true;
  const auto watch = catcher_.whileOpen;
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox& seen) {
    watch(box, seen);
    if (seen.text == kRussian.dialog.scanStopped) gui::SaveBoxPicture(dialog_, box, "scan-stopped.png");
    visibleAtLastBox = IsWindowVisible(dialog_) != 0;
    runningAtLastBox = BackgroundWorkRunning();
  };

  RunWork([&] { ClickCloseBox(dialog_); });

  const std::vector<gui::SeenBox> boxes = NewBoxes();
  ASSERT_EQ(boxes.size(), 2u) << "the question and what happened, no completion";
  EXPECT_EQ(boxes[0].text, kRussian.dialog.askStop);
  EXPECT_EQ(boxes[0].icon, gui::BoxIcon::Question);
  EXPECT_EQ(boxes[1].text, kRussian.dialog.scanStopped);
  EXPECT_EQ(boxes[1].caption, kRussian.shared.attention);
  EXPECT_EQ(boxes[1].icon, gui::BoxIcon::Information);
  EXPECT_EQ(boxes[1].owner, dialog_);
  EXPECT_EQ(statesAtBoxes_[1], kRussian.dialog.ready);
  EXPECT_TRUE(visibleAtLastBox) << "the dialog says what happened before it closes";
  EXPECT_FALSE(runningAtLastBox);
  EXPECT_FALSE(IsWindowVisible(dialog_)) << "the close box, once the work has stopped, closes";
  EXPECT_EQ(OpenFileCount(), 0u);
  EXPECT_EQ(HeldRegionCount(), 0u);

  EXPECT_EQ(remote_.Read("disk.fix"), older);
  EXPECT_EQ(remote_.Names(), (std::vector<std::string>{"disk.crc", "disk.fix", "disk.img"})) << "no temporary file left";
}

// Below 4 GiB the dialog works beside itself just the same: a file of 3 GiB shows its progress
// while the dialog answers, holds no more than a few MiB of memory of its own whatever the
// file's size, and a scan stopped on its way writes nothing and keeps the older test file.
TEST_F(LargeFileDialogTest, AFileUnderFourGiBIsWorkedOnBesideTheDialogAndCanBeStopped) {
  SparseFile broken;
  broken.size = 3 * kGiB + 100;
  const uint64_t last = broken.BlockCount() - 1;
  broken.blocks[0] = gui::RandomBlock(broken, 0, 1);
  broken.blocks[last] = gui::RandomBlock(broken, last, 2);
  gui::WriteSparseFile(local_.Path("disk.img"), broken);
  gui::Click(Item(IDC_MODE_BROKEN_SCAN));
  gui::TypeInto(Item(IDC_BROKEN_FILE), local_.Path("disk.img"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), local_.path());
  AnswerBoxes(IDNO);
  ResetLedger();
  ResponseProbe probe(dialog_);
  RunWork();
  probe.Stop();
  ExpectProgressThenReady(2);
  ExpectAnsweredWhileWorking(probe, false);
  ExpectCompletionOnly();
  EXPECT_LE(PeakCommittedBytes(), uint64_t{64} << 20);
  // The small form: the size in 32 bits, then the entries the large form would hold.
  const Bytes large = gui::LargeTestFileOf(broken);
  EXPECT_EQ(local_.Read("disk.crc"), Concat({Le32(static_cast<uint32_t>(broken.size)), Part(large, 12, large.size())}));

  const Bytes older = {'o', 'l', 'd'};
  local_.Write("disk.crc", older);
  AnswerBoxes(IDYES);
  RunWork([&] { ClickCloseBox(dialog_); });
  const std::vector<gui::SeenBox> boxes = NewBoxes();
  ASSERT_EQ(boxes.size(), 2u) << "the question and what happened, no completion";
  EXPECT_EQ(boxes[0].text, kRussian.dialog.askStop);
  EXPECT_EQ(boxes[1].text, kRussian.dialog.scanStopped);
  EXPECT_EQ(OpenFileCount(), 0u);
  EXPECT_EQ(HeldRegionCount(), 0u);
  EXPECT_EQ(local_.Read("disk.crc"), older);
  EXPECT_EQ(local_.Names(), (std::vector<std::string>{"disk.crc", "disk.img"})) << "no temporary file left";
}

// A broken file past 4 GiB with many damaged blocks, and the repair file that puts them right
// (written sparse: its carried blocks are all zero). The last entries carry real data.
struct LongRepair {
  SparseFile valid;
  SparseFile broken;
  SparseFile repairFile;
};

LongRepair MakeLongRepair(uint32_t damagedBlocks) {
  LongRepair r;
  r.valid.size = 4 * kGiB + 3 * 4096 + 100;
  const uint64_t last = r.valid.BlockCount() - 1;
  r.valid.blocks[7] = gui::RandomBlock(r.valid, 7, 1);
  r.valid.blocks[last] = gui::RandomBlock(r.valid, last, 2);
  r.broken = r.valid;
  r.broken.blocks[last] = gui::RandomBlock(r.valid, last, 3);
  r.broken.runs.push_back({1000, damagedBlocks, gui::RandomBlock(r.valid, 0, 4)});
  const Bytes whole = gui::LargeRepairFileOf(r.valid, r.broken);
  // Header and list as bytes, the blocks' area as a hole but for the last block's data.
  const uint64_t blocksAt = 16 + 4 * uint64_t{damagedBlocks + 1};
  r.repairFile = gui::SparseFileOf(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(blocksAt)),
                                   blocksAt + 4096 * uint64_t{damagedBlocks + 1});
  const Bytes lastCarried = r.valid.Block(last);
  for (uint64_t at = blocksAt + 4096 * uint64_t{damagedBlocks}, i = 0; i < 4096; ++i) {
    Bytes& block = r.repairFile.blocks[(at + i) / 4096];
    if (block.empty()) block.assign(4096, 0);
    block[(at + i) % 4096] = lastCarried[i];
  }
  return r;
}

TEST_F(LargeFileDialogTest, ARepairStoppedThroughTheCloseBoxIsFinishedByRunningItAgain) {
  // Long enough to be stopped on its way: some two seconds of block writes.
  const LongRepair r = MakeLongRepair(50000);
  gui::WriteSparseFile(local_.Path("disk.img"), r.broken);
  gui::WriteSparseFile(local_.Path("disk.fix"), r.repairFile);
  const uint64_t last = r.valid.BlockCount() - 1;
  const auto fill = [this] {
    gui::Click(Item(IDC_MODE_REPAIR));
    gui::TypeInto(Item(IDC_REPAIR_BROKEN_FILE), local_.Path("disk.img"));
    gui::TypeInto(Item(IDC_REPAIR_FILE), local_.Path("disk.fix"));
  };
  fill();
  AnswerBoxes(IDYES);
  const auto watch = catcher_.whileOpen;
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox& seen) {
    watch(box, seen);
    if (seen.text == kRussian.dialog.repairStoppedPartly) gui::SaveBoxPicture(dialog_, box, "repair-stopped.png");
  };
  RunWork([&] { ClickCloseBox(dialog_); });

  const std::vector<gui::SeenBox> boxes = NewBoxes();
  ASSERT_EQ(boxes.size(), 2u) << "the question and what happened, no completion";
  EXPECT_EQ(boxes[0].text, kRussian.dialog.askStop);
  EXPECT_EQ(boxes[1].text, kRussian.dialog.repairStoppedPartly) << "stopped at " << Percentages().back() << "%";
  EXPECT_EQ(boxes[1].icon, gui::BoxIcon::Information);
  EXPECT_EQ(statesAtBoxes_[1], kRussian.dialog.ready);
  EXPECT_FALSE(IsWindowVisible(dialog_));
  EXPECT_EQ(OpenFileCount(), 0u);
  EXPECT_EQ(HeldRegionCount(), 0u);
  EXPECT_EQ(gui::BlockOnDisk(local_.Path("disk.img"), 1000), Bytes(4096, 0)) << "the first blocks are in place";
  EXPECT_EQ(gui::BlockOnDisk(local_.Path("disk.img"), last), r.broken.Block(last)) << "the last one is not yet";

  // Again, from a new dialog, with the same repair file: done, and the file is the valid one.
  gui::CloseMainDialog(dialog_);
  OpenDialog();
  fill();
  AnswerBoxes(IDNO);
  RunWork();
  ExpectCompletionOnly();
  // Where the two copies differed, and the length: the rest is a hole in both.
  EXPECT_EQ(local_.Size("disk.img"), r.valid.size);
  EXPECT_TRUE(gui::HoldsBytesOf(local_.Path("disk.img"), r.valid, 0, 1000 + 50000)) << "the valid file's bytes";
  EXPECT_EQ(gui::BlockOnDisk(local_.Path("disk.img"), last), r.valid.Block(last));
}

}  // namespace

namespace {

using Fields = std::vector<std::pair<int, std::string>>;

Bytes LargeRepairHeader(uint32_t count, uint64_t validSize) {
  return Concat({Le32(0), Le32(count), Le32(static_cast<uint32_t>(validSize)), Le32(static_cast<uint32_t>(validSize >> 32))});
}

// Every file of a folder: its size, and its bytes where it is small enough to keep.
std::vector<std::pair<std::string, Bytes>> Snapshot(const ScratchFolder& folder) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    const std::string name = entry.path().filename().string();
    const uint64_t size = folder.Size(name);
    files.emplace_back(name, size < (64 << 20) ? folder.Read(name) : Le32(static_cast<uint32_t>(size >> 12)));
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string SystemText(uint32_t code) {
  char* text = DescribeSystemError(code);
  const std::string copy = text != nullptr ? text : "";
  FreeSystemErrorText(text);
  return copy;
}

TEST_F(LargeFileDialogTest, AFailureOfTheWorkShowsTodaysBoxOnceTheDialogIsReadyAndChangesNothing) {
  const uint64_t justLarge = 4 * kGiB + 4096;
  SparseFile large;
  large.size = justLarge;
  large.blocks[kFourGiBBlock] = gui::RandomBlock(large, kFourGiBBlock, 5);
  HANDLE holder = INVALID_HANDLE_VALUE;
  struct Case {
    const char* name;
    int radio;
    std::function<Fields(const ScratchFolder&)> prepare;
    DialogService failing;  // DialogService::Count: none
    const char* caption;
    std::string text;
    gui::BoxIcon icon;
    // The state part while the box is open.
    const char* stateAtBox;
    // The first read ends early, as on a file cut shorter meanwhile.
    bool readEndsEarly = false;
  };
  const Case cases[] = {
      {"the worker thread cannot be started", IDC_MODE_BROKEN_SCAN,
       [&](const ScratchFolder& f) {
         gui::WriteSparseFile(f.Path("disk.img"), large);
         return Fields{{IDC_BROKEN_FILE, f.Path("disk.img")}, {IDC_OUTPUT_FOLDER, f.path()}};
       },
       DialogService::WorkerThread, kRussian.dialog.startWorker, SystemText(ERROR_NOT_ENOUGH_MEMORY), gui::BoxIcon::Error,
       kRussian.dialog.ready},
      // Refused before anything is taken out of use, so the box comes while Start still works.
      {"the work's record cannot be allocated", IDC_MODE_BROKEN_SCAN,
       [&](const ScratchFolder& f) {
         gui::WriteSparseFile(f.Path("disk.img"), large);
         return Fields{{IDC_BROKEN_FILE, f.Path("disk.img")}, {IDC_OUTPUT_FOLDER, f.path()}};
       },
       DialogService::WorkRecord, kRussian.dialog.startWorker, SystemText(ERROR_NOT_ENOUGH_MEMORY), gui::BoxIcon::Error,
       kRussian.dialog.working},
      {"a broken file another program holds", IDC_MODE_BROKEN_SCAN,
       [&](const ScratchFolder& f) {
         gui::WriteSparseFile(f.Path("disk.img"), large);
         holder = CreateFileA(f.Path("disk.img").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         return Fields{{IDC_BROKEN_FILE, f.Path("disk.img")}, {IDC_OUTPUT_FOLDER, f.path()}};
       },
       // Waited for, then told with what to do; Wine cannot tell which program holds it.
       DialogService::Count, StepMessage(Step::OpenBroken),
       WithoutLineEnd(SystemText(SystemErrorCode(SystemErrorKind::SharingViolation))) + "\n\n" + kRussian.shared.heldByAnother,
       gui::BoxIcon::Error, kRussian.dialog.ready},
      {"an output folder that is not there", IDC_MODE_BROKEN_SCAN,
       [&](const ScratchFolder& f) {
         gui::WriteSparseFile(f.Path("disk.img"), large);
         return Fields{{IDC_BROKEN_FILE, f.Path("disk.img")}, {IDC_OUTPUT_FOLDER, f.Path("gone")}};
       },
       DialogService::Count, StepMessage(Step::CreateOutput), SystemText(SystemErrorCode(SystemErrorKind::PathNotFound)), gui::BoxIcon::Error,
       kRussian.dialog.ready},
      {"a broken file cut shorter while it is read", IDC_MODE_BROKEN_SCAN,
       [&](const ScratchFolder& f) {
         gui::WriteSparseFile(f.Path("disk.img"), large);
         return Fields{{IDC_BROKEN_FILE, f.Path("disk.img")}, {IDC_OUTPUT_FOLDER, f.path()}};
       },
       DialogService::Count, StepMessage(Step::ReadBroken), kRussian.dialog.fileChangedWhileRead.c_str(), gui::BoxIcon::Error,
       kRussian.dialog.ready, true},
      {"a large-form repair file cut short after its header", IDC_MODE_REPAIR,
       [&](const ScratchFolder& f) {
         f.Write("disk.img", RandomBytes(6, 1 << 20));
         f.Write("disk.fix", LargeRepairHeader(3, 5 * kGiB));
         return Fields{{IDC_REPAIR_BROKEN_FILE, f.Path("disk.img")}, {IDC_REPAIR_FILE, f.Path("disk.fix")}};
       },
       DialogService::Count, kRussian.shared.unforeseen, StepMessage(Step::CheckLargeRepairFile), gui::BoxIcon::Error, kRussian.dialog.ready},
      {"a repair file of valid size 0, which is neither form", IDC_MODE_REPAIR,
       [&](const ScratchFolder& f) {
         f.Write("disk.img", RandomBytes(7, 1 << 20));
         // Its third word and the block's first read as a 64-bit size of 1: not the large form.
         f.Write("disk.fix", Concat({Le32(0), Le32(1), Le32(1), Bytes(4096, 0)}));
         return Fields{{IDC_REPAIR_BROKEN_FILE, f.Path("disk.img")}, {IDC_REPAIR_FILE, f.Path("disk.fix")}};
       },
       DialogService::Count, kRussian.shared.unforeseen, StepMessage(Step::CheckLargeRepairFile), gui::BoxIcon::Error,
       kRussian.dialog.ready},
  };
  AnswerBoxes(IDNO);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    holder = INVALID_HANDLE_VALUE;
    gui::Click(Item(c.radio));
    for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) gui::SetTextOf(Item(id), "");
    for (const auto& [id, text] : c.prepare(folder)) gui::TypeInto(Item(id), text);
    const auto before = Snapshot(folder);
    const std::vector<int32_t> controls = ControlStates();
    statesAtBoxes_.clear();
    ClearFaults();
    ClearDialogFaults();
    if (c.failing != DialogService::Count) InjectDialogFault(c.failing, 1, ERROR_NOT_ENOUGH_MEMORY);
    if (c.readEndsEarly) InjectFault(Service::ReadAt, 1, 0, FaultKind::ShortTransfer);
    ResetLedger();

    RunWork();

    const std::vector<gui::SeenBox> boxes = NewBoxes();
    ASSERT_EQ(boxes.size(), 1u) << "the failure's box and no completion";
    EXPECT_EQ(boxes[0].caption, c.caption);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].icon, c.icon);
    EXPECT_EQ(boxes[0].owner, dialog_);
    EXPECT_EQ(statesAtBoxes_[0], c.stateAtBox);
    EXPECT_EQ(State(), kRussian.dialog.ready);
    EXPECT_EQ(ControlStates(), controls);
    EXPECT_EQ(OpenFileCount(), 0u);
    EXPECT_EQ(HeldRegionCount(), 0u);
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    EXPECT_EQ(Snapshot(folder), before) << "no file written, changed or left behind";
    EXPECT_TRUE(IsWindowVisible(dialog_));
  }
}

// The new test file has replaced the older one, but its folder's flush failed: not the
// task-done box and never "nothing changed", but a warning with the system's reason.
TEST_F(LargeFileDialogTest, AnOutputWhoseFolderWasNotFlushedIsAWarningNotACompletion) {
  SparseFile large;
  large.size = 4 * kGiB + 4096;
  large.blocks[kFourGiBBlock] = gui::RandomBlock(large, kFourGiBBlock, 11);
  gui::WriteSparseFile(local_.Path("disk.img"), large);
  local_.Write("disk.crc", RandomBytes(12, 100));
  gui::TypeInto(Item(IDC_BROKEN_FILE), local_.Path("disk.img"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), local_.path());
  AnswerBoxes(IDNO);
  InjectFault(Service::FlushFolder, 1, ERROR_DISK_FULL);
  RunWork();
  const std::vector<gui::SeenBox> boxes = NewBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, std::string(kRussian.dialog.mayNotSurvivePowerCut) + "\n\n" + SystemText(ERROR_DISK_FULL));
  EXPECT_EQ(boxes[0].caption, kRussian.shared.attention);
  EXPECT_EQ(boxes[0].icon, gui::BoxIcon::Warning);
  EXPECT_EQ(local_.Read("disk.crc"), gui::CompactTestFileOf(large, DefaultCompactSymbols(large.size))) << "the new file is in place";
}

// A copy cut short below 4 GiB with the large-form repair file of its 4 GiB original: the
// dialog's own repair would refuse the file's valid size of 0, so the streaming repair takes it.
TEST_F(LargeFileDialogTest, ACopyCutShortIsRepairedWithALargeFormRepairFile) {
  SparseFile valid;
  valid.size = 4 * kGiB + 100;
  for (uint64_t index : {uint64_t{3}, kFourGiBBlock - 1, valid.BlockCount() - 1}) {
    valid.blocks[index] = gui::RandomBlock(valid, index, static_cast<uint32_t>(index));
  }
  SparseFile broken;
  broken.size = 1 << 20;
  broken.blocks[3] = gui::RandomBlock(broken, 3, 99);
  gui::WriteSparseFile(local_.Path("disk.img"), broken);
  local_.Write("disk.fix", gui::LargeRepairFileOf(valid, broken));
  gui::Click(Item(IDC_MODE_REPAIR));
  gui::TypeInto(Item(IDC_REPAIR_BROKEN_FILE), local_.Path("disk.img"));
  gui::TypeInto(Item(IDC_REPAIR_FILE), local_.Path("disk.fix"));
  AnswerBoxes(IDNO);
  ResetLedger();

  RunWork();

  ExpectCompletionOnly();
  ExpectProgressThenReady(1);  // with a percentage: the streaming repair took it
  EXPECT_EQ(OpenFileCount(), 0u);
  EXPECT_TRUE(gui::HoldsBytesOf(local_.Path("disk.img"), valid, 0, 256));
  for (uint64_t index : {kFourGiBBlock - 1, valid.BlockCount() - 1}) {
    EXPECT_EQ(gui::BlockOnDisk(local_.Path("disk.img"), index), valid.Block(index)) << index;
  }
}

}  // namespace

namespace {

// The window destroyed under running work (the session ending, say): the destruction waits
// for the work to stop, and nothing stays open, allocated or half written.
TEST_F(LargeFileDialogTest, ADialogDestroyedAtWorkStopsTheWorkFirst) {
  const Exchange e = MakeExchange(8 * kGiB, 0, 9);
  gui::WriteSparseFile(local_.Path("disk.img"), e.broken);
  gui::TypeInto(Item(IDC_BROKEN_FILE), local_.Path("disk.img"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), local_.path());
  AnswerBoxes(IDNO);
  ResetLedger();
  gui::Click(Item(IDC_START));
  ASSERT_TRUE(gui::PumpUntil([this] { return PercentOf(State()) > 0; }, 60000));

  DestroyWindow(dialog_);

  EXPECT_FALSE(BackgroundWorkRunning());
  EXPECT_EQ(OpenFileCount(), 0u);
  EXPECT_EQ(HeldRegionCount(), 0u);
  EXPECT_TRUE(NewBoxes().empty()) << "a destroyed dialog shows nothing";
  EXPECT_EQ(local_.Names(), std::vector<std::string>{"disk.img"}) << "no test file, no temporary file";
}

}  // namespace
