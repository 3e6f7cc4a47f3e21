// The session at the operator's terminal. With GNU readline (when the build has it): line editing, history,
// "?" for the help of the line typed so far and TAB to complete its last word, both answered by the switch;
// plain lines otherwise. One loop waits in poll() on the terminal, the socket and a signalfd, so nothing runs
// in a signal handler: SIGINT abandons the line being typed (or the output being paged), SIGWINCH tells
// readline the terminal's new size, SIGTERM and SIGHUP end the session with the terminal restored. The client
// pages the output of the lines, as the switch's console does, and shows the log lines of a session that
// monitors the log.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "client.h"
#include "terminal/pager.h"

#if DHCPFTR_CLI_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace dhcpftr_cli {
namespace {

#if DHCPFTR_CLI_HAVE_READLINE
// Prints a line of a command's output (1000 with its line end, 1001 without); other lines print nothing.
void print_output(const ReplyLine &line) {
    if (line.code == code::kOutputLine || line.code == code::kOutputPiece) {
        std::fwrite(line.text.data(), 1, line.text.size(), stdout);
        if (line.code == code::kOutputLine)
            std::putc('\n', stdout);
    }
}
#endif

// SIGINT, SIGWINCH, SIGTERM and SIGHUP, blocked while the object lives and read from a signalfd instead.
class Signals {
public:
    Signals() {
        sigemptyset(&set_);
        for (int signal : {SIGINT, SIGWINCH, SIGTERM, SIGHUP})
            sigaddset(&set_, signal);
        sigprocmask(SIG_BLOCK, &set_, &old_);
        fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fd_ < 0) {
            const int error = errno;
            sigprocmask(SIG_SETMASK, &old_, nullptr);
            throw std::system_error(error, std::generic_category(), "signalfd");
        }
    }
    // Signals that came and were not read are dropped, so none acts once they are unblocked.
    ~Signals() {
        while (next() != 0) {
        }
        ::close(fd_);
        sigprocmask(SIG_SETMASK, &old_, nullptr);
    }
    Signals(const Signals &) = delete;
    Signals &operator=(const Signals &) = delete;

    int fd() const { return fd_; }
    // The next signal that came, or 0.
    int next() {
        signalfd_siginfo info;
        return ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo)
                                                                                   : 0;
    }

private:
    sigset_t set_;
    sigset_t old_;
    int fd_ = -1;
};

class Terminal;

// Where the operator's lines come from. Each whole line, or nothing at the end of input, goes to the
// terminal's line().
class Input {
public:
    virtual ~Input() = default;
    // Shows the prompt and reads a new line.
    virtual void start(const std::string &prompt) = 0;
    // Stops reading: a line is with the switch.
    virtual void stop() = 0;
    // Reads what the terminal has.
    virtual void read() = 0;
    // True when a line is there without reading the terminal (several lines came in one read).
    virtual bool ready() const { return false; }
    // Ctrl-C: abandons the line being typed and shows the prompt again.
    virtual void interrupt() = 0;
    virtual void resized() {}
    // Shows log lines above the prompt and the line being typed.
    virtual void show_log_lines(const std::vector<std::string> &lines) = 0;
};

// The session loop: a line typed goes to the switch as "run LINE"; its output and the prompt of its final
// line come back, and then the next line is read. Output longer than a page stops at " --More-- " (the
// pager's) until a key says what next (space: a page, return: a line, q or Ctrl-C: nothing more of that
// reply); the socket is read meanwhile, and what comes waits in the pager. Log lines show above the prompt
// while the operator types, and with the output while a line is with the switch.
class Terminal {
public:
    Terminal(Connection &session, std::string prompt)
        : session_(session), prompt_(std::move(prompt)), pager_(stdout, STDIN_FILENO) {}

    // Runs the session until it ends; the exit status. A signal that ended it is kept in ending_signal.
    int run(Input &input);

    // A line the operator typed, or nothing at the end of input (Ctrl-D; the input has ended the line on
    // the screen).
    void line(std::optional<std::string> line);
    // The final line of any reply: takes its prompt; notes the end of the session.
    void finish(const Final &final);

