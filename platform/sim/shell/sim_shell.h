// The operator shell of the simulated switch: the command tree that modules install their commands into
// (the C calls of cli.h), the sessions that match typed lines against it and run the handlers, and the
// consoles (batch, terminal, startup replay).
//
// A session matches a line word by word: at every position it keeps the commands whose token there fits
// the word best (exact keyword, then a typed value, then an abbreviated keyword, then any word; see
// shell/syntax.h). A command above the session's privilege level is invisible. A line that matches nothing
// in the session's mode is looked up in the parent mode when the mode inherits its parent's commands (the
// interface mode inherits the configuration mode's). The shell's own errors are the texts of kError*; a word
// that fits nothing is pointed at with a caret (see Echo).
//
// A show command (and "write terminal") takes an output filter at the end of its line: "|" as a word of its
// own, then "include", "exclude", "begin" or "count" (keywords, abbreviated as any), then a POSIX extended
// regular expression, the rest of the line, blanks included ("count" may go without). Only the lines of the
// command's output that the filter lets through are printed.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli.h"
#include "init/sim_framework.h"
#include "loop/sim_loop.h"
#include "shell/syntax.h"

namespace sim::shell {

// The longest line the shell takes, in characters.
constexpr std::size_t kMaxLine = 16384;

inline constexpr const char *kErrorUnknown = "% Unknown command";
inline constexpr const char *kErrorAmbiguous = "% Ambiguous command";
inline constexpr const char *kErrorIncomplete = "% Incomplete command";
inline constexpr const char *kErrorInvalid = "% Invalid input";  // a handler's own; the shell points instead
inline constexpr const char *kErrorMarker = "% Invalid input detected at '^' marker.";
inline constexpr const char *kErrorTooLong = "% Line too long";

// A mode of the shell. "exit" leaves a mode for its parent; a mode that inherits finds its parent's commands
// when its own do not match a line.
struct Mode {
    int number = 0;
    std::string name;
    std::string prompt;
    int parent = 0;  // 0: none
    bool inherits = false;
};

// Where a session's output goes.
class Output {
public:
    virtual ~Output() = default;
    virtual void write(std::string_view text) = 0;
    virtual void flush() {}
};

// Output to a stdio stream (standard output of the console).
class StreamOutput : public Output {
public:
    explicit StreamOutput(std::FILE *stream) : stream_(stream) {}
    void write(std::string_view text) override;
    void flush() override;

private:
    std::FILE *stream_;
};

// Output collected in a string (tests, running-configuration writers, the startup replay).
class StringOutput : public Output {
public:
    void write(std::string_view text) override { text_ += text; }
    // The text collected since the last take, and forgets it.
    std::string take() { return std::exchange(text_, {}); }

private:
    std::string text_;
};

// The output function of every command context: formats with sim::vformat ("%r" included) and writes the
// text to target, an Output. Returns the number of characters written.
int output(void *target, const char *format, ...);

// A command context for output into out in a mode: the chassis's global and router contexts, no current
// interface, plain output flags, no table output.
cli make_context(Output &out, int mode);

class Session;
class Terminal;  // shell/sim_terminal.h

// A command of the shell itself. args are the handler arguments of the matched words, followed, for a command
// that takes the rest of the line ("do"), by the words after its own tokens. Returns 0 on success.
using Builtin = std::function<int(Session &session, std::vector<std::string> &args)>;

// An installed command.
struct Command {
    Syntax syntax;
    int mode = 0;
    int level = 0;
    CLI_HANDLER_FN handler = nullptr;  // a module's command, or
    Builtin builtin;                   // one of the shell's own
    int rest_mode = 0;  // non-zero: at least one more word follows, and those words run as a line of this mode
    bool filtered = false;  // takes an output filter: a command whose first word is "show", or one marked so
    std::vector<std::string> signatures;  // of its paths (syntax.h)
};

}  // namespace sim::shell

// The shell's command tree: the modes, the installed commands, the running-configuration writers and the
// configuration resets. A new tree has the three modes and the shell's built-in commands.
struct cli_tree {
public:
    cli_tree();
    cli_tree(const cli_tree &) = delete;
    cli_tree &operator=(const cli_tree &) = delete;

    // Forgets every installed command, writer and reset, then installs the built-in commands again.
    void reset();

    // The mode of a number, or null.
    const sim::shell::Mode *mode(int number) const;
    // The modes a line typed in mode is looked up in: the mode, then its parent as long as the mode searched
    // last inherits.
    std::vector<int> search_order(int mode) const;

