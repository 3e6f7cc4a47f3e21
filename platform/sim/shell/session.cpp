#include <regex.h>

#include <algorithm>
#include <optional>

#include "format/sim_format.h"
#include "shell/sim_shell.h"
#include "snmp/sim_snmp.h"

namespace sim::shell {
namespace {

enum class Error { none, unknown, ambiguous, incomplete, invalid };

// Why words do not make up a command: the error and, for invalid input, the index of the word that fits
// nothing (the number of words when a word was still needed after the last).
struct Failure {
    Error error = Error::none;
    std::size_t at = 0;
};

const char *text_of(Error error) {
    switch (error) {
    case Error::none:
        break;
    case Error::unknown:
        return kErrorUnknown;
    case Error::ambiguous:
        return kErrorAmbiguous;
    case Error::incomplete:
        return kErrorIncomplete;
    case Error::invalid:
        return kErrorMarker;
    }
    return "";
}

// Keeps the failure that says most: the first that says more than "unknown" (a line that matches nothing in
// a mode but part of a command in the mode searched next reports why that command did not match), or, of
// two invalid inputs, the one that got further into the line.
void note(Failure &kept, Failure failure) {
    if (failure.error == Error::unknown)
        return;
    if (kept.error == Error::none ||
        (kept.error == Error::invalid && failure.error == Error::invalid && failure.at > kept.at))
        kept = failure;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_control(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

// The offset of the first control character other than tab in text, if any.
std::optional<std::size_t> control_at(std::string_view text) {
    auto at = std::find_if(text.begin(), text.end(), is_control);
    if (at == text.end())
        return std::nullopt;
    return static_cast<std::size_t>(at - text.begin());
}

// The words of a line and the offset at which each starts.
struct Words {
    std::vector<std::string> text;
    std::vector<std::size_t> columns;
};

Words split(std::string_view line) {
    Words words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i]))
            ++i;
        std::size_t start = i;
        while (i < line.size() && !is_blank(line[i]))
            ++i;
        if (i > start) {
            words.text.emplace_back(line.substr(start, i - start));
            words.columns.push_back(start);
        }
    }
    return words;
}

bool is_comment(const std::vector<std::string> &words) { return !words.empty() && words[0][0] == '!'; }

// The number of characters of text as the operator sees them: a character of several UTF-8 bytes is one.
std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// What an invalid line prints to point at the character at column (a byte offset) of line: for an operator
// who sees the line after the prompt and a blank, the caret under it; where the line is not on the screen,
// the line first (its control characters as blanks) and the caret under that.
std::string marker(Echo echo, std::string_view prompt, std::string_view line, std::size_t column) {
    std::string text;
    std::size_t indent = characters(line.substr(0, column));
    if (echo == Echo::prompt) {
        indent += characters(prompt) + 1;
    } else {
        text = line;
        std::replace_if(text.begin(), text.end(), is_control, ' ');
        text += '\n';
    }
    text.append(indent, ' ');
    text += "^\n";
    text += kErrorMarker;
    text += '\n';
    return text;
}

// Where word at of a line starts, given where its words start; end when the line has no such word (a word
// was still needed after the last).
std::size_t column_of(const std::vector<std::size_t> &columns, std::size_t at, std::size_t end) {
    return at < columns.size() ? columns[at] : end;
}

// One path of one command that the words so far fit.
struct Candidate {
    const Command *command;
    const Path *path;
};

struct Analysis {
    Failure failure;
    std::vector<Candidate> candidates;
};

// True when the candidate's last token takes the rest of the line (a range that may hold blanks).
bool rest_token(const Candidate &candidate) {
    return !candidate.path->empty() && candidate.command->syntax.tokens[candidate.path->back()].rest;
}

// How word, the i-th of a line, fits a candidate: its token there, or any word after the tokens of a
// command that takes the rest of the line, or after a last token that does.
Fit fit_at(const Candidate &candidate, std::size_t i, std::string_view word) {
    if (i < candidate.path->size())
        return fit(candidate.command->syntax.tokens[(*candidate.path)[i]], word);
    return candidate.command->rest_mode != 0 || rest_token(candidate) ? Fit::any : Fit::none;
}

// True when count words make up the whole of a candidate.
bool complete(const Candidate &candidate, std::size_t count) {
    if (candidate.command->rest_mode != 0)
        return count > candidate.path->size();
    if (rest_token(candidate))
        return count >= candidate.path->size();
    return count == candidate.path->size();
}

