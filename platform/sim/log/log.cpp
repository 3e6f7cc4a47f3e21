#include "log/sim_log.h"

#include <sys/eventfd.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "format/sim_format.h"
#include "qvlog.h"

namespace sim::log {
namespace {

constexpr int dhcpftr_module = 153;

const char *module_name(int module) {
    return module == dhcpftr_module ? "dhcpftr" : "platform";
}

int syslog_priority(int level) {
    switch (level) {
    case QVLOG_LEVEL_DEBUG:
        return LOG_DEBUG;
    case QVLOG_LEVEL_INFO:
        return LOG_INFO;
    case QVLOG_LEVEL_WARNING:
        return LOG_WARNING;
    case QVLOG_LEVEL_ERROR:
        return LOG_ERR;
    default:
        return LOG_NOTICE;
    }
}

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The line a thread started last: where it goes, whose it is, and its text not yet ended by a newline.
struct OpenLine {
    bool to_sink = false;  // passed the minimum level: the sink's and the capture's
    bool to_buffer = false;
    bool to_console = false;
    int module = 0;
    int level = 0;
    std::string text;
};

// The buffer's lines: a ring of slots whose texts keep their storage from one line to the next, so that a
// full ring takes a line without allocating.
class Ring {
public:
    // Keeps the newest lines that fit into capacity slots (0: none).
    void resize(std::size_t capacity) {
        std::vector<BufferedLine> kept = lines();
        if (kept.size() > capacity)
            kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(capacity));
        slots_ = std::move(kept);
        size_ = slots_.size();
        slots_.resize(capacity);
        next_ = capacity == 0 ? 0 : size_ % capacity;
    }
    void push(std::chrono::system_clock::time_point stamp, int module, int level, std::string_view text) {
        if (slots_.empty())
            return;
        BufferedLine &slot = slots_[next_];
        slot.stamp = stamp;
        slot.module = module;
        slot.level = level;
        slot.text.assign(text);
        next_ = (next_ + 1) % slots_.size();
        size_ = std::min(size_ + 1, slots_.size());
    }
    // Oldest first.
    std::vector<BufferedLine> lines() const {
        std::vector<BufferedLine> out;
        out.reserve(size_);
        const std::size_t first = (next_ + slots_.size() - size_) % std::max<std::size_t>(slots_.size(), 1);
        for (std::size_t i = 0; i < size_; ++i)
            out.push_back(slots_[(first + i) % slots_.size()]);
        return out;
    }
    void clear() {
        size_ = 0;
        next_ = 0;
    }

private:
    std::vector<BufferedLine> slots_;
    std::size_t next_ = 0;  // the slot the next line goes to
    std::size_t size_ = 0;  // lines held
};

bool console_takes(const ConsoleSettings &console, int module, int level) {
    switch (console.mode) {
    case ConsoleSettings::Mode::platform_warnings:
        return module != dhcpftr_module && level >= QVLOG_LEVEL_WARNING;
    case ConsoleSettings::Mode::from_level:
        return level >= console.level;
    case ConsoleSettings::Mode::off:
        break;
    }
    return false;
}

// Writes the stamp "Dec  8 08:30:01.123: " to out. The text of the second is kept per thread, so that a run of
// lines in the same second asks for the local time once.
void append_stamp(std::string &out, std::chrono::system_clock::time_point stamp) {
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    thread_local std::time_t cached_second = -1;
    thread_local char second_text[32] = "";
    const auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(stamp.time_since_epoch());
    const std::time_t second = static_cast<std::time_t>(since_epoch.count() / 1000);
    if (second != cached_second) {
        std::tm local{};
        if (localtime_r(&second, &local) == nullptr)
            local = std::tm{};
        std::snprintf(second_text, sizeof second_text, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon % 12],
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        cached_second = second;
    }
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d: ", static_cast<int>(since_epoch.count() % 1000));
    out += second_text;
    out += millis;
}

// "<module>.<level> " of a line, appended to out.
void append_heading(std::string &out, int module, int level) {
    out += module_name(module);
    out += '.';
    out += std::to_string(level);
    out += ' ';
}

// A line as the buffer and the consoles show it: "<stamp>: <module>.<level> <text>".
std::string stamped_text(std::chrono::system_clock::time_point stamp, int module, int level, std::string_view text) {
    std::string out;
    out.reserve(text.size() + 40);
    append_stamp(out, stamp);
    append_heading(out, module, level);
    out += text;
    return out;
}

// Assembles pieces into lines and sends complete lines to the sink, the buffer and the console queue. Each
// thread assembles its own line, so that the simulated kernel filter's thread cannot cut a line that the
// daemon is writing piece by piece.
class Logger {
public:
    Logger() : wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) { ring_.resize(buffer_.lines); }

    int write(int module, int sub, int level, int flag, const char *fmt, va_list ap);

