// The commands of varnell-cli, on the streaming operations and the folder operations: formats,
// checks and messages are the dialog's, for files of any size; outputs are named after the
// file's own name. What each command reports comes from what the operation returned: lines
// for a person, and with --json one object on stdout for a script, the lines then all on
// stderr.
#include "cli/commands.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/json_report.h"
#include "cli/output.h"
#include "cli/output_name.h"
#include "cli/paths.h"
#include "cli/progress.h"
#include "cli/reasons.h"
#include "core/exchange_rules.h"
#include "words/words.h"
#include "platform/platform.h"
#include "stream/operations.h"
#include "words/step_texts.h"
#include "words/entry_texts.h"
#include "tree/operations.h"
#include "varnell_version.h"

namespace {

// What --version prints, the same in every language.
constexpr char kVersionLine[] = "varnell-cli " VARNELL_VERSION "\n";

// Set on Ctrl-C: the operation under way stops between blocks.
std::atomic<bool> stopRequested{false};

// Where the lines go that name what was done: stdout, unless it carries the JSON object.
std::FILE* Lines(const CliRequest& request) { return request.json ? CliErr() : CliOut(); }

// A run a signal stopped ends by that signal once everything is told (main raises it again):
// its status is then the one a shell sees, 128 and the signal's number.
int AfterSignal(int status) {
  const int signal = InterruptSignal();
  return signal != 0 ? 128 + signal : status;
}

// The end of a command: the JSON object, when asked for, and the exit status.
int Finish(const CliRequest& request, const Outcome& result, int status) {
  status = AfterSignal(status);
  if (request.json) WriteText(CliOut(), (JsonReport(request, result, status) + "\n").c_str());
  return status;
}

// The path an unfinished outcome's error line names (at: the folder's entry it stopped at).
std::string FailedPath(const RunPaths& paths, const Outcome& result, const std::string& at = std::string()) {
  return SubjectPath(paths, OutcomeReason(result, kExitStopped).subject, at);
}

// A line of the shared words with a percentage.
void PrintShare(const char* format, double share) {
  WriteText(CliErr(), (Format(format, SharePercent(share)) + "\n").c_str());
}

// A repaired file that still differs: where, why, and the follow-up that leads on.
int ReportDiffering(const Outcome& result) {
  PrintDiffering(CliErr(), result);
  if (AppliedBefore(result)) WriteText(CliErr(), (CurrentWords().shared.alreadyApplied + std::string("\n")).c_str());
  if (!result.followUpPath.empty()) {
    Print(CliErr(), CurrentWords().cli.followUpWritten, result.followUpPath.c_str(),
          static_cast<unsigned long long>(result.followUpBytes));
    WriteText(CliErr(), CurrentWords().cli.followUpNext);
  }
  return kExitDiffers;
}

// A compact test file that did not decode: the request the valid-file scan wrote in place of the
// repair file (a .fix), or the larger test file the repair wrote from it. Not quieted: it is
// what to send next.
int ReportMoreNeeded(const Outcome& result, bool folder = false) {
  const std::string& path = result.outputPath;
  const bool request = path.size() >= 4 && path.compare(path.size() - 4, 4, ".fix") == 0;
  const SharedWords& said = CurrentWords().shared;
  const char* text = folder ? (request ? said.folderAskedForMore : said.folderLargerTestFile)
                            : (request ? said.askedForMore : said.largerTestFile);
  WriteText(CliErr(), (Format(text, path.c_str()) + "\n").c_str());
  return kExitMoreNeeded;
}

// Says why the operation did not finish, and gives the exit status for it. Identical copies
// are no failure: said unless quiet. A repair with --check, which a partly repaired file no
// longer passes, says to run it again without.
int ReportUnfinished(const CliRequest& request, const RunPaths& paths, const Outcome& result) {
  const CliWords& said = CurrentWords().cli;
  const char* runAgain = request.checkFile != nullptr ? said.runAgainWithoutCheck : said.runAgain;
  switch (result.ending) {
    case Ending::Done: return kExitDone;
    case Ending::MoreNeeded: return ReportMoreNeeded(result);
    case Ending::Differs: return ReportDiffering(result);
    case Ending::Identical:  // a file's scan reports it as done, with its proof
      return kExitIdentical;
    case Ending::CheckRefused:
      if (result.check.finding == CheckFinding::None) {
        PrintStop(CliErr(), FailedPath(paths, result), result);
      } else {
        PrintCheckRefusal(CliErr(), FailedPath(paths, result), result.check);
      }
      WriteText(CliErr(), CurrentWords().cli.nothingWritten);
      return kExitCheckRefused;
    case Ending::OtherFile:
      PrintOtherFile(CliErr(), FailedPath(paths, result), result.check);
      return kExitOtherFile;
    case Ending::Cancelled:
      WriteText(CliErr(), CurrentWords().cli.cancelled);
      if (result.brokenFileChanged) WriteText(CliErr(), runAgain);
      return kExitStopped;
    case Ending::Stopped:
      PrintStop(CliErr(), FailedPath(paths, result), result);
      // The blocks are all in place when only the follow-up could not be written.
      if (result.verification == Verification::Differs) {
        PrintDiffering(CliErr(), result);
      } else if (result.brokenFileChanged) {
        WriteText(CliErr(), runAgain);
      }
      return kExitStopped;
  }
  return kExitStopped;
}

// A scan that is done: its output is in place; a folder that was not flushed is told even with
// --quiet, since the new file may not survive a power cut.
int DoneStatus(const Outcome& result) {
  if (!result.outputMayNotSurvivePowerCut) return kExitDone;
  PrintMayNotSurvivePowerCut(CliErr(), result.outputPath, result);
  return kExitNotDurable;
}

// Runs an operation of a file or a folder with the progress line where it belongs, Ctrl-C
// turned into a stop, and outputs named after the input's own name.
template <typename Operation>
auto RunWatched(const CliRequest& request, Operation operation) {
  StreamControl control;
  control.stop = &stopRequested;
  control.nameOutput = &NameOutputAfterFile;
  ProgressLine line(CliErr(), !request.quiet && IsTerminal(CliErr()));
  line.Attach(&control);
  auto result = operation(control);
  line.Erase();
  return result;
}

// What a folder operation did with its entries: the lines (skipped entries and files that
// did not match their fingerprints always; the rest unless quiet, on stdout with --list) and
// the exit status a finished operation gives.
int ReportEntries(const CliRequest& request, const TreeOutcome& result, int finished) {
  for (const EntryReport& entry : result.entries) {
    const bool failure = entry.event == EntryEvent::Skipped || entry.event == EntryEvent::Mismatch;
    if (failure) {
      PrintEntry(CliErr(), entry);
    } else if (request.listOnStdout) {
      PrintEntry(Lines(request), entry);
    } else if (!request.quiet) {
      PrintEntry(CliErr(), entry);
    }
  }
  if (!request.quiet) PrintFetched(CliErr(), result);
  // A file made since the scan, or changed since, needs a new test file, which supersedes the
  // follow-up of the files that still differ.
  if (AnyNotScanned(result)) return kExitOtherFile;
  if (AnyMismatch(result)) return kExitDiffers;
  if (AnySkipped(result)) return kExitSkipped;
  return finished;
}

// Says why a folder operation did not finish, and gives the exit status for it.
int ReportFolderUnfinished(const CliRequest& request, const RunPaths& paths, const TreeOutcome& result) {
  const Outcome& outcome = result.outcome;
  switch (outcome.ending) {
    case Ending::Done: return kExitDone;
    case Ending::MoreNeeded:
      ReportEntries(request, result, kExitMoreNeeded);
      return ReportMoreNeeded(outcome, true);
    // A folder's files that still differ, or are not the ones the repair was made for, are told
    // entry by entry; the operation itself ends Done.
    case Ending::Differs: return ReportEntries(request, result, kExitDiffers);
    case Ending::OtherFile: return ReportEntries(request, result, kExitOtherFile);
    case Ending::Identical:
      if (!request.quiet) {
        WriteText(CliErr(), (CurrentWords().entries.foldersIdentical + std::string("\n")).c_str());
        if (!result.removedAnswer.empty()) {
          WriteText(CliErr(), (Format(CurrentWords().entries.olderAnswerRemoved, result.removedAnswer.c_str()) + "\n").c_str());
        }
      }
      return ReportEntries(request, result, kExitIdentical);
    case Ending::Cancelled:
    case Ending::Stopped:
    case Ending::CheckRefused:
      ReportEntries(request, result, kExitStopped);
      if (outcome.ending == Ending::Cancelled) {
        WriteText(CliErr(), CurrentWords().cli.cancelled);
      } else {
        // The entry it stopped at, or the refused name's repair file.
        PrintStop(CliErr(), FailedPath(paths, outcome, result.stoppedAt), outcome);
      }
      if (outcome.step == Step::CheckRepairFileName) PrintRefusedName(CliErr(), result.stoppedAt, result.nameFault);
      if (outcome.brokenFileChanged) WriteText(CliErr(), CurrentWords().cli.folderRunAgain);
      return kExitStopped;
  }
  return kExitStopped;
}

// The end of a folder command: the JSON object, when asked for, and the exit status.
int FinishFolder(const CliRequest& request, const TreeOutcome& result, int status) {
  status = AfterSignal(status);
  if (request.json) WriteText(CliOut(), (JsonFolderReport(request, result, status) + "\n").c_str());
  return status;
}

// The test file's form, for a file and a folder alike: the plain form up to 1 MiB unless told.
TestFileChoice ChoiceOf(const CliRequest& request) {
  TestFileChoice choice;
  choice.plainUpTo = request.plain ? UINT64_MAX : kPlainTestFileUpTo;
  if (request.budget != nullptr) choice.budget = BudgetBytes(request.budget);
  return choice;
}

int ScanBrokenFolderCommand(const CliRequest& request, const RunPaths& paths) {
  const TreeOutcome result = RunWatched(request, [&](const StreamControl& control) {
    return ScanBrokenFolder(paths.input.c_str(), paths.outputFolder.c_str(), control, ChoiceOf(request));
  });
  if (result.outcome.ending != Ending::Done) {
    return FinishFolder(request, result, ReportFolderUnfinished(request, paths, result));
  }
  if (!request.quiet) {
    Print(Lines(request), CurrentWords().cli.testFileWritten, result.outcome.outputPath.c_str(),
          static_cast<unsigned long long>(result.outcome.outputBytes));
  }
  return FinishFolder(request, result, ReportEntries(request, result, DoneStatus(result.outcome)));
}

int ScanValidFolderCommand(const CliRequest& request, const RunPaths& paths) {
  const TreeOutcome result = RunWatched(request, [&](const StreamControl& control) {
    return ScanValidFolder(paths.input.c_str(), paths.testFile.c_str(), paths.outputFolder.c_str(), control,
                           request.prove);
  });
  if (result.outcome.ending != Ending::Done) {
    return FinishFolder(request, result, ReportFolderUnfinished(request, paths, result));
  }
  if (!request.quiet) {
    Print(Lines(request), CurrentWords().cli.repairFileWritten, result.outcome.outputPath.c_str(),
          static_cast<unsigned long long>(result.outcome.outputBytes));
  }
  return FinishFolder(request, result, ReportEntries(request, result, DoneStatus(result.outcome)));
}

int RepairFolderCommand(const CliRequest& request, const RunPaths& paths) {
  FolderRepairOptions options;
  options.deleteExtra = request.deleteExtra;
  options.followUpFolder = paths.followUpFolder.c_str();
  if (request.budget != nullptr) options.budget = BudgetBytes(request.budget);
  const TreeOutcome result = RunWatched(request, [&](const StreamControl& control) {
    return RepairBrokenFolder(paths.input.c_str(), paths.repairFile.c_str(), options, control);
  });
  if (result.outcome.ending != Ending::Done) {
    return FinishFolder(request, result, ReportFolderUnfinished(request, paths, result));
  }
  if (!request.quiet && !result.outcome.brokenFileChanged) {
    // A run again of a repair that is complete: nothing written, no time set.
    Print(Lines(request), CurrentWords().cli.folderUnchanged, paths.input.c_str());
  } else if (!request.quiet) {
    Print(Lines(request), CurrentWords().cli.folderRepaired, paths.input.c_str(),
          static_cast<unsigned long long>(result.files), static_cast<unsigned long long>(result.folders));
  }
  const int status = ReportEntries(request, result, kExitDone);
  // Files that still differ: the follow-up that brings exactly their blocks, and where it goes.
  if (!result.outcome.followUpPath.empty()) {
    Print(CliErr(), CurrentWords().cli.followUpWritten, result.outcome.followUpPath.c_str(),
          static_cast<unsigned long long>(result.outcome.followUpBytes));
    WriteText(CliErr(), CurrentWords().cli.folderFollowUpNext);
  }
  return FinishFolder(request, result, status);
}

int ScanBroken(const CliRequest& request, const RunPaths& paths) {
  if (paths.folder) return ScanBrokenFolderCommand(request, paths);
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamScanBrokenFile(paths.input.c_str(), paths.outputFolder.c_str(), control, ChoiceOf(request));
  });
  if (result.ending != Ending::Done) return Finish(request, result, ReportUnfinished(request, paths, result));
  if (!request.quiet) {
    Print(Lines(request), CurrentWords().cli.testFileWritten, result.outputPath.c_str(),
          static_cast<unsigned long long>(result.outputBytes));
  }
  return Finish(request, result, DoneStatus(result));
}

