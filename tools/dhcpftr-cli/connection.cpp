#include "connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace dhcpftr_cli {
namespace {

// What one read asks for: large enough that a long show output takes few reads.
constexpr std::size_t kReadChunk = 64 * 1024;
// A reply line longer than this is no reply line: the switch never keeps more than 1 MiB of output.
constexpr std::size_t kLongestLine = 4 * 1024 * 1024;

std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 60;
    std::string shown(text.substr(0, kShown));
    return "\"" + shown + (text.size() > kShown ? "...\"" : "\"");
}

// True when the greeting's text names protocol 1: "dhcpftr VERSION protocol 1".
bool names_protocol_1(std::string_view text) {
    constexpr std::string_view kProtocol = " protocol 1";
    return text.size() >= kProtocol.size() && text.substr(text.size() - kProtocol.size()) == kProtocol;
}

}  // namespace

Connection::Connection(std::string path) : path_(std::move(path)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path)
        throw Failure(std::strerror(ENAMETOOLONG));
    std::memcpy(address.sun_path, path_.data(), path_.size());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw Failure(std::strerror(errno));
    if (::connect(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        throw Failure(std::strerror(error));
    }
    // Non-blocking from here: the client waits in poll(), on the socket together with the terminal.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

Connection::~Connection() { ::close(fd_); }

std::string Connection::greet(int timeout_ms) {
    bool greeted = false;
    std::string other;
    Final final = read_reply(timeout_ms, [&](const ReplyLine &line) {
        if (line.code == code::kGreeting && names_protocol_1(line.text))
            greeted = true;
        else if (other.empty())
            other = quoted(line.text);
    });
    if (!greeted)
        throw Failure(other.empty() ? "no greeting" : "the greeting does not name protocol 1: " + other);
    if (final.code != code::kDone)
        throw Failure("the greeting ends with code " + std::to_string(final.code));
    return final.text;
}

void Connection::queue(std::string_view verb, std::string_view line) {
    out_.append(verb);
    out_ += ' ';
    out_.append(line);
    out_ += '\n';
}

void Connection::send_some() {
    while (unsent()) {
        const ssize_t n = ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n < 0) {
            // Closed by the switch (EPIPE, ECONNRESET): the read side finds the end.
            out_.clear();
            sent_ = 0;
            return;
        }
        sent_ += static_cast<std::size_t>(n);
    }
    out_.clear();
    sent_ = 0;
}

bool Connection::fill() {
    // Drop the lines handed out, so the buffer holds at most one partial line and the new bytes.
    in_.erase(0, parsed_);
    parsed_ = 0;
    const std::size_t old = in_.size();
    in_.resize(old + kReadChunk);
    ssize_t n;
    do
        n = ::read(fd_, in_.data() + old, kReadChunk);
    while (n < 0 && errno == EINTR);
    in_.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return true;
    if (n < 0 && errno != ECONNRESET)
        throw Failure(std::strerror(errno));
    return n > 0;
}

std::optional<ReplyLine> Connection::next_line() {
    std::optional<ReplyLine> line;
    while ((line = parse_line()) && line->code == code::kLogLine && !line->final) {
        if (log_handler_)
            log_handler_(line->text);
    }
    return line;
}

std::optional<ReplyLine> Connection::parse_line() {
    const std::size_t end = in_.find('\n', parsed_);
    if (end == std::string::npos) {
        if (in_.size() - parsed_ > kLongestLine)
            throw Failure("a reply line longer than 4 MiB");
        return std::nullopt;
    }
    const std::string_view line(in_.data() + parsed_, end - parsed_);
    parsed_ = end + 1;
    // "CODE-TEXT" (continuation) or "CODE TEXT" (final), CODE four digits, one of the protocol's.
    const bool digits = line.size() >= 4 && std::all_of(line.begin(), line.begin() + 4, [](char c) {
        return c >= '0' && c <= '9';
    });
    if (!digits || (line.size() > 4 && line[4] != '-' && line[4] != ' '))
        throw Failure("a line that is no reply line: " + quoted(line));
    ReplyLine reply;
    reply.code = (line[0] - '0') * 1000 + (line[1] - '0') * 100 + (line[2] - '0') * 10 + (line[3] - '0');
    reply.final = line.size() == 4 || line[4] == ' ';
    reply.text = line.size() > 4 ? line.substr(5) : std::string_view();
    const bool known = reply.final ? (reply.code == code::kDone || reply.code == code::kRefused ||
                                      reply.code == code::kEnded || reply.code == code::kNotUnderstood)
                                   : (reply.code == code::kGreeting || reply.code == code::kOutputLine ||
                                      reply.code == code::kOutputPiece || reply.code == code::kCompletion ||
                                      reply.code == code::kPageLength || reply.code == code::kLogLine);
    if (!known)
        throw Failure("a reply line of unknown code: " + quoted(line));
    return reply;
}

Final Connection::exchange(std::string_view verb, std::string_view line,
                           const std::function<void(const ReplyLine &)> &on_line) {
    queue(verb, line);
    return read_reply(-1, on_line);
}

Final Connection::read_reply(int timeout_ms, const std::function<void(const ReplyLine &)> &on_line) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    bool started = false;  // a line of the reply has come
    for (;;) {
        while (std::optional<ReplyLine> line = next_line()) {
            if (line->final)
                return Final{line->code, std::string(line->text)};
            on_line(*line);
            started = true;
        }
        send_some();
        int wait = -1;
        if (timeout_ms >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                throw Failure("no reply within " + std::to_string(timeout_ms / 1000) + " s");
            wait = static_cast<int>(left.count());
        }
        pollfd socket{fd_, static_cast<short>(POLLIN | (unsent() ? POLLOUT : 0)), 0};
        if (::poll(&socket, 1, wait) < 0 && errno != EINTR)
            throw Failure(std::strerror(errno));
        if (socket.revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!fill())
                throw Failure(started || in_.size() > parsed_ ? "the connection closed in the middle of a reply"
                                                              : "the connection closed before the reply");
        }
    }
}

}  // namespace dhcpftr_cli
