#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "datapath/sim_datapath.h"
#include "kernel/screen.h"
#include "kernel/sim_kernel.h"
#include "qvlog.h"
#include "ukcomm/sim_ukcomm.h"

namespace sim::kernel {
namespace {

constexpr int kLogModule = 1;
// How many received messages are kept for messages(): a switch that runs for long does not grow without end.
constexpr size_t kKeptMessages = 10000;
// How long the filter looks for the next message before it sleeps.
constexpr std::chrono::microseconds kSpinBeforeSleep{50};

// Byte layouts of the messages, as the kernel filter reads them.
constexpr size_t kOpOffset = 0;
constexpr size_t kPortsOffset = 4;
constexpr size_t kRuleServerOffset = 100;
constexpr size_t kRuleMacOffset = 104;
constexpr size_t kValueOffset = 4;
constexpr size_t kRuleLength = 112;
constexpr size_t kPortsLength = 100;
constexpr size_t kValueLength = 8;

enum Op : uint32_t {
    kAddRule = 0,
    kDelRule = 1,
    kSetTrap = 2,
    kSetDuration = 3,
    kAddPorts = 4,
    kDelPorts = 5,
    kStkDelPorts = 6,
    kStkDelRule = 7,
};

uint32_t word_at(const std::vector<uint8_t> &body, size_t offset) {
    uint32_t value;
    std::memcpy(&value, body.data() + offset, sizeof(value));
    return value;
}

PORTLIST_T ports_at(const std::vector<uint8_t> &body) {
    PORTLIST_T ports;
    std::memcpy(&ports, body.data() + kPortsOffset, sizeof(ports));
    return ports;
}

struct Refusal {
    int count = 0;
    int32_t result = 0;
    std::optional<uint32_t> op;
};

class KernelFilter {
public:
    KernelFilter() : thread_([this] { run(); }) {}

    ~KernelFilter() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    bool receive(uint32_t number, const void *body, uint32_t length) {
        Message message{number, std::vector<uint8_t>(static_cast<const uint8_t *>(body),
                                                     static_cast<const uint8_t *>(body) + length)};
        bool trace;
        {
            std::lock_guard lock(mutex_);
            if (failing_sends_ > 0) {
                --failing_sends_;
                ++counters_.failed_sends;
                return false;
            }
            ++counters_.received;
            ++pending_;
            queue_.push_back(message);
            queued_.store(true, std::memory_order_release);
            if (log_.size() == kKeptMessages)
                log_.pop_front();
            log_.push_back(message);
            trace = trace_;
        }
        if (trace)
            trace_message(message);
        wake_.notify_all();
        return true;
    }

