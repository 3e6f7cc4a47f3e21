#include "vty/connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "qvlog.h"

namespace sim::vty {
namespace {

constexpr int kLogModule = 1;

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

void Reply::write(std::string_view text) {
    partial_ += text;
    std::size_t start = 0;
    std::size_t newline;
    while ((newline = partial_.find('\n', start)) != std::string::npos) {
        line("1000", std::string_view(partial_).substr(start, newline - start));
        start = newline + 1;
    }
    partial_.erase(0, start);
}

void Reply::line(const char *code, std::string_view text) {
    if (std::string_view(code) == "1000" && starts_with(text, "%"))
        refused_ = true;
    if (wire_.size() + text.size() > kMaxUnread) {
        overflowed_ = true;
        return;
    }
    wire_.append(code).append(1, '-').append(text).append(1, '\n');
}

void Reply::finish(const char *code, std::string_view text) {
    if (!partial_.empty())
        line("1001", std::exchange(partial_, {}));
    wire_.append(code).append(1, ' ').append(text).append(1, '\n');
    refused_ = false;
}

Connection::Connection(int fd, int number, std::string user, const Settings &settings)
    : fd_(fd), number_(number), user_(std::move(user)), last_progress_(std::chrono::steady_clock::now()),
      reply_(wire_), session_(*shell::tree(), reply_, {settings.level, EXEC_MODE, settings.startup_file}),
      entry_("vty " + std::to_string(number), user_, session_) {
    session_.set_terminal(this);
    log("opened");
    reply_.line("0001", "dhcpftr " DHCPFTR_VERSION " protocol " + std::to_string(kProtocolVersion));
    reply_.finish("0000", session_.prompt());
}

Connection::~Connection() { ::close(fd_); }

void Connection::set_page_length(int lines) { reply_.line("1004", std::to_string(lines)); }

void Connection::show_log_line(std::string_view line) {
    if (unread() + line.size() > kMaxUnread)
        return;
    wire_.append("2000-").append(line).append(1, '\n');
}

void Connection::log(const char *what) const {
    qvprintf(kLogModule, 0, QVLOG_LEVEL_INFO, QVLOG_FLAG_NEW_LINE, "vty: session %d (%s) %s\n", number_,
             user_.c_str(), what);
}

void Connection::prepare(loop::Wait &wait) const {
    if (unread() > 0) {
        wait.write_fds.push_back(fd_);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - last_progress_);
        wait.at_most(static_cast<int>(std::max<long long>(0, kUnreadTimeoutMs - waited.count())));
    }
    if (ending_)
        return;
    if (unread() <= kReadPause) {
        wait.fds.push_back(fd_);
        // Whole requests already received run at the next turn of the loop.
        if (received_.find('\n') != std::string::npos)
            wait.at_most(0);
    }
}

bool Connection::serve(bool readable) {
    if (readable && !ending_ && unread() <= kReadPause && !receive()) {
        log("closed by the client");
        return false;
    }
    run_requests();
    if (!send_waiting()) {
        log("closed by the client");
        return false;
    }
    const bool stuck = unread() > 0 && std::chrono::steady_clock::now() - last_progress_ >=
                                           std::chrono::milliseconds(kUnreadTimeoutMs);
    if (dropped_ || stuck) {
        log("closed: its output was not read");
        return false;
    }
    if (ending_ && unread() == 0) {
        log("ended");
        return false;
    }
    return true;
}

bool Connection::receive() {
    char chunk[16384];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0)
        return false;
    received_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

void Connection::run_requests() {
    while (!ending_ && !dropped_ && unread() <= kReadPause) {
        const std::size_t newline = received_.find('\n');
        if (newline == std::string::npos) {
            // A request longer than the limit is dropped as it comes, and refused at its end.
            if (received_.size() > kMaxRequest) {
                skipping_ = true;
                received_.clear();
            }
            return;
        }
        std::string request = received_.substr(0, newline);
        received_.erase(0, newline + 1);
        if (std::exchange(skipping_, false) || request.size() > kMaxRequest) {
            reply_.line("1000", shell::kErrorTooLong);
            reply_.finish("0002", session_.prompt());
            continue;
        }
        if (!request.empty() && request.back() == '\r')
            request.pop_back();
        handle(request);
        // The log lines of the command follow its reply at once, before the next request's.
        shell::show_log_lines();
    }
}

void Connection::handle(std::string_view request) {
    const std::size_t blank = request.find(' ');
    const std::string_view verb = request.substr(0, blank);
    const std::string_view line = blank == std::string_view::npos ? std::string_view() : request.substr(blank + 1);
    if (verb == "run") {
        session_.process(line);
        if (session_.ended()) {
            ending_ = true;
            reply_.finish("0003", "session ended");
            return;
        }
    } else if (verb == "help") {
        session_.help(line);
    } else if (verb == "complete") {
        for (const std::string &word : session_.completions(line))
            reply_.line("1002", word);
    } else if (verb == "echo" && (line == "none" || line == "prompt")) {
        session_.set_echo(line == "none" ? shell::Echo::none : shell::Echo::prompt);
    } else {
        reply_.finish("9000", "unknown request");
        return;
    }
    dropped_ = reply_.overflowed();
    reply_.finish(reply_.refused() ? "0002" : "0000", session_.prompt());
}

bool Connection::send_waiting() {
    while (unread() > 0) {
        const ssize_t n = ::send(fd_, wire_.data() + sent_, unread(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        sent_ += static_cast<std::size_t>(n);
        last_progress_ = std::chrono::steady_clock::now();
    }
    wire_.clear();
    sent_ = 0;
    last_progress_ = std::chrono::steady_clock::now();
    return true;
}

}  // namespace sim::vty
