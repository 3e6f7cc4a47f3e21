// The frame inspector of the kernel filter's data path: the classifier's parse, as the host build sees it.
#include "kernel/sim_frame.h"

#include <algorithm>

#include "datapath/classifier.h"

namespace sim::kernel {

FrameInfo inspect(const uint8_t *frame, std::size_t length) noexcept {
    dp_info parsed;
    dp_inspect(frame, frame + length, static_cast<dp_u32>(std::min<std::size_t>(length, UINT32_MAX)), 0, &parsed);
    return frame_info_of(parsed);
}

FrameInfo frame_info_of(const dp_info &parsed) noexcept {
    FrameInfo info;
    info.kind = parsed.kind == DP_SERVER ? FrameKind::server
                : parsed.kind == DP_MALFORMED_FRAME ? FrameKind::malformed
                                                    : FrameKind::other;
    info.server = parsed.server;
    std::copy_n(parsed.client, info.client.size(), info.client.begin());
    return info;
}

}  // namespace sim::kernel
