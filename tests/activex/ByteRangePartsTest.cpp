// A multipart/byteranges body taken apart in chunks of every size: each part's bytes come
// out at the offset its Content-Range names, and nothing of the boundaries or the part
// headers is ever handed on as content.

#include "ByteRangeParts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

using FB::ActiveX::ByteRangeParts;

std::string resource(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + i % 26);
    return text;
}

// What came out, as (offset -> bytes) after joining pieces that continue each other.
std::map<std::size_t, std::string> takeApart(const std::string& boundary, const std::string& body,
                                             std::size_t chunk, bool* finished = nullptr,
                                             std::size_t* dropped = nullptr) {
    ByteRangeParts parts(boundary);
    std::map<std::size_t, std::string> out;
    std::size_t nextOffset = static_cast<std::size_t>(-1);
    std::size_t runStart = 0;
    auto sink = [&](const char* data, std::size_t length, std::size_t offset) {
        if (offset != nextOffset)
            runStart = offset;
        out[runStart].append(data, length);
        nextOffset = offset + length;
    };
    for (std::size_t at = 0; at < body.size(); at += chunk)
        parts.feed(body.data() + at, std::min(chunk, body.size() - at), sink);
    if (finished)
        *finished = parts.finished();
    if (dropped)
        *dropped = parts.dropped();
    return out;
}

TEST(ByteRangeParts, PartsArriveAtTheirOwnOffsetsWhateverTheChunks) {
    const std::string content = resource(1000);
    // Content that itself holds a CR LF and dashes, and a part header in another case.
    std::string tricky = content.substr(500, 40);
    tricky[10] = '\r';
    tricky[11] = '\n';
    tricky[12] = '-';
    tricky[13] = '-';
    const std::string body = "preamble to ignore\r\n"
                             "--SEP\r\nContent-Type: text/plain\r\nContent-Range: bytes 0-99/1000\r\n\r\n" +
                             content.substr(0, 100) +
                             "\r\n--SEP\r\ncontent-range:bytes 200-299/1000\r\n\r\n" + content.substr(200, 100) +
                             "\r\n--SEP\r\nContent-Range: bytes 500-539/1000\r\n\r\n" + tricky +
                             "\r\n--SEP--\r\nepilogue";
    for (std::size_t chunk : {static_cast<std::size_t>(1), static_cast<std::size_t>(2), static_cast<std::size_t>(7),
                              static_cast<std::size_t>(64), body.size()}) {
        SCOPED_TRACE(chunk);
        bool finished = false;
        const auto out = takeApart("SEP", body, chunk, &finished);
        EXPECT_EQ(out, (std::map<std::size_t, std::string>{
                           {0, content.substr(0, 100)}, {200, content.substr(200, 100)}, {500, tricky}}));
        EXPECT_TRUE(finished);
    }
}

TEST(ByteRangeParts, PartWithoutARangeIsDroppedNotPlacedAtZero) {
    const std::string body = "--b\r\nContent-Type: text/plain\r\n\r\nstray\r\n--b\r\n"
                             "Content-Range: bytes 10-12/20\r\n\r\nxyz\r\n--b--\r\n";
    std::size_t dropped = 0;
    const auto out = takeApart("b", body, 3, nullptr, &dropped);
    EXPECT_EQ(out, (std::map<std::size_t, std::string>{{10, "xyz"}}));
    EXPECT_EQ(dropped, 5u);
}

TEST(ByteRangeParts, BoundaryIsReadFromTheContentType) {
    struct Case {
        const char* type;
        const char* boundary;
    };
    for (const Case& c : {Case{"multipart/byteranges; boundary=SEP", "SEP"},
                          Case{"Multipart/ByteRanges;boundary=\"a b:c\"", "a b:c"},
                          Case{"multipart/byteranges; boundary=3d6b6a416f9b5; charset=x", "3d6b6a416f9b5"},
                          Case{"multipart/byteranges", ""}, Case{"text/plain; boundary=SEP", ""},
                          Case{"multipart/mixed; boundary=SEP", ""}, Case{"", ""}}) {
        EXPECT_EQ(ByteRangeParts::boundaryOf(c.type), c.boundary) << c.type;
    }
}

} // namespace
