#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vurude::test {

namespace {

// Finds a complete line containing `text` in `buffer`.
std::optional<std::string> find_line(const std::string& buffer, std::string_view text)
{
    size_t start = 0;
    for (;;) {
        const size_t end = buffer.find('\n', start);
        if (end == std::string::npos)
            return std::nullopt;
        const std::string_view line(buffer.data() + start, end - start);
        if (line.find(text) != std::string_view::npos)
            return std::string(line);
        start = end + 1;
    }
}

} // namespace

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const std::vector<std::string>& argv, std::string& error)
{
    if (pid_ > 0 || argv.empty()) {
        error = pid_ > 0 ? "already started" : "no program given";
        return false;
    }
    int out[2], err[2], exec_error[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(exec_error, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& a : environment_)
            replaced = replaced || std::string_view(a).substr(0, a.find('=')) == name;
        if (!replaced)
            env.push_back(*e);
    }
    for (const std::string& a : environment_)
        env.push_back(const_cast<char*>(a.c_str()));
    env.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        for (int fd : {out[0], out[1], err[0], err[1], exec_error[0], exec_error[1]})
            close(fd);
        return false;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(126);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execve(args[0], args.data(), env.data());
        const int e = errno;
        (void)!write(exec_error[1], &e, sizeof e);
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    close(exec_error[1]);
    int exec_errno = 0;
    ssize_t n;
    do
        n = read(exec_error[0], &exec_errno, sizeof exec_errno);
    while (n < 0 && errno == EINTR);
    close(exec_error[0]);
    pid_ = pid;
    if (n > 0) {
        error = "cannot run " + argv[0] + ": " + std::strerror(exec_errno);
        close(out[0]);
        close(err[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        status_ = status;
        return false;
    }
    const char* echo = std::getenv("VURUDE_TEST_ECHO");
    echo_ = echo != nullptr && std::strcmp(echo, "1") == 0;
    output_ended_ = false;
    reader_ = std::thread([this, o = out[0], e = err[0]] { read_loop(o, e); });
    return true;
}

void ChildProcess::read_loop(int out_fd, int err_fd)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int open_count = 2;
    char buf[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
                continue;
            }
            if (echo_)
                (void)!write(STDERR_FILENO, buf, static_cast<size_t>(n));
            std::lock_guard lock(mutex_);
            (i == 0 ? out_ : err_).append(buf, static_cast<size_t>(n));
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    output_ended_ = true;
    changed_.notify_all();
}

std::optional<std::string> ChildProcess::wait_for_line(bool use_stdout, std::string_view text,
                                                       std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    changed_.wait_for(lock, timeout, [&] {
        found = find_line(use_stdout ? out_ : err_, text);
        return found.has_value() || output_ended_;
    });
    return found;
}

std::optional<std::string> ChildProcess::wait_for_stdout(std::string_view text, std::chrono::milliseconds timeout)
{
    return wait_for_line(true, text, timeout);
}

std::optional<std::string> ChildProcess::wait_for_stderr(std::string_view text, std::chrono::milliseconds timeout)
{
    return wait_for_line(false, text, timeout);
}

int ChildProcess::wait_for_port(std::chrono::milliseconds timeout)
{
    static constexpr std::string_view marker = "listening on port ";
    const std::optional<std::string> line = wait_for_stdout(marker, timeout);
    if (!line)
        return -1;
    const int port = std::atoi(line->c_str() + line->find(marker) + marker.size());
    return port > 0 && port < 65536 ? port : -1;
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds timeout)
{
    if (status_ || pid_ <= 0)
        return status_;
    // A pid file descriptor becomes readable when the child exits: no polling loop.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int r;
        do
            r = poll(&p, 1, static_cast<int>(timeout.count()));
        while (r < 0 && errno == EINTR);
        close(pidfd);
        if (r == 0)
            return std::nullopt;
    }
    int status = 0;
    pid_t r;
    do
        r = waitpid(pid_, &status, pidfd >= 0 ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r != pid_)
        return std::nullopt;
    status_ = status;
    finish_reader();
    return status_;
}

bool ChildProcess::running()
{
    if (pid_ <= 0 || status_)
        return false;
    int status = 0;
    pid_t r;
    do
        r = waitpid(pid_, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r != pid_)
        return true;
    status_ = status;
    finish_reader();
    return false;
}

void ChildProcess::signal(int signo)
{
    if (pid_ > 0 && !status_)
        kill(pid_, signo);
}

int ChildProcess::stop(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return 0;
    if (!status_) {
        kill(pid_, SIGTERM);
        if (!wait_exit(grace)) {
            kill(pid_, SIGKILL);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            status_ = status;
        }
    }
    finish_reader();
    return *status_;
}

void ChildProcess::finish_reader()
{
    if (reader_.joinable())
        reader_.join();
}

std::string ChildProcess::stdout_text()
{
    std::lock_guard lock(mutex_);
    return out_;
}

std::string ChildProcess::stderr_text()
{
    std::lock_guard lock(mutex_);
    return err_;
}

} // namespace vurude::test
