// The consoles of the shell: lines from a descriptor (batch, or plain lines with the prompt), GNU readline on
// a terminal, both served by the main loop together with its other sources, and the replay of the
// startup-configuration file at boot. Both show the log lines that console logging lets through (batch mode
// only once "logging console" was given); the terminal console pages output longer than its page.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "log/sim_log.h"
#include "shell/sim_shell.h"
#include "shell/sim_terminal.h"
#include "terminal/pager.h"

#if SIM_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace sim::shell {
namespace {

// Reads one line of any length from in, without its "\n" and a "\r" before it; false at the end of input.
bool read_line(std::FILE *in, std::string &line) {
    char *buffer = nullptr;
    std::size_t size = 0;
    const ssize_t n = ::getline(&buffer, &size, in);
    if (n < 0) {
        std::free(buffer);
        line.clear();
        return false;
    }
    line.assign(buffer, static_cast<std::size_t>(n));
    std::free(buffer);
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool is_blank_or_comment(const std::string &line) {
    std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '!';
}

// The lines of a descriptor, read as they arrive and run one by one. Log lines show between the outputs of
// the lines: in batch mode (no prompt) once "logging console" was given, with the prompt always.
class LineConsole : public loop::Source, public Terminal {
public:
    LineConsole(Session &session, int fd, bool prompt) : session_(session), fd_(fd), prompt_(prompt) {
        session_.set_terminal(this);
    }
    ~LineConsole() override { session_.set_terminal(nullptr); }

    void prepare(loop::Wait &wait) override {
        show_prompt();
        wait.fds.push_back(fd_);
    }

    void dispatch(const std::vector<int> &ready) override {
        if (ready.empty())
            return;
        char chunk[4096];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            // The end of input: a last line without its newline still runs.
            if (!pending_.empty())
                run(std::exchange(pending_, {}));
            ended_ = true;
            return;
        }
        pending_.append(chunk, static_cast<std::size_t>(n));
        std::size_t newline;
        while (!done() && (newline = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            run(std::move(line));
        }
    }

    bool done() const override { return ended_ || session_.ended(); }

    bool shows_log_lines() const override { return prompt_ || log::console_logging_explicit(); }
    void show_log_line(std::string_view line) override {
        // A prompt already shown comes again under the line.
        if (std::exchange(prompted_, false))
            session_.out().write("\n");
        session_.out().write(line);
        session_.out().write("\n");
        session_.out().flush();
    }

private:
    void show_prompt() {
        if (!prompt_ || prompted_)
            return;
        session_.out().write(session_.prompt() + " ");
        session_.out().flush();
        prompted_ = true;
    }

    // Runs a line; the log lines it brought show right after its output, before the next line's.
    void run(std::string line) {
        show_prompt();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        session_.process(line);
        prompted_ = false;
        show_log_lines();
    }

    Session &session_;
    int fd_;
    bool prompt_;
    bool prompted_ = false;
    bool ended_ = false;
    std::string pending_;
};

#if SIM_HAVE_READLINE

constexpr const char *kConfirmEnd = "Unsaved changes will be lost. Exit anyway? [confirm]";

// The session's output to the operator's terminal, through its pager.
class PagedOutput : public Output {
public:
    explicit PagedOutput(terminal::Pager &pager) : pager_(pager) {}

    void write(std::string_view text) override { pager_.write(text); }
    void flush() override { pager_.flush(); }

private:
    terminal::Pager &pager_;
};

// The terminal, read a key at a time with GNU readline, so the loop serves its other sources meanwhile.
// Ctrl-C abandons the line and Ctrl-Z is ignored: neither ends nor stops the switch behind the console.
// Output longer than a page stops at the pager's " --More-- " until a key says what next (space: a page,
// return: a line, q or Ctrl-C: nothing more), while the loop goes on serving the others: each key goes to the
// pager as the loop finds it. Log lines show above the prompt and the line being typed; while output is paged
// they wait for its end. readline calls plain functions, which reach the one console through current_.
class ReadlineConsole : public loop::Source, public Terminal {
public:
    ReadlineConsole(Session &session, terminal::Pager &pager, std::string startup_file)
        : session_(session), pager_(pager), startup_file_(std::move(startup_file)) {
        current_ = this;
        session_.set_terminal(this);
        rl_readline_name = "dhcpftr";
        rl_catch_signals = 0;
        rl_attempted_completion_function = complete_word;
        rl_completer_word_break_characters = const_cast<char *>(" \t");
        rl_variable_bind("show-all-if-ambiguous", "on");
        rl_bind_key('?', show_help);
        previous_tstp_ = std::signal(SIGTSTP, SIG_IGN);
        loop::set_interrupt([] { current_->interrupt(); });
        rl_callback_handler_install(prompt().c_str(), on_line);
    }
    ~ReadlineConsole() override {
        pager_.end();
        rl_callback_handler_remove();
        loop::set_interrupt({});
        std::signal(SIGTSTP, previous_tstp_);
        session_.set_terminal(nullptr);
        current_ = nullptr;
    }

    void prepare(loop::Wait &wait) override { wait.fds.push_back(STDIN_FILENO); }
    void dispatch(const std::vector<int> &ready) override {
        if (ready.empty())
            return;
        if (pager_.more())
            page_key();
        else
            rl_callback_read_char();
    }
    bool done() const override { return input_ended_; }

    void set_page_length(int lines) override { pager_.set_length(lines); }
    bool shows_log_lines() const override { return true; }
    void show_log_line(std::string_view line) override {
        if (pager_.more() || in_line_ || input_ended_) {
            held_.emplace_back(line);
            return;
        }
        rl_clear_visible_line();
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        rl_on_new_line();
        rl_redisplay();
    }

private:
    std::string prompt() const { return session_.prompt() + " "; }

    // readline's generator of completions: the session's completions of the line up to the cursor.
    static char *next_completion(const char *, int state) {
        static std::vector<std::string> matches;
        static std::size_t next = 0;
        if (state == 0) {
            matches = current_->session_.completions(
                std::string_view(rl_line_buffer, static_cast<std::size_t>(rl_point)));
            next = 0;
        }
        if (next >= matches.size())
            return nullptr;
        return strdup(matches[next++].c_str());
    }

    // TAB: completes keywords only (never file names): a unique one is completed, several are listed.
    static char **complete_word(const char *text, int, int) {
        rl_attempted_completion_over = 1;
        return rl_completion_matches(text, next_completion);
    }

    // "?": prints the help of the line up to the cursor under it, then shows the prompt and the line again.
    static int show_help(int, int) {
        std::fputc('\n', rl_outstream);
        std::fflush(rl_outstream);
        current_->session_.help(std::string_view(rl_line_buffer, static_cast<std::size_t>(rl_point)));
        rl_on_new_line();
        return 0;
    }

    // A whole line typed (null at the end of input): runs it, its output paged, and then shows the log lines
    // it brought and the prompt of the mode it leaves. The end of input at a question answers it.
    static void on_line(char *raw) {
        ReadlineConsole &self = *current_;
        self.in_line_ = true;
        if (raw == nullptr) {
            if (self.session_.asking())
                self.session_.process("");
            else
                self.end_console();
        } else {
            std::string line(raw);
            std::free(raw);
            if (!self.session_.asking() && !is_blank_or_comment(line))
                add_history(line.c_str());
            self.pager_.start();
            self.session_.process(line);
            if (self.pager_.more()) {
                // readline shows no prompt until the paging ends.
                rl_callback_handler_remove();
                self.in_line_ = false;
                return;
            }
            self.pager_.end();
            if (self.session_.ended())
                self.end_console();
        }
        show_log_lines();
        self.show_held();
        self.in_line_ = false;
        if (self.input_ended_)
            rl_callback_handler_remove();
        else
            rl_set_prompt(self.prompt().c_str());
    }

    // Ends the console (and the switch with it), after asking when the running configuration is not the one
    // saved in the startup file.
    void end_console() {
        session_.resume();
        if (unsaved_changes(session_, startup_file_))
            session_.ask(kConfirmEnd, [this] { input_ended_ = true; });
        else
            input_ended_ = true;
    }

    // Ctrl-C: at " --More-- " drops the rest of the output; otherwise abandons the line being typed (and a
    // question it answers) and starts a fresh prompt.
    void interrupt() {
        if (pager_.more()) {
            pager_.drop();
            end_paging();
            return;
        }
        std::fputs("^C", rl_outstream);
        rl_replace_line("", 0);
        rl_crlf();
        session_.forget_question();
        rl_set_prompt(prompt().c_str());
        rl_on_new_line();
        rl_redisplay();
    }

    // A key at " --More-- ", to the pager. A terminal that went drops the rest (readline then finds the end
    // of input).
    void page_key() {
        pager_.read_key();
        if (!pager_.more())
            end_paging();
    }

    // The output is through: the log lines that waited, then the prompt again (or the end of the console
    // when the line ended the session).
    void end_paging() {
        pager_.end();
        show_held();
        if (session_.ended())
            end_console();
        if (!input_ended_)
            rl_callback_handler_install(prompt().c_str(), on_line);
    }

    // The log lines that waited, each on a line of its own.
    void show_held() {
        for (const std::string &line : std::exchange(held_, {}))
            std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }

    static inline ReadlineConsole *current_ = nullptr;

    Session &session_;
    terminal::Pager &pager_;
    std::string startup_file_;
    bool input_ended_ = false;
    bool in_line_ = false;           // a line typed runs
    std::vector<std::string> held_;  // log lines that came while it ran or the output was paged
    void (*previous_tstp_)(int) = nullptr;
};

#endif

}  // namespace

int run_lines(Session &session, int fd, bool prompt, std::span<loop::Source *const> others) {
    LineConsole console(session, fd, prompt);
    return loop::run(console, others) ? 0 : 1;
}

int run_console(const framework::Options &options, std::span<loop::Source *const> others) {
    // Batch mode echoes no line: an error shows the line it points into.
    const SessionSettings settings{options.level, EXEC_MODE, options.startup_config,
                                   options.batch ? Echo::none : Echo::prompt};
#if SIM_HAVE_READLINE
    if (!options.batch && ::isatty(STDIN_FILENO) != 0) {
        terminal::Pager pager(stdout, STDIN_FILENO);
        PagedOutput out(pager);
        Session session(*tree(), out, settings);
        ReadlineConsole console(session, pager, options.startup_config);
        UserEntry entry("con 0", "console", session);
        return loop::run(console, others) ? 0 : 1;
    }
#endif
    StreamOutput out(stdout);
    Session session(*tree(), out, settings);
    UserEntry entry("con 0", "console", session);
    return run_lines(session, STDIN_FILENO, !options.batch, others);
}

bool unsaved_changes(const Session &session, const std::string &startup_file) {
    std::string saved;
    if (!startup_file.empty()) {
        std::ifstream in(startup_file, std::ios::binary);
        saved.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return session.tree().running_config() != saved;
}

Replay replay(cli_tree &tree, const std::string &path, std::FILE *err) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return ec ? Replay::unreadable : Replay::missing;
    std::FILE *in = std::filesystem::is_directory(path, ec) ? nullptr : std::fopen(path.c_str(), "r");
    if (in == nullptr)
        return Replay::unreadable;
    StringOutput out;
    Session session(tree, out, {CLI_PRIVILEGE_MAX, CONFIG_MODE, "", Echo::none});
    std::string line;
    for (int number = 1; !session.ended() && read_line(in, line); ++number) {
        if (is_blank_or_comment(line))
            continue;
        session.execute(line);
        std::string printed = out.take();
        if (printed.empty())
            continue;
        if (printed.back() != '\n')
            printed += '\n';
        const std::string where = path + ":" + std::to_string(number) + ": " + line + "\n";
        std::fwrite(where.data(), 1, where.size(), err);
        std::fwrite(printed.data(), 1, printed.size(), err);
    }
    std::fflush(err);
    std::fclose(in);
    return Replay::replayed;
}

Replay replay_startup(const std::string &path) { return replay(*tree(), path, stderr); }

}  // namespace sim::shell