int ScanValid(const CliRequest& request, const RunPaths& paths) {
  if (paths.folder) return ScanValidFolderCommand(request, paths);
  // Every checksum agreeing is said as such, with the repair file that proves it (exit 3, as for
  // scripts it always was); --prove asks for nothing more.
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamScanValidFile(paths.input.c_str(), paths.testFile.c_str(), paths.outputFolder.c_str(), control);
  });
  const bool identical = result.ending == Ending::Identical;
  if (result.ending != Ending::Done && !identical) return Finish(request, result, ReportUnfinished(request, paths, result));
  if (!request.quiet) {
    Print(Lines(request), CurrentWords().cli.repairFileWritten, result.outputPath.c_str(),
          static_cast<unsigned long long>(result.outputBytes));
    WriteText(CliErr(), Format(CurrentWords().cli.fingerprintWritten, Hash128Hex(result.fingerprint).c_str()).c_str());
    if (identical) WriteText(CliErr(), CurrentWords().cli.checksumsMatch);
    const double share = DifferingShare(result.blocks.size(), result.validSize, result.recordedSize);
    if (share > kSameVersionShare) PrintShare(CurrentWords().shared.differsMuch, share);
  }
  if ((!request.quiet || request.listOnStdout) && !identical) {
    std::FILE* list = request.listOnStdout ? Lines(request) : CliErr();
    Print(list, CurrentWords().cli.damagedHeading, static_cast<unsigned>(result.blocks.size()));
    for (const uint32_t block : result.blocks) PrintDamagedBlock(list, block, result.validSize);
  }
  const int status = DoneStatus(result);
  return Finish(request, result, identical && status == kExitDone ? kExitIdentical : status);
}

