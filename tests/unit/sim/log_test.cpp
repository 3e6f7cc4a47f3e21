// The platform log: pieces assembled into lines, the minimum level, the file sink and the capture.
#include "log/sim_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
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

// ---- The buffer and the console queue.

Lines buffered_texts() {
    Lines texts;
    for (const sim::log::BufferedLine &line : sim::log::snapshot().lines)
        texts.push_back(line.text);
    return texts;
}

// A stamped line without its stamp, which must be there.
std::string unstamped(const std::string &line) {
    EXPECT_THAT(line, ::testing::MatchesRegex("[A-Z][a-z][a-z] [ 1-3][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]"
                                              "\\.[0-9][0-9][0-9]: .*"));
    return line.substr(line.find(": ") + 2);
}

Lines console_texts() {
    Lines texts;
    for (const std::string &line : sim::log::take_console_lines())
        texts.push_back(unstamped(line));
    return texts;
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

// The ring keeps the newest lines through its wrap, a new size, a clear and a time off; its count goes on
// until it is turned off.
TEST_F(Log, BufferKeepsTheNewestLines) {
    sim::log::set_min_level(QVLOG_LEVEL_ERROR + 1);  // the sink's level does not concern the buffer
    int next = 0;
    auto write = [&next](int count) {
        return [&next, count] {
            for (int end = next + count; next < end; ++next)
                qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, kNew, "line %d\n", next);
        };
    };
    auto resize = [](bool on, std::size_t lines) {
        return [=] { sim::log::set_buffer({on, lines, QVLOG_LEVEL_DEBUG}); };
    };
    auto lines = [](int from, int to) {
        Lines texts;
        for (int i = from; i < to; ++i)
            texts.push_back("line " + std::to_string(i));
        return texts;
    };
    const struct {
        const char *step;
        std::function<void()> act;
        Lines texts;
        std::uint64_t buffered;
    } steps[] = {
        {"10 lines", resize(true, 10), {}, 0},
        {"25 written", write(25), lines(15, 25), 25},
        {"grown to 12", resize(true, 12), lines(15, 25), 25},
        {"5 more", write(5), lines(18, 30), 30},
        {"shrunk to 10", resize(true, 10), lines(20, 30), 30},
        {"cleared", sim::log::clear_buffer, {}, 30},
        {"3 more", write(3), lines(30, 33), 33},
        {"off", resize(false, 10), {}, 0},
        {"written while off", write(2), {}, 0},
        {"on again", resize(true, 10), {}, 0},
        {"1 more", write(1), lines(35, 36), 1},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.step);
        step.act();
        EXPECT_EQ(buffered_texts(), step.texts);
        EXPECT_EQ(sim::log::snapshot().buffered, step.buffered);
    }
    EXPECT_TRUE(sim::log::records().empty());
}

// The buffer and the consoles each take the lines of their own settings, whatever the sink's minimum level.
TEST_F(Log, BufferAndConsolesFilterByTheirOwnLevels) {
    using Mode = sim::log::ConsoleSettings::Mode;
    const Lines all = {"platform.104 p-warning", "platform.103 p-info", "dhcpftr.107 d-error", "dhcpftr.101 d-debug",
                       "platform.107 p-error"};
    const struct {
        int buffer_level;
        sim::log::ConsoleSettings console;
        Lines buffered, consoles;
        bool explicit_console;
    } cases[] = {
        {QVLOG_LEVEL_DEBUG, {}, all, {all[0], all[4]}, false},
        {QVLOG_LEVEL_WARNING, {Mode::from_level, QVLOG_LEVEL_INFO}, {all[0], all[2], all[4]},
         {all[0], all[1], all[2], all[4]}, true},
        {QVLOG_LEVEL_ERROR, {Mode::from_level, QVLOG_LEVEL_DEBUG}, {all[2], all[4]}, all, true},
        {QVLOG_LEVEL_INFO, {Mode::off, QVLOG_LEVEL_DEBUG}, {all[0], all[1], all[2], all[4]}, {}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.buffer_level);
        sim::log::reset();
        sim::log::set_min_level(QVLOG_LEVEL_ERROR + 1);
        sim::log::set_buffer({true, 100, c.buffer_level});
        sim::log::set_console(c.console);
        qvprintf(kOther, 0, QVLOG_LEVEL_WARNING, kNew, "p-");
        qvprintf(kOther, 0, QVLOG_LEVEL_DEBUG, kMore, "warning\n");
        qvprintf(kOther, 0, QVLOG_LEVEL_INFO, kNew, "p-info\n");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_ERROR, kNew, "d-error\n");
        qvprintf(kDhcpftr, 0, QVLOG_LEVEL_DEBUG, kNew, "d-debug\n");
        qvprintf(kOther, 0, QVLOG_LEVEL_ERROR, kNew, "p-error\n");
        Lines buffered;
        for (const sim::log::BufferedLine &line : sim::log::snapshot().lines)
            buffered.push_back(unstamped(sim::log::stamped(line)));
        EXPECT_EQ(buffered, c.buffered);
        EXPECT_EQ(console_texts(), c.consoles);
        EXPECT_EQ(sim::log::console_logging_explicit(), c.explicit_console);
    }
}

