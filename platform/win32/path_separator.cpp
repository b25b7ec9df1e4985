// Windows paths separate their components with a backslash.
#include "platform/platform.h"

const char kPathSeparator = '\\';
