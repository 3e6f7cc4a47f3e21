// The kernel's build of the classifier against the host's: every frame of every capture and every input of
// the frames fuzz corpus, under a handful of configurations and arrival ports, through the host's
// classification and through the loaded BPF program (BPF_PROG_TEST_RUN): the same verdicts and the same
// counters. And the kernel filter's promise about its maps: they hold what it accepted, and a map update the
// kernel refuses is a refusal with tables and maps as they were. Skipped without the rights to load BPF.
#include <gtest/gtest.h>

#if DHCPFTR_HAVE_BPF
#include <bpf/bpf.h>
#include <linux/pkt_cls.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "datapath/sim_datapath.h"
#include "dhcpftr_ukcomm.h"
#include "kernel/sim_traffic.h"
#include "shell/sim_shell.h"
#include "support/daemon_harness.h"
#include "traffic/capture.h"

namespace {

namespace fs = std::filesystem;

// The loopback interface, on which BPF_PROG_TEST_RUN runs a tc program: it stands for the arrival port.
constexpr uint32_t kLoopback = 1;

std::vector<std::vector<uint8_t>> all_frames() {
    std::vector<std::vector<uint8_t>> frames;
    for (const fs::directory_entry &file : fs::directory_iterator(DHCPFTR_CAPTURES)) {
        std::string error;
        if (auto capture = sim::traffic::read_capture(file.path(), error))
            for (const sim::traffic::Frame &frame : capture->frames)
                frames.push_back(frame.bytes);
    }
    for (const fs::directory_entry &file : fs::directory_iterator(DHCPFTR_FRAMES_CORPUS)) {
        std::ifstream in(file.path(), std::ios::binary);
        std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), {}};
        if (input.size() > 1)
            frames.emplace_back(input.begin() + 1, input.end());  // byte 0 chose the port
    }
    return frames;
}

// The program's verdict on a frame arriving on the loopback interface: true when it passes.
bool kernel_passes(const std::vector<uint8_t> &frame) {
    __sk_buff context{};
    LIBBPF_OPTS(bpf_test_run_opts, run, .data_in = frame.data(), .data_size_in = static_cast<uint32_t>(frame.size()),
                .ctx_in = &context, .ctx_size_in = sizeof context, .repeat = 1);
    EXPECT_EQ(bpf_prog_test_run_opts(sim::datapath::program_fd(), &run), 0) << "test run of " << frame.size() << " bytes";
    return run.retval == TC_ACT_OK;
}

class Datapath : public ::testing::Test {
protected:
    void SetUp() override {
        harness::boot_daemon();
        if (!sim::traffic::captures_supported())
            GTEST_SKIP() << sim::traffic::kUnsupported;
        if (std::string why = sim::datapath::load(); !why.empty())
            GTEST_SKIP() << why;
    }
    void TearDown() override { sim::datapath::unload(); }

    // Runs configuration lines in the configuration mode; the text they printed.
    std::string configure(const std::vector<std::string> &lines) {
        session.execute("configure terminal");
        for (const std::string &line : lines)
            session.execute(line);
        session.execute("end");
        sim::kernel::wait_idle();
        return out.take();
    }

    sim::shell::StringOutput out;
    sim::shell::Session session{*sim::shell::tree(), out, {15, EXEC_MODE, ""}};
};

