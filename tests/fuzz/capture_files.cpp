// Any bytes as a capture file, replayed through the kernel filter's data path with "platform traffic replay FILE
// ingress eth1.1" in a level-20 session, screening on eth1.1 with a rule for server 10.0.0.1 and trap/log on.
//
// Invariants: the command prints exactly one "% ..." line, or the summary line ("Replayed N frames on eth1.1:
// S DHCP server packets, F forwarded, D dropped") possibly followed by the line of a capture cut short (which
// counts N frames as well); F + D = N and D <= S <= N; the data path's counters never decrease, and on the
// screened eth1.1 the forwarded and dropped counts grow by exactly S - D and D.
#include <unistd.h>

#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "kernel/sim_traffic.h"

namespace {

fuzz::Console *console;
std::string *path;

void check_never_decrease(const sim::kernel::TrafficCounters &before, const sim::kernel::TrafficCounters &after) {
    for (const auto &[lport, was] : before.interfaces) {
        const auto is = after.interfaces.find(lport);
        FUZZ_CHECK(is != after.interfaces.end() && is->second.forwarded >= was.forwarded &&
                       is->second.dropped >= was.dropped && is->second.malformed >= was.malformed,
                   "the counters of lport " + std::to_string(lport) + " went down");
    }
    for (const auto &[key, hits] : before.rule_hits)
        FUZZ_CHECK(after.rule_hits.contains(key) && after.rule_hits.at(key) >= hits, "rule hits went down");
    FUZZ_CHECK(after.reports_sent >= before.reports_sent && after.reports_suppressed >= before.reports_suppressed,
               "report counts went down");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    harness::boot_daemon();
    console = new fuzz::Console(CONFIG_MODE);
    std::string printed;
    for (const char *line : {"ip dhcp screening ports eth1.1", "ip dhcp screening server-ip 10.0.0.1 ports eth1.1",
                             "ip dhcp screening trap-log", "end"})
        printed += console->line(line);
    FUZZ_CHECK(printed.empty(), printed);
    char name[] = "/tmp/dhcpftr-fuzz-capture.XXXXXX";
    const int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0, "no temporary file");
    close(fd);
    path = new std::string(name);
    std::atexit([] { unlink(path->c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::FILE *file = std::fopen(path->c_str(), "wb");
    FUZZ_CHECK(file != nullptr && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0,
               "cannot write " + *path);

    const sim::kernel::TrafficCounters before = sim::kernel::traffic_counters();
    const std::string printed = console->line("platform traffic replay " + *path + " ingress eth1.1");
    const sim::kernel::TrafficCounters after = sim::kernel::traffic_counters();
    check_never_decrease(before, after);

    const std::string first = printed.substr(0, printed.find('\n') + 1);
    const std::string rest = printed.substr(first.size());
    FUZZ_CHECK(!first.empty(), "no line ended: \"" + printed + "\"");
    const sim::kernel::InterfaceCounters none{};
    auto eth1_1 = [&](const sim::kernel::TrafficCounters &c) {
        auto it = c.interfaces.find(1);
        return it == c.interfaces.end() ? none : it->second;
    };
    if (first.starts_with("% ")) {
        FUZZ_CHECK(rest.empty(), "more after a refusal: \"" + printed + "\"");
        FUZZ_CHECK(eth1_1(after).forwarded == eth1_1(before).forwarded && eth1_1(after).dropped == eth1_1(before).dropped,
                   "a refused replay counted frames: \"" + printed + "\"");
        return 0;
    }
    uint64_t n = 0, s = 0, f = 0, d = 0;
    int end = 0;
    FUZZ_CHECK(std::sscanf(first.c_str(),
                           "Replayed %" SCNu64 " frames on eth1.1: %" SCNu64 " DHCP server packets, %" SCNu64
                           " forwarded, %" SCNu64 " dropped\n%n",
                           &n, &s, &f, &d, &end) == 4 &&
                   static_cast<size_t>(end) == first.size(),
               "not a summary: \"" + printed + "\"");
    FUZZ_CHECK(f + d == n && d <= s && s <= n, first);
    if (!rest.empty()) {
        const std::string cut = "% " + *path + " is cut short after " + std::to_string(n) + " frames: ";
        FUZZ_CHECK(rest.starts_with(cut) && rest.find('\n') == rest.size() - 1, "after the summary: \"" + rest + "\"");
    }
    FUZZ_CHECK(eth1_1(after).forwarded - eth1_1(before).forwarded == s - d &&
                   eth1_1(after).dropped - eth1_1(before).dropped == d,
               "eth1.1's counters do not match " + first);
    return 0;
}
