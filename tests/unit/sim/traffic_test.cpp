// Real DHCP captures (tests/data/captures) screened through the "platform traffic" commands, with the daemon
// configured through its own commands; and "platform kernel audit" finding the drift that injected faults
// leave between the kernel filter and the daemon. Every expectation follows from what a capture holds (its
// README names the servers and clients; the frame order is the file's).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "dhcpftr_ukcomm.h"
#include "kernel/sim_traffic.h"
#include "shell/sim_shell.h"
#include "support/daemon_harness.h"
#include "traffic/capture.h"

namespace {

using sim::traffic::Frame;

std::string capture(const char *name) { return std::string(DHCPFTR_CAPTURES) + "/" + name; }
// Client 00:0b:82:01:fc:42 DISCOVER, OFFER from 192.168.0.1, REQUEST, ACK.
const std::string kDora = capture("netdhcp-DHCP-DISCOVER-OFFER-REQUEST-ACK.cap");
// The same exchange with server 192.168.1.1 and client 00:0c:29:1f:74:06.
const std::string kRfc3004 = capture("tcpdump-dhcp-rfc3004.pcap");
// A relay's REQUEST from port 67 to 67, then the ACK of 62.12.173.114 to the relay, 67 to 67.
const std::string kMud = capture("tcpdump-dhcp-mud.pcap");
// pcapng: a DISCOVER, then an OFFER from IP source 10.56.0.2 with server identifier 31.130.229.6.
const std::string kOption108 = capture("tcpdump-dhcp-option-108.pcapng");
// A relayed NAK of 211.29.132.90 with an all-zero chaddr.
const std::string kNak = capture("netdhcp-DHCP-NAK-SMALL.cap");
// 9 frames: 6 client requests and 3 replies of 128.2.6.152.
const std::string kZeek = capture("zeek-dhcp.pcap");
// 14 frames: 10 DHCPv6, 2 DHCPv4 requests and 2 replies of 10.10.0.2.
const std::string kV4v6 = capture("tcpdump-dhcpv4v6-rfc5970-rfc8572.pcap");

std::string summary(const std::string &ifname, int frames, int servers, int forwarded, int dropped) {
    return "Replayed " + std::to_string(frames) + " frames on " + ifname + ": " + std::to_string(servers) +
           " DHCP server packets, " + std::to_string(forwarded) + " forwarded, " + std::to_string(dropped) +
           " dropped\n";
}

std::vector<Frame> frames_of(const std::string &path) {
    std::string error;
    std::optional<sim::traffic::Capture> read = sim::traffic::read_capture(path, error);
    EXPECT_TRUE(read) << error;
    return read ? read->frames : std::vector<Frame>{};
}

class Traffic : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_);
        harness::boot_daemon();
        dhcpftr_wait_max_polls = 1;  // a dropped answer costs one poll of 100 ms
        ASSERT_EQ(run({"clear running-config", "platform traffic clear"}), "");
    }
    // The output of the lines in turn, "!" before that of a line that failed; "ip ..." and "no ip ..." lines
    // run in the configuration mode.
    std::string run(const std::vector<std::string> &lines) {
        std::string text;
        for (const std::string &line : lines) {
            const bool config = line.starts_with("ip ") || line.starts_with("no ip ");
            if (config)
                session.execute("configure terminal");
            text += session.execute(line) == sim::shell::Outcome::failed ? "!" : "";
            if (config)
                session.execute("end");
            text += out.take();
        }
        return text;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string replay(const std::string &file, const std::string &ifname, const std::string &more = "") {
        return run({"platform traffic replay " + file + " ingress " + ifname + more});
    }
    // A file of the test's own scratch directory.
    std::string scratch(const std::string &name) const { return (dir_ / name).string(); }
    const std::filesystem::path dir_ =
        std::filesystem::path(::testing::TempDir()) / ("traffic_test_" + std::to_string(getpid()));
    sim::shell::StringOutput out;
    sim::shell::Session session{*sim::shell::tree(), out, {15, EXEC_MODE, ""}};
};

// Captures need libpcap, which the cross build lacks.
class Captures : public Traffic {
protected:
    void SetUp() override {
        if (!sim::traffic::captures_supported())
            GTEST_SKIP() << sim::traffic::kUnsupported;
        Traffic::SetUp();
    }
};