    // Installs a command in a mode at a privilege level; handler or builtin runs it, rest_mode as in Command.
    // A record that cannot be installed (unknown mode, level outside 0-20, no handler, malformed command
    // string, help texts that do not fit its tokens, a command that matches the same words as one the mode
    // has) is reported on standard error, naming the command, and the process aborts. Returns the command.
    sim::shell::Command &install(int mode, int level, const char *text, const char *const *help,
                                 CLI_HANDLER_FN handler, sim::shell::Builtin builtin = {}, int rest_mode = 0);
    // Registers a running-configuration writer; writers run in ascending order, equal orders as installed.
    void add_writer(int order, CLI_CONFIG_WRITE_FN writer);
    // Registers a configuration reset; resets run in the order installed.
    void add_reset(CLI_CONFIG_RESET_FN reset);

    // The commands of a mode visible at a privilege level, in the order installed.
    std::vector<const sim::shell::Command *> visible(int mode, int level) const;
    // Every writer's output, in order, for a context in the configuration mode.
    std::string running_config() const;
    // Calls every reset, in the order installed.
    void reset_config() const;

private:
    void add_mode(sim::shell::Mode mode);

    std::vector<sim::shell::Mode> modes_;
    std::vector<std::unique_ptr<sim::shell::Command>> commands_;
    std::vector<std::pair<int, CLI_CONFIG_WRITE_FN>> writers_;
    std::vector<CLI_CONFIG_RESET_FN> resets_;
};

namespace sim::shell {

// Writes "shell: cannot install "<what>"[ in mode N]: <reason>" to standard error and aborts the process.
[[noreturn]] void install_failure(const std::string &what, int mode, const std::string &reason);

// Installs the shell's built-in commands into a tree (cli_tree's constructor and reset do).
void install_builtins(cli_tree &tree);

// The process's command tree: the tree of the start-up framework's context.
cli_tree *tree();

// Where the operator sees a line that the session runs, which decides how an error points into it: the
// caret stands under the first character of the word that fits nothing, counted in characters as typed (a
// tab is one).
enum class Echo {
    prompt,  // on the screen after the prompt and a blank (a terminal, dhcpftr-cli): the caret line alone
    none,    // nowhere (batch mode, the startup replay): the line is printed first, the caret under it
};

struct SessionSettings {
    int level = CLI_PRIVILEGE_NORMAL;
    int mode = EXEC_MODE;
    std::string startup_file;  // where "write memory" saves ("" = none)
    Echo echo = Echo::prompt;
};

// The lines most recently run that a session keeps for "show history".
constexpr std::size_t kHistoryLines = 20;

enum class Outcome {
    ok,      // ran (or nothing to run)
    failed,  // a shell error, or the handler returned non-zero
    ended,   // the session ended ("exit" in the EXEC mode)
};

// One operator session: its mode, privilege level, command context and output.
class Session {
public:
    Session(cli_tree &tree, Output &out, SessionSettings settings = {});

    // Runs one line and flushes the output. Prints the shell's error (and "\n") into the output when the
    // line is too long, holds control characters other than tab, does not match one visible command
    // completely, or has an output filter that the command does not take or that is malformed. Blank lines
    // and lines whose first word starts with "!" run nothing; the others are kept for "show history".
    Outcome execute(std::string_view line);
    // As execute, except that a line whose last non-blank character is "?" prints the help of what
    // precedes the "?" and runs nothing.
    Outcome process(std::string_view line);
    // Prints the help of a line: when it ends in a blank (or is empty), every token that may come next, with
    // its help text, and "<cr>" when the words form a whole command; otherwise every token the last,
    // partial word may start. Prints the shell's error instead when the words before cannot match.
    void help(std::string_view line);
    // The keywords that complete the last, partial word of the line (every possible next keyword when the
    // line ends in a blank), sorted.
    std::vector<std::string> completions(std::string_view line) const;

    // Runs words as a line typed in mode (the session's mode stays what the command makes it). While a line
    // runs, words are its words before an output filter, or the last of them ("do" runs those after it): an
    // error points into the line.
    Outcome run_words(int mode, const std::vector<std::string> &words);

    int mode() const { return mode_; }
    int level() const { return settings_.level; }
    bool ended() const { return ended_; }
    std::string prompt() const;
    const SessionSettings &settings() const { return settings_; }
    // Where the operator sees the lines from now on (a client says so for its scripts).
    void set_echo(Echo echo) { settings_.echo = echo; }
    cli_tree &tree() { return tree_; }
    const cli_tree &tree() const { return tree_; }
    // Where commands print: the session's output, or the filter of the line that runs.
    Output &out() { return *current_; }
    cli *context() { return &ctx_; }
    // The last lines run (at most kHistoryLines), oldest first.
    const std::deque<std::string> &history() const { return history_; }

