// The two ways the client runs a session: given lines (-c, -f) and the operator at a terminal.
#pragma once

#include <string>
#include <vector>

#include "connection.h"

namespace dhcpftr_cli {

// The client's exit statuses.
constexpr int kExitOk = 0;       // every line ran, none was refused; or the session ended normally
constexpr int kExitRefused = 1;  // a line was refused, or not run because an earlier one ended the session
constexpr int kExitFailed = 2;   // the switch cannot be reached, closed the session, or speaks something else

// Runs lines in order in the session: every request goes out at once, the replies are read as they come,
// and only the commands' output is printed, to standard output. Stops at a line that ends the session.
// The exit status (kExitOk or kExitRefused); throws Failure when the session breaks off.
int run_lines(Connection &session, const std::vector<std::string> &lines);

// Runs the session at the terminal, with the switch's prompt (prompt: the greeting's), until the operator
// or the switch ends it. The exit status; throws Failure when the session breaks off.
int run_interactive(Connection &session, std::string prompt);

}  // namespace dhcpftr_cli
