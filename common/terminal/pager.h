// The pager of output to an operator's terminal, which the switch's console and dhcpftr-cli share: output
// longer than a page stops at " --More-- " until a key says what next (space: a page, return: a line, q:
// nothing more). Whoever reads the terminal hands the keys in as they come, so no call ever waits for the
// operator and a main loop goes on serving its other sources meanwhile.
#pragma once

#include <termios.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace terminal {

inline constexpr std::string_view kMore = " --More-- ";

// The terminal's settings while a pager waits at " --More-- ": keys come one at a time, not echoed; Ctrl-C
// stays a signal. The settings before come back when the object goes. Nothing changes when fd is no
// terminal.
class KeyMode {
public:
    explicit KeyMode(int fd);
    ~KeyMode();
    KeyMode(const KeyMode &) = delete;
    KeyMode &operator=(const KeyMode &) = delete;

private:
    int fd_;
    termios saved_{};
    bool set_ = false;
};

// Output to a terminal, paged while a command's output is: its lines go out until the page is full; then
// " --More-- " shows, the keys' terminal is in KeyMode, and the rest (with whatever is written meanwhile) is
// kept until a key says what next. Outside a command's output (before start(), after end()) text goes
// straight out.
class Pager {
public:
    // A pager that writes to out, with the keys at " --More-- " read from the terminal keys.
    Pager(std::FILE *out, int keys) : out_(out), keys_fd_(keys) {}
    Pager(const Pager &) = delete;
    Pager &operator=(const Pager &) = delete;

    // "terminal length": lines a page from now on, 0 for no paging.
    void set_length(int lines) { length_ = lines; }
    // Lines a page: "terminal length" when it was given, else the window's height less one; 0 (no paging)
    // when out is no terminal.
    int page_length() const;

    // Pages what is written from now on, the output of a command, page_length() lines a page.
    void start();
    // Writes text: shown while the page has room, kept for a next page once it is full (" --More-- " then
    // shows), dropped once the rest of the output was dropped.
    void write(std::string_view text);
    void flush() { std::fflush(out_); }

    // True while at " --More-- ": output is kept, waiting for a key.
    bool more() const { return keys_.has_value(); }
    // True when the rest of the command's output was dropped (q, drop()), until start() or end().
    bool dropped() const { return dropped_; }

    // Reads a key from the keys' terminal and acts on it as key() does; a terminal that went drops the rest.
    // Does nothing when the read was interrupted or found no key.
    void read_key();
    // A key at " --More-- ": space shows the next page, return the next line, q drops the rest, each with
    // " --More-- " erased first; other keys, or any key when not at " --More-- ", do nothing.
    void key(char pressed);
    // Drops the rest of the command's output (q, Ctrl-C): " --More-- " erased, the output kept and all that
    // is written until start() or end() dropped.
    void drop();
    // Ends the paging: the output kept is dropped, the terminal's settings come back and what is written
    // goes straight out.
    void end();

private:
    // Shows text while the page has room; the rest is kept and " --More-- " shows.
    void show(std::string_view text);
    // Leaves " --More-- " and shows the output kept, lines a page (0: all of it).
    void resume(int lines);
    void show_more();
    void erase_more();

    std::FILE *out_;
    int keys_fd_;
    std::optional<int> length_;    // set by "terminal length"
    std::optional<int> left_;      // lines still shown on this page; none: not paging
    std::string kept_;             // output waiting for the next page
    std::optional<KeyMode> keys_;  // while at " --More-- "
    bool dropped_ = false;         // the rest of the command's output goes
};

}  // namespace terminal
