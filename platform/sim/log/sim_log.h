// The simulated platform's log behind qvprintf (qvlog.h).
//
// A call is one piece of a line: flag 0 starts a line, flag 1 continues the line the same thread started last
// (each thread has its own open line, so the kernel filter's thread never cuts a line the daemon is writing).
// A line whose first piece has a level below the minimum is dropped with all its continuations. Accepted
// text is collected until a "\n" ends it; each complete line is then written to the sink as
// "<module>.<level> <text>" (module 153 is "dhcpftr", every other module "platform"; the level is the one of
// the line's first piece). A line still open when the same thread starts the next one is ended there. Tests
// can also capture every accepted piece as it was made.
//
// Besides the sink, a complete line can go to two more places, each with a level of its own and independent
// of the sink and its minimum level: the buffer, which keeps the most recent lines with their time stamps
// for "show logging", and the console queue, which holds the lines that console logging lets through until
// the main loop takes them for the console and the sessions that monitor the log. Both take lines from any
// thread. A line that no sink, capture, buffer or console takes is never formatted.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "qvlog.h"

namespace sim::log {

// Where complete lines go.
enum class Sink {
    none,            // nowhere (the default); the capture still sees them
    standard_error,  // standard error, one write and flush per line
    file,            // the file opened last by open_file, appended to and flushed per line
    system_log,      // syslog, ident "dhcpftr", the line without its newline
};

// One accepted qvprintf call, its text fully formatted.
struct Record {
    int module = 0;
    int sub = 0;
    int level = 0;
    int flag = 0;
    std::string text;

    bool operator==(const Record &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Record &record);

// Lines whose first piece has a level below `level` are dropped. The default, 0, lets every line pass.
void set_min_level(int level);
int min_level();

// Selects a sink. Selecting Sink::file needs a file opened before by open_file; without one it returns false
// and changes nothing. Leaving the file sink closes the file.
bool set_sink(Sink sink);
Sink sink();
// Opens path for appending and makes it the sink; false (and nothing changed) when it cannot be opened.
bool open_file(const std::string &path);

// Turns recording of accepted pieces on or off (off by default); records are kept until clear().
void enable_capture(bool on);
// The pieces recorded so far, oldest first.
std::vector<Record> records();
// Forgets the recorded pieces.
void clear();


// Puts every setting back to its default (minimum level 0, no sink, capture off, the buffer's and the
// consoles' defaults), forgets records, buffered and queued lines, their counts and any line still open.
void reset();

// ---- The buffer.

inline constexpr std::size_t kBufferMinLines = 10;
inline constexpr std::size_t kBufferMaxLines = 100000;

// What the buffer keeps: by default the last 1000 lines of every level.
struct BufferSettings {
    bool on = true;
    std::size_t lines = 1000;       // kBufferMinLines to kBufferMaxLines
    int level = QVLOG_LEVEL_DEBUG;  // the least level taken

    bool operator==(const BufferSettings &) const = default;
};

// A line in the buffer: when it was completed, whose it is, and its text without the newline.
struct BufferedLine {
    std::chrono::system_clock::time_point stamp;
    int module = 0;
    int level = 0;
    std::string text;
};

// Changes what the buffer keeps. A new size keeps the newest lines that fit; turning the buffer off forgets
// its lines and its count.
void set_buffer(const BufferSettings &settings);
BufferSettings buffer_settings();
// Empties the buffer; its count stays.
void clear_buffer();

// ---- Console logging.

// Which lines the consoles get.
struct ConsoleSettings {
    enum class Mode {
        platform_warnings,  // the default: the platform's own lines (not the daemon's) of level 104 and above
        from_level,         // every line of `level` and above
        off,
    };
    Mode mode = Mode::platform_warnings;
    int level = QVLOG_LEVEL_WARNING;  // read in from_level only

    bool operator==(const ConsoleSettings &) const = default;
};

// The longest the console queue grows: beyond it the oldest line goes.
inline constexpr std::size_t kConsoleQueueLines = 10000;

void set_console(const ConsoleSettings &settings);
ConsoleSettings console_settings();

// Lines for the consoles: every line that console logging lets through, stamped as in the buffer, queued from
// any thread until the main loop takes them. wake_fd() is readable while lines wait (an eventfd).
std::vector<std::string> take_console_lines();
int console_wake_fd();
// Whether batch mode shows log lines: only once "logging console" was given explicitly (in the session or replayed).
bool console_logging_explicit();

// ---- What "show logging" shows, taken at one moment.
struct Snapshot {
    BufferSettings buffer;
    ConsoleSettings console;
    std::uint64_t buffered = 0;  // lines the buffer took since it was last turned on
    std::uint64_t queued = 0;    // lines queued for the consoles since the start
    std::vector<BufferedLine> lines;  // the buffer's lines, oldest first
};
Snapshot snapshot();

// A line as the buffer and the consoles show it: the local time of its stamp to the millisecond, ": ", and the
// line as the file sink writes it, without the newline: "Dec  8 08:30:01.123: dhcpftr.104 text".
std::string stamped(const BufferedLine &line);

// Replaces every "[" digits "]" in text with "[#]", so that tests need not pin the source line numbers that
// log lines carry ("Function [123]: ...").
inline std::string without_line_numbers(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[') {
            std::size_t j = i + 1;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9')
                ++j;
            if (j > i + 1 && j < text.size() && text[j] == ']') {
                out += "[#]";
                i = j;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace sim::log
