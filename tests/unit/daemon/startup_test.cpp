// Start-up and registration: the order of the registrations, the module initialiser, the NSM client start and
// start-up callback. The LACP handler and the stacking callbacks registered are exercised through the chassis
// (topology_test, topology_events.t, the topology mirror test), the slot table by the line-card removals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "dhcpftr_db.h"
#include "dhcpftr_init.h"
#include "dhcpftr_msg.h"
#include "dhcpftr_nsm.h"
#include "dhcpftr_ukcomm.h"
#include "nsm/sim_nsm.h"
#include "support/daemon_harness.h"
#include "trace/sim_trace.h"
#include "ukcomm/sim_ukcomm.h"

using ::testing::ElementsAre;

namespace {

// The trace up to the first interface the chassis adds.
std::vector<std::string> registration_trace() {
    std::vector<std::string> calls = sim::trace::calls();
    auto first_if = std::find_if(calls.begin(), calls.end(), [](const std::string &c) { return c.rfind("if add", 0) == 0; });
    return {calls.begin(), first_if};
}

TEST(Startup, RegistersInOrderBeforeAnyInterfaceIsAdded) {
    harness::boot_daemon();
    EXPECT_THAT(registration_trace(),
                ElementsAre("SYSINF_LIB_Proto_Status_Set 46 1", "UKCOMM_U_Reg 93", "nsm client start", "nsm client up",
                            "nsm_client_set_service 0", "ST_APP_Init", "nsm_client_set_service 38", "if_add_hook 5",
                            "if_add_hook 6"));
    EXPECT_EQ(sim::ukcomm::handler(DHCPFTR_K_VALUE_MSG), &Dhcpftr_U_value_msg_process);
    EXPECT_EQ(DHCPFTR_Get_Reboot_Ready(), 1) << "the boot ends with the system ready";
    EXPECT_EQ(dhcpftr_zg, sim::nsm::globals());
    EXPECT_EQ(sim::nsm::registration()->proto_id, 57u);
}

TEST(Startup, ModuleInitialiserReturnsOneEvenWhenTheAnswerHandlerIsRefused) {
    harness::capture_log();
    sim::ukcomm::fail_next_registrations(1);
    EXPECT_EQ(Dhcpftr_Init(0, 0), 1);
    EXPECT_THAT(harness::daemon_log(),
                ElementsAre("107 0 Dhcpftr_ukcomm_reg [#]: Register Rx DHCPFTR_K_VALUE_MSG failed\n",
                            "107 0 Dhcpftr_Init [#]: Register ukcomm failed\n"));
    EXPECT_EQ(Dhcpftr_DB_is_empty(), 1) << "the store exists all the same";
    EXPECT_EQ(sim::ukcomm::handler(DHCPFTR_K_VALUE_MSG), nullptr);
}

TEST(Startup, NsmClientStartReportsOneOnlyForALibraryResultOfZero) {
    for (int library_result : {0, -1, 1, 38}) {
        SCOPED_TRACE(library_result);
        sim::nsm::set_start_result(library_result);
        EXPECT_EQ(NSM_USER_Init_Nsm_Client(7), library_result == 0 ? 1 : 0);
    }
    EXPECT_EQ(sim::nsm::registration()->arg, 7u) << "the framework's argument is passed on";
}

TEST(Startup, NsmStartupEmptiesPendingEnableAndKeepsTheFirstHandle) {
    Dhcpftr_DB_Init();
    nsm_globals *up = sim::nsm::globals();
    PORTLIST_set_port(&should_update_port, 700);
    Dhcpftr_Nsm_Init(up);
    EXPECT_EQ(PORTLIST_chk_empty(&should_update_port), 1);

    PORTLIST_set_port(&should_update_port, 701);
    nsm_globals second = *up;
    Dhcpftr_Nsm_Init(&second);
    EXPECT_EQ(dhcpftr_zg, up) << "a later call never replaces the handle";
    EXPECT_EQ(PORTLIST_chk_empty(&should_update_port), 1);
    EXPECT_THAT(sim::nsm::services(), ElementsAre(0, 38, 0, 38)) << "a later call subscribes again";
}

}  // namespace
