// The shell engine with dummy commands whose help texts are numbered "00", "01", ... by token: token kinds,
// arguments of optional parts, abbreviations and ambiguity, precedence, privilege levels, modes and their
// fallback, the built-in commands, the errors, "?" help, completion, install failures, the C text checks,
// and the plain console. Arbitrary lines are fed by the fuzz target tests/fuzz/shell_lines.cpp; the startup
// replay, the shell's errors on the switch's own commands, keywords in any case, the filters and saving the
// running configuration are checked by tests/transcripts/shell_*.t.
#include "shell/sim_shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

namespace {

using sim::shell::Outcome;
using sim::shell::Session;
using sim::shell::StringOutput;

// Every handler call, as "h<N>@<mode> <argv...>".
std::vector<std::string> g_calls;

template <int N>
int record(cli *cli, int argc, char **argv) {
    std::string call = "h" + std::to_string(N) + "@" + std::to_string(cli->mode);
    for (int i = 0; i < argc; ++i)
        call += std::string(" ") + argv[i];
    if (argv[argc] != nullptr)
        call += " (argv not terminated)";
    g_calls.push_back(call);
    return 0;
}

// "interface IFNAME" as a module writes it: the interface becomes current and its mode is entered.
int enter_interface(cli *cli, int, char **argv) {
    cli->current_if = ifg_get_by_name(cli->gctx->ift, argv[0]);
    cli->mode = cli_get_ifmode(argv[0]);
    return 0;
}

const char *const kHelp[] = {"00", "01", "02", "03", "04", "05", "06", "07", "08", "09", nullptr};

struct Dummy {
    int mode;
    int level;
    const char *text;
    CLI_HANDLER_FN handler;
};

const Dummy kDummies[] = {
    {EXEC_MODE, 2, "show ip dhcp screening", record<0>},
    {EXEC_MODE, 20, "show ip dhcp screening portlist", record<1>},
    {EXEC_MODE, 15, "debug WORD", record<2>},
    {CONFIG_MODE, 2, "ip dhcp screening server-ip A.B.C.D [client-mac MAC] ports PORTRANGE", record<3>},
    {CONFIG_MODE, 2, "ip dhcp screening snmp <1-30>", record<4>},
    {CONFIG_MODE, 2, "ip dhcp screening WORD", record<5>},
    {CONFIG_MODE, 2, "route A.B.C.D", record<6>},
    {CONFIG_MODE, 2, "route WORD", record<7>},
    {CONFIG_MODE, 2, "ip dhcp screening port <1-9>", record<8>},
    {INTERFACE_MODE, 2, "ip dhcp screening enable", record<9>},
    {CONFIG_MODE, 2, "interface IFNAME", enter_interface},
    {CONFIG_MODE, 2, "ip dhcp screening ports PORTRANGE", record<10>},
};

// Help texts "00".."nn" for a command string of n tokens.
std::vector<const char *> numbered_help(const char *text) {
    std::size_t tokens = 0;
    std::istringstream words(text);
    for (std::string w; words >> w;)
        tokens += w.find_first_not_of("[]") != std::string::npos;
    std::vector<const char *> help(kHelp, kHelp + tokens);
    help.push_back(nullptr);
    return help;
}

// What a session at a terminal prints for a line of mode whose word at offset fits nothing: the caret under
// it, after the mode's prompt and a blank.
std::string invalid(int mode, std::size_t offset) {
    const std::size_t prompt = mode == EXEC_MODE ? 8 : mode == CONFIG_MODE ? 16 : 19;
    return std::string(prompt + offset, ' ') + "^\n% Invalid input detected at '^' marker.\n";
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        for (const Dummy &d : kDummies) {
            helps_.push_back(numbered_help(d.text));
            records_.push_back(std::make_unique<cli_element>(cli_element{d.text, d.handler, helps_.back().data(), {}}));
            cli_install_gen(&tree_, d.mode, d.level, 0, records_.back().get());
        }
    }

    Session &open(int mode = EXEC_MODE, int level = CLI_PRIVILEGE_NORMAL, std::string file = "") {
        session_ = std::make_unique<Session>(tree_, out_, sim::shell::SessionSettings{level, mode, std::move(file)});
        return *session_;
    }

