// The C calls of cli.h: command installation into a tree, and the text checks the modules' handlers use.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "shell/sim_shell.h"

namespace {

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// True when text is exactly `groups` groups of 1 to max_digits hex digits separated by sep.
bool hex_groups(std::string_view text, char sep, int groups, std::size_t max_digits) {
    int seen = 0;
    std::size_t digits = 0;
    for (char c : text) {
        if (c == sep) {
            if (digits == 0)
                return false;
            ++seen;
            digits = 0;
        } else if (is_hex(c) && ++digits <= max_digits) {
            continue;
        } else {
            return false;
        }
    }
    return digits > 0 && seen + 1 == groups;
}

cli_tree &tree_or_fail(cli_tree *tree, const char *what) {
    if (tree == nullptr)
        sim::shell::install_failure(what != nullptr ? what : "(no command string)", 0, "no command tree");
    return *tree;
}

}  // namespace

extern "C" {

int cli_install(struct cli_tree *ctree, int mode, struct cli_element *cel) {
    return cli_install_gen(ctree, mode, CLI_PRIVILEGE_NORMAL, 0, cel);
}

int cli_install_gen(struct cli_tree *ctree, int mode, int privilege, uint16_t flags, struct cli_element *cel) {
    (void)flags;
    if (cel == nullptr)
        sim::shell::install_failure("(no command record)", mode, "no command record");
    tree_or_fail(ctree, cel->str).install(mode, privilege, cel->str, cel->help, cel->func);
    return 0;
}

int cli_install_config(struct cli_tree *ctree, int order, CLI_CONFIG_WRITE_FN writer) {
    tree_or_fail(ctree, "running-configuration writer").add_writer(order, writer);
    return 0;
}

int cli_install_reset(struct cli_tree *ctree, CLI_CONFIG_RESET_FN reset) {
    tree_or_fail(ctree, "configuration reset").add_reset(reset);
    return 0;
}

int cli_get_ifmode(const char *ifname) {
    (void)ifname;
    return INTERFACE_MODE;
}

int cli_mac_address_is_valid(const char *text, int *format) {
    if (text == nullptr)
        return 1;
    std::string_view mac(text);
    int found = 0;
    if (hex_groups(mac, ':', 6, 2))
        found = 1;
    else if (hex_groups(mac, '.', 3, 4))
        found = 2;
    else if (hex_groups(mac, '-', 6, 2))
        found = 3;
    else if (mac.size() == 12 && hex_groups(mac, '\0', 1, 12))
        found = 4;
    if (found == 0)
        return 1;
    if (format != nullptr)
        *format = found;
    return 0;
}

int cmd_str2int(const char *text, int *status) {
    auto fail = [status] {
        if (status != nullptr)
            *status = -1;
        return 0;
    };
    if (text == nullptr)
        return fail();
    const char *p = text;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    // Hexadecimal "0x..." (no sign) or decimal; either way the 32 bits of the value, so that a word whose most
    // significant bit is set can be written as 0x80000000 or 2147483648 as well as -2147483648.
    const bool hex = !negative && p == text && (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'));
    if (hex)
        p += 2;
    if (*p == '\0')
        return fail();
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<uint32_t>::max();
    int64_t value = 0;
    for (; *p != '\0'; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (hex && is_hex(*p))
            digit = (*p | 0x20) - 'a' + 10;
        else
            return fail();
        value = value * (hex ? 16 : 10) + digit;
        if (value > limit)
            return fail();
    }
    if (status != nullptr)
        *status = 0;
    return static_cast<int>(static_cast<uint32_t>(negative ? -value : value));
}

}  // extern "C"
