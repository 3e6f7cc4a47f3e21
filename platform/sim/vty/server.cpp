#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vty/connection.h"
#include "vty/sim_vty.h"

namespace sim::vty {
namespace {

constexpr const char *kDefaultGroup = "dhcpftr";

std::string reason(const std::string &what) { return what + ": " + std::strerror(errno); }

bool address_of(const std::string &path, sockaddr_un &address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// Makes room for the socket at path: nothing there, or a socket nobody answers on any more (a switch that
// was killed leaves it), which goes. Returns the refusal, or "".
std::string clear_stale(const std::string &path, const sockaddr_un &address) {
    struct stat info{};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "" : reason(path);
    if (!S_ISSOCK(info.st_mode))
        return path + " exists and is not a socket";
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool served = probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (probe >= 0)
        ::close(probe);
    if (served)
        return "another switch serves " + path;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return reason(path);
    return "";
}

// The group the socket gets: the named one, else "dhcpftr" when it exists. -1: keep the process's; false when
// a named group does not exist.
bool group_of(const std::string &name, gid_t &gid) {
    const group *found = ::getgrnam(name.empty() ? kDefaultGroup : name.c_str());
    if (found == nullptr) {
        gid = static_cast<gid_t>(-1);
        return name.empty();
    }
    gid = found->gr_gid;
    return true;
}

// The name of the user at the other end of a connection ("uid N" when it has none).
std::string peer_user(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return "unknown";
    char buffer[1024];
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(credentials.uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(credentials.uid);
}

}  // namespace

std::unique_ptr<Server> Server::listen(const Settings &settings, std::string &error) {
    sockaddr_un address;
    if (!address_of(settings.path, address)) {
        error = "the socket path must have 1 to " + std::to_string(sizeof address.sun_path - 1) + " characters";
        return nullptr;
    }
    gid_t gid;
    if (!group_of(settings.group, gid)) {
        error = "no group " + settings.group;
        return nullptr;
    }
    if (error = clear_stale(settings.path, address); !error.empty())
        return nullptr;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = reason("socket");
        return nullptr;
    }
    // Created without any access for others, then opened to the group: never wider than 0660.
    const mode_t mask = ::umask(0177);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, 64) != 0 || ::chmod(settings.path.c_str(), 0660) != 0 ||
        (gid != static_cast<gid_t>(-1) && ::chown(settings.path.c_str(), static_cast<uid_t>(-1), gid) != 0)) {
        error = reason(settings.path);
        if (bound)
            ::unlink(settings.path.c_str());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<Server>(new Server(settings, fd));
}

Server::Server(Settings settings, int fd) : settings_(std::move(settings)), fd_(fd) {}

Server::~Server() {
    connections_.clear();
    ::close(fd_);
    ::unlink(settings_.path.c_str());
}

void Server::prepare(loop::Wait &wait) {
    wait.fds.push_back(fd_);
    for (const auto &connection : connections_)
        connection->prepare(wait);
}

void Server::dispatch(const std::vector<int> &ready) {
    const auto is_ready = [&ready](int fd) { return std::find(ready.begin(), ready.end(), fd) != ready.end(); };
    if (is_ready(fd_))
        accept_waiting();
    // Every session is served at every turn: one with whole requests waiting runs them even when nothing new
    // came, and one whose output waits checks how long it has waited.
    std::erase_if(connections_, [&](const std::unique_ptr<Connection> &connection) {
        return !connection->serve(is_ready(connection->fd()));
    });
}

void Server::accept_waiting() {
    for (;;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int number = next_number_++;
        connections_.push_back(std::make_unique<Connection>(fd, number, peer_user(fd), settings_));
    }
}

}  // namespace sim::vty
