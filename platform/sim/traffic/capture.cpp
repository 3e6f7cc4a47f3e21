// Capture files through libpcap (capture.h).
#include "traffic/capture.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#if SIM_HAVE_PCAP
#include <pcap/pcap.h>
#endif

namespace sim::traffic {

bool needs_nanoseconds(std::span<const Frame> frames) {
    return std::any_of(frames.begin(), frames.end(),
                       [](const Frame &frame) { return frame.time.count() % 1000 != 0; });
}

std::string write_capture(const std::string &path, int link_type, uint32_t snap_length,
                          std::span<const Frame> frames) {
    std::string error;
    std::unique_ptr<CaptureWriter> writer =
        CaptureWriter::create(path, link_type, snap_length, needs_nanoseconds(frames), error);
    if (!writer)
        return error;
    for (const Frame &frame : frames)
        writer->write(frame);
    return writer->close();
}

#if SIM_HAVE_PCAP

namespace {

// The largest snap length libpcap knows: the one a file without a snap length is written with.
constexpr uint32_t kMaxSnapLength = 262144;

// The first second whose time in nanoseconds does not fit a frame's time.
constexpr auto kLastSecond =
    std::chrono::duration_cast<std::chrono::seconds>(std::chrono::nanoseconds::max()).count();

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
struct PcapCloser {
    void operator()(pcap_t *pcap) const { pcap_close(pcap); }
};
struct DumperCloser {
    void operator()(pcap_dumper_t *dumper) const { pcap_dump_close(dumper); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
using Pcap = std::unique_ptr<pcap_t, PcapCloser>;
using Dumper = std::unique_ptr<pcap_dumper_t, DumperCloser>;

std::string link_name(int link_type) {
    const char *name = pcap_datalink_val_to_name(link_type);
    return name != nullptr ? name : std::to_string(link_type);
}

std::string cannot_write(const std::string &path, int error) {
    return "Cannot write " + path + ": " + std::strerror(error);
}

}  // namespace

bool captures_supported() { return true; }

std::optional<Capture> read_capture(const std::string &path, std::string &error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    char reason[PCAP_ERRBUF_SIZE] = "";
    // Nanosecond timestamps keep those of every file, whatever its own precision.
    Pcap pcap(pcap_fopen_offline_with_tstamp_precision(file.get(), PCAP_TSTAMP_PRECISION_NANO, reason));
    if (!pcap) {
        error = path + " is not a capture file: " + reason;
        return std::nullopt;
    }
    static_cast<void>(file.release());  // closed with the handle from now on
    Capture capture;
    capture.link_type = pcap_datalink(pcap.get());
    capture.link_name = link_name(capture.link_type);
    capture.snap_length = static_cast<uint32_t>(pcap_snapshot(pcap.get()));
    for (;;) {
        pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int result = pcap_next_ex(pcap.get(), &header, &data);
        if (result == PCAP_ERROR_BREAK)  // the end of the file
            break;
        if (result != 1) {
            capture.cut_short = pcap_geterr(pcap.get());
            break;
        }
        // Frame times are nanoseconds since the epoch: a pcapng timestamp may lie where they cannot go.
        if (header->ts.tv_sec < 0 || header->ts.tv_sec >= kLastSecond) {
            capture.cut_short = "a timestamp before 1970 or after 2262";
            break;
        }
        Frame frame;
        frame.time = std::chrono::seconds(header->ts.tv_sec) + std::chrono::nanoseconds(header->ts.tv_usec);
        frame.length = header->len;
        frame.bytes.assign(data, data + header->caplen);
        capture.frames.push_back(std::move(frame));
    }
    return capture;
}

struct CaptureWriter::Handles {
    std::string path;
    bool nanoseconds = false;
    uint32_t snap_length = 0;
    Pcap pcap;  // the dead handle the dumper writes for
    Dumper dumper;
};

CaptureWriter::CaptureWriter(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

CaptureWriter::~CaptureWriter() = default;

std::unique_ptr<CaptureWriter> CaptureWriter::create(const std::string &path, int link_type, uint32_t snap_length,
                                                     bool nanoseconds, std::string &error) {
    auto handles = std::make_unique<Handles>();
    handles->path = path;
    handles->nanoseconds = nanoseconds;
    handles->snap_length = snap_length == 0 || snap_length > kMaxSnapLength ? kMaxSnapLength : snap_length;
    handles->pcap.reset(pcap_open_dead_with_tstamp_precision(
        link_type, static_cast<int>(handles->snap_length),
        nanoseconds ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO));
    if (!handles->pcap) {
        error = cannot_write(path, ENOMEM);
        return nullptr;
    }
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = cannot_write(path, errno);
        return nullptr;
    }
    handles->dumper.reset(pcap_dump_fopen(handles->pcap.get(), file.get()));
    if (!handles->dumper) {
        error = "Cannot write " + path + ": " + pcap_geterr(handles->pcap.get());
        return nullptr;
    }
    static_cast<void>(file.release());  // closed with the dumper from now on
    return std::unique_ptr<CaptureWriter>(new CaptureWriter(std::move(handles)));
}

void CaptureWriter::write(const Frame &frame) {
    if (!handles_->dumper)
        return;
    pcap_pkthdr header{};
    const auto seconds = std::chrono::floor<std::chrono::seconds>(frame.time);
    const auto fraction = frame.time - seconds;
    header.ts.tv_sec = static_cast<time_t>(seconds.count());
    header.ts.tv_usec = static_cast<suseconds_t>(handles_->nanoseconds ? fraction.count() : fraction.count() / 1000);
    header.caplen = static_cast<uint32_t>(std::min<std::size_t>(frame.bytes.size(), handles_->snap_length));
    header.len = std::max(frame.length, header.caplen);
    pcap_dump(reinterpret_cast<u_char *>(handles_->dumper.get()), &header, frame.bytes.data());
}

std::string CaptureWriter::close() {
    if (!handles_->dumper)
        return {};
    std::FILE *file = pcap_dump_file(handles_->dumper.get());
    const bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    const int error = errno;
    handles_->dumper.reset();
    return written ? std::string() : cannot_write(handles_->path, error == 0 ? EIO : error);
}

#else  // a build without libpcap

struct CaptureWriter::Handles {};

CaptureWriter::CaptureWriter(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

CaptureWriter::~CaptureWriter() = default;

bool captures_supported() { return false; }

std::optional<Capture> read_capture(const std::string &, std::string &error) {
    error = kUnsupported;
    return std::nullopt;
}

std::unique_ptr<CaptureWriter> CaptureWriter::create(const std::string &, int, uint32_t, bool, std::string &error) {
    error = kUnsupported;
    return nullptr;
}

void CaptureWriter::write(const Frame &) {}

std::string CaptureWriter::close() { return kUnsupported; }

#endif

}  // namespace sim::traffic
