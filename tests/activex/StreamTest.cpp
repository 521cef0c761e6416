// Downloads through Wine's URL monikers from a loopback HTTP server this test runs: a plain
// download with progress, a seekable stream with two ranges (the Range header checked by
// the server, the multipart answer's parts at their own offsets), a 404, a response
// without a content length, a stream closed before its answer, and the module kept loaded
// while urlmon holds a download's callback.

#include "ActiveXBrowserHost.h"
#include "BrowserStream.h"
#include "PluginWinModule.h"
#include "BrowserStreamEvents.h"
#include "PluginEventSink.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// One connection at a time, each answered by path and closed.
class LoopbackServer {
public:
    LoopbackServer() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, 8);
        int size = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        closesocket(m_listener);
        m_thread.join();
        WSACleanup();
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    // The Range header of the last request for a path ("" when it had none).
    std::string rangeOf(const std::string& path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_ranges.find(path);
        return found == m_ranges.end() ? "<no request>" : found->second;
    }
    static std::string body(size_t size) {
        std::string text(size, '\0');
        for (size_t i = 0; i < size; ++i)
            text[i] = static_cast<char>('a' + i % 26);
        return text;
    }

private:
    void serve() {
        for (;;) {
            SOCKET client = accept(m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                int got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(got));
            }
            answer(client, request);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    void answer(SOCKET client, const std::string& request) {
        const std::string::size_type pathStart = request.find(' ') + 1;
        const std::string path = request.substr(pathStart, request.find(' ', pathStart) - pathStart);
        std::string range;
        std::string::size_type at = request.find("\r\nRange: ");
        if (at != std::string::npos) {
            at += 9;
            range = request.substr(at, request.find("\r\n", at) - at);
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ranges[path] = range;
        }
        const std::string content = body(100000);
        std::string response;
        if (path == "/plain") {
            response = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n"
                       "Content-Length: " + std::to_string(content.size()) + "\r\nConnection: close\r\n\r\n" + content;
        } else if (path == "/ranged" && !range.empty()) {
            const std::string parts = "--SEP\r\nContent-Type: text/plain\r\nContent-Range: bytes 0-99/100000\r\n\r\n" +
                                      content.substr(0, 100) +
                                      "\r\n--SEP\r\nContent-Type: text/plain\r\nContent-Range: bytes 200-299/100000\r\n\r\n" +
                                      content.substr(200, 100) + "\r\n--SEP--\r\n";
            response = "HTTP/1.1 206 Partial Content\r\nContent-Type: multipart/byteranges; boundary=SEP\r\n"
                       "Accept-Ranges: bytes\r\nContent-Length: " + std::to_string(parts.size()) +
                       "\r\nConnection: close\r\n\r\n" + parts;
        } else if (path == "/slow") {
            // Long enough for the plug-in to close the stream before the answer comes.
            Sleep(700);
            response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5000\r\n"
                       "Connection: close\r\n\r\n" + content.substr(0, 5000);
        } else if (path == "/nolength") {
            response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + content.substr(0, 5000);
        } else {
            response = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
                       "Connection: close\r\n\r\nnot found";
        }
        size_t sent = 0;
        while (sent < response.size()) {
            int n = send(client, response.data() + sent, static_cast<int>(response.size() - sent), 0);
            if (n <= 0)
                return;
            sent += static_cast<size_t>(n);
        }
    }

    SOCKET m_listener;
    unsigned short m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_ranges;
};

// What the plug-in hears of one stream.
class Recorder : public FB::PluginEventSink {
public:
    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource*) override {
        if (dynamic_cast<FB::StreamCreatedEvent*>(event))
            events.push_back("created");
        else if (dynamic_cast<FB::StreamOpenedEvent*>(event))
            events.push_back("opened");
        else if (dynamic_cast<FB::StreamFailedOpenEvent*>(event))
            events.push_back("failed");
        else if (auto* done = dynamic_cast<FB::StreamCompletedEvent*>(event)) {
            events.push_back(done->success ? "completed" : "completed-failed");
            finished = true;
        } else if (auto* data = dynamic_cast<FB::StreamDataArrivedEvent*>(event)) {
            received.append(static_cast<const char*>(data->data), data->length);
            chunks.emplace_back(data->dataPosition,
                                std::string(static_cast<const char*>(data->data), data->length));
            progress.push_back(data->progress);
        }
        return false;
    }
    std::vector<std::string> events;
    std::string received;
    std::vector<std::pair<std::uint32_t, std::string>> chunks;  // (offset, bytes)
    std::vector<float> progress;
    bool finished = false;
};

class Streams : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        host = std::make_shared<FB::ActiveX::ActiveXBrowserHost>(nullptr, nullptr);
        recorder = std::make_shared<Recorder>();
    }
    void TearDown() override {
        host->shutdown();
        CoUninitialize();
    }
    // The bindings report through the thread's messages.
    bool pumpUntilFinished(DWORD ms = 20000) {
        const DWORD end = GetTickCount() + ms;
        MSG msg;
        while (!recorder->finished && static_cast<LONG>(end - GetTickCount()) > 0) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(5);
        }
        return recorder->finished;
    }

    LoopbackServer server;
    std::shared_ptr<FB::ActiveX::ActiveXBrowserHost> host;
    std::shared_ptr<Recorder> recorder;
};