    Connection &session() { return session_; }
    const std::string &prompt() const { return prompt_; }
    bool ended() const { return ended_; }
    int ending_signal() const { return signal_; }

private:
    void reply_arrived();
    // A key at " --More-- ", to the pager.
    void page_key();
    // Drops the rest of the reply's output (Ctrl-C at " --More-- ").
    void drop_output();
    // The paging has moved on: once the output is through (shown or dropped) and the final line has come,
    // the reply is complete.
    void paged();
    // The reply is through: the final line takes effect and the next line is read.
    void complete();
    void log_line(std::string_view text);

    Connection &session_;
    std::string prompt_;
    Input *input_ = nullptr;
    bool reading_ = false;  // the operator is typing; otherwise a line is with the switch
    bool ended_ = false;
    int signal_ = 0;
    terminal::Pager pager_;           // the replies' output; its length from the switch's 1004
    std::optional<Final> final_;      // the reply's final line, while its output is still paged
    std::vector<std::string> logs_;   // log lines to show above the prompt
};

void Terminal::line(std::optional<std::string> line) {
    input_->stop();
    reading_ = false;
    if (!line) {
        ended_ = true;
        return;
    }
    session_.queue("run", *line);
    pager_.start();
}

void Terminal::finish(const Final &final) {
    switch (final.code) {
    case code::kEnded:
        ended_ = true;
        break;
    case code::kNotUnderstood:  // the prompt is as it was
        std::fflush(stdout);
        std::fprintf(stderr, "dhcpftr-cli: the switch did not understand the request: %s\n", final.text.c_str());
        break;
    default:
        prompt_ = final.text;
    }
}

void Terminal::page_key() {
    pager_.read_key();
    paged();
}

void Terminal::drop_output() {
    pager_.drop();
    paged();
}

void Terminal::paged() {
    if (!pager_.more() && final_)
        complete();
}

void Terminal::complete() {
    finish(*std::exchange(final_, std::nullopt));
    std::fflush(stdout);
    if (ended_)
        return;
    reading_ = true;
    input_->start(prompt_);
}

// A log line: above the prompt while the operator types (shown by the loop, never inside readline), else
// with the output, of which q drops none.
void Terminal::log_line(std::string_view text) {
    if (reading_)
        logs_.emplace_back(text);
    else if (pager_.dropped())
        std::fprintf(stdout, "%.*s\n", static_cast<int>(text.size()), text.data());
    else
        pager_.write(std::string(text) + "\n");
}

// Hands the reply lines that have arrived: output shown (or kept for the next page), a page length taken,
// and once the final line has come and the output is through, the next line is read.
void Terminal::reply_arrived() {
    while (std::optional<ReplyLine> reply = session_.next_line()) {
        if (reading_ || final_)
            throw Failure("a reply line with no request: \"" + std::string(reply->text) + "\"");
        if (reply->final) {
            final_ = Final{reply->code, std::string(reply->text)};
            paged();
        } else if (reply->code == code::kPageLength) {
            int lines = 0;
            if (std::from_chars(reply->text.data(), reply->text.data() + reply->text.size(), lines).ec == std::errc())
                pager_.set_length(lines);
        } else if (reply->code == code::kOutputLine) {
            pager_.write(std::string(reply->text) + "\n");
        } else if (reply->code == code::kOutputPiece) {
            pager_.write(reply->text);
        }
        if (ended_)
            return;
    }
    std::fflush(stdout);
}

