// The answer handler and the wait: which answers count, the flag discipline, the time-out lines, the bound
// and late answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "dhcpftr_defs.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_ukcomm.h"
#include "support/daemon_harness.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

namespace {

void answer(uint32_t op, int32_t ret, uint32_t msg_num = DHCPFTR_K_VALUE_MSG) {
    DHCPFTR_K_VALUE_MSG_T body{op, ret};
    Dhcpftr_U_value_msg_process(msg_num, &body, sizeof(body));
}

// Answers op after a delay, from another thread, as the channel's receive context does.
std::thread answer_later(std::chrono::milliseconds delay, uint32_t op, int32_t ret) {
    return std::thread([=] {
        std::this_thread::sleep_for(delay);
        answer(op, ret);
    });
}

const char kTimeOut0[] = "104 0 _dhcpftr_wait_for_event [#]: time out 0 times\n";
const char kTimeOut1[] = "104 0 _dhcpftr_wait_for_event [#]: time out 1 times\n";
const char kTimeOut2[] = "104 0 _dhcpftr_wait_for_event [#]: time out 2 times\n";

std::string rx_from_kernel(int op) {
    return "107 0 Dhcpftr_U_value_msg_process [#]: rx response from kernel for " + std::to_string(op) + "\n";
}

std::string rx(int ret) { return "101 0 _dhcpftr_get_ret_value [#]: rx response " + std::to_string(ret) + "\n"; }

class ChannelWait : public ::testing::Test {
protected:
    void SetUp() override { harness::capture_log(); }
};

TEST_F(ChannelWait, AnswersWithAnotherNumberNoBodyOrACodeAbove7AreIgnored) {
    _dhcpftr_set_ret_value(77);
    answer(DHCPFTR_OP_ADD_RULE, -1, DHCPFTR_U_VALUE_MSG);
    EXPECT_EQ(Dhcpftr_U_value_msg_process(DHCPFTR_K_VALUE_MSG, nullptr, 8), 0);
    answer(8, -1);
    answer(0xFFFFFFFFu, -1);
    EXPECT_EQ(dhcpftr_syn_flag.load(), 0u);
    EXPECT_EQ(dhcpftr_k_ret_value, 77);
    EXPECT_THAT(harness::daemon_log(), IsEmpty());
}

// An answer stores its result and sets only its code's bit; a wait for a code answered already returns that
// result at once, without a time-out line, and consumes only its bit.
TEST_F(ChannelWait, AnAnswerStoresItsResultAndSetsOnlyItsBit) {
    answer(DHCPFTR_OP_ADD_PORTS, -7);
    EXPECT_EQ(dhcpftr_syn_flag.load(), 1u << 4);
    EXPECT_EQ(dhcpftr_k_ret_value, -7);
    EXPECT_NE(_dhcpftr_check_syn_flag(4), 0u);
    EXPECT_EQ(_dhcpftr_check_syn_flag(5), 0u);
    answer(DHCPFTR_OP_STK_DEL_RULE, 3);
    EXPECT_EQ(dhcpftr_syn_flag.load(), (1u << 4) | (1u << 7));
    EXPECT_EQ(dhcpftr_k_ret_value, 3) << "the result of the most recent answer, whatever its code";
    EXPECT_THAT(harness::daemon_log(), ElementsAre(rx_from_kernel(4), rx_from_kernel(7)));
    harness::capture_log();
    EXPECT_EQ(_dhcpftr_wait_for_event(DHCPFTR_OP_STK_DEL_RULE), 3);
    EXPECT_EQ(dhcpftr_syn_flag.load(), 1u << 4);
    EXPECT_THAT(harness::daemon_log(), ElementsAre(rx(3)));
    _dhcpftr_clear_syn_value();
    EXPECT_EQ(dhcpftr_syn_flag.load(), 0u);
}

TEST_F(ChannelWait, TimeOutLinesCountPollsFromZeroWithTheWakingWaitAndTheFixedPoll) {
    for (int fixed : {0, 1}) {
        SCOPED_TRACE(fixed ? "fixed poll" : "waking wait");
        dhcpftr_wait_fixed_poll = fixed;
        harness::capture_log();
        std::thread kernel = answer_later(250ms, DHCPFTR_OP_SET_DURATION, 0);
        EXPECT_EQ(_dhcpftr_wait_for_event(DHCPFTR_OP_SET_DURATION), 0);
        kernel.join();
        EXPECT_THAT(harness::daemon_log(), ElementsAre(kTimeOut0, kTimeOut1, kTimeOut2, rx_from_kernel(3), rx(0)));
    }
}

TEST_F(ChannelWait, AnAnswerForAnotherCodeDoesNotEndTheWait) {
    std::thread other = answer_later(20ms, DHCPFTR_OP_ADD_PORTS, -4);
    std::thread own = answer_later(150ms, DHCPFTR_OP_ADD_RULE, 5);
    EXPECT_EQ(_dhcpftr_wait_for_event(DHCPFTR_OP_ADD_RULE), 5);
    other.join();
    own.join();
    EXPECT_THAT(harness::daemon_log(), ElementsAre(kTimeOut0, rx_from_kernel(4), kTimeOut1, rx_from_kernel(0), rx(5)));
    EXPECT_EQ(dhcpftr_syn_flag.load(), 1u << 4) << "the other answer stays recorded for its own wait";
}

// After a wait gave up, its code's answer is due: a request with that code is not sent until it has come;
// then it is dropped and the code's next answer counts again. Other codes go on as before.
TEST_F(ChannelWait, AfterGivingUpTheCodeIsRefusedUntilItsLateAnswerCame) {
    dhcpftr_wait_max_polls = 2;
    EXPECT_EQ(_dhcpftr_wait_for_event(DHCPFTR_OP_DEL_RULE), DHCPFTR_RET_TIMEOUT);
    EXPECT_EQ(_dhcpftr_late_answer_due(DHCPFTR_OP_DEL_RULE), 1);
    EXPECT_EQ(_dhcpftr_late_answer_due(DHCPFTR_OP_ADD_RULE), 0);
    answer(DHCPFTR_OP_DEL_RULE, 0);  // the late answer
    EXPECT_EQ(_dhcpftr_late_answer_due(DHCPFTR_OP_DEL_RULE), 0);
    EXPECT_EQ(dhcpftr_syn_flag.load(), 0u) << "the late answer is consumed";
    EXPECT_EQ(_dhcpftr_late_answer_due(DHCPFTR_OP_DEL_RULE), 0);
    answer(DHCPFTR_OP_DEL_RULE, -9);  // a later request's answer
    EXPECT_EQ(_dhcpftr_wait_for_event(DHCPFTR_OP_DEL_RULE), -9);
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre(kTimeOut0, kTimeOut1,
                            "104 0 _dhcpftr_wait_for_event [#]: no response from kernel for 1 after 2 polls, "
                            "given up\n",
                            "104 0 _dhcpftr_late_answer_due [#]: late response from kernel for 1 still due, request "
                            "not sent\n",
                            rx_from_kernel(1),
                            "104 0 _dhcpftr_late_answer_due [#]: late response from kernel for 1 dropped\n",
                            rx_from_kernel(1), rx(-9)));
}

}  // namespace
