// Capture files through libpcap: a pcap or pcapng file read whole into memory, and pcap files written frame
// by frame. A build without libpcap (the PowerPC cross build) reads and writes none: captures_supported() is
// false there and every call fails with kUnsupported.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim::traffic {

// The reason every capture call gives in a build without libpcap.
inline constexpr char kUnsupported[] = "Captures are not supported in this build";

// libpcap's link type of Ethernet frames (DLT_EN10MB).
inline constexpr int kLinkEthernet = 1;

bool captures_supported();

// One captured frame.
struct Frame {
    std::chrono::nanoseconds time{0};  // the capture timestamp, since the epoch
    uint32_t length = 0;               // the frame's length on the wire
    std::vector<uint8_t> bytes;        // the bytes captured: all of them, or the first snap length
};

// A capture file as read.
struct Capture {
    int link_type = 0;      // of the file, or of the first interface of a pcapng file
    std::string link_name;  // libpcap's name of the link type ("EN10MB", "RAW"), or its number
    uint32_t snap_length = 0;
    std::vector<Frame> frames;  // in file order
    std::string cut_short;      // why reading stopped before the end of the file (after the frames), or empty
};

// Reads every frame of a pcap or pcapng file. Nothing, with the reason in error (a sentence naming the file,
// without "% " and newline), when the file cannot be opened or holds no capture. A file that breaks off after
// its header is no error: the frames before the break are read and cut_short tells why it stopped.
std::optional<Capture> read_capture(const std::string &path, std::string &error);

// True when a timestamp of the frames has a part finer than a microsecond: a file that keeps them all needs
// nanosecond timestamps.
bool needs_nanoseconds(std::span<const Frame> frames);

// A pcap file being written. The file is complete once close() returned the empty text; a writer destroyed
// before that closes the file as far as written.
class CaptureWriter {
public:
    // Creates (or truncates) the file at path with its header: the link type, the snap length and timestamps
    // in microseconds, or in nanoseconds when asked. Null, with the reason in error (a sentence naming the
    // file), when it cannot be created.
    static std::unique_ptr<CaptureWriter> create(const std::string &path, int link_type, uint32_t snap_length,
                                                 bool nanoseconds, std::string &error);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter &) = delete;
    CaptureWriter &operator=(const CaptureWriter &) = delete;

    // Appends one frame; its bytes beyond the snap length are not kept.
    void write(const Frame &frame);
    // Writes everything out and closes the file: the empty text, or the reason a write failed (a sentence
    // naming the file). Only the first call writes.
    std::string close();

private:
    struct Handles;
    explicit CaptureWriter(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles_;
};

// Writes the frames to a new pcap file at once: the empty text, or why not (as CaptureWriter's).
std::string write_capture(const std::string &path, int link_type, uint32_t snap_length,
                          std::span<const Frame> frames);

}  // namespace sim::traffic
