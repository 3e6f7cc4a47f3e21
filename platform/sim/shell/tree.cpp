#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "chassis/sim_chassis.h"
#include "format/sim_format.h"
#include "shell/sim_shell.h"

namespace sim::shell {

void StreamOutput::write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream_); }

void StreamOutput::flush() { std::fflush(stream_); }

int output(void *target, const char *format, ...) {
    // A lone "%s" and text without conversions, the most printed formats, go out as they are.
    std::string_view direct;
    if (std::strcmp(format, "%s") == 0) {
        va_list ap;
        va_start(ap, format);
        const char *piece = va_arg(ap, const char *);
        va_end(ap);
        direct = piece != nullptr ? piece : "(null)";
    } else if (std::strchr(format, '%') == nullptr) {
        direct = format;
    }
    if (direct.data() != nullptr) {
        if (target != nullptr)
            static_cast<Output *>(target)->write(direct);
        return static_cast<int>(direct.size());
    }
    // One buffer per thread, so that printing a piece allocates nothing once the buffer has grown.
    thread_local std::string text;
    text.clear();
    va_list ap;
    va_start(ap, format);
    vformat_append(text, format, ap);
    va_end(ap);
    if (target != nullptr)
        static_cast<Output *>(target)->write(text);
    return static_cast<int>(text.size());
}

cli make_context(Output &out, int mode) {
    cli ctx{};
    ctx.out = output;
    ctx.out_target = &out;
    ctx.current_if = nullptr;
    ctx.mode = mode;
    ctx.gctx = Chassis::instance().global_ctx();
    ctx.vr = Chassis::instance().vr_ctx();
    ctx.out_flags = CLI_OUT_FLAG_PLAIN;
    ctx.table_out = nullptr;
    return ctx;
}

void install_failure(const std::string &what, int mode, const std::string &reason) {
    std::string where = mode != 0 ? " in mode " + std::to_string(mode) : "";
    std::fprintf(stderr, "shell: cannot install \"%s\"%s: %s\n", what.c_str(), where.c_str(), reason.c_str());
    std::fflush(stderr);
    std::abort();
}

cli_tree *tree() {
    static cli_tree process_tree;
    return &process_tree;
}

}  // namespace sim::shell

using sim::shell::Command;
using sim::shell::install_failure;
using sim::shell::Mode;

cli_tree::cli_tree() {
    add_mode({EXEC_MODE, "exec", "switch#", 0, false});
    add_mode({CONFIG_MODE, "config", "switch(config)#", EXEC_MODE, false});
    add_mode({INTERFACE_MODE, "interface", "switch(config-if)#", CONFIG_MODE, true});
    sim::shell::install_builtins(*this);
}

void cli_tree::reset() {
    commands_.clear();
    writers_.clear();
    resets_.clear();
    sim::shell::install_builtins(*this);
}

void cli_tree::add_mode(Mode mode) { modes_.push_back(std::move(mode)); }

const Mode *cli_tree::mode(int number) const {
    for (const Mode &m : modes_)
        if (m.number == number)
            return &m;
    return nullptr;
}

std::vector<int> cli_tree::search_order(int number) const {
    std::vector<int> order;
    for (const Mode *m = mode(number); m != nullptr; m = m->inherits ? mode(m->parent) : nullptr) {
        if (std::find(order.begin(), order.end(), m->number) != order.end())
            break;  // a loop of parents: each mode is searched once
        order.push_back(m->number);
    }
    return order;
}

Command &cli_tree::install(int mode_number, int level, const char *text, const char *const *help,
                           CLI_HANDLER_FN handler, sim::shell::Builtin builtin, int rest_mode) {
    const std::string what = text != nullptr ? text : "(no command string)";
    if (mode(mode_number) == nullptr)
        install_failure(what, mode_number, "no such mode");
    if (level < 0 || level > CLI_PRIVILEGE_MAX)
        install_failure(what, mode_number,
                        "privilege level " + std::to_string(level) + " outside 0-" + std::to_string(CLI_PRIVILEGE_MAX));
    if (handler == nullptr && !builtin)
        install_failure(what, mode_number, "no handler");
    auto parsed = sim::shell::parse_syntax(text, help);
    if (const auto *reason = std::get_if<std::string>(&parsed))
        install_failure(what, mode_number, *reason);

    auto command = std::make_unique<Command>();
    command->syntax = std::move(std::get<sim::shell::Syntax>(parsed));
    command->mode = mode_number;
    command->level = level;
    command->handler = handler;
    command->builtin = std::move(builtin);
    command->rest_mode = rest_mode;
    command->filtered = command->syntax.tokens.front().text == "show";
    for (const auto &path : command->syntax.paths)
        command->signatures.push_back(signature(command->syntax, path));
    for (const auto &other : commands_) {
        if (other->mode != mode_number)
            continue;
        if (other->syntax.text == command->syntax.text)
            install_failure(what, mode_number, "installed twice");
        for (const auto &mine : command->signatures)
            if (std::find(other->signatures.begin(), other->signatures.end(), mine) != other->signatures.end())
                install_failure(what, mode_number, "matches the same words as \"" + other->syntax.text + "\"");
    }
    commands_.push_back(std::move(command));
    return *commands_.back();
}

void cli_tree::add_writer(int order, CLI_CONFIG_WRITE_FN writer) {
    if (writer == nullptr)
        install_failure("running-configuration writer", 0, "no writer");
    // After every writer of the same or a lower order: equal orders keep their install order.
    auto at = std::upper_bound(writers_.begin(), writers_.end(), order,
                               [](int o, const std::pair<int, CLI_CONFIG_WRITE_FN> &w) { return o < w.first; });
    writers_.insert(at, {order, writer});
}

void cli_tree::add_reset(CLI_CONFIG_RESET_FN reset) {
    if (reset == nullptr)
        install_failure("configuration reset", 0, "no reset");
    resets_.push_back(reset);
}

std::vector<const Command *> cli_tree::visible(int mode_number, int level) const {
    std::vector<const Command *> found;
    for (const auto &command : commands_)
        if (command->mode == mode_number && command->level <= level)
            found.push_back(command.get());
    return found;
}

std::string cli_tree::running_config() const {
    sim::shell::StringOutput text;
    for (const auto &[order, writer] : writers_) {
        cli ctx = sim::shell::make_context(text, CONFIG_MODE);
        writer(&ctx);
    }
    return text.take();
}

void cli_tree::reset_config() const {
    for (CLI_CONFIG_RESET_FN reset : resets_)
        reset();
}
