// FaultProxy: a TCP proxy for tests that can be switched, while it runs, to
// misbehave the way slow networks, broken links and frozen partners do.
//
//   vurude::test::FaultProxy proxy;
//   std::string error;
//   ASSERT_TRUE(proxy.start("127.0.0.1", target_port, error)) << error;
//   ... connect to 127.0.0.1:proxy.port() instead of the target ...
//   proxy.set_latency(20ms);     // every chunk waits 20 ms before it is passed on
//   proxy.reset_after(100);      // connections accepted from now on: RST after 100 bytes
//   proxy.reset_all();           // RST on both sides of every connection, now
//   proxy.set_black_hole(true);  // new connections are accepted and held: nothing passes
//   proxy.hold_established();    // open connections stop passing anything, stay open
//   proxy.pass_through();        // new connections pass everything again at once
//   proxy.stop();                // optional: the destructor does it too
//
// One thread of the proxy does all socket work (poll over the listener, the
// connections and a wake-up descriptor); the operations above only change
// settings under a lock and wake it, from any thread. reset_all() and
// hold_established() return once the proxy has done them. Bounded: at most
// max_connections connections at once (more are accepted and closed at once),
// one chunk of at most chunk_bytes per direction in flight, connecting to the
// target gives up after connect_timeout. A reset closes with SO_LINGER 0, so
// both peers see a reset, not an orderly end. stop() ends the thread and
// closes every socket.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace vurude::test {

class FaultProxy {
public:
    static constexpr size_t max_connections = 64;
    static constexpr size_t chunk_bytes = 16384;
    static constexpr std::chrono::milliseconds connect_timeout{5000};

    FaultProxy() = default;
    ~FaultProxy();
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    // Listens on a free loopback port and forwards to target_host (numeric
    // IPv4) : target_port. False and `error` when it cannot listen.
    bool start(const std::string& target_host, int target_port, std::string& error);
    int port() const { return port_; }

    // Faults; each takes effect for what is forwarded or accepted from now on.
    void pass_through();
    void set_latency(std::chrono::milliseconds delay);
    void reset_after(uint64_t bytes);  // 0: never
    void set_black_hole(bool on);
    // These act on the connections open now and return when done.
    void reset_all();
    void hold_established();

    // Connections accepted in all, and connections reset in all.
    size_t accepted();
    size_t resets();
    // Waits until `count` connections have been accepted in all; false on timeout.
    bool wait_accepted(size_t count, std::chrono::milliseconds timeout);

    void stop();

private:
    struct Settings {
        std::chrono::milliseconds latency{0};
        uint64_t reset_after = 0;
        bool black_hole = false;
    };
    class Loop;

    // Asks the loop for a command and waits until it has run it.
    void command(bool reset, bool hold);
    void wake();

    int port_ = 0;
    int listen_fd_ = -1;
    int wake_fd_ = -1;
    uint32_t target_address_ = 0;  // network order
    uint16_t target_port_ = 0;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable done_;
    Settings settings_;
    bool stopping_ = false;
    uint64_t requested_ = 0;  // commands asked for
    uint64_t finished_ = 0;   // commands the loop has run
    bool reset_requested_ = false;
    bool hold_requested_ = false;
    size_t accepted_ = 0;
    size_t resets_ = 0;

    friend class Loop;
};

} // namespace vurude::test
