// Benchmarks of operator sessions. Each starts its own switch (dhcpftr --no-console --vty-socket) as a process
// in a temporary directory, waits for its greeting, and stops it (SIGTERM) and removes the directory when it
// ends. Each figure is printed after the table beside its goal.
//
//   BM_SessionRoundTrip
//       one request through an open session, "run show ip dhcp screening" on a switch without rules, from
//       the request's first byte to its final line (goal: at most 100 us)
//   BM_CliShowFullTable
//       a whole `dhcpftr-cli -c "show ip dhcp screening"` process, from its start to its exit, against a
//       switch whose startup configuration enables every port and holds 255 rules, each with a client MAC
//       and 240 ports plus 8 trunks (about 500 KB of output, read from the client through a pipe)
//       (goal: at most 20 ms)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "spawn_process.h"
#include "summary.h"

namespace {

constexpr int kRules = 255;

// An open session: requests out, replies read up to their final line.
class Session {
public:
    explicit Session(const std::string &path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Session() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool open() const { return fd_ >= 0; }

    // Sends request (without its "\n") unless it is empty, and reads one whole reply; the reply, or "" when
    // the session failed or nothing came within a second.
    std::string exchange(const std::string &request) {
        if (!request.empty()) {
            const std::string line = request + "\n";
            if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                return "";
        }
        std::string reply;
        for (std::size_t start = 0;;) {
            // A final line: four digits and a blank, at the start of a line, with its "\n".
            for (std::size_t end; (end = reply.find('\n', start)) != std::string::npos; start = end + 1)
                if (end - start >= 5 && reply[start + 4] == ' ')
                    return reply;
            pollfd wait{fd_, POLLIN, 0};
            char chunk[64 * 1024];
            const ssize_t n = ::poll(&wait, 1, 1000) == 1 ? ::read(fd_, chunk, sizeof chunk) : 0;
            if (n <= 0)
                return "";
            reply.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
};

// A switch serving sessions, started from a startup configuration, for as long as the object lives.
class Switch {
public:
    explicit Switch(const std::string &configuration) {
        char pattern[] = "/tmp/dhcpftr-vty-bench.XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            return;
        dir_ = pattern;
        std::ofstream(dir_ + "/startup.conf") << configuration;
        pid_ = bench::spawn({DHCPFTR_BINARY, "--no-console", "--vty-socket", socket(), "--startup-config",
                             dir_ + "/startup.conf"});
    }
    ~Switch() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }
    Switch(const Switch &) = delete;
    Switch &operator=(const Switch &) = delete;

    std::string socket() const { return dir_ + "/vty.sock"; }

    // Waits until the switch greets a session (its startup configuration replayed); false after 10 s.
    bool ready() const {
        for (int tries = 0; tries < 200 && pid_ > 0; ++tries) {
            Session session(socket());
            if (session.open() && session.exchange("").rfind("0001-", 0) == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
};

// Every port enabled; 255 rules, each with a client MAC and every other port of every slot and every trunk.
std::string full_configuration() {
    std::string enabled, ports;
    for (int slot = 1; slot <= 10; ++slot) {
        const std::string s = std::to_string(slot);
        enabled += "eth" + s + ".1-" + s + ".48,";
        for (int port = 1; port <= 48; port += 2)
            ports += "eth" + s + "." + std::to_string(port) + ",";
    }
    std::string text = "ip dhcp screening ports " + enabled + "port-channel1-8\n";
    char rule[96];
    for (int i = 0; i < kRules; ++i) {
        std::snprintf(rule, sizeof rule, "ip dhcp screening server-ip 10.%d.%d.1 client-mac 02:00:00:00:00:%02x",
                      i / 200, i % 200, i);
        text += rule + (" ports " + ports + "port-channel1-8\n");
    }
    return text;
}

// Adds the mean time of the benchmark's iterations since start to the summary, in unit (scale per second),
// beside its goal, and labels the benchmark with the goal.
void summarise(const char *what, std::chrono::steady_clock::time_point start, benchmark::State &state, double scale,
               const char *unit, double goal) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mean = seconds / static_cast<double>(state.iterations()) * scale;
    char line[200];
    std::snprintf(line, sizeof line, "%s: %.*f %s (goal <= %g %s)", what, mean < 10 ? 2 : 1, mean, unit, goal, unit);
    bench::summary().push_back(line);
    std::snprintf(line, sizeof line, "goal: <= %g %s", goal, unit);
    state.SetLabel(line);
}

void BM_SessionRoundTrip(benchmark::State &state) {
    Switch empty("");
    if (!empty.ready()) {
        state.SkipWithError("the switch does not greet");
        return;
    }
    Session session(empty.socket());
    session.exchange("");  // the greeting
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (session.exchange("run show ip dhcp screening").find("\n0000 ") == std::string::npos) {
            state.SkipWithError("no reply of the show command");
            return;
        }
    }
    summarise("session round trip, \"run show ip dhcp screening\" without rules", start, state, 1e6, "us", 100);
}

// Runs dhcpftr-cli -s SOCKET -c "show ip dhcp screening", reading its output through a pipe; the bytes it
// printed, or -1 when it did not exit with 0.
long run_cli(const std::string &socket) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid =
        bench::spawn({DHCPFTR_CLI_BINARY, "-s", socket, "-c", "show ip dhcp screening"}, {.out = out[1]});
    ::close(out[1]);
    long bytes = 0;
    char chunk[64 * 1024];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        bytes += n;
    ::close(out[0]);
    int status = -1;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? bytes : -1;
}

void BM_CliShowFullTable(benchmark::State &state) {
    Switch full(full_configuration());
    if (!full.ready()) {
        state.SkipWithError("the switch does not greet");
        return;
    }
    long bytes = run_cli(full.socket());
    if (bytes < 400 * 1024) {
        state.SkipWithError("dhcpftr-cli failed or printed less than the full table");
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (run_cli(full.socket()) != bytes) {
            state.SkipWithError("dhcpftr-cli failed or printed something else");
            return;
        }
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    summarise("dhcpftr-cli -c \"show ip dhcp screening\", 255 rules of 248 ports, process start included", start,
              state, 1e3, "ms", 20);
}

}  // namespace

// Fixed iteration counts: each runs once, so each adds one line to the summary.
BENCHMARK(BM_SessionRoundTrip)->Iterations(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CliShowFullTable)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);
