#include <algorithm>
#include <optional>

#include "format/sim_format.h"
#include "shell/sim_shell.h"
#include "snmp/sim_snmp.h"

namespace sim::shell {
namespace {

enum class Error { none, unknown, ambiguous, incomplete, invalid };

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
        return kErrorInvalid;
    }
    return "";
}

// Keeps the first error that says more than "unknown": a line that matches nothing in a mode but part of a
// command in the mode searched next reports why that command did not match.
void note(Error &first, Error error) {
    if (first == Error::none && error != Error::unknown)
        first = error;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// True when text holds a control character other than tab.
bool has_control(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7F;
    });
}

std::vector<std::string> split(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i]))
            ++i;
        std::size_t start = i;
        while (i < line.size() && !is_blank(line[i]))
            ++i;
        if (i > start)
            words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

bool is_comment(const std::vector<std::string> &words) { return !words.empty() && words[0][0] == '!'; }

// One path of one command that the words so far fit.
struct Candidate {
    const Command *command;
    const Path *path;
};

struct Analysis {
    Error error = Error::none;
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
            analysis.error = i == 0 ? Error::unknown : Error::invalid;
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
                    analysis.error = Error::ambiguous;
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
std::pair<Error, const Candidate *> resolve(const Analysis &analysis, std::size_t count) {
    if (analysis.error != Error::none)
        return {analysis.error, nullptr};
    const Candidate *match = nullptr;
    for (const Candidate &candidate : analysis.candidates) {
        if (!complete(candidate, count))
            continue;
        if (match != nullptr && match->command != candidate.command)
            return {Error::ambiguous, nullptr};
        if (match == nullptr)
            match = &candidate;
    }
    if (match == nullptr)
        return {Error::incomplete, nullptr};
    return {Error::none, match};
}

// A candidate that takes the rest of the line and whose own tokens the count words have passed.
const Candidate *rest_taker(const Analysis &analysis, std::size_t count) {
    for (const Candidate &candidate : analysis.candidates)
        if (candidate.command->rest_mode != 0 && candidate.path->size() <= count)
            return &candidate;
    return nullptr;
}

// What may follow some words: the tokens (of every mode searched), and whether the words are a whole
// command; or the error of the words.
struct Listing {
    Error error = Error::none;
    std::vector<const Token *> tokens;
    bool complete = false;
};

// Lists the tokens that may come after words typed in mode; with partial, only those a word starting with
// *partial may fit, and without "<cr>". The words after a command that takes the rest of the line are
// listed in that command's mode.
Listing list(const cli_tree &tree, int level, int mode, const std::vector<std::string> &words,
             const std::string *partial) {
    Listing merged;
    Error first = Error::none;
    bool found = false;
    const std::size_t k = words.size();
    for (int m : tree.search_order(mode)) {
        Analysis analysis = analyse(tree.visible(m, level), words);
        if (analysis.error != Error::none) {
            note(first, analysis.error);
            continue;
        }
        if (const Candidate *rest = rest_taker(analysis, k)) {
            std::vector<std::string> tail(words.begin() + static_cast<std::ptrdiff_t>(rest->path->size()), words.end());
            Listing sub = list(tree, level, rest->command->rest_mode, tail, partial);
            if (sub.error != Error::none) {
                note(first, sub.error);
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
            note(first, k == 0 ? Error::unknown : Error::invalid);
            continue;
        }
        found = true;
    }
    if (!found)
        merged.error = first == Error::none ? Error::unknown : first;
    return merged;
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

// Splits a line for help or completion: the whole words, and the partial last word when the line does not
// end in a blank.
std::pair<std::vector<std::string>, std::optional<std::string>> split_partial(std::string_view line) {
    std::vector<std::string> words = split(line);
    std::optional<std::string> partial;
    if (!words.empty() && !is_blank(line.back())) {
        partial = std::move(words.back());
        words.pop_back();
    }
    return {std::move(words), std::move(partial)};
}

}  // namespace

Session::Session(cli_tree &tree, Output &out, SessionSettings settings)
    : tree_(tree), out_(out), settings_(std::move(settings)),
      mode_(tree.mode(settings_.mode) != nullptr ? settings_.mode : EXEC_MODE), ctx_(make_context(out, mode_)) {
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
    out_.write(text);
    out_.write("\n");
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
    if (line.size() > kMaxLine) {
        say(kErrorTooLong);
        outcome = Outcome::failed;
    } else if (has_control(line)) {
        say(kErrorInvalid);
        outcome = Outcome::failed;
    } else {
        std::vector<std::string> words = split(line);
        if (!words.empty() && !is_comment(words))
            outcome = run_words(mode_, words);
    }
    out_.flush();
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
    if (end > 0 && line[end - 1] == '?' && line.size() <= kMaxLine && !is_comment(split(line))) {
        help(line.substr(0, end - 1));
        return Outcome::ok;
    }
    return execute(line);
}

Outcome Session::run_words(int mode, const std::vector<std::string> &words) {
    if (words.empty())
        return Outcome::ok;
    Error first = Error::none;
    for (int m : tree_.search_order(mode)) {
        Analysis analysis = analyse(tree_.visible(m, level()), words);
        auto [error, match] = resolve(analysis, words.size());
        if (error == Error::none)
            return invoke(*match->command, *match->path, words, m);
        note(first, error);
    }
    say(text_of(first == Error::none ? Error::unknown : first));
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
        ctx_.out_target = &out_;
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

void Session::help(std::string_view line) {
    if (line.size() > kMaxLine) {
        say(kErrorTooLong);
    } else if (has_control(line)) {
        say(kErrorInvalid);
    } else {
        auto [words, partial] = split_partial(line);
        Listing listing = list(tree_, level(), mode_, words, partial ? &*partial : nullptr);
        if (listing.error != Error::none) {
            say(text_of(listing.error));
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
    if (line.size() > kMaxLine || has_control(line))
        return found;
    auto [words, partial] = split_partial(line);
    const std::string prefix = partial.value_or("");
    Listing listing = list(tree_, level(), mode_, words, &prefix);
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