int Terminal::run(Input &input) {
    input_ = &input;
    Signals signals;
    session_.on_log_line([this](std::string_view text) { log_line(text); });
    reading_ = true;
    input.start(prompt_);
    while (!ended_) {
        if (reading_ && !logs_.empty())
            input.show_log_lines(std::exchange(logs_, {}));
        if (reading_ && input.ready()) {
            input.read();
            continue;
        }
        session_.send_some();
        pollfd fds[] = {
            {signals.fd(), POLLIN, 0},
            {session_.fd(), static_cast<short>(POLLIN | (session_.unsent() ? POLLOUT : 0)), 0},
            {reading_ || pager_.more() ? STDIN_FILENO : -1, POLLIN, 0},
        };
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (fds[0].revents & POLLIN) {
            // SIGINT while a line is with the switch does nothing but end its paging: the command runs to
            // its end there, as it does at the switch's console.
            for (int signal; (signal = signals.next()) != 0;) {
                if (signal == SIGINT && reading_) {
                    input.interrupt();
                } else if (signal == SIGINT && pager_.more()) {
                    drop_output();
                } else if (signal == SIGWINCH) {
                    input.resized();
                } else if (signal == SIGTERM || signal == SIGHUP) {
                    // The terminal's settings come back before the client ends by the signal.
                    pager_.end();
                    signal_ = signal;
                    return kExitFailed;
                }
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!session_.fill()) {
                if (!reading_ && !final_)
                    throw Failure("the connection closed in the middle of a reply");
                std::fflush(stdout);
                std::fprintf(stderr, "\ndhcpftr-cli: the switch at %s closed the session\n", session_.path().c_str());
                return kExitFailed;
            }
            reply_arrived();
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (pager_.more())
                page_key();
            else if (reading_)
                input.read();
        }
    }
    return kExitOk;
}

// Lines of a terminal without readline: the terminal edits the line, the client reads it whole.
class PlainInput : public Input {
public:
    explicit PlainInput(Terminal &terminal) : terminal_(terminal) {}

    void start(const std::string &prompt) override {
        prompt_ = prompt + " ";
        active_ = true;
        std::fputs(prompt_.c_str(), stdout);
        std::fflush(stdout);
    }
    void stop() override { active_ = false; }
    bool ready() const override { return pending_.find('\n') != std::string::npos; }

    void read() override {
        if (!ready()) {
            char chunk[4096];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                return;
            if (n <= 0) {
                // The end of input: a last line without its newline still runs, then the session ends.
                if (!pending_.empty()) {
                    terminal_.line(std::exchange(pending_, {}));
                } else {
                    std::putc('\n', stdout);  // the shell's prompt on a line of its own
                    terminal_.line(std::nullopt);
                }
                return;
            }
            pending_.append(chunk, static_cast<std::size_t>(n));
        }
        const std::size_t end = pending_.find('\n');
        if (end == std::string::npos)
            return;
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        terminal_.line(std::move(line));
    }

    // The terminal has dropped what was typed; what was read of the line goes too.
    void interrupt() override {
        pending_.clear();
        std::fputs(("\n" + prompt_).c_str(), stdout);
        std::fflush(stdout);
    }
    // Under the line being typed (the terminal keeps what was typed), then the prompt again.
    void show_log_lines(const std::vector<std::string> &lines) override {
        std::putc('\n', stdout);
        for (const std::string &line : lines)
            std::fprintf(stdout, "%s\n", line.c_str());
        std::fputs(prompt_.c_str(), stdout);
        std::fflush(stdout);
    }

private:
    Terminal &terminal_;
    std::string prompt_;
    std::string pending_;
    bool active_ = false;
};

#if DHCPFTR_CLI_HAVE_READLINE

// GNU readline's callback interface, a character at a time as the loop finds the terminal readable. readline
// calls plain functions, so they reach the one instance through current_. A failure of the session inside
// one of them is kept and thrown once readline has returned, never through readline's frames.
class ReadlineInput : public Input {
public:
    explicit ReadlineInput(Terminal &terminal) : terminal_(terminal) {
        current_ = this;
        rl_readline_name = "dhcpftr-cli";
        rl_catch_signals = 0;  // the loop reads them from its signalfd
        rl_catch_sigwinch = 0;
        rl_attempted_completion_function = complete;
        rl_completer_word_break_characters = const_cast<char *>(" \t");
        rl_variable_bind("show-all-if-ambiguous", "on");
        rl_bind_key('?', help);
    }
    ~ReadlineInput() override {
        if (active_)
            rl_callback_handler_remove();
        current_ = nullptr;
    }
    ReadlineInput(const ReadlineInput &) = delete;
    ReadlineInput &operator=(const ReadlineInput &) = delete;

