// The interface-range parser of if_table.h: a range text such as "eth1.1-1.8, eth2.5, port-channel1-4" read
// into the names it stands for, one at a time.
//
// A range text is pieces joined by ","; blanks (spaces, tabs) are allowed around every separator and around
// the whole text. A piece is one name, handed out as written whatever it names (the caller's validation
// decides), or a run FIRST-END: FIRST is a full name "ethS.P" or "port-channelN", END is its short form
// ("S.P" or "N") or a full name of the same family, and the run stands for every name from FIRST to END by
// number within the same slot. Numbers in a run are decimal without a leading zero, and both ends name
// interfaces the chassis can have (slot 1-10, port 1-48; trunk 1-128): a run stands for at most 128 names,
// each of which the validation may refuse with a line of its own. The whole text is checked when it is
// copied in, so a malformed text hands out no name at all.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "chassis/sim_chassis.h"
#include "cli.h"
#include "if_table.h"

namespace sim {
namespace {

constexpr std::string_view kEthPrefix = "eth";
constexpr std::string_view kTrunkPrefix = "port-channel";
constexpr size_t kMaxDigits = 4;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Text without the blanks at its two ends.
std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// True when text is one word of at most IF_NAME_MAX characters: not empty, no blank inside.
bool is_name(std::string_view text) {
    if (text.empty() || text.size() > IF_NAME_MAX)
        return false;
    for (char c : text)
        if (is_blank(c))
            return false;
    return true;
}

// The value of a run number: 1 to 4 decimal digits, no leading zero, at least 1; nothing otherwise.
std::optional<uint32_t> run_number(std::string_view text) {
    if (text.empty() || text.size() > kMaxDigits || text.front() == '0')
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

// One piece of a range text, read: the single name it is, or the run it stands for (prefix, first and last
// number).
struct Piece {
    bool run = false;
    std::string_view name;  // a single name, as written
    std::string prefix;     // of a run: the name up to its number, "ethS." or "port-channel"
    uint32_t first = 0;
    uint32_t last = 0;
};

// Reads the "S.P" of an Ethernet port name (after "eth") into slot text and port number.
std::optional<std::pair<std::string_view, uint32_t>> slot_and_port(std::string_view text) {
    size_t dot = text.find('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    std::string_view slot = text.substr(0, dot);
    std::optional<uint32_t> port = run_number(text.substr(dot + 1));
    if (!run_number(slot) || !port)
        return std::nullopt;
    return std::make_pair(slot, *port);
}

// Reads the run FIRST-END; nothing when it is malformed.
std::optional<Piece> read_run(std::string_view first, std::string_view end) {
    if (!is_name(first) || !is_name(end))
        return std::nullopt;
    Piece piece;
    piece.run = true;
    if (first.starts_with(kTrunkPrefix)) {
        std::optional<uint32_t> from = run_number(first.substr(kTrunkPrefix.size()));
        if (end.starts_with(kTrunkPrefix))
            end.remove_prefix(kTrunkPrefix.size());
        std::optional<uint32_t> to = run_number(end);
        if (!from || !to)
            return std::nullopt;
        piece.prefix = kTrunkPrefix;
        piece.first = *from;
        piece.last = *to;
    } else if (first.starts_with(kEthPrefix)) {
        auto from = slot_and_port(first.substr(kEthPrefix.size()));
        if (end.starts_with(kEthPrefix))
            end.remove_prefix(kEthPrefix.size());
        auto to = slot_and_port(end);
        if (!from || !to || from->first != to->first)
            return std::nullopt;
        piece.prefix = std::string(kEthPrefix) + std::string(from->first) + ".";
        piece.first = from->second;
        piece.last = to->second;
    } else {
        return std::nullopt;
    }
    if (piece.last < piece.first || ids::ifindex_of(piece.prefix + std::to_string(piece.first)) == 0 ||
        ids::ifindex_of(piece.prefix + std::to_string(piece.last)) == 0)
        return std::nullopt;
    return piece;
}

// Reads one piece (the text between two commas); nothing when it is malformed. The "-" of a run is the first
// one after the "port-channel" prefix, so that a trunk name is not taken for a run.
std::optional<Piece> read_piece(std::string_view text) {
    text = trim(text);
    size_t from = text.starts_with(kTrunkPrefix) ? kTrunkPrefix.size() : 0;
    size_t dash = text.find('-', from);
    if (dash == std::string_view::npos) {
        if (!is_name(text))
            return std::nullopt;
        Piece piece;
        piece.name = text;
        return piece;
    }
    return read_run(trim(text.substr(0, dash)), trim(text.substr(dash + 1)));
}

std::string_view text_of(const IF_RANGE_PARSER_T &parser) { return {parser.text, parser.length}; }

// The piece of the parser's text that starts at pos, up to the next "," or the end.
std::string_view piece_at(const IF_RANGE_PARSER_T &parser, size_t pos) {
    std::string_view rest = text_of(parser).substr(pos);
    return rest.substr(0, rest.find(','));
}

// True when the whole text is well formed: not blank, and every piece readable.
bool well_formed(const IF_RANGE_PARSER_T &parser) {
    std::string_view text = text_of(parser);
    if (trim(text).empty())
        return false;
    for (size_t pos = 0;;) {
        std::string_view piece = piece_at(parser, pos);
        if (!read_piece(piece))
            return false;
        pos += piece.size();
        if (pos == text.size())
            return true;
        ++pos;  // the ","
    }
}

// Starts the walk of the parser's text again from its first piece.
void rewind(IF_RANGE_PARSER_T *parser) {
    parser->pos = 0;
    parser->in_piece = 0;
    parser->next = 0;
    parser->last = 0;
    std::memset(parser->name, 0, sizeof(parser->name));
}

// Writes text into the parser's name buffer and returns the buffer.
const char *hand_out(IF_RANGE_PARSER_T *parser, std::string_view text) {
    std::memset(parser->name, 0, sizeof(parser->name));
    std::memcpy(parser->name, text.data(), text.size());
    return parser->name;
}

}  // namespace
}  // namespace sim

extern "C" {

// Copies text into the parser (a text longer than IF_RANGE_TEXT_MAX - 1 characters is cut there and marked
// malformed), checks it, and sets the walk to its first name.
void if_range_parser_init(const char *text, IF_RANGE_PARSER_T *parser) {
    std::memset(parser, 0, sizeof(*parser));
    if (text == nullptr)
        text = "";
    size_t length = strnlen(text, IF_RANGE_TEXT_MAX);
    bool too_long = length == IF_RANGE_TEXT_MAX;
    if (too_long)
        length = IF_RANGE_TEXT_MAX - 1;
    std::memcpy(parser->text, text, length);
    parser->length = static_cast<uint32_t>(length);
    parser->error = (too_long || !sim::well_formed(*parser)) ? 1 : 0;
}

// Hands validate(name, cli) every name of the range in order, also those after a refused one, so that each
// refusal is told. Returns 0 when the text is well formed and every name was accepted (a null validate
// accepts every name), 1 otherwise; on a malformed text it prints "% Invalid interface range: <text>" to cli
// (when cli is not null) and calls validate for no name. Afterwards the walk of get_next starts again at the
// first name.
int if_range_parser_validate(IF_RANGE_PARSER_T *parser, struct cli *cli, IF_RANGE_VALIDATE_FN validate) {
    if (parser->error) {
        if (cli != nullptr && cli->out != nullptr) {
            std::string text(sim::trim(sim::text_of(*parser)));
            cli->out(cli->out_target, "%% Invalid interface range: %s\n", text.c_str());
        }
        return 1;
    }
    sim::rewind(parser);
    int result = 0;
    int error = 0;
    while (const char *name = if_range_parser_get_next(parser, &error)) {
        if (validate != nullptr && validate(name, cli) != 0)
            result = 1;
    }
    sim::rewind(parser);
    return result;
}

// The next name of the range, in the parser's name buffer (valid until the next call), or null when every
// name was handed out. *error (when error is not null) is 1, and the result null, when the text is malformed;
// 0 otherwise.
const char *if_range_parser_get_next(IF_RANGE_PARSER_T *parser, int *error) {
    if (error != nullptr)
        *error = parser->error ? 1 : 0;
    if (parser->error)
        return nullptr;
    if (!parser->in_piece) {
        if (parser->pos >= parser->length)
            return nullptr;
        std::string_view text = sim::piece_at(*parser, parser->pos);
        parser->pos += static_cast<uint32_t>(text.size()) + 1;  // past the "," (or the end)
        std::optional<sim::Piece> piece = sim::read_piece(text);  // well formed: init checked every piece
        if (!piece)
            return nullptr;
        if (!piece->run)
            return sim::hand_out(parser, piece->name);
        std::memset(parser->prefix, 0, sizeof(parser->prefix));
        std::memcpy(parser->prefix, piece->prefix.data(), piece->prefix.size());
        parser->next = piece->first;
        parser->last = piece->last;
        parser->in_piece = 1;
    }
    std::string name = parser->prefix + std::to_string(parser->next);
    if (parser->next++ == parser->last)
        parser->in_piece = 0;
    return sim::hand_out(parser, name);
}

}  // extern "C"
