// The platform log: pieces assembled into lines, the minimum level, the file sink and the capture.
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
constexpr int kDhcpftr = 153, kOther = 7, kNew = QVLOG_FLAG_NEW_LINE, kMore = QVLOG_FLAG_CONTINUE;
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
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_WARNING, kNew, "Commit [%d]: ", 120);
    // A line another thread writes meanwhile neither ends nor joins the line this thread has open.
    std::thread([] { qvprintf(kOther, 0, QVLOG_LEVEL_WARNING, kNew, "filter\n"); }).join();
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, kMore, "server %-16r|", kServer);
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, kMore, "port %u\n", 5u);
    qvprintf(kOther, 2, QVLOG_LEVEL_INFO, kNew, "two\nlines\n");
    qvprintf(kOther, 2, QVLOG_LEVEL_INFO, kNew, "left open");
    qvprintf(kDhcpftr, 0, QVLOG_LEVEL_INFO, kNew, "ends it\n");
    std::stringstream in;
    in << std::ifstream(path_).rdbuf();
    EXPECT_EQ(in.str(), "earlier line\nplatform.104 filter\ndhcpftr.104 Commit [120]: server 10.1.2.3        |port 5\n"
                        "platform.103 two\nplatform.103 lines\nplatform.103 left open\ndhcpftr.103 ends it\n");
    EXPECT_TRUE(sim::log::set_sink(sim::log::Sink::none));
    EXPECT_FALSE(sim::log::set_sink(sim::log::Sink::file));  // leaving the file closed it
}

// Capture keeps each accepted piece as made. The level of a line's first piece decides for the whole line,
// whatever level its continuations carry.
TEST_F(Log, CaptureKeepsPiecesAndTheMinimumLevelDropsWholeLines) {
    qvprintf(kDhcpftr, 4, QVLOG_LEVEL_INFO, kNew, "rule %d: ", 3);
    qvprintf(kDhcpftr, 5, QVLOG_LEVEL_DEBUG, kMore, "%r\n", kServer);
    EXPECT_EQ(sim::log::records(), (std::vector<sim::log::Record>{{kDhcpftr, 4, QVLOG_LEVEL_INFO, 0, "rule 3: "},
                                                                  {kDhcpftr, 5, QVLOG_LEVEL_DEBUG, 1, "10.1.2.3\n"}}));
    const struct { int min_level; Lines texts; } cases[] = {
        {QVLOG_LEVEL_DEBUG, {"debug ", "tail\n", "error ", "tail\n"}},
        {QVLOG_LEVEL_ERROR, {"error ", "tail\n"}},
        {QVLOG_LEVEL_ERROR + 1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.min_level);
        sim::log::clear();
        sim::log::set_min_level(c.min_level);
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, kNew, "debug ");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, kMore, "tail\n");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, kNew, "error ");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, kMore, "tail\n");
        Lines texts;
        for (const sim::log::Record &record : sim::log::records())
            texts.push_back(record.text);
        EXPECT_EQ(texts, c.texts);
    }
}

TEST(LogHelpers, WithoutLineNumbers) {
    EXPECT_EQ(sim::log::without_line_numbers("Func [123]: x [1][22] [[333]] [] [a1] [12 [9"),
              "Func [#]: x [#][#] [[#]] [] [a1] [12 [9");
}

}  // namespace