    // What one line did: the handler calls and the output, joined by "|".
    std::string run(Session &session, const std::string &line) {
        g_calls.clear();
        session.process(line);
        std::string text;
        for (const std::string &call : g_calls)
            text += call + "|";
        return text + out_.take();
    }

    cli_tree tree_;
    StringOutput out_;
    std::unique_ptr<Session> session_;
    std::vector<std::vector<const char *>> helps_;
    std::vector<std::unique_ptr<cli_element>> records_;
};

TEST_F(Shell, LinesRunTheCommandTheyMatchWithItsArgumentsOrTheShellsError) {
    const struct {
        int mode;
        int level;
        std::string line;
        std::string result;
    } cases[] = {
        // Optional part typed (abbreviated: its keyword comes in full), omitted; blanks and tabs.
        {CONFIG_MODE, 2, "ip dh scr server-ip 10.1.1.1 client 00:11:22:33:44:55 ports eth1.1-1.3",
         "h3@5 10.1.1.1 client-mac 00:11:22:33:44:55 eth1.1-1.3|"},
        {CONFIG_MODE, 2, " ip\tdhcp  screening server-ip 10.1.1.1 ports eth1.1 ", "h3@5 10.1.1.1 eth1.1|"},
        {CONFIG_MODE, 2, "ip dhcp screening server-ip 10.1.1.1 client-mac", "% Incomplete command\n"},
        // A closing PORTRANGE takes the rest of the line, its words joined by one blank.
        {CONFIG_MODE, 2, "ip dhcp screening server-ip 10.1.1.1 ports eth1.1 ,  eth1.2", "h3@5 10.1.1.1 eth1.1 , eth1.2|"},
        {CONFIG_MODE, 2, "ip dhcp screening server-ip 256.1.1.1 ports a", invalid(CONFIG_MODE, 28)},
        // Ranges: the bounds are in, one past them is not.
        {CONFIG_MODE, 2, "ip dhcp screening snmp 30", "h4@5 30|"},
        {CONFIG_MODE, 2, "ip dhcp screening snmp 1", "h4@5 1|"},
        {CONFIG_MODE, 2, "ip dhcp screening snmp 31", invalid(CONFIG_MODE, 23)},
        {CONFIG_MODE, 2, "ip dhcp screening snmp 0", invalid(CONFIG_MODE, 23)},
        {CONFIG_MODE, 2, "ip dhcp screening snmp -1", invalid(CONFIG_MODE, 23)},
        // Precedence: exact keyword > typed value > abbreviation > any word.
        {CONFIG_MODE, 2, "ip dhcp screening snmp", "% Incomplete command\n"},
        {CONFIG_MODE, 2, "ip dhcp screening sn 7", "h4@5 7|"},
        {CONFIG_MODE, 2, "ip dhcp screening other", "h5@5 other|"},
        {CONFIG_MODE, 2, "ip dhcp screening port 3", "h8@5 3|"},
        {CONFIG_MODE, 2, "ip dhcp screening ports eth1.1", "h10@5 eth1.1|"},
        {CONFIG_MODE, 2, "ip dhcp screening portsx", "h5@5 portsx|"},
        {CONFIG_MODE, 2, "route 10.1.1.1", "h6@5 10.1.1.1|"},
        {CONFIG_MODE, 2, "route 10.1.1.256", "h7@5 10.1.1.256|"},
        {CONFIG_MODE, 2, "route 010.1.1.1", "h7@5 010.1.1.1|"},
        {CONFIG_MODE, 2, "route 1.2.3", "h7@5 1.2.3|"},
        // An abbreviation of a keyword and of a longer one is ambiguous; lines that run nothing; the longest line.
        {CONFIG_MODE, 2, "ip dhcp screening por 3", "% Ambiguous command\n"},
        {CONFIG_MODE, 2, "ip dhcp\x7f screening other", invalid(CONFIG_MODE, 7)},
        {CONFIG_MODE, 2, "", ""},
        {CONFIG_MODE, 2, " \t ", ""},
        {CONFIG_MODE, 2, "  ! bogus ?", ""},
        {CONFIG_MODE, 2, "route " + std::string(16384 - 6, 'x'), "h7@5 " + std::string(16384 - 6, 'x') + "|"},
        {CONFIG_MODE, 2, "route " + std::string(16385 - 6, 'x'), "% Line too long\n"},
        // Levels: a command above the session's level is not there (as unknown as no command: shell_errors.t).
        {EXEC_MODE, 15, "debug x", "h2@4 x|"},
        {EXEC_MODE, 2, "show ip dhcp screening portlist", invalid(EXEC_MODE, 23)},
        {EXEC_MODE, 20, "sh ip dh scr portl", "h1@4|"},
        {EXEC_MODE, 2, "sh ip dh scr", "h0@4|"},
        // The CONFIG mode runs the EXEC mode's commands through "do", the EXEC mode has no "do".
        {CONFIG_MODE, 2, "do show ip dhcp screening", "h0@4|"},
        {EXEC_MODE, 2, "do show ip dhcp screening", "% Unknown command\n"},
        // The interface mode falls back to the CONFIG mode's commands, which run as in the CONFIG mode.
        {INTERFACE_MODE, 2, "ip dhcp screening snmp 5", "h4@5 5|"},
        // Of the modes searched, the one whose command the line got furthest into is pointed into.
        {INTERFACE_MODE, 2, "ip dhcp screening snmp 99", invalid(INTERFACE_MODE, 23)},
        {INTERFACE_MODE, 2, "ip dhcp screening e", "h9@6|"},
        {INTERFACE_MODE, 2, "ip dhcp screening x", "h5@5 x|"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.substr(0, 80));
        EXPECT_EQ(run(open(c.mode, c.level), c.line), c.result);
    }
}