int Repair(const CliRequest& request, const RunPaths& paths) {
  if (paths.folder) {
    if (request.checkFile != nullptr || request.noVerify) {
      const char* option = request.checkFile != nullptr ? "--check" : "--no-verify";
      PrintUsageProblem(Format(CurrentWords().cli.checkForFile, option).c_str());
      return kExitUsage;
    }
    return RepairFolderCommand(request, paths);
  }
  if (request.deleteExtra) {
    PrintUsageProblem(Format(CurrentWords().cli.deleteExtraForFolder, "--delete-extra").c_str());
    return kExitUsage;
  }
  RepairOptions options;
  options.checkFilePath = request.checkFile != nullptr ? paths.testFile.c_str() : nullptr;
  options.verify = !request.noVerify;
  options.followUpFolder = paths.followUpFolder.c_str();
  if (request.budget != nullptr) options.budget = BudgetBytes(request.budget);
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamRepairBrokenFile(paths.input.c_str(), paths.repairFile.c_str(), options, control);
  });
  if (result.ending != Ending::Done) return Finish(request, result, ReportUnfinished(request, paths, result));
  if (!request.quiet) {
    Print(Lines(request), CurrentWords().cli.repaired, paths.input.c_str(), static_cast<unsigned>(result.blocksWritten));
    if (AppliedBefore(result) && !result.brokenFileChanged) {
      WriteText(CliErr(), (CurrentWords().shared.alreadyRepaired + std::string("\n")).c_str());
    }
    const double share = DifferingShare(result.blocksWritten, result.validSize, result.validSize);
    if (share > kSameVersionShare) PrintShare(CurrentWords().shared.replacedShare, share);
    switch (result.verification) {
      case Verification::Verified:
        WriteText(CliErr(), Format(CurrentWords().cli.verified, Hash128Hex(result.fingerprint).c_str()).c_str());
        break;
      case Verification::NoFingerprint: WriteText(CliErr(), CurrentWords().cli.notChecked); break;
      case Verification::Skipped: WriteText(CliErr(), CurrentWords().cli.checkSkipped); break;
      case Verification::Differs: break;
    }
  }
  return Finish(request, result, kExitDone);
}

