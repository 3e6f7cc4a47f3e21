// One operator session with the switch over its unix stream socket, in the session protocol of
// docs/vty-protocol.md: requests out as lines, reply lines in, each with its code.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace dhcpftr_cli {

// The reply codes the switch sends.
namespace code {
// Final lines.
constexpr int kDone = 0;            // done, nothing refused; the text is the prompt
constexpr int kRefused = 2;         // done, the line was refused; the text is the prompt
constexpr int kEnded = 3;           // the line ended the session; the switch closes the connection
constexpr int kNotUnderstood = 9000;  // the request was not understood; the text is the reason
// Continuation lines.
constexpr int kGreeting = 1;        // "dhcpftr VERSION protocol 1"
constexpr int kOutputLine = 1000;   // one line the command printed
constexpr int kOutputPiece = 1001;  // the last piece of output, without a line end
constexpr int kCompletion = 1002;   // one keyword that completes the line
constexpr int kPageLength = 1004;   // "terminal length" set the session's page length to the text
// Lines outside replies.
constexpr int kLogLine = 2000;      // a log line of the switch, after "terminal monitor"
}  // namespace code

// One line of a reply. The text stays valid until the connection next reads from the socket.
struct ReplyLine {
    int code = 0;
    bool final = false;
    std::string_view text;
};

// The final line of a reply, kept.
struct Final {
    int code = 0;
    std::string text;
};

// The session cannot go on: the socket is unreachable, closed, or carries something other than the protocol.
// what() is the reason, in a few words.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Connection {
public:
    // Connects to the switch's session socket at path; throws Failure with the reason when it cannot.
    explicit Connection(std::string path);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int fd() const { return fd_; }
    const std::string &path() const { return path_; }

    // Reads the switch's greeting, waiting at most timeout_ms; the prompt it ends with. Throws Failure when
    // the greeting does not come or does not name protocol 1.
    std::string greet(int timeout_ms);

    // Queues one request line, "VERB LINE\n", to be sent by send_some or exchange.
    void queue(std::string_view verb, std::string_view line);
    bool unsent() const { return sent_ < out_.size(); }
    // Sends what the socket takes now, without blocking. When the switch has closed the connection, the rest
    // is dropped: the replies read so far say what ran.
    void send_some();

    // Reads what has arrived, without blocking (one read); false when the switch has closed the connection.
    // Throws Failure on a read error.
    bool fill();
    // The next whole reply line read so far, or nothing. Log lines (2000), which may come anywhere, go to the
    // log handler on the way. Throws Failure on a line that is not a line of the protocol (its form, or a
    // code it does not have).
    std::optional<ReplyLine> next_line();
    // Where the log lines go, each without its code; none: they are dropped.
    void on_log_line(std::function<void(std::string_view)> handler) { log_handler_ = std::move(handler); }

    // Sends the queued requests and one more, "VERB LINE", and reads until the final line of the last one,
    // blocking (only with no other reply outstanding). Each continuation line goes to on_line. Throws
    // Failure when the connection ends first.
    Final exchange(std::string_view verb, std::string_view line,
                   const std::function<void(const ReplyLine &)> &on_line);

private:
    // The next whole line read so far, whatever its code, or nothing; throws as next_line.
    std::optional<ReplyLine> parse_line();
    // Reads until the next final line, sending queued requests meanwhile; waits at most timeout_ms in all
    // (-1: no limit). Each continuation line goes to on_line.
    Final read_reply(int timeout_ms, const std::function<void(const ReplyLine &)> &on_line);

    std::string path_;
    int fd_ = -1;
    std::string out_;      // requests queued
    std::size_t sent_ = 0;  // bytes of out_ already sent
    std::string in_;       // bytes read
    std::size_t parsed_ = 0;  // bytes of in_ already handed out as lines
    std::function<void(std::string_view)> log_handler_;
};

}  // namespace dhcpftr_cli
