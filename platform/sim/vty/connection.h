// One operator session of the vty server: the connection's requests in, the shell session that runs them,
// and the replies out (docs/vty-protocol.md).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "loop/sim_loop.h"
#include "shell/sim_shell.h"
#include "shell/sim_terminal.h"
#include "vty/sim_vty.h"

namespace sim::vty {

// The output of one request, framed as reply lines straight into the connection's outgoing bytes.
class Reply : public shell::Output {
public:
    explicit Reply(std::string &wire) : wire_(wire) {}

    void write(std::string_view text) override;
    // Ends the reply: the output's last piece without a line end, then the final line "CODE TEXT".
    void finish(const char *code, std::string_view text);
    // One continuation line "CODE-TEXT".
    void line(const char *code, std::string_view text);
    // True when a line of the output starts with "%": the shell or the command refused something.
    bool refused() const { return refused_; }
    // True when the output went over kMaxUnread and the rest was dropped.
    bool overflowed() const { return overflowed_; }

private:
    std::string &wire_;
    std::string partial_;
    bool refused_ = false;
    bool overflowed_ = false;
};

// A session's connection is its terminal: "terminal length N" answers with the continuation line 1004-N in
// that command's reply (the client pages), and after "terminal monitor" every log line for the consoles goes
// out as a line 2000-TEXT between replies.
class Connection : public shell::Terminal {
public:
    // Takes over the connected descriptor fd (non-blocking) of session number, whose peer is user.
    Connection(int fd, int number, std::string user, const Settings &settings);
    ~Connection() override;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int fd() const { return fd_; }
    void prepare(loop::Wait &wait) const;
    // Reads what came (when readable), runs the whole requests, writes what waits. False once the session
    // is over: ended by its line, closed by the client, or disconnected for output it does not read.
    bool serve(bool readable);

    void set_page_length(int lines) override;
    bool shows_log_lines() const override { return monitor() && !ending_ && !dropped_; }
    // Queues the line unless the client has kMaxUnread unread already: then it is dropped.
    void show_log_line(std::string_view line) override;

private:
    // Runs one request line and queues its reply.
    void handle(std::string_view request);
    // Reads what the client sent; false when it closed the connection.
    bool receive();
    // Runs the whole requests received, as long as not too much output waits.
    void run_requests();
    // Writes what waits, as much as the socket takes; false when the client is gone.
    bool send_waiting();
    std::size_t unread() const { return wire_.size() - sent_; }
    void log(const char *what) const;

    int fd_;
    int number_;
    std::string user_;
    std::string wire_;      // outgoing bytes; the first sent_ of them are written
    std::size_t sent_ = 0;
    std::string received_;  // incoming bytes not yet a whole request
    bool skipping_ = false;  // inside a request over kMaxRequest: its rest is dropped
    bool ending_ = false;    // the session ended: close once the last reply is written
    bool dropped_ = false;   // disconnected for unread output
    std::chrono::steady_clock::time_point last_progress_;
    Reply reply_;
    shell::Session session_;
    shell::UserEntry entry_;
};

}  // namespace sim::vty
