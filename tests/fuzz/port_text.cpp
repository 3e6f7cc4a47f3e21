// Port-range text and port-list text of the daemon, on a chassis where some named ports cannot be used: slot 5's
// card pulled, eth1.40 and eth2.48 members of trunks, port-channel3 deleted, eth3.7 out of the table for a while,
// port-channel100 created.
//
// The first byte of the input chooses what the rest is:
//   even: range text for _dhcpftr_port_range_to_portlist. Invariants: it prints nothing when it succeeds and
//         one or more "% ..." lines when it fails; what it gives is not empty and holds only usable ports (an
//         existing port or trunk that is no trunk member); that list printed with the daemon's port-list writer
//         and converted again gives the same list.
//   odd:  a port list (96 bytes, zero-padded). Invariants: the daemon's writer prints the same text as the
//         platform's (sim::port_text); it is empty exactly when the list holds no named port; converted back it
//         gives the list's named ports when every one of them is usable, and fails otherwise.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "dhcpftr_portlist.h"
#include "dhcpftr_portrange.h"
#include "fuzz_support.h"

namespace {

harness::Terminal *terminal;

std::string written(PORTLIST_T ports) {
    std::string text;
    _dhcpftr_portlist_to_str(
        &ports, [](const char *piece, void *arg) { static_cast<std::string *>(arg)->append(piece); }, &text);
    return text;
}

// Converts range text; the list, or nothing after checking what it printed.
bool convert(const std::string &text, PORTLIST_T &ports, std::string &printed) {
    PORTLIST_clear_all(&ports);
    const int ok = _dhcpftr_port_range_to_portlist(terminal->context(), text.c_str(), &ports, nullptr);
    printed = terminal->take();
    FUZZ_CHECK(ok == 0 || ok == 1, "result " + std::to_string(ok) + " for \"" + text + "\"");
    if (ok)
        FUZZ_CHECK(printed.empty(), "\"" + text + "\" was converted and printed " + printed);
    else
        FUZZ_CHECK(printed.starts_with("% ") && printed.ends_with("\n"),
                   "\"" + text + "\" was refused with \"" + printed + "\"");
    return ok == 1;
}

bool named(uint32_t lport) {
    const uint32_t ifindex = if_st_lport_to_ifindex(lport);
    return ifindex != 0 && sim::ids::name_of(ifindex).has_value();
}

bool usable(uint32_t lport) {
    const interface *record = sim::Chassis::instance().vr_table()->find(if_st_lport_to_ifindex(lport));
    return record != nullptr && record->state != IF_STATE_TRUNK_MEMBER;
}

void check_text(const std::string &text) {
    PORTLIST_T ports;
    std::string printed;
    if (!convert(text, ports, printed))
        return;
    FUZZ_CHECK(!PORTLIST_chk_empty(&ports), "\"" + text + "\" gave no port");
    for (uint32_t lport : harness::lports(ports))
        FUZZ_CHECK(usable(lport), "\"" + text + "\" gave " + fuzz::ports_text(ports));
    const std::string again = written(ports);
    PORTLIST_T back;
    FUZZ_CHECK(convert(again, back, printed) && fuzz::same(back, ports),
               "\"" + text + "\" gave " + fuzz::ports_text(ports) + ", written \"" + again + "\", read back " +
                   fuzz::ports_text(back) + " " + printed);
}

void check_list(const PORTLIST_T &list) {
    PORTLIST_T names;
    PORTLIST_clear_all(&names);
    bool all_usable = true;
    for (uint32_t lport : harness::lports(list))
        if (named(lport)) {
            PORTLIST_set_port(&names, lport);
            all_usable = all_usable && usable(lport);
        }
    const std::string text = written(list);
    FUZZ_CHECK(text == sim::port_text(list), "the daemon writes \"" + text + "\", the platform \"" +
                                                 sim::port_text(list) + "\"");
    FUZZ_CHECK(text.empty() == (PORTLIST_chk_empty(&names) != 0), "\"" + text + "\" for " + fuzz::ports_text(list));
    if (text.empty())
        return;
    PORTLIST_T back;
    std::string printed;
    const bool ok = convert(text, back, printed);
    FUZZ_CHECK(ok == all_usable, "\"" + text + "\" " + (ok ? "converted" : "refused: " + printed));
    if (ok)
        FUZZ_CHECK(fuzz::same(back, names), "\"" + text + "\" read back as " + fuzz::ports_text(back));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    harness::boot_daemon();
    sim::Chassis &chassis = sim::Chassis::instance();
    const std::string refusals[] = {chassis.remove_card(4),          chassis.join("port-channel1", "eth1.40"),
                                    chassis.join("port-channel8", "eth2.48"), chassis.remove("port-channel3", 1),
                                    chassis.remove("eth3.7", 0),     chassis.add("port-channel100")};
    for (const std::string &refusal : refusals)
        FUZZ_CHECK(refusal.empty(), refusal);
    terminal = new harness::Terminal;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0) {
        const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
        check_text(text.substr(0, text.find('\0')));
    } else {
        PORTLIST_T list{};
        std::memcpy(&list, data + 1, std::min(size - 1, sizeof(list)));
        check_list(list);
    }
    return 0;
}