int Verify(const CliRequest& request, const RunPaths& paths) {
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamVerifyFile(paths.input.c_str(), paths.repairFile.c_str(), control);
  });
  if (result.ending != Ending::Done) return Finish(request, result, ReportUnfinished(request, paths, result));
  if (result.verification == Verification::NoFingerprint) {
    PrintErrorLine(CliErr(), paths.repairFile, CurrentWords().cli.noFingerprint.c_str());
    return Finish(request, result, kExitNoFingerprint);
  }
  if (!request.quiet)
    Print(Lines(request), CurrentWords().cli.fileVerified, paths.input.c_str(), Hash128Hex(result.fingerprint).c_str());
  return Finish(request, result, kExitDone);
}

int RunCommand(int argc, char** argv) {
  CliRequest request;
  std::string problem;
  if (!ParseArguments(argc, argv, &request, &problem)) {
    PrintUsageProblem(problem.c_str());
    if (JsonAsked(argc, argv)) WriteText(CliOut(), (JsonUsageReport(problem, kExitUsage) + "\n").c_str());
    return kExitUsage;
  }
  if (request.commandHelp) {
    PrintCommandHelp(request.command);
    return kExitDone;
  }
  switch (request.command) {
    case Command::Help: PrintHelp(); return kExitDone;
    case Command::Version: WriteText(CliOut(), kVersionLine); return kExitDone;
    case Command::ScanBroken: return ScanBroken(request, PathsOf(request));
    case Command::ScanValid: return ScanValid(request, PathsOf(request));
    case Command::Repair: return Repair(request, PathsOf(request));
    case Command::Verify: return Verify(request, PathsOf(request));
  }
  return kExitUsage;
}

}  // namespace

std::atomic<bool>* CliStopFlag() { return &stopRequested; }

int FinishCli(int status) {
  // What was printed is part of the result: a report that did not arrive is a failure.
  if (!StreamWritten(CliOut())) {
    WriteText(CliErr(), CurrentWords().cli.outputFailed);
    status = kExitStopped;
  }
  if (!StreamWritten(CliErr())) status = kExitStopped;
  return status;
}

int RunCli(int argc, char** argv, std::FILE* out, std::FILE* err) {
  StartCliOutput(out, err);
  stopRequested = false;
  return FinishCli(RunCommand(argc, argv));
}
