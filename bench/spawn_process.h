// Processes that the benchmarks start: the switch, its client, the scripts of the SNMP master. Each gets its
// standard streams from /dev/null unless the benchmark gives one of its own descriptors, so no benchmark's
// output is mixed with the table.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

extern char **environ;

namespace bench {

// A standard stream of a process started by spawn(): /dev/null, the benchmark's own, or (any other value) a
// descriptor of the benchmark's, which becomes the stream.
inline constexpr int kDevNull = -1;
inline constexpr int kInherited = -2;

// The standard input, output and error of a process started by spawn().
struct Streams {
    int in = kDevNull;
    int out = kDevNull;
    int err = kDevNull;
};

// Starts the program args[0] (a path) with the arguments args, the benchmark's environment and the standard
// streams given; its PID, or -1 when it did not start. The benchmark waits for it.
inline pid_t spawn(std::vector<std::string> args, Streams streams = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const struct {
        int from, to, flags;
    } plan[] = {{streams.in, STDIN_FILENO, O_RDONLY},
                {streams.out, STDOUT_FILENO, O_WRONLY},
                {streams.err, STDERR_FILENO, O_WRONLY}};
    for (const auto &stream : plan) {
        if (stream.from == kDevNull)
            posix_spawn_file_actions_addopen(&actions, stream.to, "/dev/null", stream.flags, 0);
        else if (stream.from != kInherited)
            posix_spawn_file_actions_adddup2(&actions, stream.from, stream.to);
    }
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts args as spawn() does and waits for its end; its wait status, or -1 when it did not start.
inline int run(std::vector<std::string> args, Streams streams = {}) {
    const pid_t pid = spawn(std::move(args), streams);
    int status = -1;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    return status;
}

}  // namespace bench
