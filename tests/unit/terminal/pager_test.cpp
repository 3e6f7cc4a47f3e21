// terminal::Pager on a pseudo-terminal: what the terminal shows of paged output, in the cases that the
// terminal tests of the console and of dhcpftr-cli do not bring about (a page filled exactly, output that
// comes while at " --More-- ", a piece without its line end at the page's end, output after q).
#include "terminal/pager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// A pseudo-terminal in raw mode, so that bytes pass as they are written: the pager writes to its terminal
// side, the test reads what it showed from the other.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        const int fd = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        termios raw{};
        if (fd < 0 || ::tcgetattr(fd, &raw) != 0)
            return;
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        out_ = ::fdopen(fd, "w");
    }
    ~PseudoTerminal() {
        if (out_ != nullptr)
            std::fclose(out_);
        if (master_ >= 0)
            ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    std::FILE *out() const { return out_; }

    // All that the terminal showed; closes its terminal side.
    std::string shown() {
        std::fclose(std::exchange(out_, nullptr));
        std::string text;
        char chunk[4096];
        for (ssize_t n; (n = ::read(master_, chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<std::size_t>(n));
        return text;
    }

private:
    int master_ = -1;
    std::FILE *out_ = nullptr;
};

enum class Do { write, key, start };

// A step: text written, a key pressed, or the output of a next command started.
struct Step {
    Do what;
    std::string_view text;
};

TEST(Pager, ShowsAPageAndKeepsTheRestUntilAKey) {
    const std::string more(terminal::kMore);
    const std::string erase = "\r" + std::string(terminal::kMore.size(), ' ') + "\r";
    const struct {
        const char *what;
        int length;
        std::vector<Step> steps;
        std::string shown;
        bool more, dropped;
    } cases[] = {
        {"a page filled to its last line: no --More--", 2, {{Do::write, "a\nb\n"}}, "a\nb\n", false, false},
        {"output that comes at --More-- waits behind the rest; return shows a line, space a page",
         2,
         {{Do::write, "a\nb\nc\nd\n"}, {Do::write, "e\n"}, {Do::key, "\n"}, {Do::key, " "}},
         "a\nb\n" + more + erase + "c\n" + more + erase + "d\ne\n",
         false,
         false},
        {"a piece without its line end at the page's end waits; the line it starts counts once",
         1,
         {{Do::write, "a\n"}, {Do::write, "b"}, {Do::key, "\r"}, {Do::write, "c\n"}, {Do::write, "d\n"}},
         "a\n" + more + erase + "bc\n" + more,
         true,
         false},
        {"other keys do nothing; q drops the rest and what comes after, until the next command",
         1,
         {{Do::write, "a\nb\n"}, {Do::key, "x"}, {Do::key, "q"}, {Do::write, "c\n"}, {Do::start, ""},
          {Do::write, "d\ne\n"}},
         "a\n" + more + erase + "d\n" + more,
         true,
         false},
        {"terminal length 0: no paging", 0, {{Do::write, "a\nb\nc\n"}}, "a\nb\nc\n", false, false},
    };
    for (const auto &c : cases) {
        PseudoTerminal tty;
        ASSERT_NE(tty.out(), nullptr) << "no pseudo-terminal";
        terminal::Pager pager(tty.out(), -1);
        pager.set_length(c.length);
        pager.start();
        for (const Step &step : c.steps) {
            if (step.what == Do::write)
                pager.write(step.text);
            else if (step.what == Do::key)
                pager.key(step.text.front());
            else
                pager.start();
        }
        EXPECT_EQ(pager.more(), c.more) << c.what;
        EXPECT_EQ(pager.dropped(), c.dropped) << c.what;
        EXPECT_EQ(tty.shown(), c.shown) << c.what;
    }
}

}  // namespace