// A session through the modes: handlers and built-ins change the mode; "do" and fallback keep it.
TEST_F(Shell, ModesFollowTheCommandsAndExitEndAndDo) {
    Session &s = open();
    auto where = [&] {
        const interface *ifp = s.context()->current_if;
        return s.prompt() + " " + (ifp != nullptr ? ifp->name : "-");
    };
    const struct {
        const char *line;
        const char *result;
        const char *after;
    } steps[] = {
        {"configure terminal", "", "switch(config)# -"},
        {"interface eth1.1", "", "switch(config-if)# eth1.1"},
        {"ip dhcp screening snmp 5", "h4@5 5|", "switch(config-if)# eth1.1"},
        {"interface eth1.2", "", "switch(config-if)# eth1.2"},
        {"do show ip dhcp screening", "h0@4|", "switch(config-if)# eth1.2"},
        {"do configure terminal", "", "switch(config-if)# eth1.2"},
        {"exit", "", "switch(config)# -"},
        {"int eth1.3", "", "switch(config-if)# eth1.3"},
        {"end", "", "switch# -"},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.line);
        EXPECT_EQ(run(s, step.line), step.result);
        EXPECT_EQ(where(), step.after);
    }
    EXPECT_EQ(s.execute("exit"), Outcome::ended);
    EXPECT_TRUE(s.ended());

    Session &d = open(CONFIG_MODE);
    EXPECT_EQ(d.execute("do exit"), Outcome::ended) << "\"do\" runs the EXEC mode's exit";
}

