// The program's one state object.
#include "ui/program_state.h"

namespace {
ProgramState StartValues() {
  ProgramState state{};
  state.workMode = WorkMode::BrokenScan;
  state.firstResize = 1;
  return state;
}
}  // namespace

ProgramState program = StartValues();

void ResetProgramState() { program = StartValues(); }
