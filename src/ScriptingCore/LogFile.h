#pragma once
// The log back end users can switch on. Records are discarded unless the environment
// variable ORVANTA_LOG names a file: then every record at or above ORVANTA_LOG_LEVEL
// ("trace", "info" or "warn"; "info" when unset) is appended to that file, one line each:
// time, severity, category, message, source, line and function.
//
// Callers never pass secrets (PINs, private keys, nonces) to the log; the sink cannot tell.

#include "logging.h"

#include <string>

namespace FB { namespace Log {

// The logging start-up: installs the file sink when ORVANTA_LOG is set and it is not
// installed yet. Cheap to call again.
void initLogging();
// The logging shutdown: removes the file sink (if it is the installed one) and closes the file.
void stopLogging();

// A sink appending the records at or above `minimum` to `path`; an empty sink when the
// file cannot be opened.
Sink makeFileSink(const std::string& path, Level minimum);
// "trace", "info", "warn" or "warning" in any letter case.
bool parseLevel(const std::string& text, Level& level);
const char* levelName(Level level);

}} // namespace FB::Log