TEST_F(Captures, ScreensRealExchanges) {
    struct Replay {
        std::string file, ifname;
        int frames, servers, forwarded, dropped;
    };
    const struct {
        const char *what;
        std::vector<std::string> config;
        std::vector<Replay> replays;
    } cases[] = {
        {"the permitted server's OFFER and ACK pass",
         {"ip dhcp screening ports eth1.1", "ip dhcp screening server-ip 192.168.0.1 ports eth1.1"},
         {{kDora, "eth1.1", 4, 2, 4, 0}}},
        {"without a rule every server is dropped, DHCPv6 is no DHCP server packet",
         {"ip dhcp screening ports eth1.1"},
         {{kDora, "eth1.1", 4, 2, 2, 2}, {kV4v6, "eth1.1", 14, 2, 12, 2}}},
        {"a rule for another server or on another port permits nothing",
         {"ip dhcp screening ports eth1.1-1.2", "ip dhcp screening server-ip 192.168.1.1 ports eth1.1",
          "ip dhcp screening server-ip 192.168.0.1 ports eth1.2"},
         {{kDora, "eth1.1", 4, 2, 2, 2}, {kRfc3004, "eth1.1", 4, 2, 4, 0}, {kZeek, "eth1.1", 9, 3, 6, 3}}},
        {"a rule for one client permits that client only",
         {"ip dhcp screening ports eth1.1-1.2",
          "ip dhcp screening server-ip 192.168.0.1 client-mac 00:0b:82:01:fc:42 ports eth1.1",
          "ip dhcp screening server-ip 192.168.0.1 client-mac 00:0b:82:01:fc:43 ports eth1.2"},
         {{kDora, "eth1.1", 4, 2, 4, 0}, {kDora, "eth1.2", 4, 2, 2, 2}}},
        {"relayed replies are screened by their IP source, not the server identifier",
         {"ip dhcp screening ports eth1.3", "ip dhcp screening server-ip 62.12.173.114 ports eth1.3",
          "ip dhcp screening server-ip 31.130.229.6 ports eth1.3"},
         {{kMud, "eth1.3", 2, 1, 2, 0}, {kOption108, "eth1.3", 2, 1, 1, 1}, {kNak, "eth1.3", 1, 1, 0, 1}}},
        {"a trunk member's frames are screened on the trunk",
         {"platform chassis trunk member add port-channel1 eth1.5", "ip dhcp screening ports port-channel1",
          "ip dhcp screening server-ip 192.168.0.1 ports port-channel1"},
         {{kDora, "eth1.5", 4, 2, 4, 0}, {kRfc3004, "eth1.5", 4, 2, 2, 2}, {kDora, "port-channel1", 4, 2, 4, 0}}},
        {"a port without screening passes everything",
         {"ip dhcp screening ports eth1.1"},
         {{kZeek, "eth1.4", 9, 3, 9, 0}, {kRfc3004, "eth1.4", 4, 2, 4, 0}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(run({"clear running-config"}), "");
        ASSERT_EQ(run(c.config), "");
        for (const Replay &r : c.replays)
            EXPECT_EQ(replay(r.file, r.ifname), summary(r.ifname, r.frames, r.servers, r.forwarded, r.dropped))
                << r.file;
    }
}

// Reports of the rogue 192.168.0.1 on eth1.1 with a suppress duration of one minute: its OFFER is reported,
// its ACK 70 ms later and both again on a second replay are suppressed, the OFFER 61 s later is reported.
TEST_F(Captures, ShowsCountersAndSuppressesReportsWithinTheDuration) {
    ASSERT_EQ(run({"ip dhcp screening ports eth1.1-1.2", "ip dhcp screening trap-log",
                   "ip dhcp screening suppress-duration 1", "ip dhcp screening server-ip 192.168.1.1 ports eth1.2"}),
              "");
    Frame later = frames_of(kDora).at(1);
    later.time += std::chrono::seconds(61);
    const std::string later_file = scratch("later.pcap");
    ASSERT_EQ(sim::traffic::write_capture(later_file, sim::traffic::kLinkEthernet, 65535, {&later, 1}), "");
    EXPECT_EQ(replay(kDora, "eth1.1"),
              "Replayed 4 frames on eth1.1: 2 DHCP server packets, 2 forwarded, 2 dropped\n");
    EXPECT_EQ(replay(kDora, "eth1.1"), summary("eth1.1", 4, 2, 2, 2));
    EXPECT_EQ(replay(later_file, "eth1.1"), summary("eth1.1", 1, 1, 0, 1));
    EXPECT_EQ(replay(kRfc3004, "eth1.2"), summary("eth1.2", 4, 2, 4, 0));
    EXPECT_EQ(run({"platform traffic show"}),
              "Screening data path\n"
              "  Interfaces         2\n"
              "    Interface         Forwarded     Dropped   Malformed\n"
              "    eth1.1                    0           5           0\n"
              "    eth1.2                    2           0           0\n"
              "  Rules hit          1\n"
              "    Server           Client                   Hits\n"
              "    192.168.1.1      all clients                 2\n"
              "  Reports            sent 2, suppressed 3\n");
    // Clearing forgets the counters and when the server was reported: the next OFFER is reported again.
    EXPECT_EQ(run({"platform traffic clear", "platform traffic show"}),
              "Screening data path\n"
              "  Interfaces         0\n"
              "  Rules hit          0\n"
              "  Reports            sent 0, suppressed 0\n");
    EXPECT_EQ(replay(kDora, "eth1.1"), summary("eth1.1", 4, 2, 2, 2));
    EXPECT_EQ(sim::kernel::traffic_counters().reports_sent, 1u);
}

// A capture of the permitted exchange, a relayed ACK of a rogue server and the OFFER cut short after the
// BOOTP op (no client hardware address: malformed).
TEST_F(Captures, PreviewTablesServersAndClientsWithoutCounting) {
    ASSERT_EQ(run({"ip dhcp screening ports eth1.1", "ip dhcp screening server-ip 192.168.0.1 ports eth1.1"}), "");
    std::vector<Frame> frames = frames_of(kDora);
    for (const Frame &frame : frames_of(kMud))
        frames.push_back(frame);
    Frame cut = frames[1];
    cut.bytes.resize(14 + 20 + 8 + 1);  // Ethernet, IPv4 and UDP headers, the op
    frames.push_back(cut);
    const std::string file = scratch("preview.pcap");
    ASSERT_EQ(sim::traffic::write_capture(file, sim::traffic::kLinkEthernet, 65535, frames), "");
    EXPECT_EQ(run({"platform traffic preview " + file + " ingress eth1.1"}),
              "Preview of 7 frames on eth1.1, ingress eth1.1, screening on\n"
              "Server           Client             Packets  Forwarded  Dropped  Rule\n"
              "62.12.173.114    B8:27:EB:B8:53:C8        1          0        1  -\n"
              "192.168.0.1      00:0B:82:01:FC:42        2          2        0  192.168.0.1\n"
              "192.168.0.1      (malformed)              1          0        1  -\n"
              "Other frames: 3, passed\n");
    EXPECT_EQ(run({"platform traffic preview " + kDora + " ingress eth1.2"}),
              "Preview of 4 frames on eth1.2, ingress eth1.2, screening off\n"
              "Server           Client             Packets  Forwarded  Dropped  Rule\n"
              "192.168.0.1      00:0B:82:01:FC:42        2          2        0  -\n"
              "Other frames: 2, passed\n");
    const sim::kernel::TrafficCounters counters = sim::kernel::traffic_counters();
    EXPECT_TRUE(counters.interfaces.empty());
    EXPECT_TRUE(counters.rule_hits.empty());
}

TEST_F(Captures, WritesForwardedAndDroppedFramesUnchanged) {
    ASSERT_EQ(run({"ip dhcp screening ports eth1.1"}), "");
    const std::string forwarded = scratch("forwarded.pcap"), dropped = scratch("dropped.pcap");
    ASSERT_EQ(replay(kDora, "eth1.1", " forwarded " + forwarded + " dropped " + dropped),
              summary("eth1.1", 4, 2, 2, 2));
    const std::vector<Frame> in = frames_of(kDora);
    // The client's DISCOVER and REQUEST pass, the server's OFFER and ACK are dropped.
    const struct { std::string file; std::vector<std::size_t> frames; } outputs[] = {
        {forwarded, {0, 2}}, {dropped, {1, 3}}};
    for (const auto &o : outputs) {
        const std::vector<Frame> out = frames_of(o.file);
        ASSERT_EQ(out.size(), o.frames.size()) << o.file;
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].time, in[o.frames[i]].time);
            EXPECT_EQ(out[i].length, in[o.frames[i]].length);
            EXPECT_EQ(out[i].bytes, in[o.frames[i]].bytes);
        }
    }
}

