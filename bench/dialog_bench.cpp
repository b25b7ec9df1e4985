// The dialog's three steps on one pair of big files, timed beside varnell-cli.exe's, under Wine:
// the real dialog runs in this process, driven as a user drives it, and each step is timed
// from the click on Start to the end of its work. Prints key=value lines: each step's seconds,
// the same for varnell-cli.exe (a process each, its start included), and the ledger's peak of
// the memory the program itself committed (the runner watches the whole process from outside).
//
//   dialog_bench VALID BROKEN CLI_BROKEN DIALOG_OUT CLI_OUT     paths as Windows sees them (Z:\...)
//
// The broken file is repaired in place, so the dialog and varnell-cli get a copy each, of the
// same name in folders of their own; DIALOG_OUT and CLI_OUT are empty folders.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/ledger.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "ui/background_work.h"
#include "ui/control_ids.h"

namespace {

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "dialog_bench: %s\n", what.c_str());
  std::exit(1);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One mode with these fields, from Start to the end of its work; the box that follows is the
// completion, or the run measures nothing.
double RunMode(HWND dialog, gui::BoxCatcher& catcher, int radio, std::initializer_list<std::pair<int, std::string>> fields) {
  gui::Click(GetDlgItem(dialog, radio));
  for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) gui::SetTextOf(GetDlgItem(dialog, id), "");
  for (const auto& [id, text] : fields) gui::SetTextOf(GetDlgItem(dialog, id), text);
  const size_t boxes = catcher.boxes().size();
  const auto start = std::chrono::steady_clock::now();
  gui::Click(GetDlgItem(dialog, IDC_START));
  if (!gui::PumpUntil([] { return !BackgroundWorkRunning(); }, 3600 * 1000)) Die("the work did not end");
  const double seconds = Since(start);
  gui::PumpUntil([&] { return catcher.boxes().size() > boxes; }, 10000);
  if (catcher.boxes().size() != boxes + 1) Die("no box after the work");
  if (catcher.boxes().back().icon != gui::BoxIcon::None) Die("the work failed: " + catcher.boxes().back().text);
  return seconds;
}

double RunCli(const std::string& arguments) {
  char module[MAX_PATH];
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  std::string cli = module;
  cli = cli.substr(0, cli.find_last_of('\\')) + "\\..\\cli\\varnell-cli.exe";
  std::string command = "\"" + cli + "\" " + arguments + " --quiet";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    Die("cannot start " + cli);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  const double seconds = Since(start);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (status != 0) Die("varnell-cli.exe " + arguments + " ended with " + std::to_string(status));
  return seconds;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string Stem(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('\\') + 1);
  return name.substr(0, name.rfind('.'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) Die("usage: dialog_bench VALID BROKEN CLI_BROKEN DIALOG_OUT CLI_OUT");
  const std::string valid = argv[1], broken = argv[2], cliBroken = argv[3], dialogOut = argv[4], cliOut = argv[5];
  const std::string testFile = dialogOut + "\\" + Stem(broken) + ".crc";
  const std::string repairFile = dialogOut + "\\" + Stem(valid) + ".fix";

  gui::BoxCatcher catcher;
  const HWND dialog = gui::OpenMainDialog();
  if (dialog == nullptr) Die("no dialog");
  catcher.Ignore(dialog);
  ResetLedger();
  const double scanBroken = RunMode(dialog, catcher, IDC_MODE_BROKEN_SCAN, {{IDC_BROKEN_FILE, broken}, {IDC_OUTPUT_FOLDER, dialogOut}});
  const double scanValid = RunMode(dialog, catcher, IDC_MODE_VALID_SCAN,
                                   {{IDC_VALID_FILE, valid}, {IDC_TEST_FILE, testFile}, {IDC_OUTPUT_FOLDER, dialogOut}});
  const double repair = RunMode(dialog, catcher, IDC_MODE_REPAIR, {{IDC_REPAIR_BROKEN_FILE, broken}, {IDC_REPAIR_FILE, repairFile}});
  const uint64_t committed = PeakCommittedBytes();
  gui::CloseMainDialog(dialog);

  const double cliScanBroken = RunCli("scan-broken " + Quoted(cliBroken) + " " + Quoted(cliOut));
  const std::string cliTest = cliOut + "\\" + Stem(broken) + ".crc";
  const double cliScanValid = RunCli("scan-valid " + Quoted(valid) + " " + Quoted(cliTest) + " " + Quoted(cliOut));
  const double cliRepair = RunCli("repair " + Quoted(cliBroken) + " " + Quoted(cliOut + "\\" + Stem(valid) + ".fix"));

  std::printf("dialog_scan_broken_s=%.3f\ndialog_scan_valid_s=%.3f\ndialog_repair_s=%.3f\n", scanBroken, scanValid, repair);
  std::printf("cli_scan_broken_s=%.3f\ncli_scan_valid_s=%.3f\ncli_repair_s=%.3f\n", cliScanBroken, cliScanValid, cliRepair);
  std::printf("dialog_committed_peak_bytes=%llu\n", static_cast<unsigned long long>(committed));
  return 0;
}
