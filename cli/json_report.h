// The one JSON object varnell-cli prints on stdout with --json: what happened, for scripts and
// backup tools. Every text in it is UTF-8, paths included. The fields are described in the
// manual page.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "core/outcome.h"
#include "tree/outcome.h"

// status: the exit status the run ends with.
std::string JsonReport(const CliRequest& request, const Outcome& outcome, int status);
// The same for a folder: the operation as a whole and, in entries, what happened to each entry
// worth telling.
std::string JsonFolderReport(const CliRequest& request, const TreeOutcome& result, int status);
// A command line that was refused (exit status 2).
std::string JsonUsageReport(const std::string& problem, int status);
