// ChildProcess: runs a real program as a child for end-to-end tests.
//
//   vurude::test::ChildProcess sim;
//   std::string error;
//   ASSERT_TRUE(sim.start({SAPSIM_EXE, "--port", "0", "--data", dir.path()}, error)) << error;
//   const int port = sim.wait_for_port(std::chrono::seconds(30));   // -1 on timeout/exit
//   ASSERT_GT(port, 0) << sim.stderr_text();
//   ... talk to 127.0.0.1:port ...
//   sim.stop();    // optional: the destructor does it too
//
// The child's standard output and standard error are read on a thread of the
// helper and kept; tests wait on them with a bounded timeout (wait_for_stdout,
// wait_for_stderr) instead of sleeping. The ready line is the first stdout line
// containing "listening on port N". The child gets SIGKILL if the test process
// dies (PR_SET_PDEATHSIG), and stop() / the destructor send SIGTERM, wait up to
// a grace period, then SIGKILL, and reap it, so no test leaves a process behind.
// Environment variable VURUDE_TEST_ECHO=1 copies the child's output to stderr.
// The child inherits the test's environment; set_environment() adds to it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vurude::test {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with the given arguments. False and `error` when
    // the program cannot be started (exec failure is reported here, not later).
    bool start(const std::vector<std::string>& argv, std::string& error);

    // "NAME=value" entries that later starts put into the child's environment,
    // replacing a variable of the same name the test process has.
    void set_environment(std::vector<std::string> assignments) { environment_ = std::move(assignments); }

    // Waits until a complete stdout (or stderr) line contains `text`; returns
    // that line, or nullopt on timeout or when the child's output ended first.
    std::optional<std::string> wait_for_stdout(std::string_view text, std::chrono::milliseconds timeout);
    std::optional<std::string> wait_for_stderr(std::string_view text, std::chrono::milliseconds timeout);

    // Waits for the ready line "... listening on port N" and returns N, or -1.
    int wait_for_port(std::chrono::milliseconds timeout);

    // Waits for the child to exit by itself; its exit status as from
    // waitpid (use WIFEXITED / WEXITSTATUS), or nullopt on timeout.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);

    // SIGTERM, up to `grace` for the exit, then SIGKILL; returns the wait status.
    // Also waits until all output has been read. Idempotent.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

    // Sends a signal (e.g. SIGKILL to simulate a dead partner) without reaping.
    void signal(int signo);

    pid_t pid() const { return pid_; }
    // Whether the child has not exited; reaps it when it has, so a crash
    // is seen here rather than only at stop().
    bool running();
    // Everything read so far.
    std::string stdout_text();
    std::string stderr_text();

private:
    void read_loop(int out_fd, int err_fd);
    std::optional<std::string> wait_for_line(bool use_stdout, std::string_view text, std::chrono::milliseconds timeout);
    void finish_reader();

    pid_t pid_ = -1;
    std::optional<int> status_;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
    bool output_ended_ = false;
    bool echo_ = false;
    std::vector<std::string> environment_;
};

} // namespace vurude::test
