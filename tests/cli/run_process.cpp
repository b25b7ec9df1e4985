// Starting a process with redirected output: fork and exec on POSIX, CreateProcessA on
// Windows (under Wine as well).
#include "tests/cli/run_process.h"

#ifdef _WIN32

#include <windows.h>

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
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

}  // namespace

int RunProcess(const ProcessRun& run) {
  const std::string program = WindowsPath(run.program);
  // Every argument quoted; none of the tests' arguments holds a quote or ends in '\'.
  std::string commandLine = "\"" + program + "\"";
  for (const std::string& argument : run.arguments) commandLine += " \"" + argument + "\"";
  HANDLE out = Inheritable(run.outFile);
  HANDLE err = Inheritable(run.errFile);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      run.workingFolder.empty() ? nullptr : run.workingFolder.c_str(), &startup,
                                      &process);
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
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

int RunProcess(const ProcessRun& run) {
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
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

#endif
