// Answers on the channel that nobody asked for, of any content, delivered to the daemon's answer handler
// (message 93) while no commit waits, while one commit waits for its own answer (the kernel filter applies that
// commit's operation, its answer is held back and delivered by the target after the input's answers), and after
// that commit has returned.
//
// Input: byte 0 chooses the waiting commit among a sequence of one commit of every operation code; then records of a tag byte (its value
// modulo 3: 0 before the commit, 1 while it waits, 2 after it returned), a length byte and that many bytes of
// answer body. The channel carries the kernel filter's messages whole, so a body shorter than an answer (code and
// result, 8 bytes) is padded with zero bytes. While the commit waits, an answer with its operation code is not
// delivered: the daemon cannot tell it from the true one.
//
// Invariants, the handler's record of answers checked against a model after every delivery: an answer with a
// code above 7 changes nothing; any other stores its result and sets the bit of its code. The waiting commit,
// started with the answers of phase 0 of other codes still pending, returns only after its own answer,
// succeeds, and touches no bit but its own. Then, with no answer pending (as
// at start-up), one commit of every operation code succeeds and consumes its answer, and the daemon and the
// kernel filter hold the same configuration. Every input starts from the default configuration.
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

// A commit of the stacking service, which the shell cannot give: its removal of eth1.2 from screening (code
// 6, the enabled-port list following it as for the other port commits), or of eth1.2 from the rule of
// 10.0.0.4 (code 7).
Commit stacking(uint32_t op) {
    return {op, [op] {
                PORTLIST_T ports = harness::ports({2});
                DHCPFTR_PERMIT_RULE_ENTRY_T entry = harness::rule("10.0.0.4", {}, {2});
                int32_t result = 0;
                if (op == DHCPFTR_OP_STK_DEL_PORTS)
                    Dhcpftr_Stk_DB_Delete_Ports_to_K(&ports, &result);
                else
                    Dhcpftr_DB_Stk_Delete_Rule_to_K(&entry, &result);
                if (result == 0 && op == DHCPFTR_OP_STK_DEL_PORTS)
                    PORTLIST_maskout(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &ports);
                return result == 0 ? "" : "the stacking commit of code " + std::to_string(op) + " gave " +
                                              std::to_string(result);
            }};
}

// One commit of every operation code on eth1.2 (rules 10.0.0.3 and 10.0.0.4), in an order that leaves the
// configuration as it found it.
const std::vector<Commit> &sequence() {
    static const std::vector<Commit> commits = {
        line(DHCPFTR_OP_ADD_PORTS, "ip dhcp screening ports eth1.2"),
        line(DHCPFTR_OP_DEL_PORTS, "no ip dhcp screening ports eth1.2"),
        line(DHCPFTR_OP_ADD_RULE, "ip dhcp screening server-ip 10.0.0.3 ports eth1.2"),
        line(DHCPFTR_OP_DEL_RULE, "no ip dhcp screening server-ip 10.0.0.3 ports eth1.2"),
        line(DHCPFTR_OP_SET_TRAP, "ip dhcp screening trap-log"),
        line(DHCPFTR_OP_SET_TRAP, "no ip dhcp screening trap-log"),
        line(DHCPFTR_OP_SET_DURATION, "ip dhcp screening suppress-duration 7"),
        line(DHCPFTR_OP_SET_DURATION, "no ip dhcp screening suppress-duration"),
        stacking(DHCPFTR_OP_STK_DEL_PORTS),
        line(DHCPFTR_OP_ADD_RULE, "ip dhcp screening server-ip 10.0.0.4 ports eth1.2"),
        stacking(DHCPFTR_OP_STK_DEL_RULE)};
    return commits;
}

void run(const Commit &commit, const char *when) {
    const std::string outcome = commit.run();
    FUZZ_CHECK(outcome.empty(), std::string(when) + ", a commit of code " + std::to_string(commit.op) + ": " + outcome);
    fuzz::check_agreement(std::string(when) + ", a commit of code " + std::to_string(commit.op));
}

struct Answer {
    int phase;  // 0: before the commit; 1: while it waits; 2: after it returned
    std::vector<uint8_t> body;
};

