// The native messaging framing on its own: what a stream of frames from the browser reads
// as, and what the host may send back.

#include "NativeMessageFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace FB::NativeMessaging;

std::string frame(const std::string& body) { return frameLength(static_cast<std::uint32_t>(body.size())) + body; }

struct Read {
    ReadResult result;
    std::string message;
};

std::vector<Read> readAll(const std::string& input) {
    std::istringstream in(input);
    std::vector<Read> reads;
    for (;;) {
        Read r;
        r.result = readFrame(in, r.message);
        reads.push_back(r);
        if (r.result == ReadResult::End || r.result == ReadResult::Truncated)
            return reads;
    }
}

struct Case {
    const char* name;
    std::string input;
    std::vector<ReadResult> results;
    std::vector<std::string> messages;  // of the Message results, in order
};

class FrameReading : public ::testing::TestWithParam<Case> {};

TEST_P(FrameReading, ReadsAsExpected) {
    const Case& c = GetParam();
    const std::vector<Read> reads = readAll(c.input);
    std::vector<ReadResult> results;
    std::vector<std::string> messages;
    for (const Read& r : reads) {
        results.push_back(r.result);
        if (r.result == ReadResult::Message)
            messages.push_back(r.message);
        else
            EXPECT_TRUE(r.message.empty());
    }
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(messages, c.messages);
}

const std::string kOneMegabyte(kMaxMessageFromBrowser, 'x');
const std::string kOverLimit(kMaxMessageFromBrowser + 1, 'y');

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameReading,
    ::testing::Values(
        Case{"Nothing", "", {ReadResult::End}, {}},
        Case{"TwoMessages", frame("{\"a\":1}") + frame("[]"),
             {ReadResult::Message, ReadResult::Message, ReadResult::End}, {"{\"a\":1}", "[]"}},
        Case{"EmptyMessage", frame("") + frame("1"),
             {ReadResult::Message, ReadResult::Message, ReadResult::End}, {"", "1"}},
        Case{"ExactlyTheBound", frame(kOneMegabyte), {ReadResult::Message, ReadResult::End}, {kOneMegabyte}},
        // Skipped whole: the next message is read where it starts.
        Case{"OverTheBound", frame(kOverLimit) + frame("next"),
             {ReadResult::TooLong, ReadResult::Message, ReadResult::End}, {"next"}},
        Case{"HugeLengthWithoutItsBytes", frameLength(0xFFFFFFFFu) + "abc", {ReadResult::Truncated}, {}},
        Case{"HalfALength", std::string("\x05\x00", 2), {ReadResult::Truncated}, {}},
        Case{"ShortMessage", frameLength(10) + "12345", {ReadResult::Truncated}, {}},
        Case{"ShortAfterAGoodOne", frame("ok") + frameLength(3) + "a",
             {ReadResult::Message, ReadResult::Truncated}, {"ok"}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(FrameLength, IsTheMachinesOwnByteOrder) {
    const std::uint32_t value = 0x01020304;
    const std::string field = frameLength(value);
    ASSERT_EQ(field.size(), 4u);
    EXPECT_EQ(0, std::memcmp(field.data(), &value, 4));
}

TEST(FrameWriting, WritesLengthAndBytesUpToOneMegabyte) {
    for (const std::string& body : {std::string(), std::string("{\"id\":1}"), std::string(kMaxMessageToBrowser, 'z')}) {
        std::ostringstream out;
        ASSERT_TRUE(writeFrame(out, body));
        EXPECT_EQ(out.str(), frame(body));
    }
}

TEST(FrameWriting, RefusesMoreThanTheBrowserTakesAndWritesNothing) {
    std::ostringstream out;
    EXPECT_FALSE(writeFrame(out, std::string(kMaxMessageToBrowser + 1, 'z')));
    EXPECT_TRUE(out.str().empty());
}

TEST(FrameWriting, AFailingStreamIsReported) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(writeFrame(out, "{}"));
}

} // namespace