TEST_F(Streams, PlainDownloadWithProgress) {
    FB::BrowserStreamPtr stream = host->createStream(server.url("/plain"), recorder, false, false, 1024);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(pumpUntilFinished());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"created", "opened", "completed"}));
    EXPECT_EQ(recorder->received, LoopbackServer::body(100000));
    EXPECT_EQ(stream->getLength(), 100000u);
    EXPECT_EQ(stream->getMimeType(), "application/octet-stream");
    ASSERT_FALSE(recorder->progress.empty());
    EXPECT_FLOAT_EQ(recorder->progress.back(), 100.0f);
    for (size_t i = 1; i < recorder->progress.size(); ++i)
        EXPECT_GE(recorder->progress[i], recorder->progress[i - 1]);
    EXPECT_EQ(server.rangeOf("/plain"), "");
    EXPECT_FALSE(stream->write("x", 1, *std::make_unique<size_t>().get()));
}

TEST_F(Streams, SeekableStreamAsksForTwoRanges) {
    FB::BrowserStreamPtr stream = host->createStream(server.url("/ranged"), recorder, false, true, 1024);
    ASSERT_NE(stream, nullptr);
    // Opened at once, nothing asked for yet.
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"created", "opened"}));
    EXPECT_EQ(server.rangeOf("/ranged"), "<no request>");
    EXPECT_TRUE(stream->readRanges({}));
    ASSERT_TRUE(stream->readRanges({FB::BrowserStream::Range(0, 100), FB::BrowserStream::Range(200, 300)}));
    ASSERT_TRUE(pumpUntilFinished());
    EXPECT_EQ(server.rangeOf("/ranged"), "bytes=0-99,200-299");
    // Every chunk lies inside one of the ranges and holds the resource's bytes there;
    // together they cover both ranges exactly once.
    const std::string content = LoopbackServer::body(100000);
    std::vector<int> covered(300, 0);
    for (const auto& chunk : recorder->chunks) {
        const std::uint32_t start = chunk.first;
        const std::uint32_t end = start + static_cast<std::uint32_t>(chunk.second.size());
        const bool inFirst = end <= 100;
        const bool inSecond = start >= 200 && end <= 300;
        ASSERT_TRUE(inFirst || inSecond) << "bytes " << start << "-" << end << " delivered: "
                                         << chunk.second.substr(0, 40);
        EXPECT_EQ(chunk.second, content.substr(start, end - start)) << "at offset " << start;
        for (std::uint32_t i = start; i < end; ++i)
            ++covered[i];
    }
    for (size_t i = 0; i < covered.size(); ++i)
        ASSERT_EQ(covered[i], (i < 100 || i >= 200) ? 1 : 0) << "byte " << i;
    EXPECT_EQ(recorder->events.back(), "completed");
}

// Closed by the plug-in before the server answered: the download is stopped, the stream
// never opens and no byte of the answer reaches the plug-in.
TEST_F(Streams, ClosedBeforeTheAnswerDeliversNothing) {
    FB::BrowserStreamPtr stream = host->createStream(server.url("/slow"), recorder, false, false, 1024);
    ASSERT_NE(stream, nullptr);
    stream->close();
    pumpUntilFinished(4000);
    EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "opened"), 0);
    EXPECT_TRUE(recorder->chunks.empty()) << recorder->chunks.size() << " chunks after close";
    EXPECT_FALSE(stream->isOpen());
}

// urlmon holds the bind-status callback for the whole download, so the download keeps the
// module loaded (DllCanUnloadNow reads this count) and lets go of it once it is over.
TEST_F(Streams, DownloadKeepsTheModuleLoadedWhileItRuns) {
    const LONG before = FB::ActiveX::pluginWinModule().getLockCount();
    FB::BrowserStreamPtr stream = host->createStream(server.url("/plain"), recorder, false, false, 1024);
    ASSERT_NE(stream, nullptr);
    EXPECT_GT(FB::ActiveX::pluginWinModule().getLockCount(), before);
    ASSERT_TRUE(pumpUntilFinished());
    stream.reset();
    const DWORD end = GetTickCount() + 3000;
    MSG msg;
    while (FB::ActiveX::pluginWinModule().getLockCount() != before && static_cast<LONG>(end - GetTickCount()) > 0) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    EXPECT_EQ(FB::ActiveX::pluginWinModule().getLockCount(), before);
}

TEST_F(Streams, NotFoundFailsToOpen) {
    FB::BrowserStreamPtr stream = host->createStream(server.url("/missing"), recorder, false, false, 1024);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(pumpUntilFinished());
    EXPECT_EQ(recorder->events.front(), "created");
    EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "failed"), 1);
    EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "opened"), 0);
    EXPECT_EQ(recorder->events.back(), "completed-failed");
}

TEST_F(Streams, WithoutContentLengthProgressIsZero) {
    FB::BrowserStreamPtr stream = host->createStream(server.url("/nolength"), recorder, false, false, 1024);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(pumpUntilFinished());
    EXPECT_EQ(recorder->received, LoopbackServer::body(5000));
    ASSERT_FALSE(recorder->progress.empty());
    for (float p : recorder->progress)
        EXPECT_EQ(p, 0.0f);
    EXPECT_EQ(recorder->events.back(), "completed");
}

TEST_F(Streams, UnusableUrlsOpenNoStream) {
    EXPECT_EQ(host->createStream("", recorder, false, false, 1024), nullptr);
    EXPECT_EQ(host->createStream("not a url at all", recorder, false, false, 1024), nullptr);
}

} // namespace