    void set_min_level(int level) {
        std::lock_guard lock(mutex_);
        min_level_ = level;
    }
    int min_level() {
        std::lock_guard lock(mutex_);
        return min_level_;
    }
    bool set_sink(Sink sink);
    Sink sink() {
        std::lock_guard lock(mutex_);
        return sink_;
    }
    bool open_file(const std::string &path);
    void enable_capture(bool on) {
        std::lock_guard lock(mutex_);
        capture_ = on;
    }
    std::vector<Record> records() {
        std::lock_guard lock(mutex_);
        return records_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
    }
    void reset();

    void set_buffer(const BufferSettings &settings);
    BufferSettings buffer_settings() {
        std::lock_guard lock(mutex_);
        return buffer_;
    }
    void clear_buffer() {
        std::lock_guard lock(mutex_);
        ring_.clear();
    }
    void set_console(const ConsoleSettings &settings) {
        std::lock_guard lock(mutex_);
        console_ = settings;
    }
    ConsoleSettings console_settings() {
        std::lock_guard lock(mutex_);
        return console_;
    }
    std::vector<std::string> take_console_lines();
    int console_wake_fd() const { return wake_fd_; }
    Snapshot snapshot();

private:
    // Caller holds mutex_ for all of these.
    void select(Sink sink);
    void end_line(OpenLine &line);
    void complete(const OpenLine &line, std::string_view text);
    void write_to_sink(const OpenLine &line, std::string_view text);
    void queue_for_consoles(const OpenLine &line, std::chrono::system_clock::time_point stamp,
                            std::string_view text);
    void forget_console_lines();

    std::mutex mutex_;
    int min_level_ = 0;
    Sink sink_ = Sink::none;
    File file_;
    bool capture_ = false;
    std::vector<Record> records_;
    std::map<std::thread::id, OpenLine> lines_;
    BufferSettings buffer_;
    Ring ring_;
    std::uint64_t buffered_ = 0;
    ConsoleSettings console_;
    std::deque<std::string> console_lines_;
    std::uint64_t queued_ = 0;
    const int wake_fd_;  // readable while console_lines_ holds lines; -1 when no eventfd could be made
};

int Logger::write(int module, int sub, int level, int flag, const char *fmt, va_list ap) {
    std::lock_guard lock(mutex_);
    const auto [it, first_piece] = lines_.try_emplace(std::this_thread::get_id());
    OpenLine &line = it->second;
    // A continuation with no line before it is taken as the start of one.
    if (flag != QVLOG_FLAG_CONTINUE || first_piece) {
        end_line(line);
        line.to_sink = level >= min_level_;
        line.to_buffer = buffer_.on && level >= buffer_.level;
        line.to_console = console_takes(console_, module, level);
        line.module = module;
        line.level = level;
    }
    if (!(line.to_sink && (sink_ != Sink::none || capture_)) && !line.to_buffer && !line.to_console)
        return 0;
    const std::size_t start = line.text.size();
    vformat_append(line.text, fmt, ap);
    const std::size_t written = line.text.size() - start;
    if (capture_ && line.to_sink)
        records_.push_back(Record{module, sub, level, flag, line.text.substr(start)});
    // The text before this piece holds no newline.
    std::size_t from = 0;
    for (std::size_t newline = line.text.find('\n', start); newline != std::string::npos;
         newline = line.text.find('\n', from)) {
        complete(line, std::string_view(line.text).substr(from, newline - from));
        from = newline + 1;
    }
    line.text.erase(0, from);
    return static_cast<int>(written);
}

bool Logger::set_sink(Sink sink) {
    std::lock_guard lock(mutex_);
    if (sink == Sink::file && !file_)
        return false;
    select(sink);
    return true;
}

bool Logger::open_file(const std::string &path) {
    File file(std::fopen(path.c_str(), "a"));
    if (!file)
        return false;
    std::lock_guard lock(mutex_);
    select(Sink::none);
    file_ = std::move(file);
    sink_ = Sink::file;
    return true;
}

void Logger::reset() {
    std::lock_guard lock(mutex_);
    select(Sink::none);
    min_level_ = 0;
    capture_ = false;
    records_.clear();
    lines_.clear();
    buffer_ = BufferSettings{};
    ring_.clear();
    ring_.resize(buffer_.lines);
    buffered_ = 0;
    console_ = ConsoleSettings{};
    forget_console_lines();
    queued_ = 0;
}

void Logger::set_buffer(const BufferSettings &settings) {
    std::lock_guard lock(mutex_);
    if (!settings.on || !buffer_.on) {
        ring_.clear();
        buffered_ = 0;
    }
    buffer_ = settings;
    ring_.resize(settings.on ? settings.lines : 0);
}

std::vector<std::string> Logger::take_console_lines() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> taken(std::make_move_iterator(console_lines_.begin()),
                                   std::make_move_iterator(console_lines_.end()));
    forget_console_lines();
    return taken;
}