// Matches words against every path of the commands: at each position only the candidates of the best fit
// there stay. No candidate left is "unknown" at the first word and "invalid" later; an abbreviation of two
// different keywords at one position is "ambiguous".
Analysis analyse(const std::vector<const Command *> &commands, const std::vector<std::string> &words) {
    Analysis analysis;
    for (const Command *command : commands)
        for (const Path &path : command->syntax.paths)
            analysis.candidates.push_back({command, &path});
    std::vector<Fit> fits;
    for (std::size_t i = 0; i < words.size(); ++i) {
        fits.clear();
        Fit best = Fit::none;
        for (const Candidate &candidate : analysis.candidates) {
            fits.push_back(fit_at(candidate, i, words[i]));
            best = std::max(best, fits.back());
        }
        if (best == Fit::none) {
            analysis.failure = {i == 0 ? Error::unknown : Error::invalid, i};
            analysis.candidates.clear();
            return analysis;
        }
        std::vector<Candidate> kept;
        const std::string *keyword = nullptr;
        for (std::size_t c = 0; c < analysis.candidates.size(); ++c) {
            if (fits[c] != best)
                continue;
            const Candidate &candidate = analysis.candidates[c];
            if (best == Fit::partial) {
                const std::string &text = candidate.command->syntax.tokens[(*candidate.path)[i]].text;
                if (keyword != nullptr && *keyword != text) {
                    analysis.failure = {Error::ambiguous, i};
                    analysis.candidates.clear();
                    return analysis;
                }
                keyword = &text;
            }
            kept.push_back(candidate);
        }
        analysis.candidates = std::move(kept);
    }
    return analysis;
}

// The one command that all count analysed words make up whole, or why there is none.
std::pair<Failure, const Candidate *> resolve(const Analysis &analysis, std::size_t count) {
    if (analysis.failure.error != Error::none)
        return {analysis.failure, nullptr};
    const Candidate *match = nullptr;
    for (const Candidate &candidate : analysis.candidates) {
        if (!complete(candidate, count))
            continue;
        if (match != nullptr && match->command != candidate.command)
            return {{Error::ambiguous, count}, nullptr};
        if (match == nullptr)
            match = &candidate;
    }
    if (match == nullptr)
        return {{Error::incomplete, count}, nullptr};
    return {{}, match};
}

// The command that words typed in mode run, the path they take and the mode it is found in, looked up in
// the modes searched for mode; or why there is none.
struct Found {
    Failure failure;
    const Command *command = nullptr;
    const Path *path = nullptr;
    int mode = 0;
};

Found find(const cli_tree &tree, int level, int mode, const std::vector<std::string> &words) {
    Failure kept;
    for (int m : tree.search_order(mode)) {
        Analysis analysis = analyse(tree.visible(m, level), words);
        auto [failure, match] = resolve(analysis, words.size());
        if (failure.error == Error::none)
            return {{}, match->command, match->path, m};
        note(kept, failure);
    }
    if (kept.error == Error::none)
        kept.error = Error::unknown;
    return {kept};
}

// As find, and for a command that runs the rest of its line ("do"), the command of that rest, again and
// again: the command that prints the line's output. A failure names a word of all the words.
Found innermost(const cli_tree &tree, int level, int mode, std::vector<std::string> words) {
    std::size_t skipped = 0;
    while (true) {
        Found found = find(tree, level, mode, words);
        found.failure.at += skipped;
        if (found.command == nullptr || found.command->rest_mode == 0)
            return found;
        skipped += found.path->size();
        words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(found.path->size()));
        mode = found.command->rest_mode;
    }
}

// A candidate that takes the rest of the line and whose own tokens the count words have passed.
const Candidate *rest_taker(const Analysis &analysis, std::size_t count) {
    for (const Candidate &candidate : analysis.candidates)
        if (candidate.command->rest_mode != 0 && candidate.path->size() <= count)
            return &candidate;
    return nullptr;
}

// What may follow some words: the tokens (of every mode searched), and whether the words are a whole
// command; or the failure of the words.
struct Listing {
    Failure failure;
    std::vector<const Token *> tokens;
    bool complete = false;
};

