// Answers on the channel that nobody asked for, of any length and content, delivered to the daemon's answer
// handler (message 93) while no commit waits, and while one commit waits for its own answer: the kernel
// filter applies that commit's operation and its answer is held back; the answers of the input come before and
// after the true one, which the target delivers itself. The daemon must not act on an answer that is not for
// the operation it waits for.
//
// Input: byte 0 chooses the waiting commit (its operation code: 0 to 7); then records of a tag byte (its value
// modulo 3: 0 while no commit waits, 1 while it waits before its answer, 2 after its answer), a length byte
// and that many bytes of answer body. While the commit waits, an answer with its operation code is not
// delivered: the daemon cannot tell it from the true one.
//
// Invariants: the waiting commit does not return before its answer, and succeeds; then one commit of every
// operation code succeeds, no answer is left unconsumed, and the daemon and the kernel filter hold the same
// configuration. Every input starts from the default configuration.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dhcpftr_db_commit.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_ukcomm.h"
#include "fuzz_support.h"
#include "ukcomm/sim_ukcomm.h"

namespace {

using namespace std::chrono_literals;

fuzz::Console *console;

// A commit: its operation code, and how to run it (the empty text when it succeeded, else what went wrong).
struct Commit {
    uint32_t op;
    std::function<std::string()> run;
};

Commit line(uint32_t op, std::string text) {
    return {op, [text] {
                const std::string printed = console->line(text);
                return printed.empty() ? printed : "\"" + text + "\" printed " + printed;
            }};
}

std::string expect_zero(const char *what, int32_t result) {
    return result == 0 ? "" : std::string(what) + " gave " + std::to_string(result);
}

// The stacking service's removal of ports from screening (code 6), with the enabled-port list following it as
// for the other port commits.
Commit stacking_ports(uint32_t lport) {
    return {DHCPFTR_OP_STK_DEL_PORTS, [lport] {
                PORTLIST_T ports = harness::ports({lport});
                int32_t result = 0;
                Dhcpftr_Stk_DB_Delete_Ports_to_K(&ports, &result);
                if (result == 0)
                    PORTLIST_maskout(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &ports);
                return expect_zero("the stacking removal of ports", result);
            }};
}

// The stacking service's removal of a rule's port (code 7).
Commit stacking_rule(const char *server, uint32_t lport) {
    return {DHCPFTR_OP_STK_DEL_RULE, [server, lport] {
                DHCPFTR_PERMIT_RULE_ENTRY_T entry = harness::rule(server, {}, {lport});
                int32_t result = 0;
                Dhcpftr_DB_Stk_Delete_Rule_to_K(&entry, &result);
                return expect_zero("the stacking removal of a rule's port", result);
            }};
}

// A commit of code op from the default configuration (on eth1.1, rule 10.0.0.1); the rule a delete needs is
// added first.
Commit waiting_commit(uint32_t op) {
    const Commit add_rule = line(DHCPFTR_OP_ADD_RULE, "ip dhcp screening server-ip 10.0.0.1 ports eth1.1");
    switch (op) {
    case DHCPFTR_OP_ADD_RULE:
        return add_rule;
    case DHCPFTR_OP_SET_TRAP:
        return line(op, "ip dhcp screening trap-log");
    case DHCPFTR_OP_SET_DURATION:
        return line(op, "ip dhcp screening suppress-duration 20");
    case DHCPFTR_OP_ADD_PORTS:
        return line(op, "ip dhcp screening ports eth1.1");
    case DHCPFTR_OP_DEL_PORTS:
        return line(op, "no ip dhcp screening ports eth1.1");
    case DHCPFTR_OP_STK_DEL_PORTS:
        return stacking_ports(1);
    default: {
        const std::string outcome = add_rule.run();
        FUZZ_CHECK(outcome.empty(), "adding the rule to delete: " + outcome);
        return op == DHCPFTR_OP_DEL_RULE ? line(op, "no ip dhcp screening server-ip 10.0.0.1 ports eth1.1")
                                         : stacking_rule("10.0.0.1", 1);
    }
    }
}

// One commit of every operation code, on eth1.2 (rules 10.0.0.3 and 10.0.0.4).
std::vector<Commit> every_code() {
    return {line(DHCPFTR_OP_ADD_PORTS, "ip dhcp screening ports eth1.2"),
            line(DHCPFTR_OP_DEL_PORTS, "no ip dhcp screening ports eth1.2"),
            line(DHCPFTR_OP_ADD_RULE, "ip dhcp screening server-ip 10.0.0.3 ports eth1.2"),
            line(DHCPFTR_OP_DEL_RULE, "no ip dhcp screening server-ip 10.0.0.3 ports eth1.2"),
            line(DHCPFTR_OP_SET_TRAP, "ip dhcp screening trap-log"),
            line(DHCPFTR_OP_SET_TRAP, "no ip dhcp screening trap-log"),
            line(DHCPFTR_OP_SET_DURATION, "ip dhcp screening suppress-duration 7"),
            line(DHCPFTR_OP_SET_DURATION, "no ip dhcp screening suppress-duration"),
            stacking_ports(2),
            line(DHCPFTR_OP_ADD_RULE, "ip dhcp screening server-ip 10.0.0.4 ports eth1.2"),
            stacking_rule("10.0.0.4", 2)};
}

struct Answer {
    int phase;  // 0: while no commit waits; 1: while one waits, before its answer; 2: after its answer
    std::vector<uint8_t> body;
};

// Delivers an answer in a buffer of exactly its length, so that reading beyond it is caught.
void deliver(const std::vector<uint8_t> &body) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[body.size()]);
    std::copy(body.begin(), body.end(), copy.get());
    sim::ukcomm::deliver(DHCPFTR_K_VALUE_MSG, copy.get(), static_cast<uint32_t>(body.size()));
}

