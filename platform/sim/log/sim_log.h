// The simulated platform's log behind qvprintf (qvlog.h).
//
// A call is one piece of a line: flag 0 starts a line, flag 1 continues the line the same thread started last
// (each thread has its own open line, so the kernel filter's thread never cuts a line the daemon is writing).
// A line whose first piece has a level below the minimum is dropped with all its continuations. Accepted
// text is collected until a "\n" ends it; each complete line is then written to the sink as
// "<module>.<level> <text>" (module 153 is "dhcpftr", every other module "platform"; the level is the one of
// the line's first piece). A line still open when the same thread starts the next one is ended there. Tests
// can also capture every accepted piece as it was made. A line that neither a sink nor the capture takes is
// never formatted.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

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


// Puts every setting back to its default (minimum level 0, no sink, capture off), forgets records and any line
// still open.
void reset();

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