Snapshot Logger::snapshot() {
    std::lock_guard lock(mutex_);
    return Snapshot{buffer_, console_, buffered_, queued_, ring_.lines()};
}

// Leaves the current sink (closing the file or the syslog connection) and takes the new one.
void Logger::select(Sink sink) {
    if (sink_ == Sink::system_log && sink != Sink::system_log)
        closelog();
    if (sink != Sink::file)
        file_.reset();
    if (sink == Sink::system_log && sink_ != Sink::system_log)
        openlog("dhcpftr", LOG_PID, LOG_DAEMON);
    sink_ = sink;
}

// Completes the text of a line that no newline has ended yet, as a line of its own.
void Logger::end_line(OpenLine &line) {
    if (!line.text.empty())
        complete(line, line.text);
    line.text.clear();
}

// Hands a complete line (text without its newline) to every place that takes it.
void Logger::complete(const OpenLine &line, std::string_view text) {
    if (line.to_sink)
        write_to_sink(line, text);
    if (!line.to_buffer && !line.to_console)
        return;
    const auto stamp = std::chrono::system_clock::now();
    if (line.to_buffer && buffer_.on) {
        ring_.push(stamp, line.module, line.level, text);
        ++buffered_;
    }
    if (line.to_console && console_.mode != ConsoleSettings::Mode::off)
        queue_for_consoles(line, stamp, text);
}

void Logger::write_to_sink(const OpenLine &line, std::string_view text) {
    std::FILE *stream = nullptr;
    switch (sink_) {
    case Sink::none:
        return;
    case Sink::system_log:
        ::syslog(syslog_priority(line.level), "%.*s", static_cast<int>(text.size()), text.data());
        return;
    case Sink::standard_error:
        stream = stderr;
        break;
    case Sink::file:
        stream = file_.get();
        break;
    }
    std::string full;
    full.reserve(text.size() + 20);
    append_heading(full, line.module, line.level);
    full += text;
    full += '\n';
    std::fwrite(full.data(), 1, full.size(), stream);
    std::fflush(stream);
}

void Logger::queue_for_consoles(const OpenLine &line, std::chrono::system_clock::time_point stamp,
                                std::string_view text) {
    if (console_lines_.size() >= kConsoleQueueLines)
        console_lines_.pop_front();
    console_lines_.push_back(stamped_text(stamp, line.module, line.level, text));
    ++queued_;
    // The descriptor turns readable with the first line waiting and stays so until the lines are taken.
    if (console_lines_.size() == 1 && wake_fd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
    }
}

void Logger::forget_console_lines() {
    if (console_lines_.empty())
        return;
    console_lines_.clear();
    if (wake_fd_ >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &count, sizeof count);
    }
}

// The logger lives for the whole process and is never destroyed, so that whatever logs while the process
// exits (a static destructor, a thread not yet stopped) still finds it.
Logger &the_logger() {
    static Logger *const logger = new Logger;
    return *logger;
}

}  // namespace

std::ostream &operator<<(std::ostream &os, const Record &record) {
    os << "{module " << record.module << ", sub " << record.sub << ", level " << record.level << ", flag "
       << record.flag << ", \"";
    for (char c : record.text) {
        if (c == '\n')
            os << "\\n";
        else
            os << c;
    }
    return os << "\"}";
}

void set_min_level(int level) {
    the_logger().set_min_level(level);
}
int min_level() {
    return the_logger().min_level();
}
bool set_sink(Sink sink) {
    return the_logger().set_sink(sink);
}
Sink sink() {
    return the_logger().sink();
}
bool open_file(const std::string &path) {
    return the_logger().open_file(path);
}
void enable_capture(bool on) {
    the_logger().enable_capture(on);
}
std::vector<Record> records() {
    return the_logger().records();
}
void clear() {
    the_logger().clear();
}
void reset() {
    the_logger().reset();
}
void set_buffer(const BufferSettings &settings) {
    the_logger().set_buffer(settings);
}
BufferSettings buffer_settings() {
    return the_logger().buffer_settings();
}
void clear_buffer() {
    the_logger().clear_buffer();
}
void set_console(const ConsoleSettings &settings) {
    the_logger().set_console(settings);
}
ConsoleSettings console_settings() {
    return the_logger().console_settings();
}
std::vector<std::string> take_console_lines() {
    return the_logger().take_console_lines();
}
int console_wake_fd() {
    return the_logger().console_wake_fd();
}
bool console_logging_explicit() {
    return the_logger().console_settings().mode != ConsoleSettings::Mode::platform_warnings;
}
Snapshot snapshot() {
    return the_logger().snapshot();
}

std::string stamped(const BufferedLine &line) { return stamped_text(line.stamp, line.module, line.level, line.text); }

}  // namespace sim::log

int qvprintf(int module, int sub, int level, int flag, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    const int written = sim::log::the_logger().write(module, sub, level, flag, format, ap);
    va_end(ap);
    return written;
}
