// The consoles of the shell: lines from a descriptor (batch, or plain lines with the prompt), GNU readline on
// a terminal, both served by the main loop together with its other sources, and the replay of the
// startup-configuration file at boot.
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

#include "shell/sim_shell.h"

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

// The lines of a descriptor, read as they arrive and run one by one.
class LineConsole : public loop::Source {
public:
    LineConsole(Session &session, int fd, bool prompt) : session_(session), fd_(fd), prompt_(prompt) {}

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

private:
    void show_prompt() {
        if (!prompt_ || prompted_)
            return;
        session_.out().write(session_.prompt() + " ");
        session_.out().flush();
        prompted_ = true;
    }

    void run(std::string line) {
        show_prompt();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        session_.process(line);
        prompted_ = false;
    }

    Session &session_;
    int fd_;
    bool prompt_;
    bool prompted_ = false;
    bool ended_ = false;
    std::string pending_;
};

#if SIM_HAVE_READLINE

// The session that readline's callbacks work on while the terminal console runs, and its startup file.
Session *g_session = nullptr;
std::string g_startup_file;
bool g_input_ended = false;

constexpr const char *kConfirmEnd = "Unsaved changes will be lost. Exit anyway? [confirm]";

// readline's generator of completions: the session's completions of the line up to the cursor.
char *next_completion(const char *, int state) {
    static std::vector<std::string> matches;
    static std::size_t next = 0;
    if (state == 0) {
        matches = g_session->completions(std::string_view(rl_line_buffer, static_cast<std::size_t>(rl_point)));
        next = 0;
    }
    if (next >= matches.size())
        return nullptr;
    return strdup(matches[next++].c_str());
}

// TAB: completes keywords only (never file names): a unique one is completed, several are listed.
char **complete_word(const char *text, int, int) {
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, next_completion);
}

// "?": prints the help of the line up to the cursor under it, then shows the prompt and the line again.
int show_help(int, int) {
    std::fputc('\n', rl_outstream);
    std::fflush(rl_outstream);
    g_session->help(std::string_view(rl_line_buffer, static_cast<std::size_t>(rl_point)));
    rl_on_new_line();
    return 0;
}

// Ends the console (and the switch with it), after asking when the running configuration is not the one
// saved in the startup file.
void end_console() {
    g_session->resume();
    if (unsaved_changes(*g_session, g_startup_file))
        g_session->ask(kConfirmEnd, [] { g_input_ended = true; });
    else
        g_input_ended = true;
}

void show_prompt() { rl_set_prompt((g_session->prompt() + " ").c_str()); }

// A whole line typed (null at the end of input): runs it and shows the prompt of the mode it leaves. The end
// of input at a question answers it.
void on_line(char *raw) {
    if (raw == nullptr) {
        if (g_session->asking())
            g_session->process("");
        else
            end_console();
    } else {
        std::string line(raw);
        std::free(raw);
        if (!g_session->asking() && !is_blank_or_comment(line))
            add_history(line.c_str());
        g_session->process(line);
        if (g_session->ended())
            end_console();
    }
    if (g_input_ended)
        rl_callback_handler_remove();
    else
        show_prompt();
}

// Ctrl-C: abandons the line being typed (and a question it answers) and starts a fresh prompt.
void abandon_line() {
    std::fputs("^C", rl_outstream);
    rl_replace_line("", 0);
    rl_crlf();
    g_session->forget_question();
    show_prompt();
    rl_on_new_line();
    rl_redisplay();
}

// The terminal, read a key at a time with GNU readline, so the loop serves its other sources meanwhile.
// Ctrl-C abandons the line and Ctrl-Z is ignored: neither ends nor stops the switch behind the console.
class ReadlineConsole : public loop::Source {
public:
    ReadlineConsole(Session &session, const std::string &startup_file) {
        g_session = &session;
        g_startup_file = startup_file;
        g_input_ended = false;
        rl_readline_name = "dhcpftr";
        rl_catch_signals = 0;
        rl_attempted_completion_function = complete_word;
        rl_completer_word_break_characters = const_cast<char *>(" \t");
        rl_variable_bind("show-all-if-ambiguous", "on");
        rl_bind_key('?', show_help);
        previous_tstp_ = std::signal(SIGTSTP, SIG_IGN);
        loop::set_interrupt(abandon_line);
        rl_callback_handler_install((session.prompt() + " ").c_str(), on_line);
    }
    ~ReadlineConsole() override {
        rl_callback_handler_remove();
        loop::set_interrupt({});
        std::signal(SIGTSTP, previous_tstp_);
        g_session = nullptr;
    }
    ReadlineConsole(const ReadlineConsole &) = delete;
    ReadlineConsole &operator=(const ReadlineConsole &) = delete;

    void prepare(loop::Wait &wait) override { wait.fds.push_back(STDIN_FILENO); }
    void dispatch(const std::vector<int> &ready) override {
        if (!ready.empty())
            rl_callback_read_char();
    }
    bool done() const override { return g_input_ended; }

private:
    void (*previous_tstp_)(int);
};

#endif

}  // namespace

int run_lines(Session &session, int fd, bool prompt, std::span<loop::Source *const> others) {
    LineConsole console(session, fd, prompt);
    return loop::run(console, others) ? 0 : 1;
}

int run_console(const framework::Options &options, std::span<loop::Source *const> others) {
    StreamOutput out(stdout);
    // Batch mode echoes no line: an error shows the line it points into.
    Session session(*tree(), out, {options.level, EXEC_MODE, options.startup_config,
                                   options.batch ? Echo::none : Echo::prompt});
#if SIM_HAVE_READLINE
    if (!options.batch && ::isatty(STDIN_FILENO) != 0) {
        ReadlineConsole console(session, options.startup_config);
        UserEntry entry("con 0", "console", session);
        return loop::run(console, others) ? 0 : 1;
    }
#endif
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
