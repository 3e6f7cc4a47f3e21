// The pager of output to an operator's terminal (pager.h).
#include "terminal/pager.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace terminal {

KeyMode::KeyMode(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0)
        return;
    termios keys = saved_;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    set_ = ::tcsetattr(fd_, TCSANOW, &keys) == 0;
}

KeyMode::~KeyMode() {
    if (set_)
        ::tcsetattr(fd_, TCSANOW, &saved_);
}

int Pager::page_length() const {
    const int fd = ::fileno(out_);
    if (fd < 0 || ::isatty(fd) == 0)
        return 0;
    if (length_)
        return *length_;
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_row < 2)
        return 0;
    return size.ws_row - 1;
}

void Pager::start() {
    const int lines = page_length();
    left_ = lines > 0 ? std::optional<int>(lines) : std::nullopt;
    dropped_ = false;
}

void Pager::write(std::string_view text) {
    if (dropped_)
        return;
    if (keys_)
        kept_.append(text);
    else
        show(text);
}

void Pager::show(std::string_view text) {
    if (!left_) {
        std::fwrite(text.data(), 1, text.size(), out_);
        return;
    }
    for (std::size_t shown = 0; shown < text.size();) {
        if (*left_ == 0) {
            kept_.assign(text.substr(shown));
            show_more();
            return;
        }
        const std::size_t newline = text.find('\n', shown);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        std::fwrite(text.data() + shown, 1, end - shown, out_);
        shown = end;
        if (newline != std::string_view::npos)
            --*left_;
    }
}

void Pager::read_key() {
    char pressed = 0;
    const ssize_t n = ::read(keys_fd_, &pressed, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    key(n <= 0 ? 'q' : pressed);
}

void Pager::key(char pressed) {
    if (!keys_)
        return;
    switch (pressed) {
    case ' ':
        resume(page_length());
        break;
    case '\r':
    case '\n':
        resume(1);
        break;
    case 'q':
    case 'Q':
        drop();
        break;
    default:
        return;
    }
    flush();
}

void Pager::resume(int lines) {
    erase_more();
    keys_.reset();
    left_ = lines > 0 ? std::optional<int>(lines) : std::nullopt;
    const std::string text = std::exchange(kept_, {});
    show(text);
}

void Pager::drop() {
    if (keys_)
        erase_more();
    keys_.reset();
    kept_.clear();
    dropped_ = true;
}

void Pager::end() {
    keys_.reset();
    left_.reset();
    kept_.clear();
    dropped_ = false;
}

void Pager::show_more() {
    keys_.emplace(keys_fd_);
    std::fwrite(kMore.data(), 1, kMore.size(), out_);
    std::fflush(out_);
}

void Pager::erase_more() {
    // Written in pieces: g++ 12 at -O3 warns falsely (-Wrestrict) about one string built of them.
    std::fputc('\r', out_);
    for (std::size_t i = 0; i < kMore.size(); ++i)
        std::fputc(' ', out_);
    std::fputc('\r', out_);
}

}  // namespace terminal
