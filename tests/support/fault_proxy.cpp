#include "fault_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <tuple>
#include <vector>

namespace vurude::test {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from one side that still have to reach the other.
struct Direction {
    std::vector<char> chunk;
    size_t sent = 0;
    Clock::time_point due;
    bool ended = false;  // the sending side has closed its half, and the end has been passed on
};

struct Link {
    int client = -1;
    int target = -1;  // -1: held since its accept, never connected
    Direction up;     // client to target
    Direction down;   // target to client
    uint64_t forwarded = 0;
    uint64_t reset_after = 0;
    bool held = false;
    bool dead = false;
};

void close_with_reset(int fd)
{
    if (fd < 0)
        return;
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
}

// A connected socket to the target, or -1 within connect_timeout.
int connect_target(uint32_t address, uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = port;
    addr.sin_addr.s_addr = address;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        pollfd p{fd, POLLOUT, 0};
        int err = errno;
        if (err == EINPROGRESS) {
            int r;
            do
                r = poll(&p, 1, static_cast<int>(FaultProxy::connect_timeout.count()));
            while (r < 0 && errno == EINTR);
            socklen_t length = sizeof err;
            if (r <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
                err = ETIMEDOUT;
        }
        if (err != 0 && err != EINPROGRESS) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

} // namespace

// The proxy's thread: everything that touches the sockets.
class FaultProxy::Loop {
public:
    explicit Loop(FaultProxy& proxy) : proxy_(proxy) {}
    void run();

private:
    // Settings are read when they are used: a change made before a
    // connection reaches the proxy, or before bytes do, applies to them.
    Settings settings();
    void accept_one();
    void serve(Link& link, const std::vector<pollfd>& fds, size_t first);
    // Takes bytes from `from` into d when readable; passes d on to `to` when due and writable.
    void read_side(Link& link, Direction& d, int from, int to, short revents);
    void write_side(Link& link, Direction& d, int to, short revents);
    void reset(Link& link);
    void finish(Link& link);

    FaultProxy& proxy_;
    std::list<Link> links_;
};

void FaultProxy::Loop::run()
{
    for (;;) {
        bool reset_now = false;
        bool hold_now = false;
        uint64_t request = 0;
        {
            std::lock_guard lock(proxy_.mutex_);
            if (proxy_.stopping_)
                break;
            reset_now = proxy_.reset_requested_;
            hold_now = proxy_.hold_requested_;
            proxy_.reset_requested_ = proxy_.hold_requested_ = false;
            request = proxy_.requested_;
        }
        if (reset_now)
            for (Link& link : links_)
                reset(link);
        if (hold_now)
            for (Link& link : links_)
                link.held = true;
        links_.remove_if([](const Link& link) { return link.dead; });
        if (request != 0) {
            std::lock_guard lock(proxy_.mutex_);
            proxy_.finished_ = std::max(proxy_.finished_, request);
            proxy_.done_.notify_all();
        }

        // What to wait for: the wake-up, new connections, and per direction
        // either more bytes or the moment to pass the chunk on.
        const Clock::time_point now = Clock::now();
        Clock::time_point next = now + std::chrono::hours(1);
        std::vector<pollfd> fds = {{proxy_.wake_fd_, POLLIN, 0}, {proxy_.listen_fd_, POLLIN, 0}};
        std::vector<size_t> first;
        for (Link& link : links_) {
            first.push_back(fds.size());
            if (link.held)
                continue;
            for (auto [d, from, to] : {std::tuple{&link.up, link.client, link.target},
                                       std::tuple{&link.down, link.target, link.client}}) {
                short from_events = 0;
                short to_events = 0;
                if (d->chunk.empty() && !d->ended)
                    from_events = POLLIN;
                else if (!d->chunk.empty() && d->due <= now)
                    to_events = POLLOUT;
                else if (!d->chunk.empty())
                    next = std::min(next, d->due);
                // A descriptor without events is left out: poll would still report a hang-up on it.
                fds.push_back({from_events != 0 ? from : -1, from_events, 0});
                fds.push_back({to_events != 0 ? to : -1, to_events, 0});
            }
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(wait.count(), 0)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (fds[0].revents != 0) {
            uint64_t count;
            (void)!read(proxy_.wake_fd_, &count, sizeof count);
        }
        if (fds[1].revents != 0)
            accept_one();
        size_t k = 0;
        for (Link& link : links_) {
            if (k < first.size() && !link.held && !link.dead)
                serve(link, fds, first[k]);
            ++k;
        }
    }
    for (Link& link : links_) {
        close(link.client);
        if (link.target >= 0)
            close(link.target);
    }
    links_.clear();
}

FaultProxy::Settings FaultProxy::Loop::settings()
{
    std::lock_guard lock(proxy_.mutex_);
    return proxy_.settings_;
}

void FaultProxy::Loop::accept_one()
{
    const int fd = accept4(proxy_.listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    const Settings now = settings();
    {
        std::lock_guard lock(proxy_.mutex_);
        ++proxy_.accepted_;
        proxy_.done_.notify_all();
    }
    if (links_.size() >= max_connections) {
        close(fd);
        return;
    }
    Link link;
    link.client = fd;
    link.reset_after = now.reset_after;
    if (now.black_hole) {
        link.held = true;
    } else {
        link.target = connect_target(proxy_.target_address_, proxy_.target_port_);
        if (link.target < 0) {
            close_with_reset(fd);
            return;
        }
    }
    links_.push_back(std::move(link));
}

void FaultProxy::Loop::serve(Link& link, const std::vector<pollfd>& fds, size_t first)
{
    read_side(link, link.up, link.client, link.target, fds[first].revents);
    if (!link.dead)
        write_side(link, link.up, link.target, fds[first + 1].revents);
    if (!link.dead)
        read_side(link, link.down, link.target, link.client, fds[first + 2].revents);
    if (!link.dead)
        write_side(link, link.down, link.client, fds[first + 3].revents);
    if (!link.dead && link.up.ended && link.down.ended)
        finish(link);
}

void FaultProxy::Loop::read_side(Link& link, Direction& d, int from, int to, short revents)
{
    if (revents == 0 || !d.chunk.empty() || d.ended)
        return;
    size_t room = chunk_bytes;
    if (link.reset_after != 0)
        room = static_cast<size_t>(std::min<uint64_t>(room, link.reset_after - link.forwarded));
    if (room == 0)
        return;  // the other direction took the last bytes; the reset follows its write
    char buffer[chunk_bytes];
    const ssize_t n = recv(from, buffer, room, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n < 0) {
        reset(link);
        return;
    }
    if (n == 0) {
        d.ended = true;
        shutdown(to, SHUT_WR);
        return;
    }
    d.chunk.assign(buffer, buffer + n);
    d.sent = 0;
    d.due = Clock::now() + settings().latency;
    link.forwarded += static_cast<uint64_t>(n);
}

void FaultProxy::Loop::write_side(Link& link, Direction& d, int to, short revents)
{
    if (revents == 0 || d.chunk.empty())
        return;
    const ssize_t n = send(to, d.chunk.data() + d.sent, d.chunk.size() - d.sent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n < 0) {
        reset(link);
        return;
    }
    d.sent += static_cast<size_t>(n);
    if (d.sent < d.chunk.size())
        return;
    d.chunk.clear();
    if (link.reset_after != 0 && link.forwarded >= link.reset_after)
        reset(link);
}

void FaultProxy::Loop::reset(Link& link)
{
    if (link.dead)
        return;
    {
        // Counted first: a peer that sees the reset may ask for the count at once.
        std::lock_guard lock(proxy_.mutex_);
        ++proxy_.resets_;
    }
    close_with_reset(link.client);
    close_with_reset(link.target);
    link.dead = true;
}

void FaultProxy::Loop::finish(Link& link)
{
    close(link.client);
    close(link.target);
    link.dead = true;
}

FaultProxy::~FaultProxy()
{
    stop();
}

bool FaultProxy::start(const std::string& target_host, int target_port, std::string& error)
{
    in_addr target{};
    if (thread_.joinable() || inet_pton(AF_INET, target_host.c_str(), &target) != 1 || target_port <= 0
        || target_port > 65535) {
        error = thread_.joinable() ? "already started" : "target must be a numeric IPv4 address and a port";
        return false;
    }
    target_address_ = target.s_addr;
    target_port_ = htons(static_cast<uint16_t>(target_port));
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listen_fd_ < 0 || wake_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || listen(listen_fd_, 64) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        error = std::string("proxy cannot listen: ") + std::strerror(errno);
        for (int* fd : {&listen_fd_, &wake_fd_}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
        return false;
    }
    port_ = ntohs(addr.sin_port);
    stopping_ = false;
    thread_ = std::thread([this] { Loop(*this).run(); });
    return true;
}

void FaultProxy::wake()
{
    const uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);
}

void FaultProxy::pass_through()
{
    std::lock_guard lock(mutex_);
    settings_ = Settings{};
    wake();
}

void FaultProxy::set_latency(std::chrono::milliseconds delay)
{
    std::lock_guard lock(mutex_);
    settings_.latency = delay;
    wake();
}

void FaultProxy::reset_after(uint64_t bytes)
{
    std::lock_guard lock(mutex_);
    settings_.reset_after = bytes;
    wake();
}

void FaultProxy::set_black_hole(bool on)
{
    std::lock_guard lock(mutex_);
    settings_.black_hole = on;
    wake();
}

void FaultProxy::command(bool reset, bool hold)
{
    std::unique_lock lock(mutex_);
    if (!thread_.joinable() || stopping_)
        return;
    reset_requested_ = reset_requested_ || reset;
    hold_requested_ = hold_requested_ || hold;
    const uint64_t mine = ++requested_;
    wake();
    done_.wait_for(lock, std::chrono::seconds(10), [&] { return finished_ >= mine || stopping_; });
}

void FaultProxy::reset_all()
{
    command(true, false);
}

void FaultProxy::hold_established()
{
    command(false, true);
}

size_t FaultProxy::accepted()
{
    std::lock_guard lock(mutex_);
    return accepted_;
}

size_t FaultProxy::resets()
{
    std::lock_guard lock(mutex_);
    return resets_;
}

bool FaultProxy::wait_accepted(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [&] { return accepted_ >= count; });
}

void FaultProxy::stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake();
        done_.notify_all();
    }
    thread_.join();
    close(listen_fd_);
    close(wake_fd_);
    listen_fd_ = wake_fd_ = -1;
}

} // namespace vurude::test
