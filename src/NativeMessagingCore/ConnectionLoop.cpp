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

FileOutputBuffer::int_type FileOutputBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    return std::fputc(c, m_file) == EOF ? traits_type::eof() : c;
}

std::streamsize FileOutputBuffer::xsputn(const char* data, std::streamsize count) {
    return static_cast<std::streamsize>(std::fwrite(data, 1, static_cast<std::size_t>(count), m_file));
}

int FileOutputBuffer::sync() {
    return std::fflush(m_file) == 0 ? 0 : -1;
}

}} // namespace FB::NativeMessaging
