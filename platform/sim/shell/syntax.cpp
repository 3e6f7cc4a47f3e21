#include "shell/syntax.h"

#include <limits>

namespace sim::shell {
namespace {

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char to_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

// True when word, in any case, is the beginning of keyword (a lower-case token).
bool abbreviates(std::string_view word, std::string_view keyword) {
    if (word.size() > keyword.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (to_lower(word[i]) != keyword[i])
            return false;
    return true;
}

// The value of a decimal number of 1 to 10 digits that makes up all of text, when it is no greater than
// max; -1 otherwise.
int64_t decimal(std::string_view text, int64_t max) {
    if (text.empty() || text.size() > 10)
        return -1;
    int64_t value = 0;
    for (char c : text) {
        if (!is_digit(c))
            return -1;
        value = value * 10 + (c - '0');
    }
    return value <= max ? value : -1;
}

// Reads "<lo-hi>" into the token's bounds; false when text is no well-formed range.
bool parse_range(std::string_view text, Token &token) {
    if (text.size() < 5 || text.front() != '<' || text.back() != '>')
        return false;
    std::string_view inner = text.substr(1, text.size() - 2);
    std::size_t dash = inner.find('-');
    if (dash == std::string_view::npos)
        return false;
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t lo = decimal(inner.substr(0, dash), kMax);
    int64_t hi = decimal(inner.substr(dash + 1), kMax);
    if (lo < 0 || hi < 0 || lo > hi)
        return false;
    token.lo = static_cast<uint32_t>(lo);
    token.hi = static_cast<uint32_t>(hi);
    return true;
}

// A word of a first character accepted by first and further characters of that class, digits, '-' or '_'.
template <typename First>
bool is_name(std::string_view text, First first) {
    if (text.empty() || !first(text[0]))
        return false;
    for (char c : text)
        if (!first(c) && !is_digit(c) && c != '-' && c != '_')
            return false;
    return true;
}

// Gives token the kind that text names; false when text is no token.
bool classify(std::string_view text, Token &token) {
    token.text = std::string(text);
    if (text == "A.B.C.D") {
        token.kind = TokenKind::ipv4;
        return true;
    }
    if (text.front() == '<') {
        token.kind = TokenKind::range;
        return parse_range(text, token);
    }
    if (is_name(text, is_lower)) {
        token.kind = TokenKind::keyword;
        return true;
    }
    if (is_name(text, is_upper)) {
        token.kind = TokenKind::word;
        return true;
    }
    return false;
}

// Splits a command string into pieces at blanks; "[" and "]" are pieces of their own wherever they stand.
std::vector<std::string> pieces_of(const char *text) {
    std::vector<std::string> pieces;
    std::string piece;
    auto flush = [&] {
        if (!piece.empty())
            pieces.push_back(std::move(piece));
        piece.clear();
    };
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == ' ' || *p == '\t') {
            flush();
        } else if (*p == '[' || *p == ']') {
            flush();
            pieces.emplace_back(1, *p);
        } else {
            piece += *p;
        }
    }
    flush();
    return pieces;
}

}  // namespace

std::variant<Syntax, std::string> parse_syntax(const char *text, const char *const *help) {
    if (text == nullptr)
        return std::string("no command string");
    Syntax syntax;
    int group = -1;
    int groups = 0;
    std::size_t group_start = 0;
    for (const std::string &piece : pieces_of(text)) {
        if (piece == "[") {
            if (group >= 0)
                return std::string("'[' inside an optional part");
            if (groups == kMaxOptionalParts)
                return "more than " + std::to_string(kMaxOptionalParts) + " optional parts";
            group = groups++;
            group_start = syntax.tokens.size();
            syntax.text += syntax.text.empty() ? "[" : " [";
            continue;
        }
        if (piece == "]") {
            if (group < 0)
                return std::string("']' without '['");
            if (syntax.tokens.size() == group_start)
                return std::string("empty optional part");
            group = -1;
            syntax.text += "]";
            continue;
        }
        Token token;
        if (!classify(piece, token))
            return "'" + piece + "' is no token";
        token.optional = group >= 0;
        token.group = group;
        if (!syntax.text.empty() && syntax.text.back() != '[')
            syntax.text += ' ';
        syntax.text += piece;
        syntax.tokens.push_back(std::move(token));
    }
    if (group >= 0)
        return std::string("'[' without ']'");
    if (syntax.tokens.empty())
        return std::string("no tokens");
    Token &last = syntax.tokens.back();
    last.rest = last.kind == TokenKind::word && !last.optional && last.text == kRangeToken;

    std::size_t helps = 0;
    while (help != nullptr && help[helps] != nullptr)
        ++helps;
    if (helps != syntax.tokens.size())
        return std::to_string(helps) + " help texts for " + std::to_string(syntax.tokens.size()) + " tokens";
    for (std::size_t i = 0; i < helps; ++i)
        syntax.tokens[i].help = help[i];

    for (unsigned mask = 0; mask < (1u << groups); ++mask) {
        Path path;
        for (std::size_t i = 0; i < syntax.tokens.size(); ++i) {
            const Token &token = syntax.tokens[i];
            if (!token.optional || (mask >> token.group & 1u) != 0)
                path.push_back(i);
        }
        syntax.paths.push_back(std::move(path));
    }
    return syntax;
}

bool is_ipv4(std::string_view word) {
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = word.find('.', start);
        std::size_t length = dot == std::string_view::npos ? std::string_view::npos : dot - start;
        std::string_view part = word.substr(start, length);
        if (part.size() > 3 || (part.size() > 1 && part[0] == '0') || decimal(part, 255) < 0)
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return parts == 4;
}

Fit fit(const Token &token, std::string_view word) {
    if (word.empty())
        return Fit::none;
    switch (token.kind) {
    case TokenKind::keyword:
        if (!abbreviates(word, token.text))
            return Fit::none;
        return word.size() == token.text.size() ? Fit::exact : Fit::partial;
    case TokenKind::ipv4:
        return is_ipv4(word) ? Fit::value : Fit::none;
    case TokenKind::range: {
        int64_t value = decimal(word, token.hi);
        return value >= static_cast<int64_t>(token.lo) ? Fit::value : Fit::none;
    }
    case TokenKind::word:
        return Fit::any;
    }
    return Fit::none;
}

bool may_start(const Token &token, std::string_view partial) {
    switch (token.kind) {
    case TokenKind::keyword:
        return abbreviates(partial, token.text);
    case TokenKind::ipv4: {
        int dots = 0;
        std::size_t group = 0;
        for (char c : partial) {
            if (c == '.') {
                if (++dots > 3 || group == 0)
                    return false;
                group = 0;
            } else if (!is_digit(c) || ++group > 3) {
                return false;
            }
        }
        return true;
    }
    case TokenKind::range:
        return partial.empty() || decimal(partial, std::numeric_limits<int64_t>::max()) >= 0;
    case TokenKind::word:
        return true;
    }
    return false;
}

std::string signature(const Syntax &syntax, const Path &path) {
    std::string text;
    for (std::size_t i : path) {
        const Token &token = syntax.tokens[i];
        if (!text.empty())
            text += ' ';
        text += token.kind == TokenKind::word ? "WORD" : token.text;
    }
    return text;
}

}  // namespace sim::shell