    void start(const std::string &prompt) override {
        prompt_ = prompt + " ";
        active_ = true;
        rl_callback_handler_install(prompt_.c_str(), handle_line);
    }
    void stop() override {
        if (active_)
            rl_callback_handler_remove();
        active_ = false;
    }
    void read() override {
        rl_callback_read_char();
        if (failure_)
            std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    void interrupt() override {
        rl_free_line_state();
        rl_callback_sigcleanup();
        rl_echo_signal_char(SIGINT);
        rl_crlf();
        rl_replace_line("", 0);
        rl_set_prompt(prompt_.c_str());
        rl_on_new_line();
        rl_redisplay();
    }
    void resized() override { rl_resize_terminal(); }
    // The prompt and the line typed go, the lines come, and readline shows the prompt and the line again.
    void show_log_lines(const std::vector<std::string> &lines) override {
        rl_clear_visible_line();
        for (const std::string &line : lines)
            std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
        rl_on_new_line();
        rl_redisplay();
    }

private:
    // A whole line (null at Ctrl-D on an empty line).
    static void handle_line(char *raw) {
        std::optional<std::string> line;
        if (raw != nullptr) {
            line = raw;
            std::free(raw);
            if (line->find_first_not_of(" \t") != std::string::npos)
                add_history(line->c_str());
        }
        current_->terminal_.line(std::move(line));
    }

    // Runs a help or complete request for the line up to the cursor; the final line's prompt becomes the
    // prompt shown. False when the session failed or ended.
    static bool ask(const char *verb, const std::function<void(const ReplyLine &)> &on_line) {
        ReadlineInput &self = *current_;
        try {
            Final final = self.terminal_.session().exchange(
                verb, std::string_view(rl_line_buffer, static_cast<std::size_t>(rl_point)), on_line);
            self.terminal_.finish(final);
        } catch (...) {
            self.failure_ = std::current_exception();
            return false;
        }
        self.prompt_ = self.terminal_.prompt() + " ";
        rl_set_prompt(self.prompt_.c_str());
        return !self.terminal_.ended();
    }

    // "?": the help of the line up to the cursor, printed under it; the prompt and the line then come again,
    // the "?" not inserted.
    static int help(int, int) {
        std::fputc('\n', rl_outstream);
        ask("help", print_output);
        std::fflush(stdout);
        rl_on_new_line();
        return 0;
    }

    // TAB: the switch's keywords for the last word; readline completes a unique one and lists several.
    static char **complete(const char *text, int, int) {
        rl_attempted_completion_over = 1;  // never file names
        matches_.clear();
        const bool answered = ask("complete", [](const ReplyLine &line) {
            if (line.code == code::kCompletion)
                matches_.emplace_back(line.text);
        });
        if (!answered || matches_.empty())
            return nullptr;
        return rl_completion_matches(text, next_match);
    }
    static char *next_match(const char *, int state) {
        static std::size_t next = 0;
        if (state == 0)
            next = 0;
        return next < matches_.size() ? strdup(matches_[next++].c_str()) : nullptr;
    }

    static inline ReadlineInput *current_ = nullptr;
    static inline std::vector<std::string> matches_;

    Terminal &terminal_;
    std::string prompt_;
    bool active_ = false;
    std::exception_ptr failure_;
};

#endif

}  // namespace

int run_interactive(Connection &session, std::string prompt) {
    Terminal terminal(session, std::move(prompt));
    int status;
    {
#if DHCPFTR_CLI_HAVE_READLINE
        ReadlineInput input(terminal);
#else
        PlainInput input(terminal);
#endif
        status = terminal.run(input);
    }
    std::fflush(stdout);
    // Ended by SIGTERM or SIGHUP: the terminal is restored; the client now ends by that signal.
    if (const int signal = terminal.ending_signal(); signal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return status;
}

}  // namespace dhcpftr_cli
