// The commands of varnell-cli, on the streaming operations: output names, formats, checks
// and messages are the dialog's, for files of any size. What each command reports comes
// from what the operation returned: lines for a person, and with --json one object on stdout
// for a script, the lines then all on stderr.
#include "cli/commands.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/json_report.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "cli/texts.h"
#include "platform/platform.h"
#include "stream/operations.h"

namespace {

// A path operand as the engine expects it. The engine knows only the platform's separator,
// so on Windows '/' becomes a backslash (the system takes both). The output name is cut from
// the source path after its last separator, as the dialog's full paths always have one; a
// bare name in the current folder ("movie.avi") gets "." and a separator in front, naming the
// same file and giving the same output name as its full path would.
std::string EnginePath(const char* operand, bool isSource) {
  std::string path(operand);
  for (char& c : path) {
    if (c == '/') c = kPathSeparator;
  }
  if (isSource && path.find(kPathSeparator) == std::string::npos) path = std::string(".") + kPathSeparator + path;
  return path;
}

// Where the lines go that name what was done: stdout, unless it carries the JSON object.
std::FILE* Lines(const CliRequest& request) { return request.json ? CliErr() : CliOut(); }

// The end of a command: the JSON object, when asked for, and the exit status.
int Finish(const CliRequest& request, const Outcome& result, int status) {
  if (request.json) WriteUtf8(CliOut(), (JsonReport(request, result, status) + "\n").c_str());
  return status;
}

// A repaired file that still differs: where, why, and the follow-up that leads on.
int ReportDiffering(const Outcome& result) {
  PrintDiffering(CliErr(), result);
  if (!result.followUpPath.empty()) {
    Print(CliErr(), cli_text::kFollowUpWritten, result.followUpPath.c_str(),
          static_cast<unsigned long long>(result.followUpBytes));
    WriteText(CliErr(), cli_text::kFollowUpNext);
  }
  return kExitDiffers;
}

// Says why the operation did not finish, and gives the exit status for it.
int ReportUnfinished(const Outcome& result) {
  switch (result.ending) {
    case Ending::Done: return kExitDone;
    case Ending::Differs: return ReportDiffering(result);
    case Ending::Identical:
      PrintStop(CliErr(), result);
      return kExitIdentical;
    case Ending::CheckRefused:
      if (result.check.finding == CheckFinding::None) {
        PrintStop(CliErr(), result);
      } else {
        PrintCheckRefusal(CliErr(), result.check);
      }
      WriteText(CliErr(), cli_text::kNothingWritten);
      return kExitCheckRefused;
    case Ending::Cancelled:
      WriteText(CliErr(), cli_text::kCancelled);
      if (result.brokenFileChanged) WriteText(CliErr(), cli_text::kRunAgain);
      return kExitStopped;
    case Ending::Stopped:
      PrintStop(CliErr(), result);
      // The blocks are all in place when only the follow-up could not be written.
      if (result.verification == Verification::Differs) {
        PrintDiffering(CliErr(), result);
      } else if (result.brokenFileChanged) {
        WriteText(CliErr(), cli_text::kRunAgain);
      }
      return kExitStopped;
  }
  return kExitStopped;
}

// Runs an operation with the progress line where it belongs and Ctrl-C turned into a stop.
std::atomic<bool> stopRequested{false};

template <typename Operation>
Outcome RunWatched(const CliRequest& request, Operation operation) {
  StreamControl control;
  control.stop = &stopRequested;
  ProgressLine line(CliErr(), !request.quiet && IsTerminal(CliErr()));
  line.Attach(&control);
  Outcome result = operation(control);
  line.Erase();
  return result;
}

int ScanBroken(const CliRequest& request) {
  const std::string broken = EnginePath(request.paths[0], true);
  const std::string outputFolder = EnginePath(request.paths[1], false);
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamScanBrokenFile(broken.c_str(), outputFolder.c_str(), control);
  });
  if (result.ending != Ending::Done) return Finish(request, result, ReportUnfinished(result));
  if (!request.quiet) {
    Print(Lines(request), cli_text::kTestFileWritten, result.outputPath.c_str(),
          static_cast<unsigned long long>(result.outputBytes));
  }
  return Finish(request, result, kExitDone);
}

