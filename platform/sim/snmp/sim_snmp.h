// The SNMP bridge library of the simulated switch (the C calls of uib_snmp.h): the table walk behind the
// bridge's show commands, the row keys, and the two table-output operations a command context may hold.
//
// Table mode (output flags CLI_OUT_FLAG_TABLE): a Collector sits behind the context's table-output area and
// records what a bridge command sends: the key of each row (uib_snmp_key_send), the values of that row's
// columns, and values sent outside any row (the scalars). The table walk (UIB_OUT_TABLE_ENTRIES) does what
// the collector's Walk asks: the row of the key in the row buffer (get), or the rows after it (next), as many
// as the collector wants, each found by a get-next from the one before.
//
// Plain mode (output flags 0), the operation of operator sessions at level 20 and above: each value is
// printed through the context's output function exactly as formatted, nothing added ("%d" as printf has it,
// "%96J" as port_list_text). The table walk of a plain-mode context prints one line: the row of the typed
// key when it is stored, otherwise the row after it, or nothing when there is none; the line is the key
// (key_text), then each value after one blank, then "\n".
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli.h"
#include "portlist.h"
#include "uib_snmp.h"

namespace sim::snmp {

// The column number of every value of the scalar show, and the second word of each column descriptor.
inline constexpr int32_t kColumnKind = -100;

// One value a bridge command sent: its column number and either a number ("%d") or octets ("%96J": the
// 96 octets of a port list, the first octet's most significant bit being logical port 1).
struct Value {
    int32_t column = 0;
    std::string format;
    int32_t number = 0;
    std::vector<uint8_t> octets;  // empty for a number

    bool operator==(const Value &) const = default;
};

// One row: its key as sent (bytes, most significant first) and its values in the order sent.
struct Row {
    std::vector<uint8_t> key;
    std::vector<Value> values;

    bool operator==(const Row &) const = default;
};

// What the table walk does with the key in the row buffer.
enum class Walk {
    get,   // the row of that key, if it is stored
    next,  // the rows after that key, in order
};

// Records what a bridge command sends through a context in table mode.
class Collector {
public:
    // rows: how many rows a walk of Walk::next reads at most.
    explicit Collector(Walk walk = Walk::get, std::size_t rows = 1) : walk_(walk), wanted_(rows) {}
    Collector(const Collector &) = delete;
    Collector &operator=(const Collector &) = delete;

    // Puts ctx in table mode with this collector behind its table-output area; the collector must outlive
    // the context's use.
    void attach(cli &ctx);
    // From now on the table-output operation answers "stop" (UIB_OUT_STOP) to a value of this column (and
    // records nothing for it).
    void stop_at(int32_t column) { stop_at_ = column; }

    Walk walk() const { return walk_; }
    std::size_t wanted() const { return wanted_; }
    const std::vector<Row> &rows() const { return rows_; }
    const std::vector<Value> &scalars() const { return scalars_; }
    // What was recorded, handed over; the collector is empty after it.
    std::vector<Row> take_rows() { return std::move(rows_); }
    std::vector<Value> take_scalars() { return std::move(scalars_); }

    // Called by the bridge: a row's key, and a value of the current row (or a scalar before any key).
    void key(const void *bytes, int length);
    int value(const UIB_COLUMN_T *column, const char *format, va_list ap);

private:
    Walk walk_;
    std::size_t wanted_;
    int32_t stop_at_ = 0;
    std::vector<Row> rows_;
    std::vector<Value> scalars_;
};

// What a bridge command did when run through the shell in table mode.
struct Reply {
    bool ok = false;             // the line matched a command whose handler returned 0
    std::string printed;         // what the command (or the shell) printed on the terminal
    std::vector<Row> rows;       // the rows it sent
    std::vector<Value> scalars;  // the values it sent outside rows
};

// Runs one command line through the shell, as the switch's SNMP agent does: a session at level 20 in mode
// (EXEC_MODE for the shows, CONFIG_MODE for the changes) whose context is in table mode with a collector
// of the given walk (and, for Walk::next, rows at most).
Reply run(std::string_view line, int mode, Walk walk = Walk::get, std::size_t rows = 1);

// The table-output operation of operator sessions at level 20 and above (plain mode).
int plain_table_out(void *destination, ...);

// The text of "%96J": the port list's 24 words, each as "0x%08X" (word 0 holding ports 1 to 32, port 1 in
// its most significant bit), separated by one blank: the form the rule set command takes back.
std::string port_list_text(const PORTLIST_T &list);
// The 96 octets of a port list, the first octet's most significant bit being logical port 1.
std::vector<uint8_t> port_list_octets(const PORTLIST_T &list);
// The port list of 96 such octets.
PORTLIST_T port_list_of(const std::vector<uint8_t> &octets);

// The text of a row key: 12 bytes as "A.B.C.D XX:XX:XX:XX:XX:XX" (server address, client MAC; the last two
// bytes are padding), 4 bytes as one unsigned number (most significant byte first), any other length as
// upper-case hex pairs.
std::string key_text(const std::vector<uint8_t> &key);

}  // namespace sim::snmp
