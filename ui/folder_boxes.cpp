// Composing the folder boxes: the program's words, the system's texts and the entries' names
// are all UTF-8, put together in UTF-16 for the box.
#include "ui/folder_boxes.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "words/entry_texts.h"
#include "words/step_texts.h"
#include "words/words.h"
#include "ui/window_text.h"

namespace {

// Lines of one list in a box; the rest is counted.
constexpr size_t kLinesShown = 15;

std::wstring Own(const char* text) { return Wide(text); }

std::wstring SystemText(uint32_t code) {
  char* text = DescribeSystemError(code);
  std::string body = text != nullptr ? text : "";
  if (text != nullptr) FreeSystemErrorText(text);
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r' || body.back() == ' ')) body.pop_back();
  return Wide(body.c_str());
}

// An entry's path as Windows writes paths, with backslashes.
std::wstring PathOf(const std::string& path) {
  std::wstring wide = Wide(path.c_str());
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return wide;
}

// One of the program's formats with a text in place of its %s.
std::wstring OwnWith(const char* format, const std::string& utf8) {
  const std::string whole = format;
  const size_t at = whole.find("%s");
  if (at == std::string::npos) return Own(format);
  return Own((whole.substr(0, at) + utf8 + whole.substr(at + 2)).c_str());
}

std::wstring ReasonOf(const EntryReport& entry) {
  if (entry.skip != EntrySkip::Unreadable) return Own(SkipReasonText(entry, nullptr).c_str());
  std::wstring reason = Own(StepMessage(entry.step)) + L" " + SystemText(entry.systemError);
  if (const char* held = HeldFormat(entry.systemError, entry.holder)) reason += L" " + OwnWith(held, entry.holder);
  if (!entry.kept.empty()) reason += L" " + OwnWith(CurrentWords().entries.kept, entry.kept);
  return reason;
}

// A heading and the entries that satisfy it, one per line, at most kLinesShown of them.
template <typename Keep>
void AddList(std::wstring* text, const TreeOutcome& result, const char* heading, Keep keep) {
  std::vector<const EntryReport*> kept;
  for (const EntryReport& entry : result.entries) {
    if (keep(entry)) kept.push_back(&entry);
  }
  if (kept.empty()) return;
  *text += L"\n\n" + Own(heading);
  for (size_t i = 0; i < kept.size() && i < kLinesShown; ++i) {
    *text += L"\n" + PathOf(kept[i]->path);
    if (kept[i]->event == EntryEvent::Skipped) *text += L" — " + ReasonOf(*kept[i]);
  }
  if (kept.size() > kLinesShown) {
    char more[64];
    std::snprintf(more, sizeof more, CurrentWords().dialog.moreEntries,
                  static_cast<unsigned>(kept.size() - kLinesShown));
    *text += L"\n" + Own(more);
  }
}

void AddEntryLists(std::wstring* text, const TreeOutcome& result) {
  if (result.fetched != 0) {
    char fetched[128];
    std::snprintf(fetched, sizeof fetched, CurrentWords().entries.fetched, static_cast<unsigned long long>(result.fetched));
    *text += L"\n\n" + Own(fetched);
  }
  AddList(text, result, CurrentWords().dialog.folderExtras,
          [](const EntryReport& e) { return e.event == EntryEvent::Extra; });
  AddList(text, result, CurrentWords().dialog.folderSkipped,
          [](const EntryReport& e) { return e.event == EntryEvent::Skipped; });
  AddList(text, result, CurrentWords().dialog.folderMismatch,
          [](const EntryReport& e) { return e.event == EntryEvent::Mismatch; });
}

void Show(HWND dialog, const std::wstring& text, const char* caption, UINT type) {
  MessageBoxW(dialog, text.c_str(), Own(caption).c_str(), type);
}

const char* CancelText(WorkMode mode, const Outcome& outcome) {
  if (mode != WorkMode::Repair) return CurrentWords().dialog.scanStopped;
  return outcome.brokenFileChanged ? CurrentWords().dialog.folderRepairStoppedPartly
                                   : CurrentWords().dialog.folderRepairStoppedUntouched;
}

}  // namespace

void ShowFolderOutcome(HWND dialog, WorkMode mode, const TreeOutcome& result) {
  const Outcome& outcome = result.outcome;
  std::wstring text;
  switch (outcome.ending) {
    case Ending::Done:
    case Ending::Differs:
    case Ending::OtherFile:
      if (AnyMismatch(result) || AnyNotScanned(result)) {
        if (AnyMismatch(result) && !outcome.followUpPath.empty()) {
          text = Own(CurrentWords().dialog.folderRepairDiffersHead) + L"\n\n" + OwnWith(CurrentWords().dialog.folderDiffersNext, outcome.followUpPath);
        } else if (AnyMismatch(result)) {
          text = Own(CurrentWords().dialog.folderRepairDiffers);
        }
        if (AnyNotScanned(result)) text += (text.empty() ? L"" : L"\n\n") + Own(CurrentWords().dialog.folderNotScanned);
        AddEntryLists(&text, result);
        Show(dialog, text, CurrentWords().shared.attention, MB_OK | MB_ICONWARNING);
        return;
      }
      if (outcome.outputMayNotSurvivePowerCut) {
        text = Own(CurrentWords().dialog.mayNotSurvivePowerCut) + L"\n\n" + SystemText(outcome.systemError);
        AddEntryLists(&text, result);
        Show(dialog, text, CurrentWords().shared.attention, MB_OK | MB_ICONWARNING);
        return;
      }
      text = Own(CurrentWords().dialog.taskDone);
      AddEntryLists(&text, result);
      Show(dialog, text, CurrentWords().shared.attention, MB_OK);
      return;
    case Ending::Identical:
      text = Own(CurrentWords().entries.foldersIdentical);
      if (!result.removedAnswer.empty()) {
        text += L"\n\n" + OwnWith(CurrentWords().entries.olderAnswerRemoved, result.removedAnswer);
      }
      AddEntryLists(&text, result);
      Show(dialog, text, CurrentWords().shared.attention, MB_OK | MB_ICONINFORMATION);
      return;
    case Ending::Cancelled:
      Show(dialog, Own(CancelText(mode, outcome)), CurrentWords().shared.attention, MB_OK | MB_ICONINFORMATION);
      return;
    case Ending::MoreNeeded:
      text = OwnWith(mode == WorkMode::ValidScan ? CurrentWords().shared.folderAskedForMore
                                                 : CurrentWords().shared.folderLargerTestFile,
                     outcome.outputPath);
      Show(dialog, text, CurrentWords().shared.attention, MB_OK | MB_ICONINFORMATION);
      return;
    case Ending::Stopped:
    case Ending::CheckRefused:
      break;
  }
  const char* caption = StepMessage(outcome.step);
  if (FoundByProgram(outcome.step)) {
    caption = CurrentWords().shared.unforeseen;
    text = Own(StepMessage(outcome.step));
  } else {
    text = SystemText(outcome.systemError);
  }
  if (!result.stoppedAt.empty()) {
    char name[64];
    std::snprintf(name, sizeof name, CurrentWords().dialog.refusedName, "");
    text += L"\n\n" + Own(name) + PathOf(result.stoppedAt);
    if (result.nameFault != NameFault::None) text += L" — " + Own(NameFaultText(result.nameFault));
  }
  if (mode == WorkMode::Repair && outcome.brokenFileChanged)
    text += L"\n\n" + Own(CurrentWords().dialog.folderRepairStoppedPartly);
  Show(dialog, text, caption, MB_OK | MB_ICONERROR);
}