// Lists the tokens that may come after words typed in mode; with partial, only those a word starting with
// *partial may fit, and without "<cr>". The words after a command that takes the rest of the line are
// listed in that command's mode.
Listing list(const cli_tree &tree, int level, int mode, const std::vector<std::string> &words,
             const std::string *partial) {
    Listing merged;
    Failure first;
    bool found = false;
    const std::size_t k = words.size();
    for (int m : tree.search_order(mode)) {
        Analysis analysis = analyse(tree.visible(m, level), words);
        if (analysis.failure.error != Error::none) {
            note(first, analysis.failure);
            continue;
        }
        if (const Candidate *rest = rest_taker(analysis, k)) {
            const std::size_t own = rest->path->size();
            std::vector<std::string> tail(words.begin() + static_cast<std::ptrdiff_t>(own), words.end());
            Listing sub = list(tree, level, rest->command->rest_mode, tail, partial);
            if (sub.failure.error != Error::none) {
                note(first, {sub.failure.error, sub.failure.at + own});
                continue;
            }
            merged.tokens.insert(merged.tokens.end(), sub.tokens.begin(), sub.tokens.end());
            merged.complete = merged.complete || sub.complete;
            found = true;
            continue;
        }
        bool any = false;
        for (const Candidate &candidate : analysis.candidates) {
            if (k < candidate.path->size()) {
                const Token &token = candidate.command->syntax.tokens[(*candidate.path)[k]];
                if (partial == nullptr || may_start(token, *partial)) {
                    merged.tokens.push_back(&token);
                    any = true;
                }
            }
            if (partial == nullptr && k > 0 && complete(candidate, k)) {
                merged.complete = true;
                any = true;
            }
        }
        if (!any) {
            note(first, {k == 0 ? Error::unknown : Error::invalid, k});
            continue;
        }
        found = true;
    }
    if (!found)
        merged.failure = first.error == Error::none ? Failure{Error::unknown, 0} : first;
    return merged;
}

// ---- Output filters

enum class Filter { begin, count, exclude, include };

Token keyword_token(const char *text, const char *help) {
    Token token;
    token.text = text;
    token.help = help;
    return token;
}

// The filter keywords after "|", in the order of Filter, and the regular expression after them.
const std::vector<Token> &filter_tokens() {
    static const std::vector<Token> tokens{
        keyword_token("begin", "Begin with the line that matches"),
        keyword_token("count", "Count number of lines which match regexp"),
        keyword_token("exclude", "Exclude lines that match"),
        keyword_token("include", "Include lines that match"),
    };
    return tokens;
}

const Token &regex_token() {
    static const Token token = [] {
        Token line = keyword_token("LINE", "Regular expression");
        line.kind = TokenKind::word;
        return line;
    }();
    return token;
}

// The filter a word names (a keyword, abbreviated as any), or nothing.
std::optional<Filter> filter_named(std::string_view word) {
    const std::vector<Token> &tokens = filter_tokens();
    std::optional<Filter> named;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Fit how = fit(tokens[i], word);
        if (how == Fit::exact)
            return static_cast<Filter>(i);
        if (how == Fit::partial) {
            if (named)
                return std::nullopt;
            named = static_cast<Filter>(i);
        }
    }
    return named;
}

// The index of the word "|" that starts an output filter, or the number of words.
std::size_t bar_of(const std::vector<std::string> &words) {
    return static_cast<std::size_t>(std::find(words.begin(), words.end(), "|") - words.begin());
}

// A POSIX extended regular expression, compiled for matching only.
class Regex {
public:
    explicit Regex(const std::string &pattern) : status_(::regcomp(&re_, pattern.c_str(), REG_EXTENDED | REG_NOSUB)) {}
    ~Regex() {
        if (status_ == 0)
            ::regfree(&re_);
    }
    Regex(const Regex &) = delete;
    Regex &operator=(const Regex &) = delete;

    bool valid() const { return status_ == 0; }
    // Why the pattern did not compile.
    std::string reason() const {
        char text[256];
        ::regerror(status_, &re_, text, sizeof text);
        return text;
    }
    bool matches(const std::string &text) const { return ::regexec(&re_, text.c_str(), 0, nullptr, 0) == 0; }

private:
    regex_t re_{};
    int status_;
};

// The output of a command through a filter: whole lines, whatever pieces the command prints them in, go to
// next when the filter lets them through; finish passes on a last line without its newline and, for
// "count", prints the count.
class FilterOutput : public Output {
public:
    // regex null: every line matches ("count" without an expression).
    FilterOutput(Output &next, Filter filter, const Regex *regex) : next_(next), filter_(filter), regex_(regex) {}

