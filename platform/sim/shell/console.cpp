// The consoles of the shell: lines from a stream (batch, or plain lines with the prompt), GNU readline on a
// terminal, and the replay of the startup-configuration file at boot.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
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
    line.clear();
    int c;
    while ((c = std::getc(in)) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (c == EOF && line.empty())
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool is_blank_or_comment(const std::string &line) {
    std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '!';
}

#if SIM_HAVE_READLINE

// The session that readline's completion and help keys work on while run_readline runs.
Session *g_session = nullptr;

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

int run_readline(Session &session) {
    g_session = &session;
    rl_readline_name = "dhcpftr";
    rl_attempted_completion_function = complete_word;
    rl_completer_word_break_characters = " \t";
    rl_variable_bind("show-all-if-ambiguous", "on");
    rl_bind_key('?', show_help);
    while (!session.ended()) {
        const std::string prompt = session.prompt() + " ";
        char *raw = readline(prompt.c_str());
        if (raw == nullptr) {
            std::fputc('\n', stdout);
            break;
        }
        std::string line(raw);
        std::free(raw);
        if (!is_blank_or_comment(line))
            add_history(line.c_str());
        session.process(line);
    }
    g_session = nullptr;
    return 0;
}

#endif

}  // namespace

int run_lines(Session &session, std::FILE *in, bool prompt) {
    std::string line;
    while (!session.ended()) {
        if (prompt) {
            session.out().write(session.prompt() + " ");
            session.out().flush();
        }
        if (!read_line(in, line))
            break;
        session.process(line);
    }
    return 0;
}

int run_console(const framework::Options &options) {
    StreamOutput out(stdout);
    Session session(*tree(), out, {options.level, EXEC_MODE, options.startup_config});
#if SIM_HAVE_READLINE
    if (!options.batch && ::isatty(STDIN_FILENO) != 0)
        return run_readline(session);
#endif
    return run_lines(session, stdin, !options.batch);
}

Replay replay(cli_tree &tree, const std::string &path, std::FILE *err) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return ec ? Replay::unreadable : Replay::missing;
    std::FILE *in = std::filesystem::is_directory(path, ec) ? nullptr : std::fopen(path.c_str(), "r");
    if (in == nullptr)
        return Replay::unreadable;
    StringOutput out;
    Session session(tree, out, {CLI_PRIVILEGE_MAX, CONFIG_MODE, ""});
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
