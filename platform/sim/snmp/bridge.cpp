// The SNMP bridge library: the table walk, the row keys and the table-output operations (sim_snmp.h).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "format/sim_format.h"
#include "shell/sim_shell.h"
#include "snmp/sim_snmp.h"

namespace sim::snmp {
namespace {

// A context's table-output area holds the address of its collector in its first words and this mark in its
// last, so that an area the bridge did not fill is never taken for one.
constexpr uint32_t kCollectorMark = 0x534E4D50u;  // "SNMP"
constexpr std::size_t kMarkWord = sizeof(cli_table_area::words) / sizeof(uint32_t) - 1;

static_assert(sizeof(Collector *) <= kMarkWord * sizeof(uint32_t), "a collector's address fits the area");

Collector *collector_of(const cli_table_area *area) {
    if (area == nullptr || area->words[kMarkWord] != kCollectorMark)
        return nullptr;
    Collector *collector = nullptr;
    std::memcpy(&collector, area->words, sizeof collector);
    return collector;
}

// True while the plain-mode table walk prints a row: each value then follows a blank.
bool g_in_plain_row = false;

// The format of a port-list column value: "%96J", the list passed by value.
bool is_port_list(const char *format) { return format != nullptr && std::strcmp(format, "%96J") == 0; }

// True for a format of one integer conversion ("%d", "%u", "%x", ...), the value an int.
bool is_integer(const char *format) {
    if (format == nullptr || format[0] != '%')
        return false;
    const std::size_t n = std::strlen(format);
    return n >= 2 && std::strchr("diuxXo", format[n - 1]) != nullptr && std::strcspn(format + 1, "%*") == n - 1;
}

// The table-output operation of a context in table mode: table_out(&ctx->table_area, &column, format, value).
int table_out(void *destination, ...) {
    va_list ap;
    va_start(ap, destination);
    const auto *column = va_arg(ap, const UIB_COLUMN_T *);
    const char *format = va_arg(ap, const char *);
    Collector *collector = collector_of(static_cast<const cli_table_area *>(destination));
    const int result = collector != nullptr ? collector->value(column, format, ap) : 0;
    va_end(ap);
    return result;
}

}  // namespace

void Collector::attach(cli &ctx) {
    std::memset(&ctx.table_area, 0, sizeof ctx.table_area);
    Collector *self = this;
    std::memcpy(ctx.table_area.words, &self, sizeof self);
    ctx.table_area.words[kMarkWord] = kCollectorMark;
    ctx.out_flags = CLI_OUT_FLAG_TABLE;
    ctx.table_out = table_out;
}

void Collector::key(const void *bytes, int length) {
    const auto *first = static_cast<const uint8_t *>(bytes);
    rows_.push_back({std::vector<uint8_t>(first, first + length), {}});
    rows_.back().values.reserve(2);  // the bridge's tables have at most two value columns
}

int Collector::value(const UIB_COLUMN_T *column, const char *format, va_list ap) {
    Value value;
    value.column = column != nullptr ? column->column : 0;
    if (stop_at_ != 0 && value.column == stop_at_)
        return UIB_OUT_STOP;
    value.format = format != nullptr ? format : "";
    if (is_port_list(format))
        value.octets = port_list_octets(va_arg(ap, PORTLIST_T));
    else if (is_integer(format))
        value.number = va_arg(ap, int32_t);
    else
        return 0;  // a value of a form the bridge cannot carry: not taken
    (rows_.empty() ? scalars_ : rows_.back().values).push_back(std::move(value));
    return 0;
}

Reply run(std::string_view line, int mode, Walk walk, std::size_t rows) {
    shell::StringOutput out;
    shell::Session session(*shell::tree(), out, {CLI_PRIVILEGE_MAX, mode, ""});
    Collector collector(walk, rows);
    collector.attach(*session.context());
    Reply reply;
    reply.ok = session.execute(line) == shell::Outcome::ok;
    reply.printed = out.take();
    reply.rows = collector.take_rows();
    reply.scalars = collector.take_scalars();
    return reply;
}

int plain_table_out(void *destination, ...) {
    va_list ap;
    va_start(ap, destination);
    const char *format = va_arg(ap, const char *);
    std::string text = g_in_plain_row ? " " : "";
    if (is_port_list(format))
        text += port_list_text(va_arg(ap, PORTLIST_T));
    else
        text += vformat(format, ap);
    va_end(ap);
    shell::output(destination, "%s", text.c_str());
    return 0;
}

std::string port_list_text(const PORTLIST_T &list) {
    std::string text;
    for (uint32_t word : list.word) {
        if (!text.empty())
            text += ' ';
        text += format("0x%08X", word);
    }
    return text;
}

std::vector<uint8_t> port_list_octets(const PORTLIST_T &list) {
    std::vector<uint8_t> octets(sizeof list.word);
    uint8_t *octet = octets.data();
    for (uint32_t word : list.word) {
        *octet++ = static_cast<uint8_t>(word >> 24);
        *octet++ = static_cast<uint8_t>(word >> 16);
        *octet++ = static_cast<uint8_t>(word >> 8);
        *octet++ = static_cast<uint8_t>(word);
    }
    return octets;
}

PORTLIST_T port_list_of(const std::vector<uint8_t> &octets) {
    PORTLIST_T list{};
    for (std::size_t i = 0; i < octets.size() && i < sizeof list.word; ++i)
        list.word[i / 4] |= static_cast<uint32_t>(octets[i]) << (24 - 8 * (i % 4));
    return list;
}

std::string key_text(const std::vector<uint8_t> &key) {
    char text[48];
    if (key.size() == 12) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u %02X:%02X:%02X:%02X:%02X:%02X", key[0], key[1], key[2], key[3],
                      key[4], key[5], key[6], key[7], key[8], key[9]);
        return text;
    }
    if (key.size() == 4) {
        std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(key[0]) << 24 | static_cast<uint32_t>(key[1]) << 16 |
                                                   static_cast<uint32_t>(key[2]) << 8 | key[3]);
        return text;
    }
    std::string hex;
    for (uint8_t byte : key)
        hex += format("%02X", byte);
    return hex;
}

}  // namespace sim::snmp

