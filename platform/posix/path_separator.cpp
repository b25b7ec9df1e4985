// POSIX paths separate their components with a slash.
#include "platform/platform.h"

const char kPathSeparator = '/';
