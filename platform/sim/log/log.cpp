#include "log/sim_log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
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

// The line a thread started last: whether it passed the minimum level, whose it is, and its text not yet
// ended by a newline.
struct OpenLine {
    bool accepted = false;
    int module = 0;
    int level = 0;
    std::string text;
};

// Assembles pieces into lines and sends complete lines to the sink. Each thread assembles its own line, so
// that the simulated kernel filter's thread cannot cut a line that the daemon is writing piece by piece.
class Logger {
public:
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

private:
    // Caller holds mutex_ for all of these.
    void select(Sink sink);
    void end_line(OpenLine &line);
    void write_line(const OpenLine &line, const std::string &text);

    std::mutex mutex_;
    int min_level_ = 0;
    Sink sink_ = Sink::none;
    File file_;
    bool capture_ = false;
    std::vector<Record> records_;
    std::map<std::thread::id, OpenLine> lines_;
};

int Logger::write(int module, int sub, int level, int flag, const char *fmt, va_list ap) {
    std::lock_guard lock(mutex_);
    const auto [it, first_piece] = lines_.try_emplace(std::this_thread::get_id());
    OpenLine &line = it->second;
    // A continuation with no line before it is taken as the start of one.
    if (flag != QVLOG_FLAG_CONTINUE || first_piece) {
        end_line(line);
        line.accepted = level >= min_level_;
        line.module = module;
        line.level = level;
    }
    // A line that no sink and no capture takes is not formatted at all.
    if (!line.accepted || (sink_ == Sink::none && !capture_))
        return 0;
    std::string text = vformat(fmt, ap);
    if (capture_)
        records_.push_back(Record{module, sub, level, flag, text});
    line.text += text;
    for (std::size_t newline; (newline = line.text.find('\n')) != std::string::npos;) {
        write_line(line, line.text.substr(0, newline));
        line.text.erase(0, newline + 1);
    }
    return static_cast<int>(text.size());
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

// Writes the text of a line that no newline has ended yet, as a line of its own.
void Logger::end_line(OpenLine &line) {
    if (!line.text.empty())
        write_line(line, line.text);
    line.text.clear();
}

void Logger::write_line(const OpenLine &line, const std::string &text) {
    std::string full = module_name(line.module);
    full += '.';
    full += std::to_string(line.level);
    full += ' ';
    full += text;
    std::FILE *stream = nullptr;
    switch (sink_) {
    case Sink::none:
        return;
    case Sink::system_log:
        ::syslog(syslog_priority(line.level), "%s", text.c_str());
        return;
    case Sink::standard_error:
        stream = stderr;
        break;
    case Sink::file:
        stream = file_.get();
        break;
    }
    full += '\n';
    std::fwrite(full.data(), 1, full.size(), stream);
    std::fflush(stream);
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

}  // namespace sim::log

int qvprintf(int module, int sub, int level, int flag, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    const int written = sim::log::the_logger().write(module, sub, level, flag, format, ap);
    va_end(ap);
    return written;
}
