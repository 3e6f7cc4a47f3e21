// Operator sessions over a unix stream socket (dhcpftr --vty-socket PATH): one session of the shell per
// connection, with its own mode, privilege level and current interface, spoken to in the line protocol of
// docs/vty-protocol.md. The server is a source of the main loop, so a session's command runs there like a
// line of the console: one at a time, to its end, whatever else is waiting.
//
// A session never stalls the switch: the socket is non-blocking both ways, a request line is at most
// kMaxRequest characters (a longer one is read to its end and refused), no new request of a client is read
// while more than kReadPause of its output waits, and a client that leaves more than kMaxUnread unread, or
// reads nothing for kUnreadTimeoutMs while output waits, is disconnected, and the closing logged.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "loop/sim_loop.h"

namespace sim::vty {

constexpr std::size_t kMaxRequest = 65536;
constexpr std::size_t kReadPause = 64 * 1024;
constexpr std::size_t kMaxUnread = 1024 * 1024;
constexpr int kUnreadTimeoutMs = 10000;

// The privilege level of operator sessions unless --level gives one.
constexpr int kSessionLevel = 15;

// The release of the protocol in the greeting.
constexpr int kProtocolVersion = 1;

struct Settings {
    std::string path;          // the socket
    std::string group;         // its group ("": "dhcpftr" when that group exists, else the process's)
    int level = kSessionLevel;  // privilege level of every session
    std::string startup_file;  // where "write memory" saves ("" = none)
};

class Connection;

class Server : public loop::Source {
public:
    // Listens at settings.path, mode 0660: a stale socket there (nobody answers on it) is replaced; a socket
    // another process serves, any other file, or an unknown group is refused with the reason in error.
    static std::unique_ptr<Server> listen(const Settings &settings, std::string &error);
    // Closes every session and removes the socket.
    ~Server() override;
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    void prepare(loop::Wait &wait) override;
    void dispatch(const std::vector<int> &ready) override;

private:
    Server(Settings settings, int fd);
    void accept_waiting();

    Settings settings_;
    int fd_;
    int next_number_ = 1;
    std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace sim::vty
