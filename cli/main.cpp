// varnell-cli: the command-line companion of the dialog, on the same engine.
#include <clocale>
#include <cstdio>

#include "cli/commands.h"

int main(int argc, char** argv) {
  // The system's texts in the user's language, as the dialog gets them on Windows.
  std::setlocale(LC_ALL, "");
  return RunCli(argc, argv, stdout, stderr);
}