TEST_F(Captures, RefusesWhatItCannotUseAndCountsNothing) {
    ASSERT_EQ(run({"ip dhcp screening ports eth1.1"}), "");
    const std::string raw = scratch("raw.pcap"), out = scratch("out.pcap"), readme = capture("README.md");
    const Frame ip_only{std::chrono::seconds(1), 20, std::vector<uint8_t>(20, 0x45)};
    ASSERT_EQ(sim::traffic::write_capture(raw, 12 /* DLT_RAW */, 65535, {&ip_only, 1}), "");
    std::filesystem::remove(out);
    const struct { std::string line, output; } cases[] = {
        {"replay /nonexistent/x.pcap ingress eth1.1",
         "% Cannot open /nonexistent/x.pcap: No such file or directory"},
        {"preview " + readme + " ingress eth1.1", "% " + readme + " is not a capture file: unknown file format"},
        {"replay " + raw + " ingress eth1.1", "% " + raw + " has link type RAW, not Ethernet"},
        {"replay " + kDora + " ingress vlan1", "% vlan1 is not a port or trunk of the switch"},
        {"preview " + kDora + " ingress eth1.49", "% eth1.49 is not a port or trunk of the switch"},
        {"replay " + kDora + " ingress eth1.1 forwarded " + out + " dropped /nonexistent/d.pcap",
         "% Cannot write /nonexistent/d.pcap: No such file or directory"},
        {"replay " + kDora + " ingress eth1.1 forwarded " + out + " dropped " + scratch("./out.pcap"),
         "% " + out + " is given for both the forwarded and the dropped frames"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(run({"platform traffic " + c.line}), "!" + c.output + "\n");
        EXPECT_TRUE(sim::kernel::traffic_counters().interfaces.empty()) << c.line;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    // A copy cut in the third frame: the first two are replayed, the command says where the copy stops.
    const std::string cut = scratch("cut.pcap");
    std::filesystem::copy_file(kDora, cut, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, 24 + (16 + 314) + (16 + 342) + 16 + 4);
    const std::string replayed = replay(cut, "eth1.1");
    EXPECT_TRUE(replayed.starts_with(summary("eth1.1", 2, 1, 1, 1) + "% " + cut + " is cut short after 2 frames: "))
        << replayed;
}

// Each fault leaves the kernel filter with what the daemon, whose wait timed out, did not take.
TEST_F(Traffic, AuditFindsTheDriftOfDroppedAnswers) {
    ASSERT_EQ(run({"ip dhcp screening ports eth1.1-1.2", "ip dhcp screening trap-log",
                   "ip dhcp screening suppress-duration 20", "ip dhcp screening server-ip 10.1.1.1 ports eth1.1",
                   "ip dhcp screening server-ip 10.1.1.2 client-mac 00:11:22:33:44:55 ports eth1.2"}),
              "");
    EXPECT_EQ(run({"platform kernel audit"}), "Audit: 2 rules, 2 ports, no difference\n");
    for (const char *change : {"ip dhcp screening server-ip 10.1.1.3 ports eth1.1",
                               "ip dhcp screening ports eth1.3",
                               "no ip dhcp screening server-ip 10.1.1.2 client-mac 00:11:22:33:44:55 ports eth1.2",
                               "no ip dhcp screening ports eth1.2", "no ip dhcp screening trap-log",
                               "ip dhcp screening suppress-duration 5"})
        run({"platform kernel drop 1", change});
    EXPECT_EQ(run({"platform kernel audit"}),
              "!Rule 10.1.1.2 00:11:22:33:44:55 only in the daemon, ports eth1.2\n"
              "Rule 10.1.1.3 all clients only in the filter, ports eth1.1\n"
              "Screening on eth1.2 only in the daemon\n"
              "Screening on eth1.3 only in the filter\n"
              "Trap/log on in the daemon, off in the filter\n"
              "Suppress duration 20 minutes in the daemon, 5 in the filter\n"
              "Audit: 2 rules, 2 ports, 6 differences\n");
}

}  // namespace