TEST_F(Log, StampIsLocalTimeToTheMillisecond) {
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_hour = 8;
    local.tm_min = 30;
    local.tm_sec = 1;
    local.tm_isdst = -1;
    const auto second = std::chrono::system_clock::from_time_t(std::mktime(&local));
    const sim::log::BufferedLine line{second + std::chrono::milliseconds(123), kDhcpftr, QVLOG_LEVEL_WARNING,
                                      "_dhcpftr_wait_for_event [188]: time out 0 times"};
    EXPECT_EQ(sim::log::stamped(line),
              "Dec  8 08:30:01.123: dhcpftr.104 _dhcpftr_wait_for_event [188]: time out 0 times");
}

// Lines wait until taken, the oldest going beyond the bound; the wake-up descriptor is readable exactly while
// lines wait.
TEST_F(Log, ConsoleQueueIsBoundedAndWakesTheLoop) {
    const int fd = sim::log::console_wake_fd();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(readable(fd));
    const int written = static_cast<int>(sim::log::kConsoleQueueLines) + 5;
    for (int i = 0; i < written; ++i)
        qvprintf(kOther, 0, QVLOG_LEVEL_WARNING, kNew, "kernel: report %d\n", i);
    EXPECT_TRUE(readable(fd));
    const Lines taken = sim::log::take_console_lines();
    ASSERT_EQ(taken.size(), sim::log::kConsoleQueueLines);
    EXPECT_EQ(unstamped(taken.front()), "platform.104 kernel: report 5");
    EXPECT_EQ(unstamped(taken.back()), "platform.104 kernel: report " + std::to_string(written - 1));
    EXPECT_FALSE(readable(fd));
    EXPECT_EQ(sim::log::snapshot().queued, static_cast<std::uint64_t>(written));
    EXPECT_TRUE(sim::log::take_console_lines().empty());
}

// Lines written piece by piece by two threads at once reach the buffer and the consoles whole, each thread's
// in its order; the consoles get the buffer's lines with the same stamps.
TEST_F(Log, LinesFromAnotherThreadArriveWhole) {
    constexpr int kLines = 2000;
    sim::log::set_buffer({true, sim::log::kBufferMaxLines, QVLOG_LEVEL_DEBUG});
    sim::log::set_console({sim::log::ConsoleSettings::Mode::from_level, QVLOG_LEVEL_DEBUG});
    auto writer = [](int module, const char *who) {
        for (int i = 0; i < kLines; ++i) {
            qvprintf(module, 0, QVLOG_LEVEL_WARNING, kNew, "%s %d", who, i);
            qvprintf(module, 0, QVLOG_LEVEL_WARNING, kMore, " end\n");
        }
    };
    std::thread kernel(writer, kOther, "kernel");
    writer(kDhcpftr, "daemon");
    kernel.join();
    const std::vector<sim::log::BufferedLine> buffered = sim::log::snapshot().lines;
    ASSERT_EQ(buffered.size(), 2u * kLines);
    int next[2] = {0, 0};
    for (const sim::log::BufferedLine &line : buffered) {
        const int who = line.module == kOther ? 1 : 0;
        EXPECT_EQ(line.text, (who ? "kernel " : "daemon ") + std::to_string(next[who]++) + " end");
    }
    const Lines consoles = sim::log::take_console_lines();
    ASSERT_EQ(consoles.size(), buffered.size());
    for (std::size_t i = 0; i < consoles.size(); ++i)
        EXPECT_EQ(consoles[i], sim::log::stamped(buffered[i]));
}

TEST(LogHelpers, WithoutLineNumbers) {
    EXPECT_EQ(sim::log::without_line_numbers("Func [123]: x [1][22] [[333]] [] [a1] [12 [9"),
              "Func [#]: x [#][#] [[#]] [] [a1] [12 [9");
}

}  // namespace
