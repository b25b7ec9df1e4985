// Starting a process with redirected output: fork and exec on POSIX, CreateProcessW on
// Windows (under Wine as well), with the arguments, UTF-8 here, in UTF-16 as a shell passes them.
#include "tests/cli/run_process.h"

#ifdef _WIN32

#include <windows.h>

#include "platform/win32/wide.h"

namespace {

// The program path as Windows takes it: a POSIX path from the build is on Wine's drive Z:.
std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string converted = "Z:" + path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

HANDLE Inheritable(const std::string& path) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
  return CreateFileW(Wide(path.c_str()).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int RunProcess(const ProcessRun& run) {
  const std::wstring program = Wide(WindowsPath(run.program).c_str());
  // Every argument quoted; none of the tests' arguments holds a quote or ends in '\'.
  std::wstring commandLine = L"\"" + program + L"\"";
  for (const std::string& argument : run.arguments) commandLine += L" \"" + Wide(argument.c_str()) + L"\"";
  HANDLE out = Inheritable(run.outFile);
  HANDLE err = Inheritable(run.errFile);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring folder = Wide(run.workingFolder.c_str());
  const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      run.workingFolder.empty() ? nullptr : folder.c_str(), &startup, &process);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

#else

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

long StartProcess(const ProcessRun& run) {
  std::vector<char*> argv{const_cast<char*>(run.program.c_str())};
  for (const std::string& argument : run.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int out = open(run.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(run.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    if (!run.workingFolder.empty() && chdir(run.workingFolder.c_str()) != 0) _exit(127);
    for (const std::string& setting : run.environment) putenv(const_cast<char*>(setting.c_str()));
    execv(run.program.c_str(), argv.data());
    _exit(127);
  }
  return child;
}

int WaitForProcess(long process, int* signal) {
  int status = 0;
  if (process < 0 || waitpid(static_cast<pid_t>(process), &status, 0) != process) return -1;
  if (signal != nullptr) *signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunProcess(const ProcessRun& run) { return WaitForProcess(StartProcess(run)); }

int RunOnTerminal(const ProcessRun& run, std::string* terminalText) {
  int terminal = -1;
  int side = -1;
  if (openpty(&terminal, &side, nullptr, nullptr, nullptr) != 0) return -1;
  std::vector<char*> argv{const_cast<char*>(run.program.c_str())};
  for (const std::string& argument : run.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    close(terminal);
    const int out = open(run.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(side, 2) < 0) _exit(127);
    for (const std::string& setting : run.environment) putenv(const_cast<char*>(setting.c_str()));
    execv(run.program.c_str(), argv.data());
    _exit(127);
  }
  close(side);
  // Read until the child's side is closed (EIO on Linux once the last holder exits).
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(terminal, chunk, sizeof chunk);
    if (got > 0) {
      terminalText->append(chunk, static_cast<size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  close(terminal);
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

#endif