TEST_F(Datapath, KernelAndHostClassifyAlike) {
    const std::vector<std::vector<uint8_t>> frames = all_frames();
    ASSERT_GT(frames.size(), 50u);
    const struct {
        const char *what;
        std::vector<std::string> config;
    } cases[] = {
        {"no screening", {}},
        {"every port screened, no rule", {"ip dhcp screening ports eth1.1-1.48,eth2.1-2.48,port-channel1-8"}},
        {"rules for all clients and for one client, trap/log on",
         {"do platform chassis trunk member add port-channel1 eth1.3",
          "ip dhcp screening ports eth1.1-1.2,port-channel1", "ip dhcp screening trap-log",
          "ip dhcp screening server-ip 192.168.0.1 ports eth1.1,port-channel1",
          "ip dhcp screening server-ip 192.168.1.1 client-mac 00:0c:29:1f:74:06 ports eth1.1",
          "ip dhcp screening server-ip 10.10.0.2 client-mac 00:11:22:33:44:55 ports eth1.1-1.2",
          "ip dhcp screening server-ip 128.2.6.152 ports eth1.2", "ip dhcp screening server-ip 10.0.0.1 ports eth1.1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        session.execute("clear running-config");
        ASSERT_EQ(configure(c.config), "");
        for (uint32_t lport : {1u, 2u, 3u, 641u}) {
            SCOPED_TRACE("arriving on lport " + std::to_string(lport));
            ASSERT_TRUE(sim::datapath::write_port(kLoopback, lport));
            sim::kernel::clear_traffic();
            sim::datapath::clear_counters();
            size_t differ = 0;
            for (const std::vector<uint8_t> &frame : frames) {
                if (frame.size() < 14 || frame.size() > 3000)
                    continue;  // shorter than BPF_PROG_TEST_RUN takes (and passing anyway), or longer than a page
                const bool host = sim::kernel::classify(lport, frame, std::chrono::nanoseconds(0)).forwarded;
                differ += host != kernel_passes(frame);
            }
            EXPECT_EQ(differ, 0u) << "frames with another verdict";
            const sim::kernel::TrafficCounters host = sim::kernel::traffic_counters();
            sim::kernel::TrafficCounters kernel = sim::datapath::read_counters();
            EXPECT_EQ(host.interfaces.size(), kernel.interfaces.size());
            for (const auto &[iface, counted] : host.interfaces) {
                const sim::kernel::InterfaceCounters seen = kernel.interfaces[iface];
                EXPECT_EQ(seen.forwarded, counted.forwarded) << "forwarded on " << iface;
                EXPECT_EQ(seen.dropped, counted.dropped) << "dropped on " << iface;
                EXPECT_EQ(seen.malformed, counted.malformed) << "malformed on " << iface;
            }
            EXPECT_EQ(kernel.rule_hits, host.rule_hits);
            EXPECT_EQ(kernel.reports_sent, host.reports_sent);
            EXPECT_EQ(kernel.reports_suppressed, host.reports_suppressed);
        }
    }
}

// The maps hold the filter's tables after every change; a rule the kernel's map cannot take more of is
// refused with -100, and tables and maps stay as they were.
TEST_F(Datapath, MapsFollowTheFilterAndARefusedUpdateChangesNothing) {
    ASSERT_EQ(configure({"ip dhcp screening ports eth2.1-2.4", "ip dhcp screening trap-log",
                         "ip dhcp screening suppress-duration 3",
                         "ip dhcp screening server-ip 10.1.1.1 client-mac 00:11:22:33:44:55 ports eth2.1-2.2",
                         "no ip dhcp screening ports eth2.3"}),
              "");
    const auto same = [](const sim::kernel::Tables &a, const sim::kernel::Tables &b) {
        return harness::rule_lines(a.rules) == harness::rule_lines(b.rules) &&
               std::memcmp(&a.enabled, &b.enabled, sizeof a.enabled) == 0 && a.trap == b.trap &&
               a.duration == b.duration;
    };
    EXPECT_TRUE(same(sim::datapath::read_tables(), sim::kernel::tables()));

    // Fill the kernel's rules map (1024 rules) with rules the filter takes from messages of its own.
    uint8_t body[112] = {};
    body[4] = 0x80;  // port 1
    for (uint32_t i = 0; i < 1025; ++i) {
        body[100] = 11, body[101] = uint8_t(i >> 16), body[102] = uint8_t(i >> 8), body[103] = uint8_t(i);
        sim::kernel::receive(sim::kernel::kRuleMsg, body, sizeof body);
    }
    sim::kernel::wait_idle();
    const sim::kernel::Tables tables = sim::kernel::tables();
    EXPECT_EQ(tables.rules.size(), 1024u) << "the last rules did not fit into the kernel's map";
    EXPECT_EQ(dhcpftr_k_ret_value, sim::kernel::kNoResource) << "the answer to the last rule";
    EXPECT_TRUE(same(sim::datapath::read_tables(), tables));
}

}  // namespace
#endif
