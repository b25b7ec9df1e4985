// The one way failed platform calls reach the user.
#include "ui/report_system_error.h"

void ReportSystemError(WindowHandle owner, const char* message, uint32_t code) {
  // Some codes have no text; the box then still names the step that failed.
  char* text = DescribeSystemError(code);
  ShowMessageBox(owner, text != nullptr ? text : "", message, kBoxIconError);
  if (text != nullptr) FreeSystemErrorText(text);
}