bool has_op(const std::vector<uint8_t> &body, uint32_t op) {
    uint32_t value;
    if (body.size() < sizeof(value))
        return false;
    std::memcpy(&value, body.data(), sizeof(value));
    return value == op;
}

// Runs commit on a thread of its own while the answers of phases 1 and 2 and its true answer arrive.
void wait_with_answers(const Commit &commit, const std::vector<Answer> &answers) {
    const sim::kernel::Counters before = sim::kernel::counters();
    sim::kernel::drop_next_answers(1);
    std::atomic<bool> done{false};
    std::string outcome;
    std::thread daemon([&] {
        outcome = commit.run();
        done = true;
    });
    for (;;) {
        const sim::kernel::Counters now = sim::kernel::counters();
        if (now.dropped > before.dropped)
            break;
        if (done) {
            daemon.join();
            sim::kernel::clear_faults();
            fuzz::fail(now.received == before.received
                           ? "the waiting commit sent nothing: " + outcome
                           : "the commit of code " + std::to_string(commit.op) + " returned before its answer (" +
                                 (outcome.empty() ? "success" : outcome) + ")");
        }
        std::this_thread::sleep_for(20us);
    }
    for (int phase : {1, 2}) {
        if (phase == 2) {
            DHCPFTR_K_VALUE_MSG_T truth{commit.op, 0};
            const auto *bytes = reinterpret_cast<const uint8_t *>(&truth);
            deliver(std::vector<uint8_t>(bytes, bytes + sizeof(truth)));
        }
        for (const Answer &answer : answers)
            if (answer.phase == phase && !has_op(answer.body, commit.op))
                deliver(answer.body);
    }
    daemon.join();
    FUZZ_CHECK(outcome.empty(), "the waiting commit of code " + std::to_string(commit.op) + ": " + outcome);
    fuzz::check_agreement("the waiting commit of code " + std::to_string(commit.op));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    harness::boot_daemon();
    console = new fuzz::Console(CONFIG_MODE);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    sim::shell::tree()->reset_config();
    std::vector<Answer> answers;
    for (size_t i = 1; i + 1 < size;) {
        const int phase = data[i] % 3;
        const size_t length = std::min<size_t>(data[i + 1], size - i - 2);
        answers.push_back({phase, std::vector<uint8_t>(data + i + 2, data + i + 2 + length)});
        i += 2 + length;
    }

    for (const Answer &answer : answers)
        if (answer.phase == 0)
            deliver(answer.body);
    wait_with_answers(waiting_commit(data[0] % DHCPFTR_OP_NUM), answers);

    for (const Commit &commit : every_code()) {
        const std::string outcome = commit.run();
        FUZZ_CHECK(outcome.empty(), "a commit of code " + std::to_string(commit.op) + " after the answers: " + outcome);
        fuzz::check_agreement("a commit of code " + std::to_string(commit.op) + " after the answers");
    }
    FUZZ_CHECK(dhcpftr_syn_flag.load() == 0,
               "answers left unconsumed after a commit of every code: flags " + std::to_string(dhcpftr_syn_flag.load()));
    sim::kernel::clear_messages();
    return 0;
}
