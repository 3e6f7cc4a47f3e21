// The platform log: pieces assembled into lines, the minimum level, the file sink, the capture and the ring.
#include "log/sim_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qvlog.h"

namespace {

using sim::log::Record;

constexpr int kDhcpftr = 153;
constexpr int kOther = 7;
const unsigned char kServer[4] = {10, 1, 2, 3};

class Log : public ::testing::Test {
protected:
    void SetUp() override {
        sim::log::reset();
        sim::log::enable_capture(true);
    }
    void TearDown() override {
        sim::log::reset();
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    // A file name of this test's own in the test's temporary directory.
    const std::string &path() {
        path_ = ::testing::TempDir() + "log_test_" + std::to_string(::getpid()) + ".log";
        ::unlink(path_.c_str());
        return path_;
    }
    static std::string read(const std::string &file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string path_;
};

TEST_F(Log, PiecesOfALineAreWrittenAsOneLineWithModuleAndLevel) {
    const std::string &file = path();
    std::ofstream(file) << "earlier line\n";
    ASSERT_TRUE(sim::log::open_file(file));
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE, "Commit [%d]: ", 120);
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, QVLOG_FLAG_CONTINUE, "server %-16r|", kServer);
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_CONTINUE, "port %u\n", 5u);
    qvprintf(kOther, 2, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "two\nlines\n");
    EXPECT_EQ(read(file),
              "earlier line\n"
              "dhcpftr.104 Commit [120]: server 10.1.2.3        |port 5\n"
              "platform.103 two\n"
              "platform.103 lines\n");
    EXPECT_EQ(sim::log::recent_lines(),
              (std::vector<std::string>{"dhcpftr.104 Commit [120]: server 10.1.2.3        |port 5",
                                        "platform.103 two", "platform.103 lines"}));
}

TEST_F(Log, CaptureKeepsEachPieceAsMade) {
    qvprintf(kDhcpftr, 4, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "rule %d: ", 3);
    qvprintf(kDhcpftr, 5, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_CONTINUE, "%r\n", kServer);
    EXPECT_EQ(sim::log::records(), (std::vector<Record>{{kDhcpftr, 4, QVLOG_LEVEL_INFO, 0, "rule 3: "},
                                                        {kDhcpftr, 5, QVLOG_LEVEL_DEBUG, 1, "10.1.2.3\n"}}));
    sim::log::clear();
    EXPECT_TRUE(sim::log::records().empty());
    EXPECT_TRUE(sim::log::recent_lines().empty());
}

// The level of a line's first piece decides for the whole line, whatever level its continuations carry.
TEST_F(Log, MinimumLevelDropsWholeLines) {
    const struct {
        int min_level;
        std::vector<std::string> lines;
        std::size_t pieces;
    } cases[] = {
        {0, {"dhcpftr.101 debug tail", "dhcpftr.107 error tail"}, 4},
        {QVLOG_LEVEL_DEBUG, {"dhcpftr.101 debug tail", "dhcpftr.107 error tail"}, 4},
        {QVLOG_LEVEL_INFO, {"dhcpftr.107 error tail"}, 2},
        {QVLOG_LEVEL_ERROR, {"dhcpftr.107 error tail"}, 2},
        {QVLOG_LEVEL_ERROR + 1, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.min_level);
        sim::log::clear();
        sim::log::set_min_level(c.min_level);
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_NEW_LINE, "debug ");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, QVLOG_FLAG_CONTINUE, "tail\n");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, QVLOG_FLAG_NEW_LINE, "error ");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_CONTINUE, "tail\n");
        EXPECT_EQ(sim::log::recent_lines(), c.lines);
        EXPECT_EQ(sim::log::records().size(), c.pieces);
    }
}

TEST_F(Log, LineLeftOpenIsEndedByTheNextLine) {
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "no newline");
    qvprintf(kOther, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_CONTINUE, " yet");
    qvprintf(kOther, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE, "next\n");
    EXPECT_EQ(sim::log::recent_lines(), (std::vector<std::string>{"dhcpftr.103 no newline yet", "platform.104 next"}));
}

TEST_F(Log, RecentLinesKeepOnlyTheNewest) {
    sim::log::set_recent_capacity(3);
    for (int i = 1; i <= 5; ++i)
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "line %d\n", i);
    EXPECT_EQ(sim::log::recent_lines(),
              (std::vector<std::string>{"dhcpftr.103 line 3", "dhcpftr.103 line 4", "dhcpftr.103 line 5"}));
}

TEST_F(Log, FileSinkNeedsAFileThatOpens) {
    EXPECT_FALSE(sim::log::set_sink(sim::log::Sink::file));
    EXPECT_FALSE(sim::log::open_file("/nonexistent-directory/x.log"));
    EXPECT_EQ(sim::log::sink(), sim::log::Sink::none);
    ASSERT_TRUE(sim::log::open_file(path()));
    EXPECT_EQ(sim::log::sink(), sim::log::Sink::file);
    EXPECT_TRUE(sim::log::set_sink(sim::log::Sink::none));
    EXPECT_FALSE(sim::log::set_sink(sim::log::Sink::file));  // leaving the file closed it
}

// Two threads writing lines piece by piece at once each get their own lines back whole.
TEST_F(Log, ThreadsAssembleTheirOwnLines) {
    constexpr int kLines = 200;
    auto writer = [](int module) {
        for (int i = 0; i < kLines; ++i) {
            qvprintf(module, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "a");
            qvprintf(module, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_CONTINUE, "b");
            qvprintf(module, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_CONTINUE, "c\n");
        }
    };
    std::thread first(writer, kDhcpftr), second(writer, kOther);
    first.join();
    second.join();
    const std::vector<std::string> lines = sim::log::recent_lines();
    ASSERT_EQ(lines.size(), 2u * kLines);
    for (const std::string &line : lines)
        ASSERT_TRUE(line == "dhcpftr.103 abc" || line == "platform.103 abc") << line;
}

TEST(LogHelpers, WithoutLineNumbers) {
    const struct {
        const char *text;
        const char *expected;
    } cases[] = {
        {"Func [123]: x", "Func [#]: x"},
        {"[1][22] [333]", "[#][#] [#]"},
        {"[] [a1] [12 [9", "[] [a1] [12 [9"},
        {"[[7]]", "[[#]]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(sim::log::without_line_numbers(c.text), c.expected);
    }
}

}  // namespace
