// Lines typed at a level-20 session of the switch, one line of the input each, in whatever mode the lines
// before left the session: the daemon's commands (the SNMP bridge's too), the shell's own, "?" help, and the
// chassis's topology commands, with any abbreviation, range, address or MAC text. Every input starts from the
// default switch and configuration. A first line "!rules N" (a comment to the shell) first stores N rules
// (at most 255) through the daemon's commits, so that short inputs reach a full store.
//
// Invariants, after every line that reached the kernel filter and after the input: the daemon and the simulated kernel filter hold the same rules with the same
// ports, the same enabled ports, trap/log state and suppress duration; the store holds at most 255 rules and
// none without ports. The completions of every line are sorted, distinct and complete its last word. After
// the input, "clear running-config" leaves nothing configured on either side.
//
// Not run: the kernel filter's fault injection (the two sides would differ by design), "platform traffic
// replay/preview" (files) and "platform port" (Linux interfaces).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dhcpftr_db_commit.h"
#include "fuzz_support.h"
#include "trace/sim_trace.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::size_t i = 0; i < line.size();) {
        while (i < line.size() && is_blank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !is_blank(line[i]))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// True when word is the beginning of keyword, a lower-case word, in any case.
bool starts(std::string_view word, std::string_view keyword) {
    if (word.size() > keyword.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i])
            return false;
    return true;
}

// True when word abbreviates keyword (as the shell matches keywords: a non-empty prefix, in any case).
bool abbreviates(std::string_view word, std::string_view keyword) { return !word.empty() && starts(word, keyword); }

// True for a line this target may run: any line that is no platform command (also after "do"), and of the
// platform commands those of the chassis and the read-only ones of the kernel filter and the data path.
bool allowed(std::string_view line) {
    const std::vector<std::string_view> words = words_of(line);
    std::size_t i = !words.empty() && abbreviates(words[0], "do") ? 1 : 0;
    if (i >= words.size() || !abbreviates(words[i], "platform"))
        return true;
    auto word = [&](std::size_t k) { return i + k < words.size() ? words[i + k] : std::string_view{}; };
    if (abbreviates(word(1), "chassis"))
        return true;
    if (abbreviates(word(1), "kernel"))
        return abbreviates(word(2), "show") || abbreviates(word(2), "audit");
    if (abbreviates(word(1), "traffic"))
        return abbreviates(word(2), "show") || abbreviates(word(2), "clear");
    return false;
}

void check_completions(fuzz::Console &console, std::string_view line) {
    const std::vector<std::string> found = console.session().completions(line);
    const std::vector<std::string_view> words = words_of(line);
    const std::string_view partial = words.empty() || is_blank(line.back()) ? std::string_view{} : words.back();
    for (std::size_t i = 0; i < found.size(); ++i) {
        FUZZ_CHECK(starts(partial, found[i]), "completion " + found[i] + " of \"" + std::string(line) + "\"");
        FUZZ_CHECK(i == 0 || found[i - 1] < found[i], "completions of \"" + std::string(line) + "\" out of order");
    }
}

// Stores n rules (10.200.X.Y for all clients on one port each) through the daemon's commit.
void store_rules(unsigned n) {
    for (unsigned i = 0; i < n && i < DHCPFTR_MAX_RULES; ++i) {
        const std::string server = "10.200." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
        DHCPFTR_PERMIT_RULE_ENTRY_T entry = harness::rule(server.c_str(), {}, {i % 48 + 1});
        int32_t result = 0;
        Dhcpftr_DB_Update_Rule(&entry, &result);
        FUZZ_CHECK(result == 0, "storing rule " + server + " gave " + std::to_string(result));
    }
}

// Messages the kernel filter was sent so far.
uint64_t sent() {
    const sim::kernel::Counters c = sim::kernel::counters();
    return c.received + c.failed_sends;
}

fuzz::Console *console;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    harness::boot_daemon();
    console = new fuzz::Console;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::restore_default_switch();
    console->restart();
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    if (input.starts_with("!rules "))
        store_rules(static_cast<unsigned>(std::strtoul(std::string(input.substr(7, 3)).c_str(), nullptr, 10)));
    uint64_t checked = sent();
    for (std::size_t start = 0; start <= input.size();) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos)
            end = input.size();
        const std::string_view line = input.substr(start, end - start);
        start = end + 1;
        if (!allowed(line))
            continue;
        check_completions(*console, line);
        console->line(line);
        if (sent() != checked) {
            fuzz::check_agreement("\"" + std::string(line) + "\"");
            checked = sent();
        }
    }
    fuzz::check_agreement("the input");
    sim::shell::tree()->reset_config();
    fuzz::check_agreement("clear running-config");
    FUZZ_CHECK(Dhcpftr_DB_entry_number() == 0 && PORTLIST_chk_empty(&dhcpftr_cfg_portlist_db) &&
                   dhcpftr_enable_trap == 0 && dhcpftr_trap_duration == DHCPFTR_DEFAULT_TRAP_DURATION,
               "clear running-config left configuration behind");
    // What the platform keeps of every message and topology call, for tests that look at them.
    sim::kernel::clear_messages();
    sim::trace::clear();
    return 0;
}