int ScanValid(const CliRequest& request) {
  const std::string valid = EnginePath(request.paths[0], true);
  const std::string testFile = EnginePath(request.paths[1], false);
  const std::string outputFolder = EnginePath(request.paths[2], false);
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamScanValidFile(valid.c_str(), testFile.c_str(), outputFolder.c_str(), control, request.prove);
  });
  if (result.ending != Ending::Done) return Finish(request, result, ReportUnfinished(result));
  if (!request.quiet) {
    Print(Lines(request), cli_text::kRepairFileWritten, result.outputPath.c_str(),
          static_cast<unsigned long long>(result.outputBytes));
    WriteText(CliErr(), Format(cli_text::kFingerprintWritten, Hash128Hex(result.fingerprint).c_str()).c_str());
  }
  if (!request.quiet || request.listOnStdout) {
    std::FILE* list = request.listOnStdout ? Lines(request) : CliErr();
    Print(list, cli_text::kDamagedHeading, static_cast<unsigned>(result.blocks.size()));
    for (const uint32_t block : result.blocks) PrintDamagedBlock(list, block, result.validSize);
  }
  return Finish(request, result, kExitDone);
}

int Repair(const CliRequest& request) {
  // The broken file names the follow-up too, so the engine gets it as a source path; the line
  // that reports the repair names it as given.
  const std::string broken = EnginePath(request.paths[0], false);
  const std::string source = EnginePath(request.paths[0], true);
  const std::string repairFile = EnginePath(request.paths[1], false);
  const std::string checkFile = request.checkFile != nullptr ? EnginePath(request.checkFile, false) : "";
  const std::string folder = request.followUpFolder != nullptr ? EnginePath(request.followUpFolder, false) : "";
  RepairOptions options;
  options.checkFilePath = request.checkFile != nullptr ? checkFile.c_str() : nullptr;
  options.verify = !request.noVerify;
  options.followUpFolder = request.followUpFolder != nullptr ? folder.c_str() : nullptr;
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamRepairBrokenFile(source.c_str(), repairFile.c_str(), options, control);
  });
  if (result.ending != Ending::Done) return Finish(request, result, ReportUnfinished(result));
  if (!request.quiet) {
    Print(Lines(request), cli_text::kRepaired, broken.c_str(), static_cast<unsigned>(result.blocks.size()));
    switch (result.verification) {
      case Verification::Verified:
        WriteText(CliErr(), Format(cli_text::kVerified, Hash128Hex(result.fingerprint).c_str()).c_str());
        break;
      case Verification::NoFingerprint: WriteText(CliErr(), cli_text::kNotChecked); break;
      case Verification::Skipped: WriteText(CliErr(), cli_text::kCheckSkipped); break;
      case Verification::Differs: break;
    }
  }
  return Finish(request, result, kExitDone);
}

int Verify(const CliRequest& request) {
  const std::string file = EnginePath(request.paths[0], false);
  const std::string repairFile = EnginePath(request.paths[1], false);
  const Outcome result = RunWatched(request, [&](const StreamControl& control) {
    return StreamVerifyFile(file.c_str(), repairFile.c_str(), control);
  });
  if (result.ending != Ending::Done) return Finish(request, result, ReportUnfinished(result));
  if (result.verification == Verification::NoFingerprint) {
    WriteText(CliErr(), cli_text::kNoFingerprint);
    return Finish(request, result, kExitNoFingerprint);
  }
  if (!request.quiet) Print(Lines(request), cli_text::kFileVerified, file.c_str(), Hash128Hex(result.fingerprint).c_str());
  return Finish(request, result, kExitDone);
}

int RunCommand(int argc, char** argv) {
  CliRequest request;
  std::string problem;
  if (!ParseArguments(argc, argv, &request, &problem)) {
    PrintUsageProblem(problem.c_str());
    if (JsonAsked(argc, argv)) WriteUtf8(CliOut(), (JsonUsageReport(problem, kExitUsage) + "\n").c_str());
    return kExitUsage;
  }
  switch (request.command) {
    case Command::Help: PrintHelp(); return kExitDone;
    case Command::Version: WriteText(CliOut(), cli_text::kVersion); return kExitDone;
    case Command::ScanBroken: return ScanBroken(request);
    case Command::ScanValid: return ScanValid(request);
    case Command::Repair: return Repair(request);
    case Command::Verify: return Verify(request);
  }
  return kExitUsage;
}

}  // namespace

std::atomic<bool>* CliStopFlag() { return &stopRequested; }

int FinishCli(int status) {
  // What was printed is part of the result: a report that did not arrive is a failure.
  if (!StreamWritten(CliOut())) {
    WriteText(CliErr(), cli_text::kOutputFailed);
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
