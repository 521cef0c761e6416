#pragma once
// One connection from the browser, served to its end: read a message, answer it, again,
// until the browser closes the port.

#include "RequestDispatcher.h"

#include <functional>
#include <istream>
#include <ostream>

namespace FB { namespace NativeMessaging {

// Returns the process's exit status: 0 when the browser closed the port between two
// messages; 1 when the input broke off inside a message or an answer could not be written
// (the browser is gone). `idle` runs after every answer (the host's queued calls).
// What went wrong is written to `diagnostics` (the browser's log).
int serveConnection(std::istream& in, std::ostream& out, RequestDispatcher& dispatcher,
                    std::ostream& diagnostics, const std::function<void()>& idle = {});

// Standard input and output as the protocol needs them: binary on Windows; on Linux a
// write to a closed port fails instead of ending the process, so the module is still
// released on the way out.
void prepareStandardStreams();

}} // namespace FB::NativeMessaging
