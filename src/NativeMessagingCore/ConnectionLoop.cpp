#include "ConnectionLoop.h"

#include "NativeMessageFrame.h"

#include <string>

namespace FB { namespace NativeMessaging {

int serveConnection(std::istream& in, std::ostream& out, RequestDispatcher& dispatcher,
                    std::ostream& diagnostics, const std::function<void()>& idle) {
    std::string message;
    for (;;) {
        std::string answer;
        switch (readFrame(in, message)) {
        case ReadResult::End:
            return 0;
        case ReadResult::Truncated:
            diagnostics << "orvanta-host: the input ended inside a message" << std::endl;
            return 1;
        case ReadResult::TooLong:
            answer = RequestDispatcher::refusal("The message is longer than the " +
                                                std::to_string(kMaxMessageFromBrowser) +
                                                " bytes the host accepts");
            break;
        case ReadResult::Message:
            answer = dispatcher.handle(message);
            break;
        }
        if (!writeFrame(out, answer)) {
            diagnostics << "orvanta-host: the answer could not be written" << std::endl;
            return 1;
        }
        if (idle)
            idle();
    }
}

}} // namespace FB::NativeMessaging