    // Moves the session to a mode; leaving for an enclosing mode ("exit", "end") clears the current
    // interface when clear_interface is set.
    void enter(int mode, bool clear_interface);
    // Ends the session: the console stops reading.
    void end() { ended_ = true; }
    // Takes back an end that the operator did not confirm.
    void resume() { ended_ = false; }
    // Asks the operator before action runs: question becomes the session's prompt, and the next line that
    // process gets answers it: an empty line, or one starting with "y" or "Y", runs action; any other
    // answer runs nothing.
    void ask(std::string question, std::function<void()> action);
    bool asking() const { return static_cast<bool>(confirmed_); }
    // Takes the question back unanswered (Ctrl-C at it).
    void forget_question() { confirmed_ = {}; }
    // Writes text and a newline into the output.
    void say(std::string_view text);
    // The terminal of the session, which the terminal commands change; null when it has none.
    Terminal *terminal() const { return terminal_; }
    void set_terminal(Terminal *terminal) { terminal_ = terminal; }

private:
    // Runs a matched command with the arguments of the words, as a command of mode.
    Outcome invoke(const Command &command, const Path &path, const std::vector<std::string> &words, int mode);
    // Prints the help of line, the part before the "?" of typed, the line as the operator typed it.
    void show_help(std::string_view line, std::string_view typed);
    // Runs the words of a line, split from an output filter when it has one.
    Outcome run_line(const std::vector<std::string> &words, const std::vector<std::size_t> &columns);
    // Prints an error of the shell itself, unfiltered.
    void error(std::string_view text);
    // Prints the caret under column (a byte offset) of the line typed, and the invalid-input message.
    void point(std::string_view line, std::size_t column);

    cli_tree &tree_;
    Output &out_;
    SessionSettings settings_;
    int mode_;
    bool ended_ = false;
    std::string question_;              // asked while confirmed_ is set
    std::function<void()> confirmed_;   // what a yes runs
    Output *current_;                   // where commands print now
    std::deque<std::string> history_;
    // The line that runs, as typed, the prompt it was typed at and where its words before a filter start.
    std::string line_;
    std::string line_prompt_;
    std::vector<std::size_t> line_columns_;
    Terminal *terminal_ = nullptr;
    cli ctx_;
};

// An operator logged in to the switch: the console or an operator session.
struct User {
    std::string line;  // "con 0", "vty 3"
    std::string name;  // who: "console", or the user name of the session's peer
    std::time_t since = 0;
    const Session *session = nullptr;
};

// Everyone logged in now, in the order they came.
const std::list<User> &users();

// Lists a session among the users for as long as it lives.
class UserEntry {
public:
    UserEntry(std::string line, std::string name, const Session &session);
    ~UserEntry();
    UserEntry(const UserEntry &) = delete;
    UserEntry &operator=(const UserEntry &) = delete;

private:
    std::list<User>::iterator at_;
};

// Reads lines from the descriptor fd and runs each through session.process until fd ends or the session ends,
// while the main loop serves the other sources too; with prompt, writes the mode's prompt and a blank to the
// session's output before each line. A "\r" before the end of a line is dropped. Returns 0 (1 when waiting
// failed).
int run_lines(Session &session, int fd, bool prompt, std::span<loop::Source *const> others = {});

// Runs the console of the process after boot, serving the other sources of the main loop as well: with
// options.batch the lines of standard input; otherwise, on a terminal, GNU readline (when built with it), or
// plain lines with the prompt. On the terminal, Ctrl-C abandons the line, Ctrl-Z is ignored, and "exit" or
// Ctrl-D at the EXEC prompt asks "Unsaved changes will be lost. Exit anyway? [confirm]" before ending when
// the running configuration is not the startup file's. The session runs at options.level in the EXEC mode and "write memory" saves to
// options.startup_config. Returns the process's exit status (0, or 1 when waiting failed).
int run_console(const framework::Options &options, std::span<loop::Source *const> others = {});

// True when the running configuration is not the text of the startup file (a missing file, or none, is
// empty): ending now would lose changes.
bool unsaved_changes(const Session &session, const std::string &startup_file);

enum class Replay { replayed, missing, unreadable };

// Runs the lines of a startup-configuration file in a session of the CONFIG mode at the highest level:
// blank lines and "!" lines skipped; when a line prints anything, writes "FILE:N: <line>" and then what it
// printed to err. Stops at a line that ends the session.
Replay replay(cli_tree &tree, const std::string &path, std::FILE *err);
// Replays a startup-configuration file into the process's tree, reporting on standard error.
Replay replay_startup(const std::string &path);

}  // namespace sim::shell
