// The simulated kernel filter: the far end of the user/kernel channel.
//
// It runs on its own thread. Every message the daemon sends is queued to it; it applies each operation it
// accepts to its own tables (permit rules by key with their ports, enabled ports, trap/log state, suppress
// duration) and answers with message 93 (operation code, result) through the channel's receive context.
// Faults can be injected for tests and for the shell's platform commands.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "portlist.h"

namespace sim::kernel {

// Message numbers and operation codes the kernel filter understands.
constexpr uint32_t kRuleMsg = 90;
constexpr uint32_t kPortsMsg = 91;
constexpr uint32_t kValueMsg = 92;
constexpr uint32_t kAnswerMsg = 93;
constexpr int32_t kNoResource = -100;

// A permit rule's key: the server address in network order, then the client MAC.
struct RuleKey {
    std::array<uint8_t, 4> server{};
    std::array<uint8_t, 6> mac{};
    auto operator<=>(const RuleKey &) const = default;
};

struct Tables {
    std::map<RuleKey, PORTLIST_T> rules;
    PORTLIST_T enabled{};
    uint8_t trap = 0;
    uint32_t duration = 10;
};

// One message as received.
struct Message {
    uint32_t number = 0;
    std::vector<uint8_t> body;
};

struct Counters {
    uint64_t received = 0;
    uint64_t answered = 0;
    uint64_t refused = 0;
    uint64_t dropped = 0;
    uint64_t failed_sends = 0;
};

// The fault injection as it stands: the counted faults still pending, and the settings.
struct Faults {
    int refusals = 0;                    // operations still to refuse
    int32_t refusal_result = 0;          // the result they are answered with
    std::optional<uint32_t> refusal_op;  // only operations of this code, or of any code
    int failing_sends = 0;               // sends still to fail
    int dropping = 0;                    // answers still to drop
    std::chrono::milliseconds delay{0};  // delay of every answer
    std::optional<size_t> capacity;      // rules at most, or no limit
    bool trace = false;                  // messages written into the log
};

// Called by the channel for every message a module sends; false makes the send fail.
bool receive(uint32_t number, const void *body, uint32_t length);

// Faults. Each applies to the next operations received and counts down.
void refuse_next(int count, int32_t result, std::optional<uint32_t> op = std::nullopt);
void fail_next_sends(int count);
void drop_next_answers(int count);
// Every answer is sent delay after its operation was applied; a new delay applies to the answers waiting too,
// so a shorter one releases those whose new delay has passed.
void set_answer_delay(std::chrono::milliseconds delay);
// At most this many rules: a new rule beyond them is answered with kNoResource. Nothing: no limit.
void set_rule_capacity(std::optional<size_t> rules);
// Every message received is written into the log as hex bytes.
void set_trace(bool on);
// Forgets every counted fault still pending (refusals, failing sends, dropped answers); the answer delay
// and the rule capacity stay as set.
void clear_faults();

// The kernel's data path (datapath/sim_datapath.h) is loaded: fills its maps with the tables as they are and
// from then on applies every accepted change to the maps before answering; a map update that fails makes
// the operation a refusal with kNoResource, tables and maps as they were. False when the maps could not be
// filled. stop_datapath ends the writing.
bool use_datapath();
void stop_datapath();

// Waits until every message received so far has been answered or dropped.
void wait_idle();
Tables tables();
Counters counters();
// The fault injection as it stands.
Faults faults();
// The messages received since the last clear, oldest first: the most recent 10,000 of them.
std::vector<Message> messages();
void clear_messages();

}  // namespace sim::kernel
