// The "platform traffic" commands and "platform kernel audit" (traffic_commands.h). Every handler prints
// through the command context's output function; it returns 1 after printing "% ..." when it cannot do its
// work, and then has changed nothing.
//
// A replay reads the whole capture, checks the ingress interface and creates the output files before the
// first frame is classified, so that none of these errors touches the data path's counters.
#include "traffic/traffic_commands.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "chassis/sim_chassis.h"
#include "format/sim_format.h"
#include "shell/platform_commands.h"
#include "if_table.h"
#include "kernel/sim_kernel.h"
#include "datapath/sim_datapath.h"
#include "kernel/sim_traffic.h"
#include "traffic/audit.h"
#include "traffic/capture.h"
#include "shell/platform_text.h"

namespace sim::traffic {
namespace {

using namespace platform_commands;
using kernel::Accounting;
using kernel::Decision;
using kernel::FrameKind;

// Prints "% <reason>" as one line and gives the result of a handler that could not do its work.
int refuse(cli *cli, const std::string &reason) {
    print(cli, "% " + reason + "\n");
    return 1;
}

// The logical port of a port or trunk interface of the switch, by name; nothing for any other name.
std::optional<uint32_t> ingress_port(const std::string &name) {
    const interface *record = Chassis::instance().find(name);
    if (record == nullptr || record->ifindex < IF_PHY_IFINDEX_MIN || record->ifindex > IF_TRUNK_IFINDEX_MAX)
        return std::nullopt;
    return if_ifindex_to_st_lport(record->ifindex);
}

// A capture to run through the data path on a port.
struct Input {
    Capture capture;
    uint32_t lport = 0;
};

// The capture of file and the ingress port of ifname; nothing after printing why they cannot be used.
std::optional<Input> input(cli *cli, const std::string &file, const std::string &ifname) {
    if (!captures_supported()) {
        refuse(cli, kUnsupported);
        return std::nullopt;
    }
    Input in;
    std::optional<uint32_t> lport = ingress_port(ifname);
    if (!lport) {
        refuse(cli, ifname + " is not a port or trunk of the switch");
        return std::nullopt;
    }
    in.lport = *lport;
    std::string error;
    std::optional<Capture> capture = read_capture(file, error);
    if (!capture) {
        refuse(cli, error);
        return std::nullopt;
    }
    if (capture->link_type != kLinkEthernet) {
        refuse(cli, file + " has link type " + capture->link_name + ", not Ethernet");
        return std::nullopt;
    }
    in.capture = std::move(*capture);
    return in;
}

// The line after the result of a capture that breaks off before its end.
void tell_cut_short(cli *cli, const std::string &file, const Capture &capture) {
    if (!capture.cut_short.empty())
        print(cli, format("%% %s is cut short after %zu frames: %s\n", file.c_str(), capture.frames.size(),
                          capture.cut_short.c_str()));
}

bool is_server_packet(const Decision &decision) { return decision.info.kind != FrameKind::other; }

// True when the two paths name the same file, existing or not.
bool same_file(const std::string &a, const std::string &b) {
    auto full = [](const std::string &path, std::error_code &error) {
        return std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
    };
    std::error_code error_a, error_b;
    const std::filesystem::path full_a = full(a, error_a), full_b = full(b, error_b);
    return a == b || (!error_a && !error_b && full_a == full_b);
}

// An output file of a replay: the path given, and its writer once created.
struct Output {
    std::string path;
    std::unique_ptr<CaptureWriter> writer;
};

// "platform traffic replay FILE ingress IFNAME [forwarded FILE] [dropped FILE]": classifies every frame of
// the capture, in order, as arriving on IFNAME at its capture time, with counters and reports; prints the
// result in one line and writes the forwarded and the dropped frames into the files given.
int replay(cli *cli, int argc, char **argv) {
    if (argc < 2 || argc % 2 != 0)
        return refuse(cli, "Invalid input");
    const std::string file = argv[0];
    const std::string ifname = argv[1];
    Output forwarded, dropped;
    for (int i = 2; i + 1 < argc; i += 2)
        (std::strcmp(argv[i], "forwarded") == 0 ? forwarded : dropped).path = argv[i + 1];
    if (!forwarded.path.empty() && !dropped.path.empty() && same_file(forwarded.path, dropped.path))
        return refuse(cli, forwarded.path + " is given for both the forwarded and the dropped frames");
    std::optional<Input> in = input(cli, file, ifname);
    if (!in)
        return 1;
    const std::vector<Frame> &frames = in->capture.frames;
    const bool nanoseconds = needs_nanoseconds(frames);
    for (Output *out : {&forwarded, &dropped}) {
        if (out->path.empty())
            continue;
        std::string error;
        out->writer = CaptureWriter::create(out->path, kLinkEthernet, in->capture.snap_length, nanoseconds, error);
        if (!out->writer) {
            if (forwarded.writer) {  // the dropped frames' file failed: the forwarded one, just created, goes
                forwarded.writer.reset();
                std::error_code ignored;
                std::filesystem::remove(forwarded.path, ignored);
            }
            return refuse(cli, error);
        }
    }
    uint64_t servers = 0, passed = 0, stopped = 0;
    for (const Frame &frame : frames) {
        const Decision decision = kernel::classify(in->lport, frame.bytes, frame.time, Accounting::counted);
        servers += is_server_packet(decision) ? 1 : 0;
        Output &out = decision.forwarded ? forwarded : dropped;
        ++(decision.forwarded ? passed : stopped);
        if (out.writer)
            out.writer->write(frame);
    }
    print(cli, format("Replayed %zu frames on %s: %llu DHCP server packets, %llu forwarded, %llu dropped\n",
                      frames.size(), ifname.c_str(), static_cast<unsigned long long>(servers),
                      static_cast<unsigned long long>(passed), static_cast<unsigned long long>(stopped)));
    tell_cut_short(cli, file, in->capture);
    int result = 0;
    for (Output *out : {&forwarded, &dropped})
        if (out->writer)
            if (std::string error = out->writer->close(); !error.empty())
                result = refuse(cli, error);
    return result;
}

// A row of the preview: a server, whether its packets were malformed, and the client.
using PreviewKey = std::tuple<uint32_t, bool, std::array<uint8_t, 6>>;
struct PreviewRow {
    uint64_t packets = 0;
    uint64_t forwarded = 0;
    uint64_t dropped = 0;
    std::optional<kernel::RuleKey> rule;
};

// The preview table: columns Server (15), Client (17), Packets (7), Forwarded (9), Dropped (7) and Rule,
// two blanks apart; the text columns left-aligned, the counts right-aligned.
constexpr char kPreviewLine[] = "%-15s  %-17s  %7s  %9s  %7s  %s\n";
constexpr char kMalformedClient[] = "(malformed)";

std::string count_text(uint64_t n) { return std::to_string(n); }

// "platform traffic preview FILE ingress IFNAME": the decisions a replay would make, without counters or
// reports, as a table of the server packets by server and client, and the count of the other frames.
int preview(cli *cli, int argc, char **argv) {
    if (argc != 2)
        return refuse(cli, "Invalid input");
    const std::string file = argv[0];
    const std::string ifname = argv[1];
    std::optional<Input> in = input(cli, file, ifname);
    if (!in)
        return 1;
    // The ingress interface, as the data path takes it for any frame on the port, and whether the filter
    // screens it.
    const uint32_t ingress =
        kernel::classify(in->lport, {}, std::chrono::nanoseconds(0), Accounting::preview).interface;
    const PORTLIST_T enabled = kernel::tables().enabled;
    const bool screened = PORTLIST_chk_port_exist(&enabled, ingress) != 0;
    std::map<PreviewKey, PreviewRow> rows;
    uint64_t others = 0;
    for (const Frame &frame : in->capture.frames) {
        const Decision decision = kernel::classify(in->lport, frame.bytes, frame.time, Accounting::preview);
        if (!is_server_packet(decision)) {
            ++others;
            continue;
        }
        const bool malformed = decision.info.kind == FrameKind::malformed;
        PreviewRow &row = rows[{decision.info.server, malformed,
                                malformed ? std::array<uint8_t, 6>{} : decision.info.client}];
        ++row.packets;
        ++(decision.forwarded ? row.forwarded : row.dropped);
        if (!row.rule)
            row.rule = decision.rule;
    }
    print(cli, format("Preview of %zu frames on %s, ingress %s, screening %s\n", in->capture.frames.size(),
                      ifname.c_str(), interface_name(ingress).c_str(), screened ? "on" : "off"));
    if (rows.empty())
        print(cli, "No DHCP server packets\n");
    else
        print(cli, format(kPreviewLine, "Server", "Client", "Packets", "Forwarded", "Dropped", "Rule"));
    for (const auto &[key, row] : rows) {
        const auto &[server, malformed, client] = key;
        print(cli, format(kPreviewLine, server_text(server).c_str(),
                          malformed ? kMalformedClient : mac_text(client).c_str(), count_text(row.packets).c_str(),
                          count_text(row.forwarded).c_str(), count_text(row.dropped).c_str(),
                          row.rule ? rule_text(*row.rule).c_str() : "-"));
    }
    print(cli, format("Other frames: %llu, passed\n", static_cast<unsigned long long>(others)));
    tell_cut_short(cli, file, in->capture);
    return 0;
}

// One line of the show: the label indented by two blanks and padded to 19 characters, then the value.
std::string field(const char *label, const std::string &value) {
    return format("  %-19s%s\n", label, value.c_str());
}

constexpr char kInterfaceLine[] = "    %-15s  %10s  %10s  %10s\n";
constexpr char kRuleLine[] = "    %-15s  %-17s  %10s\n";

// "platform traffic show": the data path's counters, those of the replays and those the kernel counted of
// live frames together: per interface with any, per rule that permitted any packet, and the illegal-server
// reports.
int show(cli *cli, int argc, char **) {
    if (argc != 0)
        return refuse(cli, "Invalid input");
    const kernel::TrafficCounters counters = kernel::all_counters();
    std::vector<std::pair<uint32_t, kernel::InterfaceCounters>> interfaces;
    for (const auto &[lport, c] : counters.interfaces)
        if (c.forwarded != 0 || c.dropped != 0 || c.malformed != 0)
            interfaces.emplace_back(lport, c);
    std::vector<std::pair<kernel::RuleKey, uint64_t>> rules;
    for (const auto &[key, hits] : counters.rule_hits)
        if (hits != 0)
            rules.emplace_back(key, hits);
    print(cli, "Screening data path\n");
    print(cli, field("Interfaces", std::to_string(interfaces.size())));
    if (!interfaces.empty())
        print(cli, format(kInterfaceLine, "Interface", "Forwarded", "Dropped", "Malformed"));
    for (const auto &[lport, c] : interfaces)
        print(cli, format(kInterfaceLine, interface_name(lport).c_str(), count_text(c.forwarded).c_str(),
                          count_text(c.dropped).c_str(), count_text(c.malformed).c_str()));
    print(cli, field("Rules hit", std::to_string(rules.size())));
    if (!rules.empty())
        print(cli, format(kRuleLine, "Server", "Client", "Hits"));
    for (const auto &[key, hits] : rules)
        print(cli, format(kRuleLine, server_text(key.server).c_str(), client_text(key.mac).c_str(),
                          count_text(hits).c_str()));
    print(cli, field("Reports", "sent " + count_text(counters.reports_sent) + ", suppressed " +
                                    count_text(counters.reports_suppressed)));
    return 0;
}

// "platform traffic clear": resets the counters (the replays' and the kernel's) and forgets when each illegal server was last reported.
int clear(cli *cli, int argc, char **) {
    if (argc != 0)
        return refuse(cli, "Invalid input");
    kernel::clear_traffic();
    datapath::clear_counters();
    return 0;
}

// "platform kernel audit": the differences between the kernel filter's tables and the daemon's
// configuration, one line each, then a closing line; the command fails when there is any.
int audit_command(cli *cli, int argc, char **) {
    if (argc != 0)
        return refuse(cli, "Invalid input");
    const Audit result = audit();
    if (!result.error.empty())
        return refuse(cli, "Cannot read the daemon's configuration: " + result.error);
    for (const std::string &line : result.differences)
        print(cli, line + "\n");
    const std::size_t n = result.differences.size();
    const std::string verdict = n == 0 ? "no difference" : n == 1 ? "1 difference" : format("%zu differences", n);
    print(cli, format("Audit: %zu rules, %zu ports, %s\n", result.rules, result.ports, verdict.c_str()));
    return n == 0 ? 0 : 1;
}

// Help texts: one per token. "kernel" has the text of the other "platform kernel" commands.
const char kTrafficHelp[] = "Data path of the simulated kernel filter";
const char kKernelHelp[] = "Simulated kernel filter";
const char kFileHelp[] = "Capture file (pcap or pcapng, Ethernet)";
const char kIngressHelp[] = "Interface the frames arrive on";
const char kIfnameHelp[] = "Port or trunk (eth1.1, port-channel1)";

const char *replay_help[] = {kPlatformHelp,
                             kTrafficHelp,
                             "Run a capture through the filter, counting",
                             kFileHelp,
                             kIngressHelp,
                             kIfnameHelp,
                             "Write the forwarded frames into a capture file",
                             "Capture file to write",
                             "Write the dropped frames into a capture file",
                             "Capture file to write",
                             nullptr};
const char *preview_help[] = {kPlatformHelp, kTrafficHelp, "Show what the filter would do with a capture",
                              kFileHelp,     kIngressHelp, kIfnameHelp,
                              nullptr};
const char *show_help[] = {kPlatformHelp, kTrafficHelp, "Show the counters of the data path", nullptr};
const char *clear_help[] = {kPlatformHelp, kTrafficHelp, "Clear the counters and the report times", nullptr};
const char *audit_help[] = {kPlatformHelp, kKernelHelp, "Compare the filter's tables with the daemon's", nullptr};

cli_element records[] = {
    {"platform traffic replay FILE ingress IFNAME [forwarded FILE] [dropped FILE]", replay, replay_help,
     {0, 0, 0, 0, 0}},
    {"platform traffic preview FILE ingress IFNAME", preview, preview_help, {0, 0, 0, 0, 0}},
    {"platform traffic show", show, show_help, {0, 0, 0, 0, 0}},
    {"platform traffic clear", clear, clear_help, {0, 0, 0, 0, 0}},
    {"platform kernel audit", audit_command, audit_help, {0, 0, 0, 0, 0}},
};

}  // namespace

int install_commands(cli_tree *tree) { return platform_commands::install(tree, records); }

}  // namespace sim::traffic