    // Fills the kernel's maps with the tables as they are.
    bool fill_datapath() {
        for (const auto &[key, ports] : tables_.rules)
            if (!datapath::write_rule(key, &ports))
                return false;
        for (uint32_t lport = 1; lport <= PORTLIST_MAX_PORT; ++lport)
            if (!datapath::write_screened(lport, PORTLIST_chk_port_exist(&tables_.enabled, lport) != 0))
                return false;
        return datapath::write_settings(tables_.trap, tables_.duration);
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    Tables tables_;
    Counters counters_;
    std::deque<Message> log_;  // the most recent kKeptMessages messages, for tests that look at them
    Refusal refusal_;
    int failing_sends_ = 0;
    int dropping_ = 0;
    std::chrono::milliseconds delay_{0};
    std::optional<size_t> capacity_;
    bool trace_ = false;
    bool datapath_ = false;  // the kernel's maps follow the tables
    int pending_ = 0;

private:
    static void trace_message(const Message &message) {
        std::string hex;
        for (uint8_t byte : message.body) {
            char text[4];
            std::snprintf(text, sizeof(text), " %02X", byte);
            hex += text;
        }
        qvprintf(kLogModule, 0, QVLOG_LEVEL_DEBUG, QVLOG_FLAG_NEW_LINE, "kernel: rx msg %u len %u:%s\n",
                 message.number, static_cast<unsigned>(message.body.size()), hex.c_str());
    }

    // Before sleeping, looks for the next message for a little while: a command that commits many changes
    // sends its next message within microseconds of the answer, and a sleep and a wake-up cost more.
    void await_message(std::unique_lock<std::mutex> &lock) {
        if (queue_.empty() && !stopping_) {
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
            while (!queued_.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            lock.lock();
        }
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            await_message(lock);
            if (stopping_)
                return;
            Message message = std::move(queue_.front());
            queue_.pop_front();
            queued_.store(!queue_.empty(), std::memory_order_relaxed);
            std::optional<std::pair<uint32_t, int32_t>> answer = apply(message);
            if (answer && answer->second == 0)
                tables_changed();
            bool drop = answer && dropping_ > 0;
            if (drop) {
                --dropping_;
                ++counters_.dropped;
            }
            if (answer && !drop) {
                // The delay as it stands while the answer waits: a shorter one set meanwhile releases it.
                const auto applied = std::chrono::steady_clock::now();
                while (!stopping_ && std::chrono::steady_clock::now() < applied + delay_)
                    wake_.wait_until(lock, applied + delay_);
                if (stopping_)
                    return;
            }
            if (answer && !drop) {
                ++counters_.answered;
                lock.unlock();
                deliver(answer->first, answer->second);
                lock.lock();
            }
            --pending_;
            idle_.notify_all();
        }
    }

    static void deliver(uint32_t op, int32_t result) {
        uint8_t body[8];
        std::memcpy(body, &op, 4);
        std::memcpy(body + 4, &result, 4);
        ukcomm::deliver(kAnswerMsg, body, sizeof(body));
    }

    // Applies one message; the answer (operation code, result), or nothing for a message it cannot read.
    std::optional<std::pair<uint32_t, int32_t>> apply(const Message &message) {
        if (message.body.size() < 4)
            return std::nullopt;
        uint32_t op = word_at(message.body, kOpOffset);
        if (!well_formed(message.number, op, message.body.size()))
            return std::nullopt;
        if (refusal_.count > 0 && (!refusal_.op || *refusal_.op == op)) {
            --refusal_.count;
            ++counters_.refused;
            return std::make_pair(op, refusal_.result);
        }
        switch (message.number) {
        case kRuleMsg: {
            const RuleKey key = rule_key_at(message.body);
            const std::optional<PORTLIST_T> before = rule_ports(key);
            int32_t result = apply_rule(op, key, ports_at(message.body));
            if (result == 0 && !rule_to_datapath(key, before))
                result = kNoResource;
            return std::make_pair(op, result);
        }
        case kPortsMsg: {
            const PORTLIST_T before = tables_.enabled;
            PORTLIST_T ports = ports_at(message.body);
            if (op == kAddPorts)
                PORTLIST_or(&tables_.enabled, &tables_.enabled, &ports);
            else
                PORTLIST_maskout(&tables_.enabled, &tables_.enabled, &ports);
            return std::make_pair(op, ports_to_datapath(before) ? 0 : kNoResource);
        }
        default: {
            const uint8_t trap = tables_.trap;
            const uint32_t duration = tables_.duration;
            if (op == kSetTrap)
                tables_.trap = message.body[kValueOffset];
            else
                tables_.duration = word_at(message.body, kValueOffset);
            if (datapath_ && !datapath::write_settings(tables_.trap, tables_.duration)) {
                tables_.trap = trap;
                tables_.duration = duration;
                return std::make_pair(op, kNoResource);
            }
            return std::make_pair(op, 0);
        }
        }
    }

    static RuleKey rule_key_at(const std::vector<uint8_t> &body) {
        RuleKey key;
        std::memcpy(key.server.data(), body.data() + kRuleServerOffset, key.server.size());
        std::memcpy(key.mac.data(), body.data() + kRuleMacOffset, key.mac.size());
        return key;
    }

    std::optional<PORTLIST_T> rule_ports(const RuleKey &key) const {
        auto it = tables_.rules.find(key);
        return it == tables_.rules.end() ? std::nullopt : std::optional<PORTLIST_T>(it->second);
    }

    // The rule of key changed from before: the same change in the kernel's rules map, one element update.
    // When the kernel refuses it, the table's rule is put back as it was.
    bool rule_to_datapath(const RuleKey &key, const std::optional<PORTLIST_T> &before) {
        if (!datapath_)
            return true;
        const std::optional<PORTLIST_T> after = rule_ports(key);
        if (after.has_value() == before.has_value() &&
            (!after || std::memcmp(&*after, &*before, sizeof(PORTLIST_T)) == 0))
            return true;
        if (datapath::write_rule(key, after ? &*after : nullptr))
            return true;
        if (before)
            tables_.rules[key] = *before;
        else
            tables_.rules.erase(key);
        return false;
    }

    // The enabled ports changed from before: each port that changed in the kernel's map. When the kernel
    // refuses one, the ports written so far and the table go back to what they were.
    bool ports_to_datapath(const PORTLIST_T &before) {
        if (!datapath_)
            return true;
        std::vector<uint32_t> written;
        for (uint32_t lport = 1; lport <= PORTLIST_MAX_PORT; ++lport) {
            const bool on = PORTLIST_chk_port_exist(&tables_.enabled, lport) != 0;
            if (on == (PORTLIST_chk_port_exist(&before, lport) != 0))
                continue;
            if (!datapath::write_screened(lport, on)) {
                for (uint32_t undo : written)
                    datapath::write_screened(undo, !on);
                tables_.enabled = before;
                return false;
            }
            written.push_back(lport);
        }
        return true;
    }

    static bool well_formed(uint32_t number, uint32_t op, size_t length) {
        switch (number) {
        case kRuleMsg:
            return length >= kRuleLength && (op == kAddRule || op == kDelRule || op == kStkDelRule);
        case kPortsMsg:
            return length >= kPortsLength && (op == kAddPorts || op == kDelPorts || op == kStkDelPorts);
        case kValueMsg:
            return length >= kValueLength && (op == kSetTrap || op == kSetDuration);
        default:
            return false;
        }
    }

    int32_t apply_rule(uint32_t op, const RuleKey &key, PORTLIST_T ports) {
        auto it = tables_.rules.find(key);
        if (op == kAddRule) {
            if (it == tables_.rules.end()) {
                if (capacity_ && tables_.rules.size() >= *capacity_)
                    return kNoResource;
                tables_.rules.emplace(key, ports);
            } else {
                PORTLIST_or(&it->second, &it->second, &ports);
            }
            return 0;
        }
        if (it != tables_.rules.end()) {
            PORTLIST_maskout(&it->second, &it->second, &ports);
            if (PORTLIST_chk_empty(&it->second))
                tables_.rules.erase(it);
        }
        return 0;
    }

    std::deque<Message> queue_;
    std::atomic<bool> queued_{false};  // the queue holds a message; read without the lock while spinning
    bool stopping_ = false;
    std::thread thread_;
};

KernelFilter &filter() {
    static KernelFilter kernel;
    return kernel;
}

}  // namespace

bool receive(uint32_t number, const void *body, uint32_t length) { return filter().receive(number, body, length); }

void publish_current_tables() {
    std::lock_guard lock(filter().mutex_);
    publish_screen(filter().tables_);
}

bool use_datapath() {
    std::lock_guard lock(filter().mutex_);
    if (!filter().fill_datapath())
        return false;
    filter().datapath_ = true;
    return true;
}

void stop_datapath() {
    std::lock_guard lock(filter().mutex_);
    filter().datapath_ = false;
}

void refuse_next(int count, int32_t result, std::optional<uint32_t> op) {
    std::lock_guard lock(filter().mutex_);
    filter().refusal_ = Refusal{count, result, op};
}

void fail_next_sends(int count) {
    std::lock_guard lock(filter().mutex_);
    filter().failing_sends_ = count;
}

void drop_next_answers(int count) {
    std::lock_guard lock(filter().mutex_);
    filter().dropping_ = count;
}

void set_answer_delay(std::chrono::milliseconds delay) {
    std::lock_guard lock(filter().mutex_);
    filter().delay_ = delay;
    filter().wake_.notify_all();
}

void set_rule_capacity(std::optional<size_t> rules) {
    std::lock_guard lock(filter().mutex_);
    filter().capacity_ = rules;
}

void set_trace(bool on) {
    std::lock_guard lock(filter().mutex_);
    filter().trace_ = on;
}

void clear_faults() {
    std::lock_guard lock(filter().mutex_);
    KernelFilter &k = filter();
    k.refusal_ = Refusal{};
    k.failing_sends_ = 0;
    k.dropping_ = 0;
}

void wait_idle() {
    std::unique_lock lock(filter().mutex_);
    filter().idle_.wait(lock, [] { return filter().pending_ == 0; });
}

Tables tables() {
    std::lock_guard lock(filter().mutex_);
    return filter().tables_;
}

Counters counters() {
    std::lock_guard lock(filter().mutex_);
    return filter().counters_;
}

Faults faults() {
    std::lock_guard lock(filter().mutex_);
    const KernelFilter &k = filter();
    return Faults{k.refusal_.count, k.refusal_.result, k.refusal_.op, k.failing_sends_, k.dropping_, k.delay_,
                  k.capacity_, k.trace_};
}

std::vector<Message> messages() {
    std::lock_guard lock(filter().mutex_);
    return {filter().log_.begin(), filter().log_.end()};
}

void clear_messages() {
    std::lock_guard lock(filter().mutex_);
    filter().log_.clear();
}

}  // namespace sim::kernel