extern "C" {

// In table mode: the walk the collector asks for, each row found printed into the collector; the get-next
// reader leaves the key of the row it found in the row buffer, so the next one starts after it. In plain mode:
// the row of the typed key or the one after it, printed as one line. The result is the last row printer's
// (a printer that asks to stop ends the walk), or 0 when there is no row.
int UIB_OUT_TABLE_ENTRIES(struct cli *cli, UIB_TABLE_DESC_T *table) {
    using namespace sim::snmp;
    if (cli == nullptr || table == nullptr || table->row == nullptr || table->get == nullptr ||
        table->getnext == nullptr || table->print == nullptr)
        return 1;
    if (const Collector *collector = collector_of(&cli->table_area)) {
        if (collector->walk() == Walk::get)
            return table->get(table->row) != 0 ? table->print(cli, table->row) : 0;
        int result = 0;
        for (std::size_t n = 0; n < collector->wanted() && result == 0 && table->getnext(table->row) != 0; ++n)
            result = table->print(cli, table->row);
        return result;
    }
    if (table->get(table->row) == 0 && table->getnext(table->row) == 0)
        return 0;
    g_in_plain_row = true;
    const int result = table->print(cli, table->row);
    g_in_plain_row = false;
    cli->out(cli->out_target, "\n");
    return result;
}

// Hands the key to the collector behind the context's table-output area; a plain-mode context prints it.
int uib_snmp_key_send(struct cli *cli, const void *key, int length) {
    using namespace sim::snmp;
    if (cli == nullptr || key == nullptr || length < 0)
        return -1;
    if (Collector *collector = collector_of(&cli->table_area)) {
        collector->key(key, length);
        return 0;
    }
    if (cli->out_flags == CLI_OUT_FLAG_PLAIN && cli->out != nullptr) {
        const auto *first = static_cast<const uint8_t *>(key);
        cli->out(cli->out_target, "%s", key_text(std::vector<uint8_t>(first, first + length)).c_str());
    }
    return 0;
}

}  // extern "C"
