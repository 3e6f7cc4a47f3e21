// Lines given on the command line or in a file, run in one session with their requests pipelined.
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "client.h"

namespace dhcpftr_cli {
namespace {

// Prints text to standard output, through stdio's buffer.
void print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace

int run_lines(Connection &session, const std::vector<std::string> &lines) {
    // The output may be long (a full rule table is hundreds of KB): a large buffer, written when full and
    // before each wait for the switch.
    static char buffer[64 * 1024];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

    // Log lines (after "terminal monitor") are printed as they come, between the outputs of the lines.
    session.on_log_line([](std::string_view text) {
        print(text);
        std::putc('\n', stdout);
    });
    // No prompt shows the lines here: the switch points an error into a line by printing the line with the
    // caret under it. A switch without that request answers 9000, which changes nothing either.
    session.queue("echo", "none");
    std::size_t settings = 1;
    for (const std::string &line : lines)
        session.queue("run", line);
    std::size_t answered = 0;
    bool refused = false, ended = false;
    while (answered < lines.size() && !ended) {
        while (!ended && answered < lines.size()) {
            std::optional<ReplyLine> line = session.next_line();
            if (!line)
                break;
            if (settings > 0) {
                settings -= line->final ? 1 : 0;
                continue;
            }
            switch (line->code) {
            case code::kOutputLine:
                print(line->text);
                std::putc('\n', stdout);
                break;
            case code::kOutputPiece:
                print(line->text);
                break;
            case code::kDone:
                break;
            case code::kRefused:
                refused = true;
                break;
            case code::kEnded:
                ended = true;
                break;
            case code::kNotUnderstood:
                std::fflush(stdout);
                std::fprintf(stderr, "dhcpftr-cli: the switch did not understand the request for line %zu: %.*s\n",
                             answered + 1, static_cast<int>(line->text.size()), line->text.data());
                refused = true;
                break;
            default:  // nothing else belongs to the reply of a command; a page length is for terminals
                break;
            }
            if (line->final)
                ++answered;
        }
        if (ended || answered == lines.size())
            break;
        // What has come so far is shown before waiting for more.
        std::fflush(stdout);
        session.send_some();
        pollfd socket{session.fd(), static_cast<short>(POLLIN | (session.unsent() ? POLLOUT : 0)), 0};
        if (::poll(&socket, 1, -1) < 0 && errno != EINTR)
            throw Failure(std::strerror(errno));
        if ((socket.revents & (POLLIN | POLLHUP | POLLERR)) && !session.fill())
            throw Failure("the connection closed with " + std::to_string(lines.size() - answered) +
                          (lines.size() - answered == 1 ? " line" : " lines") + " unanswered");
    }
    std::fflush(stdout);
    if (ended && answered < lines.size()) {
        const std::size_t left = lines.size() - answered;
        std::fprintf(stderr, "dhcpftr-cli: line %zu ended the session; %zu %s after it not run\n", answered, left,
                     left == 1 ? "line" : "lines");
        return kExitRefused;
    }
    return refused ? kExitRefused : kExitOk;
}

}  // namespace dhcpftr_cli