TEST_F(Shell, HelpListsTheNextTokensVisibleAtTheLevel) {
    const struct {
        int mode;
        int level;
        const char *line;
        std::string help;
    } cases[] = {
        {EXEC_MODE, 2, "?",
         "  clear                  Reset functions\n"
         "  configure              Enter the configuration mode\n"
         "  copy                   Copy a configuration\n"
         "  exit                   End the session\n"
         "  quit                   End the session\n"
         "  show                   Show running system information\n"
         "  write                  Write the running configuration\n"},
        {EXEC_MODE, 15, "de ?", "  WORD                   01\n"},
        {EXEC_MODE, 2, "show ip dhcp screening ?", "  <cr>\n"},
        {EXEC_MODE, 20, "show ip dhcp screening ?", "  portlist               04\n  <cr>\n"},
        {CONFIG_MODE, 2, "ip dhcp screening ?",
         "  port                   03\n  ports                  03\n  server-ip              03\n"
         "  snmp                   03\n  WORD                   03\n"},
        {CONFIG_MODE, 2, "IP DHCP SCREENING S?",
         "  server-ip              03\n  snmp                   03\n  WORD                   03\n"},
        {CONFIG_MODE, 2, "ip dhcp screening snmp ?", "  <1-30>                 04\n"},
        {CONFIG_MODE, 2, "ip dhcp screening server-ip 10.1.1.1   ?",
         "  client-mac             05\n  ports                  07\n"},
        {CONFIG_MODE, 2, "ip dhcp screening server-ip 10.1.1.1 ports x ?", "  <cr>\n"},
        {CONFIG_MODE, 2, "route 10.1.1.1 ?", "  <cr>\n"},
        {CONFIG_MODE, 2, "route 1?", "  A.B.C.D                01\n  WORD                   01\n"},
        {CONFIG_MODE, 2, "do s?", "  show                   Show running system information\n"},
        {INTERFACE_MODE, 2, "ip dhcp screening e?", "  enable                 03\n  WORD                   03\n"},
        {CONFIG_MODE, 2, "bogus ?", "% Unknown command\n"},
        {CONFIG_MODE, 2, "x?", "% Unknown command\n"},
        {CONFIG_MODE, 2, "ip x ?", invalid(CONFIG_MODE, 3)},
        {CONFIG_MODE, 2, "route 1.1.1.1 x?", invalid(CONFIG_MODE, 14)},
        // After a filter its expression; "|" only after a show command (the list of filters: shell_filters.t).
        {EXEC_MODE, 2, "show ip dhcp screening | count ?", "  LINE                   Regular expression\n  <cr>\n"},
        {EXEC_MODE, 2, "show ip dhcp screening | include ?", "  LINE                   Regular expression\n"},
        {EXEC_MODE, 2, "show ip dhcp screening | x?", invalid(EXEC_MODE, 25)},
        {CONFIG_MODE, 2, "route 1.1.1.1 | ?", invalid(CONFIG_MODE, 14)},
        {CONFIG_MODE, 2, "do configure terminal | ?", invalid(CONFIG_MODE, 22)},
        {CONFIG_MODE, 2, "ip dhcp screening s ?", "% Ambiguous command\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(run(open(c.mode, c.level), c.line), c.help);
    }
}

TEST_F(Shell, CompletionOffersTheKeywordsThatFit) {
    using Words = std::vector<std::string>;
    const struct {
        int mode;
        const char *line;
        Words words;
    } cases[] = {
        {CONFIG_MODE, "", {"do", "end", "exit", "interface", "ip", "route"}},
        {CONFIG_MODE, "ip d", {"dhcp"}},
        {CONFIG_MODE, "ip dhcp screening S", {"server-ip", "snmp"}},
        {CONFIG_MODE, "Ip Dhcp ", {"screening"}},
        {CONFIG_MODE, "ip dhcp screening ", {"port", "ports", "server-ip", "snmp"}},
        {CONFIG_MODE, "ip dhcp screening port", {"port", "ports"}},
        {CONFIG_MODE, "ip dhcp screening server-ip 1.1.1.1 ", {"client-mac", "ports"}},
        {CONFIG_MODE, "do w", {"write"}},
        {CONFIG_MODE, "route ", {}},
        {INTERFACE_MODE, "e", {"end", "exit"}},
        {EXEC_MODE, "d", {}},
        {EXEC_MODE, "show ip dhcp screening | ", {"begin", "count", "exclude", "include"}},
        {CONFIG_MODE, "do show ip dhcp screening | E", {"exclude"}},
        {CONFIG_MODE, "do show ip dhcp screening | exclude ", {}},
        {CONFIG_MODE, "route 1.1.1.1 | ", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(open(c.mode).completions(c.line), c.words);
    }
}

std::vector<std::string> g_config_calls;

int write_a(cli *cli) { return cli->out(cli->out_target, "a %r\n", "\x0a\x01\x02\x03"); }
int write_b(cli *cli) { return cli->out(cli->out_target, "b mode %d\n", cli->mode); }
int write_c(cli *cli) { return cli->out(cli->out_target, "c\n"); }
int reset_1() { return g_config_calls.push_back("reset 1"), 0; }
int reset_2() { return g_config_calls.push_back("reset 2"), 0; }

TEST_F(Shell, RunningConfigurationAndClear) {
    cli_install_config(&tree_, 20, write_a);
    cli_install_config(&tree_, 10, write_b);
    cli_install_config(&tree_, 10, write_c);
    cli_install_reset(&tree_, reset_2);
    cli_install_reset(&tree_, reset_1);
    const std::string config = "b mode 5\nc\na 10.1.2.3\n";
    EXPECT_EQ(run(open(), "show running-config"), config);

    EXPECT_EQ(run(open(), "clear running-config"), "");
    EXPECT_EQ(g_config_calls, (std::vector<std::string>{"reset 2", "reset 1"}));
}

// A startup file that cannot be read or removed (a directory): each says why; "write erase" asks first.
TEST_F(Shell, StartupFileThatCannotBeReadOrErased) {
    const std::string dir = ::testing::TempDir();
    Session &s = open(EXEC_MODE, 2, dir);
    EXPECT_EQ(run(s, "show startup-config"), "% Cannot read " + dir + ": Is a directory\n");
    EXPECT_EQ(run(s, "write erase"), "");
    EXPECT_EQ(s.prompt(), "Erasing the startup configuration. Continue? [confirm]");
    EXPECT_EQ(run(s, "y"), "% Cannot erase " + dir + ": Is a directory\n");
    EXPECT_EQ(s.prompt(), "switch#");
}

TEST(ShellInstall, UnusableRecordsAbortNamingTheCommand) {
    const char *const two[] = {"00", "01", nullptr};
    const char *const one[] = {"00", nullptr};
    const char *const three[] = {"00", "01", "02", nullptr};
    const struct {
        int mode;
        int level;
        const char *text;
        const char *const *help;
        CLI_HANDLER_FN handler;
        const char *message;
    } cases[] = {
        {CONFIG_MODE, 2, "show foo", one, record<0>, "\"show foo\" in mode 5: 1 help texts for 2 tokens"},
        {CONFIG_MODE, 2, "show [foo] bar", two, record<0>,
         "\"show \\[foo\\] bar\" in mode 5: 2 help texts for 3 tokens"},
        {CONFIG_MODE, 2, "show", nullptr, record<0>, "0 help texts for 1 tokens"},
        {CONFIG_MODE, 2, "show [foo", two, record<0>, "'\\[' without '\\]'"},
        {CONFIG_MODE, 2, "show foo]", two, record<0>, "'\\]' without '\\['"},
        {CONFIG_MODE, 2, "show [ ] x", two, record<0>, "empty optional part"},
        {CONFIG_MODE, 2, "show [a [b]]", three, record<0>, "'\\[' inside an optional part"},
        {CONFIG_MODE, 2, "show Foo", two, record<0>, "'Foo' is no token"},
        {CONFIG_MODE, 2, "show 1.2.3.4", two, record<0>, "'1.2.3.4' is no token"},
        {CONFIG_MODE, 2, "show <5-1>", two, record<0>, "'<5-1>' is no token"},
        {CONFIG_MODE, 2, "show <1-2147483648>", two, record<0>, "is no token"},
        {CONFIG_MODE, 2, "", nullptr, record<0>, "no tokens"},
        {9, 2, "show foo", two, record<0>, "in mode 9: no such mode"},
        {CONFIG_MODE, 21, "show foo", two, record<0>, "privilege level 21 outside 0-20"},
        {CONFIG_MODE, 2, "show foo", two, nullptr, "no handler"},
        {EXEC_MODE, 2, "exit", one, record<0>, "\"exit\" in mode 4: installed twice"},
        {EXEC_MODE, 2, "write  memory", two, record<0>, "installed twice"},
        {EXEC_MODE, 2, "write [memory]", two, record<0>, "matches the same words as \"write memory\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        cli_element rec{c.text, c.handler, const_cast<const char **>(c.help), {}};
        EXPECT_DEATH(
            {
                cli_tree tree;
                cli_install_gen(&tree, c.mode, c.level, 0, &rec);
            },
            std::string("shell: cannot install .*") + c.message);
    }
    cli_element ok{"show WORD", record<0>, const_cast<const char **>(two), {}};
    cli_element same{"show IFNAME", record<0>, const_cast<const char **>(two), {}};
    EXPECT_DEATH(
        {
            cli_tree tree;
            cli_install(&tree, EXEC_MODE, &ok);
            cli_install(&tree, EXEC_MODE, &same);
        },
        "\"show IFNAME\" in mode 4: matches the same words as \"show WORD\"");
    cli_tree tree;
    cli_install(&tree, EXEC_MODE, &ok);
    cli_install(&tree, CONFIG_MODE, &same);  // the same words in another mode are no clash
}

TEST(ShellCalls, MacAddressFormats) {
    const struct {
        const char *text;
        int result;
        int format;
    } cases[] = {
        {"00:11:22:33:44:55", 0, 1}, {"0:1:2:a:B:f", 0, 1},      {"0011.2233.4455", 0, 2},
        {"1.2.3", 0, 2},             {"00-11-22-aa-BB-cc", 0, 3}, {"001122AABBCC", 0, 4},
        {"00:11:22:33:44", 1, -1},   {"00:11:22:33:44:55:66", 1, -1}, {"00:11::33:44:55", 1, -1},
        {"000:11:22:33:44:55", 1, -1}, {"00:11:22:33:44:5g", 1, -1}, {"00:11-22:33:44:55", 1, -1},
        {"0011.2233", 1, -1},        {"00112.2233.4455", 1, -1},  {"0011.2233.4455.", 1, -1},
        {"001122AABBC", 1, -1},      {"001122AABBCCD", 1, -1},    {"001122AABBCG", 1, -1},
        {"", 1, -1},                 {" 00:11:22:33:44:55", 1, -1}, {"00:11:22:33:44:55 ", 1, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        int format = -1;
        EXPECT_EQ(cli_mac_address_is_valid(c.text, &format), c.result);
        EXPECT_EQ(format, c.format);
    }
    EXPECT_EQ(cli_mac_address_is_valid(nullptr, nullptr), 1);
}

TEST(ShellCalls, NumbersOfText) {
    const struct {
        const char *text;
        int value;
        int status;
    } cases[] = {
        {"0", 0, 0},           {"42", 42, 0},         {"+7", 7, 0},          {"-7", -7, 0},
        {"007", 7, 0},         {"2147483647", 2147483647, 0}, {"-2147483648", -2147483647 - 1, 0},
        {"2147483648", -2147483647 - 1, 0},     {"4294967295", -1, 0},  {"0x80000000", -2147483647 - 1, 0},
        {"0XfF", 255, 0},      {"0x0", 0, 0},         {"4294967296", 0, -1}, {"0x100000000", 0, -1},
        {"-2147483649", 0, -1}, {"99999999999999999999", 0, -1}, {"0x", 0, -1}, {"-0x1", 0, -1},
        {"", 0, -1},           {"-", 0, -1},          {"+", 0, -1},          {"12a", 0, -1},
        {" 1", 0, -1},         {"1 ", 0, -1},         {"0x1g", 0, -1},       {"--1", 0, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        int status = 99;
        EXPECT_EQ(cmd_str2int(c.text, &status), c.value);
        EXPECT_EQ(status, c.status);
    }
}

// The plain console writes the prompt before each line and stops at "exit"; "?" lines show help.
TEST_F(Shell, PlainConsolePromptsAndStopsAtExit) {
    const char input[] = "conf t\r\nroute ?\nexit\nexit\nconfigure terminal\n";
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    ASSERT_EQ(::write(pipe_fds[1], input, sizeof input - 1), static_cast<ssize_t>(sizeof input - 1));
    ::close(pipe_fds[1]);
    Session &s = open();
    EXPECT_EQ(sim::shell::run_lines(s, pipe_fds[0], true), 0);
    ::close(pipe_fds[0]);
    EXPECT_EQ(out_.take(), "switch# switch(config)#   A.B.C.D                01\n"
                           "  WORD                   01\n"
                           "switch(config)# switch# ");
    EXPECT_EQ(s.mode(), EXEC_MODE) << "the line after the session's end is not read";
}

}  // namespace
