#include "support/daemon_harness.h"

#include <arpa/inet.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "chassis/sim_chassis.h"
#include "format/sim_format.h"

#include "dhcpftr_cli.h"
#include "dhcpftr_defs.h"
#include "dhcpftr_init.h"
#include "dhcpftr_msg.h"

namespace harness {

QV_INIT_T *daemon_record() {
    QV_INIT_T *rec = QV_INIT_alloc();
    _dhcpftr_fill_init_record(rec);
    return rec;
}

void boot_daemon(const sim::framework::Options &options) { sim::framework::boot(daemon_record(), options); }

void boot_quietly() {
    boot_daemon();
    sim::kernel::wait_idle();
    sim::kernel::clear_messages();
    capture_log();
}

PORTLIST_T ports(std::initializer_list<uint32_t> lports) {
    PORTLIST_T list;
    PORTLIST_clear_all(&list);
    for (uint32_t p : lports)
        PORTLIST_set_port(&list, p);
    return list;
}

DHCPFTR_PERMIT_RULE_ENTRY_T rule(const char *server, const Mac &mac, std::initializer_list<uint32_t> lports) {
    DHCPFTR_PERMIT_RULE_ENTRY_T entry{};
    entry.server_ip = inet_addr(server);
    for (size_t i = 0; i < mac.size(); ++i)
        entry.client_mac[i] = mac[i];
    entry.portlist = ports(lports);
    return entry;
}

std::vector<uint32_t> lports(const PORTLIST_T &list) {
    std::vector<uint32_t> out;
    for (uint32_t p = 1; p <= PORTLIST_MAX_PORT; ++p)
        if (PORTLIST_chk_port_exist(&list, p))
            out.push_back(p);
    return out;
}

std::string server_of(const DHCPFTR_PERMIT_RULE_ENTRY_T &entry) {
    char text[INET_ADDRSTRLEN];
    in_addr addr{};
    addr.s_addr = entry.server_ip;
    return inet_ntop(AF_INET, &addr, text, sizeof(text));
}

std::string key_text(const DHCPFTR_PERMIT_RULE_ENTRY_T &entry) {
    char mac[18];
    std::snprintf(mac, sizeof(mac), "%02X:%02X:%02X:%02X:%02X:%02X", DHCPFTR_MAC_ARGS(entry.client_mac));
    return server_of(entry) + " " + mac;
}

std::vector<std::string> stored_keys() {
    std::vector<std::string> keys;
    for (DHCPFTR_PERMIT_RULE_ENTRY_T *e = Dhcpftr_DB_Get_First_Rule(); e != nullptr; e = Dhcpftr_DB_Get_Next_Rule(e))
        keys.push_back(key_text(*e));
    return keys;
}

sim::kernel::RuleKey key_of(const DHCPFTR_PERMIT_RULE_ENTRY_T &entry) {
    sim::kernel::RuleKey key;
    std::memcpy(key.server.data(), &entry.server_ip, 4);
    std::memcpy(key.mac.data(), entry.client_mac, 6);
    return key;
}

std::vector<std::string> rule_lines(const std::map<sim::kernel::RuleKey, PORTLIST_T> &rules) {
    std::vector<std::string> out;
    for (const auto &[key, ports] : rules) {
        std::string line = std::to_string(key.server[0]);
        for (int i = 1; i < 4; ++i)
            line += "." + std::to_string(key.server[i]);
        line += "/" + std::to_string(key.mac[5]) + ":";
        for (uint32_t p : lports(ports))
            line += " " + std::to_string(p);
        out.push_back(line);
    }
    return out;
}

std::map<sim::kernel::RuleKey, PORTLIST_T> stored_rules() {
    std::map<sim::kernel::RuleKey, PORTLIST_T> rules;
    for (DHCPFTR_PERMIT_RULE_ENTRY_T *e = Dhcpftr_DB_Get_First_Rule(); e != nullptr; e = Dhcpftr_DB_Get_Next_Rule(e))
        rules[key_of(*e)] = e->portlist;
    return rules;
}

std::vector<std::string> kernel_messages() {
    sim::kernel::wait_idle();
    std::vector<std::string> out;
    for (const sim::kernel::Message &m : sim::kernel::messages()) {
        uint32_t op, word;
        std::memcpy(&op, m.body.data(), 4);
        std::memcpy(&word, m.body.data() + 4, 4);
        if (m.number == DHCPFTR_U_VALUE_MSG) {
            uint32_t value = op == DHCPFTR_OP_SET_TRAP ? m.body[4] : word;
            out.push_back("value " + std::to_string(op) + " " + std::to_string(value));
            continue;
        }
        PORTLIST_T ports;
        std::memcpy(&ports, m.body.data() + 4, sizeof(ports));
        std::string line = (m.number == DHCPFTR_U_RULE_MSG ? "rule " : "ports ") + std::to_string(op);
        if (m.number == DHCPFTR_U_RULE_MSG)
            line += " " + std::to_string(m.body[103]) + "/" + std::to_string(m.body[109]);
        for (uint32_t p : lports(ports))
            line += " " + std::to_string(p);
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> daemon_log() {
    std::vector<std::string> out;
    for (const sim::log::Record &r : sim::log::records()) {
        if (r.module != DHCPFTR_LOG_MODULE)
            continue;
        out.push_back(std::to_string(r.level) + " " + std::to_string(r.flag) + " " +
                      sim::log::without_line_numbers(r.text));
    }
    return out;
}

void capture_log() {
    sim::log::enable_capture(true);
    sim::log::clear();
}

Terminal::Terminal() {
    ctx_.out = out;
    ctx_.out_target = &text_;
    ctx_.mode = CONFIG_MODE;
    ctx_.gctx = sim::Chassis::instance().global_ctx();
    ctx_.vr = sim::Chassis::instance().vr_ctx();
}

int Terminal::out(void *target, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string piece = sim::vformat(format, ap);
    va_end(ap);
    static_cast<std::string *>(target)->append(piece);
    return static_cast<int>(piece.size());
}

int Terminal::run(CLI_HANDLER_FN handler, std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return handler(&ctx_, static_cast<int>(args.size()), argv.data());
}

std::string Terminal::call(CLI_HANDLER_FN handler, std::vector<std::string> args) {
    int result = run(handler, std::move(args));
    sim::kernel::wait_idle();
    return std::to_string(result) + "|" + take();
}

std::string Terminal::take() {
    std::string text;
    text.swap(text_);
    return text;
}

}  // namespace harness
