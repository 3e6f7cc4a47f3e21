// The logging commands: the settings of the log buffer and of console logging (log/sim_log.h), their lines
// in the running configuration, and the view of the buffer. A level is written as one of four keywords,
// least severe first: debugging (101), informational (103), warnings (104), errors (107).
#include "log/logging_commands.h"

#include <cstdint>
#include <optional>
#include <string>

#include "format/sim_format.h"
#include "log/sim_log.h"
#include "qvlog.h"
#include "shell/platform_commands.h"

namespace sim::log {
namespace {

using platform_commands::print;

struct LevelName {
    int level;
    const char *keyword;
};
constexpr LevelName kLevelNames[] = {{QVLOG_LEVEL_DEBUG, "debugging"},
                                     {QVLOG_LEVEL_INFO, "informational"},
                                     {QVLOG_LEVEL_WARNING, "warnings"},
                                     {QVLOG_LEVEL_ERROR, "errors"}};

// The keyword of a level, or "level N" for a level that has none.
std::string level_text(int level) {
    for (const LevelName &name : kLevelNames)
        if (name.level == level)
            return name.keyword;
    return "level " + std::to_string(level);
}

// "logging buffered [<10-100000>] [LEVEL]": the buffer on, with the size and the level given, the defaults for
// those left out. The level is the handler's, one instance per keyword (none: the default).
template <int Level>
int logging_buffered(cli *cli, int argc, char **argv) {
    BufferSettings settings;
    settings.level = Level;
    if (argc == 1) {
        const std::optional<int64_t> lines = platform_commands::number(argv[0], kBufferMinLines, kBufferMaxLines);
        if (!lines) {
            print(cli, "% Invalid input\n");
            return 1;
        }
        settings.lines = static_cast<std::size_t>(*lines);
    }
    set_buffer(settings);
    return 0;
}

int no_logging_buffered(cli *, int, char **) {
    BufferSettings settings;
    settings.on = false;
    set_buffer(settings);
    return 0;
}

// "logging console [LEVEL]": every line of the level and above on the consoles; without a level, every line.
template <int Level>
int logging_console(cli *, int, char **) {
    set_console({ConsoleSettings::Mode::from_level, Level});
    return 0;
}

int no_logging_console(cli *, int, char **) {
    set_console({ConsoleSettings::Mode::off, QVLOG_LEVEL_WARNING});
    return 0;
}

// What console logging is set to, as "show logging" says it.
std::string console_text(const ConsoleSettings &console) {
    switch (console.mode) {
    case ConsoleSettings::Mode::platform_warnings:
        return "level warnings, platform messages only";
    case ConsoleSettings::Mode::from_level:
        return "level " + level_text(console.level);
    case ConsoleSettings::Mode::off:
        break;
    }
    return "disabled";
}

// "show logging": what console, monitor and buffer logging are set to, with their counts, then the buffer's
// lines, oldest first, each with its time stamp.
int show_logging(cli *cli, int, char **) {
    const Snapshot now = snapshot();
    std::string console = console_text(now.console);
    if (now.console.mode != ConsoleSettings::Mode::off)
        console += sim::format(", %llu messages logged", static_cast<unsigned long long>(now.queued));
    print(cli, sim::format("Console logging: %s\nMonitor logging: %s\n", console.c_str(), console.c_str()));
    if (!now.buffer.on) {
        print(cli, "Buffer logging: disabled\n");
        return 0;
    }
    print(cli, sim::format("Buffer logging: level %s, %llu messages logged\n", level_text(now.buffer.level).c_str(),
                           static_cast<unsigned long long>(now.buffered)));
    print(cli, sim::format("\nLog Buffer (%zu lines):\n\n", now.buffer.lines));
    for (const BufferedLine &line : now.lines)
        print(cli, stamped(line) + "\n");
    return 0;
}

int clear_logging(cli *, int, char **) {
    clear_buffer();
    return 0;
}

// The running configuration: the settings that differ from the defaults, then "!".
int write_config(cli *cli) {
    const BufferSettings buffer = buffer_settings();
    const BufferSettings default_buffer;
    std::string text;
    if (!buffer.on) {
        text += "no logging buffered\n";
    } else if (buffer != default_buffer) {
        text += "logging buffered";
        if (buffer.lines != default_buffer.lines)
            text += sim::format(" %zu", buffer.lines);
        if (buffer.level != default_buffer.level)
            text += sim::format(" %s", level_text(buffer.level).c_str());
        text += "\n";
    }
    const ConsoleSettings console = console_settings();
    if (console.mode == ConsoleSettings::Mode::from_level)
        text += "logging console " + level_text(console.level) + "\n";
    else if (console.mode == ConsoleSettings::Mode::off)
        text += "no logging console\n";
    if (!text.empty())
        print(cli, text + "!\n");
    return 0;
}

int reset_config() {
    set_buffer(BufferSettings{});
    set_console(ConsoleSettings{});
    return 0;
}

constexpr const char *kLoggingHelp = "Modify message logging facilities";
constexpr const char *kBufferedHelp = "Set buffered logging parameters";
constexpr const char *kSizeHelp = "Logging buffer size, in lines";
constexpr const char *kConsoleHelp = "Set console logging parameters";
constexpr const char *kNoHelp = "Negate a command or set its defaults";
constexpr const char *kDebuggingHelp = "Debugging messages (level 101)";
constexpr const char *kInformationalHelp = "Informational messages (level 103)";
constexpr const char *kWarningsHelp = "Warning conditions (level 104)";
constexpr const char *kErrorsHelp = "Error conditions (level 107)";

const char *buffered_help[] = {kLoggingHelp, kBufferedHelp, kSizeHelp, nullptr};
const char *buffered_debugging_help[] = {kLoggingHelp, kBufferedHelp, kSizeHelp, kDebuggingHelp, nullptr};
const char *buffered_informational_help[] = {kLoggingHelp, kBufferedHelp, kSizeHelp, kInformationalHelp, nullptr};
const char *buffered_warnings_help[] = {kLoggingHelp, kBufferedHelp, kSizeHelp, kWarningsHelp, nullptr};
const char *buffered_errors_help[] = {kLoggingHelp, kBufferedHelp, kSizeHelp, kErrorsHelp, nullptr};
const char *no_buffered_help[] = {kNoHelp, kLoggingHelp, kBufferedHelp, nullptr};
const char *console_help[] = {kLoggingHelp, kConsoleHelp, nullptr};
const char *console_debugging_help[] = {kLoggingHelp, kConsoleHelp, kDebuggingHelp, nullptr};
const char *console_informational_help[] = {kLoggingHelp, kConsoleHelp, kInformationalHelp, nullptr};
const char *console_warnings_help[] = {kLoggingHelp, kConsoleHelp, kWarningsHelp, nullptr};
const char *console_errors_help[] = {kLoggingHelp, kConsoleHelp, kErrorsHelp, nullptr};
const char *no_console_help[] = {kNoHelp, kLoggingHelp, kConsoleHelp, nullptr};
const char *show_help[] = {"Show running system information", "The logging settings and the log buffer", nullptr};
const char *clear_help[] = {"Reset functions", "Empty the log buffer", nullptr};

cli_element config_records[] = {
    {"logging buffered [<10-100000>]", logging_buffered<QVLOG_LEVEL_DEBUG>, buffered_help, {0}},
    {"logging buffered [<10-100000>] debugging", logging_buffered<QVLOG_LEVEL_DEBUG>, buffered_debugging_help, {0}},
    {"logging buffered [<10-100000>] informational", logging_buffered<QVLOG_LEVEL_INFO>, buffered_informational_help,
     {0}},
    {"logging buffered [<10-100000>] warnings", logging_buffered<QVLOG_LEVEL_WARNING>, buffered_warnings_help, {0}},
    {"logging buffered [<10-100000>] errors", logging_buffered<QVLOG_LEVEL_ERROR>, buffered_errors_help, {0}},
    {"no logging buffered", no_logging_buffered, no_buffered_help, {0}},
    {"logging console", logging_console<QVLOG_LEVEL_DEBUG>, console_help, {0}},
    {"logging console debugging", logging_console<QVLOG_LEVEL_DEBUG>, console_debugging_help, {0}},
    {"logging console informational", logging_console<QVLOG_LEVEL_INFO>, console_informational_help, {0}},
    {"logging console warnings", logging_console<QVLOG_LEVEL_WARNING>, console_warnings_help, {0}},
    {"logging console errors", logging_console<QVLOG_LEVEL_ERROR>, console_errors_help, {0}},
    {"no logging console", no_logging_console, no_console_help, {0}},
};

cli_element exec_records[] = {
    {"show logging", show_logging, show_help, {0}},
    {"clear logging", clear_logging, clear_help, {0}},
};

}  // namespace

int install_commands(cli_tree *tree) {
    for (cli_element &record : config_records)
        cli_install(tree, CONFIG_MODE, &record);
    for (cli_element &record : exec_records)
        cli_install(tree, EXEC_MODE, &record);
    cli_install_config(tree, kConfigOrder, write_config);
    cli_install_reset(tree, reset_config);
    return 0;
}

}  // namespace sim::log
