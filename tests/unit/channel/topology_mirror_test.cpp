// The randomized mirror test with topology events (topology_mirror.h) for a few hundred steps of fixed seeds;
// every kind of step and outcome happens with each seed.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/daemon_harness.h"
#include "unit/channel/topology_mirror.h"

namespace {

constexpr int kSteps = 400;

class ChannelTopologyMirror : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { harness::boot_daemon(); }
};

TEST_P(ChannelTopologyMirror, DaemonKernelFilterAndChassisStayInStep) {
    topology_mirror::TopologyMirror mirror(GetParam());
    for (int n = 0; n < kSteps && !HasFailure(); ++n) {
        SCOPED_TRACE("seed " + std::to_string(GetParam()) + ", step " + std::to_string(n));
        mirror.play(mirror.choose());
    }
    if (HasFailure())
        return;
    std::map<std::string, int> counts = mirror.counts();
    for (const char *kind : {"enable", "disable", "add rule", "remove rule", "refused command", "delete for good",
                             "delete keeping", "add", "join", "leave", "notify", "card removal", "card insertion",
                             "CPU card", "fault hit", "failed topology commit"})
        EXPECT_GT(counts[kind], 0) << kind << " never happened with seed " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChannelTopologyMirror, ::testing::Values(1u, 2u, 3u, 2026u));

}  // namespace
