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

using Lines = std::vector<std::string>;
constexpr int kDhcpftr = 153, kOther = 7;
const unsigned char kServer[4] = {10, 1, 2, 3};

class Log : public ::testing::Test {
protected:
    void SetUp() override {
        sim::log::reset();
        sim::log::enable_capture(true);
    }
    void TearDown() override {
        sim::log::reset();
        ::unlink(path_.c_str());
    }
    const std::string path_ = ::testing::TempDir() + "log_test_" + std::to_string(::getpid()) + ".log";
};

TEST_F(Log, PiecesOfALineAreAppendedToTheFileAsOneLine) {
    std::ofstream(path_) << "earlier line\n";
    EXPECT_FALSE(sim::log::open_file("/nonexistent-directory/x.log"));
    ASSERT_TRUE(sim::log::open_file(path_));
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE, "Commit [%d]: ", 120);
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, QVLOG_FLAG_CONTINUE, "server %-16r|", kServer);
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_CONTINUE, "port %u\n", 5u);
    qvprintf(kOther, 2, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "two\nlines\n");
    qvprintf(kOther, 2, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "left open");
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "ends it\n");
    const std::string lines = "dhcpftr.104 Commit [120]: server 10.1.2.3        |port 5\n"
                              "platform.103 two\nplatform.103 lines\nplatform.103 left open\ndhcpftr.103 ends it\n";
    std::stringstream file;
    file << std::ifstream(path_).rdbuf();
    EXPECT_EQ(file.str(), "earlier line\n" + lines);

    EXPECT_TRUE(sim::log::set_sink(sim::log::Sink::none));
    EXPECT_FALSE(sim::log::set_sink(sim::log::Sink::file));  // leaving the file closed it
}

TEST_F(Log, CaptureKeepsEachPieceAsMade) {
    qvprintf(kDhcpftr, 4, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "rule %d: ", 3);
    qvprintf(kDhcpftr, 5, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_CONTINUE, "%r\n", kServer);
    EXPECT_EQ(sim::log::records(), (std::vector<sim::log::Record>{{kDhcpftr, 4, QVLOG_LEVEL_INFO, 0, "rule 3: "},
                                                                  {kDhcpftr, 5, QVLOG_LEVEL_DEBUG, 1, "10.1.2.3\n"}}));
    EXPECT_EQ(sim::log::recent_lines(), Lines{"dhcpftr.103 rule 3: 10.1.2.3"});
    sim::log::clear();
    EXPECT_TRUE(sim::log::records().empty());
    EXPECT_TRUE(sim::log::recent_lines().empty());
}

// The level of a line's first piece decides for the whole line, whatever level its continuations carry.
TEST_F(Log, MinimumLevelDropsWholeLines) {
    const struct {
        int min_level;
        Lines lines;
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

// A line another thread writes meanwhile neither ends nor joins the line this thread has open.
TEST_F(Log, AnotherThreadsLineDoesNotCutTheOpenLine) {
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "heading ");
    std::thread([] { qvprintf(kOther, 0, QVLOG_LEVEL_WARNING, QVLOG_FLAG_NEW_LINE, "filter\n"); }).join();
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_CONTINUE, "tail\n");
    EXPECT_EQ(sim::log::recent_lines(), (Lines{"platform.104 filter", "dhcpftr.103 heading tail"}));
}

TEST_F(Log, RecentLinesKeepOnlyTheNewest) {
    sim::log::set_recent_capacity(2);
    for (int i = 1; i <= 4; ++i)
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "line %d\n", i);
    EXPECT_EQ(sim::log::recent_lines(), (Lines{"dhcpftr.103 line 3", "dhcpftr.103 line 4"}));
}

TEST(LogHelpers, WithoutLineNumbers) {
    const struct {
        const char *text, *expected;
    } cases[] = {
        {"Func [123]: x", "Func [#]: x"},
        {"[1][22] [[333]]", "[#][#] [[#]]"},
        {"[] [a1] [12 [9", "[] [a1] [12 [9"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(sim::log::without_line_numbers(c.text), c.expected);
    }
}

}  // namespace
