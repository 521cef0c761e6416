#pragma once
// One connection from the browser, served to its end: read a message, answer it, again,
// until the browser closes the port.

#include "RequestDispatcher.h"

#include <cstdio>
#include <functional>
#include <istream>
#include <ostream>
#include <streambuf>

namespace FB { namespace NativeMessaging {

// Returns the process's exit status: 0 when the browser closed the port between two
// messages; 1 when the input broke off inside a message or an answer could not be written
// (the browser is gone). `idle` runs after every answer (the host's queued calls).
// What went wrong is written to `diagnostics` (the browser's log).
int serveConnection(std::istream& in, std::ostream& out, RequestDispatcher& dispatcher,
                    std::ostream& diagnostics, const std::function<void()>& idle = {});

// Standard input and output as the protocol needs them: binary on Windows; on Linux a
// write to a closed port fails instead of ending the process, so the module is still
// released on the way out. Standard output is kept for the protocol alone: what anything
// else in the process writes there from now on (a vendor module's own output, say) goes to
// standard error, which the browser logs, instead of breaking a message. Returns the
// protocol's output.
std::FILE* prepareStandardStreams();

// An output stream buffer over a C stream (the protocol's output).
class FileOutputBuffer : public std::streambuf {
public:
    explicit FileOutputBuffer(std::FILE* file) : m_file(file) {}

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;

private:
    std::FILE* m_file;
};

}} // namespace FB::NativeMessaging
