// The log file users switch on with ORVANTA_LOG: every field of a record on one line, the
// level filter, and start-up and shutdown around the discarding default.

#include "LogFile.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using orv::test::LogCapture;

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("orvanta-log-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".log"))
                    .string();
        std::remove(path_.c_str());
    }
    void TearDown() override {
        FB::Log::stopLogging();
        unsetenv("ORVANTA_LOG");
        unsetenv("ORVANTA_LOG_LEVEL");
        std::remove(path_.c_str());
    }
    std::string contents() const {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string path_;
};

TEST_F(LogFile, ARecordIsOneLineWithEveryField) {
    LogCapture restore;  // puts the previous sink back afterwards
    FB::Log::setSink(FB::Log::makeFileSink(path_, FB::Log::Level::Trace));
    const int line = __LINE__ + 1;
    FBLOG_WARN("Category", "message " << 42 << "\nsecond line");
    const std::string text = contents();
    std::ostringstream expected;
    expected << "WARN [Category] message 42\\nsecond line (" << __FILE__ << ":" << line << " " << __func__ << ")\n";
    ASSERT_GE(text.size(), expected.str().size());
    EXPECT_EQ(text.substr(text.size() - expected.str().size()), expected.str()) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST_F(LogFile, OnlyRecordsAtOrAboveTheLevelAreWritten) {
    struct Case {
        FB::Log::Level minimum;
        bool trace, info, warn;
    };
    const Case cases[] = {
        {FB::Log::Level::Trace, true, true, true},
        {FB::Log::Level::Info, false, true, true},
        {FB::Log::Level::Warn, false, false, true},
    };
    for (const Case& c : cases) {
        std::remove(path_.c_str());
        LogCapture restore;
        FB::Log::setSink(FB::Log::makeFileSink(path_, c.minimum));
        FBLOG_TRACE("L", "trace record");
        FBLOG_INFO("L", "info record");
        FBLOG_WARN("L", "warn record");
        FB::Log::setSink(nullptr);
        const std::string text = contents();
        EXPECT_EQ(text.find("TRACE [L] trace record") != std::string::npos, c.trace) << text;
        EXPECT_EQ(text.find("INFO [L] info record") != std::string::npos, c.info) << text;
        EXPECT_EQ(text.find("WARN [L] warn record") != std::string::npos, c.warn) << text;
    }
}

TEST_F(LogFile, LevelNames) {
    struct Case {
        const char* text;
        bool known;
        FB::Log::Level level;
    };
    const Case cases[] = {
        {"trace", true, FB::Log::Level::Trace}, {"INFO", true, FB::Log::Level::Info},
        {"Warn", true, FB::Log::Level::Warn},   {"warning", true, FB::Log::Level::Warn},
        {"debug", false, FB::Log::Level::Info}, {"", false, FB::Log::Level::Info},
    };
    for (const Case& c : cases) {
        FB::Log::Level level = FB::Log::Level::Info;
        EXPECT_EQ(FB::Log::parseLevel(c.text, level), c.known) << c.text;
        if (c.known) {
            EXPECT_EQ(level, c.level) << c.text;
        }
    }
}

TEST_F(LogFile, StartUpFollowsTheEnvironmentAndShutdownRestoresTheDefault) {
    LogCapture earlier;
    FB::Log::initLogging();  // ORVANTA_LOG unset: the default stays
    FBLOG_WARN("Env", "before");
    EXPECT_EQ(earlier.count(FB::Log::Level::Warn, "Env", "before"), 1);

    setenv("ORVANTA_LOG", path_.c_str(), 1);
    setenv("ORVANTA_LOG_LEVEL", "warn", 1);
    FB::Log::initLogging();
    FB::Log::initLogging();  // a second start-up changes nothing
    FBLOG_INFO("Env", "info while on");
    FBLOG_WARN("Env", "warn while on");
    FB::Log::stopLogging();
    FBLOG_WARN("Env", "after");

    const std::string text = contents();
    EXPECT_EQ(text.find("info while on"), std::string::npos);
    EXPECT_NE(text.find("WARN [Env] warn while on"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(earlier.count(FB::Log::Level::Warn, "Env", "after"), 1);
    EXPECT_EQ(earlier.count(FB::Log::Level::Warn, "Env", "warn while on"), 0);
}

TEST_F(LogFile, AnUnknownLevelIsNamedInTheFileAndInfoIsUsed) {
    setenv("ORVANTA_LOG", path_.c_str(), 1);
    setenv("ORVANTA_LOG_LEVEL", "verbose", 1);
    LogCapture restore;
    FB::Log::initLogging();
    FBLOG_TRACE("Env", "trace");
    FBLOG_INFO("Env", "info");
    FB::Log::stopLogging();
    const std::string text = contents();
    EXPECT_NE(text.find("WARN [Logging] Unknown ORVANTA_LOG_LEVEL \"verbose\"; logging at INFO and above"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("[Env] trace"), std::string::npos);
    EXPECT_NE(text.find("INFO [Env] info"), std::string::npos);
}

TEST_F(LogFile, AFileThatCannotBeOpenedLeavesLoggingAsItWas) {
    setenv("ORVANTA_LOG", "/nonexistent-folder/orvanta.log", 1);
    LogCapture earlier;
    FB::Log::initLogging();
    FBLOG_WARN("Env", "still captured");
    EXPECT_EQ(earlier.count(FB::Log::Level::Warn, "Env", "still captured"), 1);
    EXPECT_FALSE(FB::Log::makeFileSink("/nonexistent-folder/orvanta.log", FB::Log::Level::Trace));
}

} // namespace
