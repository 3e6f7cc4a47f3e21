// What every "platform ..." command of the simulated platform shares: the privilege level it is installed
// at, the help text of its first word, and the reading of its number arguments.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include "cli.h"

namespace sim::platform_commands {

// The privilege level of every "platform" command: a session at the default level neither lists nor runs
// them.
inline constexpr int kLevel = 15;

// The help text of the word "platform".
inline constexpr char kPlatformHelp[] = "Simulated platform";

// The value of a decimal number that makes up the whole text (an optional "-", then digits) and lies in
// [lo, hi], or nothing.
inline std::optional<int64_t> number(const char *text, int64_t lo, int64_t hi) {
    const char *end = text + std::strlen(text);
    int64_t value = 0;
    auto [stop, error] = std::from_chars(text, end, value);
    if (text == end || error != std::errc() || stop != end || value < lo || value > hi)
        return std::nullopt;
    return value;
}

// Writes one piece of text on the command context's terminal.
inline void print(cli *cli, const std::string &text) { cli->out(cli->out_target, "%s", text.c_str()); }

// The result of a handler for a change's answer: 0 for the empty text, otherwise 1 after printing the reason
// and a newline.
inline int answer(cli *cli, const std::string &reason) {
    if (reason.empty())
        return 0;
    print(cli, reason + "\n");
    return 1;
}

// Installs the records into the tree, in the EXEC mode at kLevel. Returns 0 when each was installed,
// otherwise the first non-zero result of cli_install_gen; every record is tried either way.
inline int install(cli_tree *tree, std::span<cli_element> records) {
    int first_failure = 0;
    for (cli_element &record : records) {
        int result = cli_install_gen(tree, EXEC_MODE, kLevel, 0, &record);
        if (result != 0 && first_failure == 0)
            first_failure = result;
    }
    return first_failure;
}

}  // namespace sim::platform_commands
