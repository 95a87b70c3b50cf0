// Operator log of the simulated system: one line per event on standard error,
// "2026-01-31 12:00:00.123 INFO  [c7] text". The connection id ([c7]) ties the
// lines of one RFC connection together; 0 means "not about a connection".
// Passwords are never handed to the logger: callers log user and client only.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>

namespace sapsim {

enum class LogLevel { trace = 0, debug, info, warning, error, off };

// Parses "trace", "debug", "info", "warning", "error", "off" (case-insensitive).
bool parse_log_level(std::string_view text, LogLevel& level);
const char* log_level_name(LogLevel level);

class Logger {
public:
    static Logger& instance();

    void set_level(LogLevel level);
    bool enabled(LogLevel level) const;
    // Writes one complete line; any thread.
    void write(LogLevel level, std::uint64_t connection, std::string_view text);

private:
    Logger() = default;
    std::atomic<LogLevel> level_{LogLevel::info};
    std::mutex mutex_;
};

// Collects one log line and writes it when it goes out of scope.
class LogLine {
public:
    LogLine(LogLevel level, std::uint64_t connection) : level_(level), connection_(connection) {}
    ~LogLine() { Logger::instance().write(level_, connection_, stream_.str()); }
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    template <typename T>
    LogLine& operator<<(const T& value)
    {
        stream_ << value;
        return *this;
    }

private:
    LogLevel level_;
    std::uint64_t connection_;
    std::ostringstream stream_;
};

} // namespace sapsim

// Builds the line only when the level is enabled. The loop form (runs at most
// once) keeps the macro safe inside an unbraced if / else.
#define SAPSIM_LOG(level, connection)                                                                   \
    for (bool sapsim_log_on_ = ::sapsim::Logger::instance().enabled(::sapsim::LogLevel::level); sapsim_log_on_; \
         sapsim_log_on_ = false)                                                                         \
    ::sapsim::LogLine(::sapsim::LogLevel::level, (connection))