    void write(std::string_view text) override {
        pending_ += text;
        std::size_t start = 0;
        for (std::size_t newline; (newline = pending_.find('\n', start)) != std::string::npos; start = newline + 1)
            take(std::string_view(pending_).substr(start, newline + 1 - start));
        pending_.erase(0, start);
    }

    void finish() {
        if (!pending_.empty())
            take(std::exchange(pending_, {}));
        if (filter_ == Filter::count)
            next_.write(format("Number of lines which match regexp = %zu\n", counted_));
    }

private:
    // One line, with its newline when it has one.
    void take(std::string_view line) {
        std::string_view body = line;
        if (!body.empty() && body.back() == '\n')
            body.remove_suffix(1);
        const bool match = regex_ == nullptr || regex_->matches(std::string(body));
        bool shown = false;
        switch (filter_) {
        case Filter::include:
            shown = match;
            break;
        case Filter::exclude:
            shown = !match;
            break;
        case Filter::begin:
            shown = begun_ = begun_ || match;
            break;
        case Filter::count:
            counted_ += match ? 1 : 0;
            break;
        }
        if (shown)
            next_.write(line);
    }

    Output &next_;
    Filter filter_;
    const Regex *regex_;
    std::string pending_;
    bool begun_ = false;
    std::size_t counted_ = 0;
};

// As list, for words that may hold an output filter: after "|" (the command before it must take one) come
// the filter keywords, and after a filter keyword its regular expression.
Listing list_line(const cli_tree &tree, int level, int mode, const std::vector<std::string> &words,
                  const std::string *partial) {
    const std::size_t bar = bar_of(words);
    if (bar == words.size())
        return list(tree, level, mode, words, partial);
    Listing listing;
    const Found found = bar == 0 ? Found{{Error::unknown, 0}}
                                 : innermost(tree, level, mode, {words.begin(), words.begin() + static_cast<std::ptrdiff_t>(bar)});
    if (found.command == nullptr) {
        listing.failure = found.failure;
    } else if (!found.command->filtered) {
        listing.failure = {Error::invalid, bar};
    } else if (bar + 1 == words.size()) {
        for (const Token &token : filter_tokens())
            if (partial == nullptr || may_start(token, *partial))
                listing.tokens.push_back(&token);
        if (listing.tokens.empty())
            listing.failure = {Error::invalid, bar + 1};
    } else if (auto filter = filter_named(words[bar + 1]); !filter) {
        listing.failure = {Error::invalid, bar + 1};
    } else {
        listing.tokens.push_back(&regex_token());
        listing.complete = partial == nullptr && (bar + 2 < words.size() || *filter == Filter::count);
    }
    return listing;
}

// The tokens of a listing in the order help shows them: keywords, then values, each alphabetically; one
// entry per text, with the help of the command installed first.
std::vector<const Token *> ordered(std::vector<const Token *> tokens) {
    std::stable_sort(tokens.begin(), tokens.end(), [](const Token *a, const Token *b) {
        bool a_value = a->kind != TokenKind::keyword;
        bool b_value = b->kind != TokenKind::keyword;
        if (a_value != b_value)
            return b_value;
        return a->text < b->text;
    });
    auto same = [](const Token *a, const Token *b) { return a->text == b->text; };
    tokens.erase(std::unique(tokens.begin(), tokens.end(), same), tokens.end());
    return tokens;
}

// Splits a line for help or completion: its words, and the partial last word when the line does not end in
// a blank (then the last of the words).
std::pair<Words, std::optional<std::string>> split_partial(std::string_view line) {
    Words words = split(line);
    std::optional<std::string> partial;
    if (!words.text.empty() && !is_blank(line.back()))
        partial = words.text.back();
    return {std::move(words), std::move(partial)};
}

}  // namespace

Session::Session(cli_tree &tree, Output &out, SessionSettings settings)
    : tree_(tree), out_(out), settings_(std::move(settings)),
      mode_(tree.mode(settings_.mode) != nullptr ? settings_.mode : EXEC_MODE), current_(&out),
      ctx_(make_context(out, mode_)) {
    // The SNMP bridge's commands are at the highest level: a session that may run them prints their values.
    if (settings_.level >= CLI_PRIVILEGE_MAX)
        ctx_.table_out = snmp::plain_table_out;
}

