#include "ConnectionLoop.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace FB { namespace NativeMessaging {

void prepareStandardStreams() {
    // Text mode would turn every 0x0A of a length field into 0D 0A.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

}} // namespace FB::NativeMessaging