DHCPFTR_K_VALUE_MSG_T decode(const std::vector<uint8_t> &body) {
    DHCPFTR_K_VALUE_MSG_T answer;
    std::memcpy(&answer, body.data(), sizeof(answer));
    return answer;
}

// What the handler has recorded: the answer flag word and the last result.
struct Record {
    uint32_t flags = 0;
    int32_t result = 0;

    void expect(const char *when) const {
        FUZZ_CHECK(dhcpftr_syn_flag.load() == flags && dhcpftr_k_ret_value == result,
                   std::string(when) + ": flags " + std::to_string(dhcpftr_syn_flag.load()) + " result " +
                       std::to_string(dhcpftr_k_ret_value) + ", expected flags " + std::to_string(flags) +
                       " result " + std::to_string(result));
    }
};

// Delivers an answer in a buffer of exactly its length, so that reading beyond it is caught, and updates the
// model of what the handler records.
void deliver(const std::vector<uint8_t> &body, Record &model) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[body.size()]);
    std::copy(body.begin(), body.end(), copy.get());
    sim::ukcomm::deliver(DHCPFTR_K_VALUE_MSG, copy.get(), static_cast<uint32_t>(body.size()));
    const DHCPFTR_K_VALUE_MSG_T answer = decode(body);
    if (answer.op <= DHCPFTR_OP_MAX) {
        model.flags |= 1u << answer.op;
        model.result = answer.ret;
    }
}

// Runs commit on a thread of its own while the answers of phase 1 and then its true answer arrive; the
// answers of phase 2 follow once it has returned. The answers of phase 0 with other codes than the commit's are
// still pending when it starts.
void wait_with_answers(const Commit &commit, const std::vector<Answer> &answers) {
    Record model;
    for (const Answer &answer : answers)
        if (answer.phase == 0 && decode(answer.body).op != commit.op)
            deliver(answer.body, model);
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
    // The waiter sleeps until its own bit is set, so the model is exact while it waits.
    for (const Answer &answer : answers)
        if (answer.phase == 1 && decode(answer.body).op != commit.op) {
            deliver(answer.body, model);
            model.expect("an answer while the commit waits");
        }
    const DHCPFTR_K_VALUE_MSG_T truth{commit.op, 0};
    const auto *bytes = reinterpret_cast<const uint8_t *>(&truth);
    deliver(std::vector<uint8_t>(bytes, bytes + sizeof(truth)), model);
    daemon.join();
    model.flags &= ~(1u << commit.op);
    model.expect("the waiting commit returned (a bit left set is an answer it did not take)");
    FUZZ_CHECK(outcome.empty(), "the waiting commit of code " + std::to_string(commit.op) + ": " + outcome);
    fuzz::check_agreement("the waiting commit of code " + std::to_string(commit.op));
    for (const Answer &answer : answers)
        if (answer.phase == 2) {
            deliver(answer.body, model);
            model.expect("an answer after the commit");
        }
}

// No answer pending and no result, as at start-up.
void forget_answers() {
    dhcpftr_syn_flag = 0;
    dhcpftr_k_ret_value = 0;
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
        const size_t length = std::min<size_t>(data[i + 1], size - i - 2);
        std::vector<uint8_t> body(data + i + 2, data + i + 2 + length);
        body.resize(std::max(body.size(), sizeof(DHCPFTR_K_VALUE_MSG_T)));
        answers.push_back({data[i] % 3, std::move(body)});
        i += 2 + length;
    }

    Record model;
    for (const Answer &answer : answers)
        if (answer.phase == 0) {
            deliver(answer.body, model);
            model.expect("an answer while no commit waits");
        }
    forget_answers();
    const std::vector<Commit> &commits = sequence();
    const size_t waiting = data[0] % commits.size();
    for (size_t i = 0; i < commits.size(); ++i) {
        if (i != waiting) {
            run(commits[i], "around the waiting commit");
            continue;
        }
        wait_with_answers(commits[i], answers);
        forget_answers();
    }
    for (const Commit &commit : commits)
        run(commit, "after the answers");
    FUZZ_CHECK(dhcpftr_syn_flag.load() == 0,
               "answers left unconsumed after a commit of every code: flags " + std::to_string(dhcpftr_syn_flag.load()));
    sim::kernel::clear_messages();
    return 0;
}