std::string Session::prompt() const {
    if (asking())
        return question_;
    const Mode *m = tree_.mode(mode_);
    return m != nullptr ? m->prompt : "switch#";
}

void Session::say(std::string_view text) {
    current_->write(text);
    current_->write("\n");
}

void Session::error(std::string_view text) {
    out_.write(text);
    out_.write("\n");
}

void Session::point(std::string_view line, std::size_t column) {
    out_.write(marker(settings_.echo, line_prompt_, line, column));
}

void Session::enter(int mode, bool clear_interface) {
    if (tree_.mode(mode) == nullptr)
        return;
    mode_ = mode;
    ctx_.mode = mode;
    if (clear_interface)
        ctx_.current_if = nullptr;
}

Outcome Session::execute(std::string_view line) {
    Outcome outcome = Outcome::ok;
    line_prompt_ = prompt();
    if (line.size() > kMaxLine) {
        error(kErrorTooLong);
        outcome = Outcome::failed;
    } else if (auto control = control_at(line)) {
        point(line, *control);
        outcome = Outcome::failed;
    } else {
        Words words = split(line);
        if (!words.text.empty() && !is_comment(words.text)) {
            history_.emplace_back(line);
            if (history_.size() > kHistoryLines)
                history_.pop_front();
            line_ = line;
            outcome = run_line(words.text, words.columns);
            line_.clear();
            line_columns_.clear();
        }
    }
    out_.flush();
    return outcome;
}

Outcome Session::run_line(const std::vector<std::string> &words, const std::vector<std::size_t> &columns) {
    const std::size_t bar = bar_of(words);
    const std::vector<std::string> command(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(bar));
    line_columns_.assign(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(bar));
    if (bar == words.size())
        return run_words(mode_, command);

    // An output filter: the command must take one, then the filter's keyword and expression must do.
    if (bar == 0) {
        error(kErrorUnknown);
        return Outcome::failed;
    }
    const Found found = innermost(tree_, level(), mode_, command);
    if (found.command == nullptr) {
        if (found.failure.error == Error::invalid)
            point(line_, column_of(line_columns_, found.failure.at, line_.size()));
        else
            error(text_of(found.failure.error));
        return Outcome::failed;
    }
    if (!found.command->filtered) {
        point(line_, columns[bar]);
        return Outcome::failed;
    }
    if (bar + 1 == words.size()) {
        error(kErrorIncomplete);
        return Outcome::failed;
    }
    const std::optional<Filter> filter = filter_named(words[bar + 1]);
    if (!filter) {
        point(line_, columns[bar + 1]);
        return Outcome::failed;
    }
    // The expression is the rest of the line after the blanks that follow the keyword.
    const std::string pattern = bar + 2 < words.size() ? line_.substr(columns[bar + 2]) : "";
    if (pattern.empty() && *filter != Filter::count) {
        error(kErrorIncomplete);
        return Outcome::failed;
    }
    std::optional<Regex> regex;
    if (!pattern.empty()) {
        regex.emplace(pattern);
        if (!regex->valid()) {
            error("% Invalid regular expression: " + regex->reason());
            return Outcome::failed;
        }
    }
    FilterOutput filtered(out_, *filter, regex ? &*regex : nullptr);
    current_ = &filtered;
    const Outcome outcome = run_words(mode_, command);
    current_ = &out_;
    filtered.finish();
    return outcome;
}

void Session::ask(std::string question, std::function<void()> action) {
    question_ = std::move(question);
    confirmed_ = std::move(action);
}

Outcome Session::process(std::string_view line) {
    if (asking()) {
        const std::size_t first = line.find_first_not_of(" \t");
        const bool yes = first == std::string_view::npos || line[first] == 'y' || line[first] == 'Y';
        std::function<void()> action = std::exchange(confirmed_, {});
        if (yes)
            action();
        out_.flush();
        return Outcome::ok;
    }
    std::size_t end = line.size();
    while (end > 0 && is_blank(line[end - 1]))
        --end;
    if (end > 0 && line[end - 1] == '?' && line.size() <= kMaxLine && !is_comment(split(line).text)) {
        show_help(line.substr(0, end - 1), line);
        return Outcome::ok;
    }
    return execute(line);
}

