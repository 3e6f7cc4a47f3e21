// Command strings of the shell: their tokens, the word sequences they accept, and how a typed word fits a
// token.
//
// Tokens of a command string, separated by blanks:
//   keyword    a lower-case word, may contain digits, '-' and '_' ("server-ip")
//   A.B.C.D    an IPv4 address: four dot-separated decimal numbers 0-255, no leading zeros
//   <lo-hi>    a decimal integer from lo to hi (0 <= lo <= hi <= 2147483647)
//   WORD       any other upper-case word (MAC, IFNAME, PORTRANGE, ...): any one word
//   [ ... ]    an optional part of one or more of the tokens above (not nested)
// A PORTRANGE that ends a command string takes the rest of the line, so that a range may hold blanks around
// its separators ("eth1.1-1.4, eth2.1"): its value is the remaining words joined by one blank.
// A command string with k optional parts accepts 2^k word sequences (paths); k is at most 8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sim::shell {

enum class TokenKind { keyword, ipv4, range, word };

struct Token {
    TokenKind kind = TokenKind::keyword;
    std::string text;  // as written: "server-ip", "A.B.C.D", "<1-30>", "MAC"
    std::string help;
    uint32_t lo = 0;  // the bounds of a range
    uint32_t hi = 0;
    bool optional = false;  // inside [ ... ]
    int group = -1;         // the optional part it belongs to (0, 1, ...), or -1
    bool rest = false;      // the last token, a PORTRANGE: takes the rest of the line
};

// The token of an interface range.
inline constexpr const char *kRangeToken = "PORTRANGE";

// How well a typed word fits a token, worst first. Where several commands fit a word, only those of the best
// fit present stay candidates: an exact keyword beats a typed value, a value an abbreviated keyword, and an
// abbreviation any-word tokens.
enum class Fit { none, any, partial, value, exact };

// The token indexes of one accepted word sequence.
using Path = std::vector<std::size_t>;

// A parsed command string.
struct Syntax {
    std::string text;  // normalised: tokens joined by one blank, "[client-mac MAC]"
    std::vector<Token> tokens;
    std::vector<Path> paths;  // the paths without optional parts first, then with the first, ...
};

constexpr int kMaxOptionalParts = 8;

// Parses a command string and its NULL-terminated help texts (one per token, brackets not counted). Returns
// the syntax, or the reason why the string is malformed or the help texts do not fit it.
std::variant<Syntax, std::string> parse_syntax(const char *text, const char *const *help);

// How word fits token. A keyword is matched without regard to case ("SH", "Show" and "show" fit "show"); a
// value keeps the case it was typed in.
Fit fit(const Token &token, std::string_view word);
// True when a word that starts with partial could fit token (for help and completion of a partial word);
// keywords without regard to case, as fit.
bool may_start(const Token &token, std::string_view partial);

// The words a path accepts, written as tokens, with every any-word token written "WORD": two paths of one
// mode with the same signature would match the same lines.
std::string signature(const Syntax &syntax, const Path &path);

// True when word is four dot-separated decimal numbers 0-255 without leading zeros.
bool is_ipv4(std::string_view word);

}  // namespace sim::shell
