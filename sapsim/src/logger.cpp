#include "sapsim/logger.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace sapsim {

namespace {
constexpr const char* level_names[] = {"trace", "debug", "info", "warning", "error", "off"};
}

bool parse_log_level(std::string_view text, LogLevel& level)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (int i = 0; i <= static_cast<int>(LogLevel::off); ++i) {
        if (lower == level_names[i]) {
            level = static_cast<LogLevel>(i);
            return true;
        }
    }
    return false;
}

const char* log_level_name(LogLevel level)
{
    return level_names[static_cast<int>(level)];
}

Logger& Logger::instance()
{
    static Logger logger;
    return logger;
}

void Logger::set_level(LogLevel level)
{
    level_.store(level, std::memory_order_relaxed);
}

bool Logger::enabled(LogLevel level) const
{
    return level != LogLevel::off && level >= level_.load(std::memory_order_relaxed);
}

void Logger::write(LogLevel level, std::uint64_t connection, std::string_view text)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    char prefix[96];
    if (connection != 0)
        std::snprintf(prefix, sizeof prefix, "%s.%03d %-7s [c%llu] ", stamp, static_cast<int>(millis),
                      log_level_name(level), static_cast<unsigned long long>(connection));
    else
        std::snprintf(prefix, sizeof prefix, "%s.%03d %-7s ", stamp, static_cast<int>(millis), log_level_name(level));

    std::lock_guard lock(mutex_);
    std::fputs(prefix, stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

} // namespace sapsim