Outcome Session::run_words(int mode, const std::vector<std::string> &words) {
    if (words.empty())
        return Outcome::ok;
    const Found found = find(tree_, level(), mode, words);
    if (found.command != nullptr)
        return invoke(*found.command, *found.path, words, found.mode);
    if (found.failure.error != Error::invalid) {
        error(text_of(found.failure.error));
    } else if (words.size() <= line_columns_.size()) {
        // The words are the last of the line's.
        point(line_, column_of(line_columns_, line_columns_.size() - words.size() + found.failure.at, line_.size()));
    } else {
        // Words run outside a line: they point into themselves, as if typed with one blank between them.
        std::string typed;
        std::size_t column = 0;
        for (std::size_t i = 0; i < words.size(); ++i) {
            typed += (i == 0 ? "" : " ");
            if (i == found.failure.at)
                column = typed.size();
            typed += words[i];
        }
        point(typed, found.failure.at < words.size() ? column : typed.size());
    }
    return Outcome::failed;
}

Outcome Session::invoke(const Command &command, const Path &path, const std::vector<std::string> &words, int mode) {
    // Every value yields its word as typed; a keyword only inside an optional part, written in full.
    std::vector<std::string> args;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const Token &token = command.syntax.tokens[path[i]];
        if (token.kind != TokenKind::keyword)
            args.push_back(words[i]);
        else if (token.optional)
            args.push_back(token.text);
    }
    if (!path.empty() && command.syntax.tokens[path.back()].rest)
        for (std::size_t i = path.size(); i < words.size(); ++i)
            args.back() += " " + words[i];
    if (command.rest_mode != 0)
        args.insert(args.end(), words.begin() + static_cast<std::ptrdiff_t>(path.size()), words.end());

    int result = 0;
    if (command.builtin) {
        result = command.builtin(*this, args);
    } else {
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ctx_.out = output;
        ctx_.out_target = current_;
        ctx_.mode = mode;
        result = command.handler(&ctx_, static_cast<int>(args.size()), argv.data());
        // A handler that changes the mode moves the session; one that leaves it runs in the session's mode.
        if (ctx_.mode != mode && tree_.mode(ctx_.mode) != nullptr)
            mode_ = ctx_.mode;
        ctx_.mode = mode_;
    }
    if (ended_)
        return Outcome::ended;
    return result == 0 ? Outcome::ok : Outcome::failed;
}

void Session::help(std::string_view line) { show_help(line, line); }

void Session::show_help(std::string_view line, std::string_view typed) {
    line_prompt_ = prompt();
    if (line.size() > kMaxLine) {
        error(kErrorTooLong);
    } else if (auto control = control_at(line)) {
        point(typed, *control);
    } else {
        auto [words, partial] = split_partial(line);
        std::vector<std::string> whole(words.text.begin(), words.text.end() - (partial ? 1 : 0));
        Listing listing = list_line(tree_, level(), mode_, whole, partial ? &*partial : nullptr);
        if (listing.failure.error == Error::invalid) {
            point(typed, column_of(words.columns, listing.failure.at, line.size()));
        } else if (listing.failure.error != Error::none) {
            error(text_of(listing.failure.error));
        } else {
            for (const Token *token : ordered(std::move(listing.tokens))) {
                if (token->help.empty())
                    out_.write(format("  %s\n", token->text.c_str()));
                else
                    out_.write(format("  %-22s %s\n", token->text.c_str(), token->help.c_str()));
            }
            if (listing.complete)
                out_.write("  <cr>\n");
        }
    }
    out_.flush();
}

std::vector<std::string> Session::completions(std::string_view line) const {
    std::vector<std::string> found;
    if (line.size() > kMaxLine || control_at(line))
        return found;
    auto [words, partial] = split_partial(line);
    std::vector<std::string> whole(words.text.begin(), words.text.end() - (partial ? 1 : 0));
    const std::string prefix = partial.value_or("");
    Listing listing = list_line(tree_, level(), mode_, whole, &prefix);
    for (const Token *token : ordered(std::move(listing.tokens)))
        if (token->kind == TokenKind::keyword)
            found.push_back(token->text);
    return found;
}

}  // namespace sim::shell

namespace sim::shell {
namespace {

std::list<User> &user_list() {
    static std::list<User> list;
    return list;
}

}  // namespace

const std::list<User> &users() { return user_list(); }

UserEntry::UserEntry(std::string line, std::string name, const Session &session)
    : at_(user_list().insert(user_list().end(), User{std::move(line), std::move(name), std::time(nullptr), &session})) {}

UserEntry::~UserEntry() { user_list().erase(at_); }

}  // namespace sim::shell
