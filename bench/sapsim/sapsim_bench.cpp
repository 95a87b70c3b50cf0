// Throughput and latency of rfclib against sapsim over loopback:
//   - one call of Z_SIM_ROWS returning ROWS lines of WIDTH bytes (GB/s),
//   - the median round trip of an empty call (RFC_PING),
//   - the peak resident memory of this, the receiving, process.
// Starts its own sapsim on a free port unless --port names a running one.
#include "child_process.h"
#include "temp_dir.h"

#include "rfclib/rfclib.h"

#include <CLI/CLI.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::u16string utf16(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::string last_error()
{
    RFC_ERROR_INFO_EX info{};
    RfcLastErrorEx(&info);
    std::string text;
    for (const SAP_UC* p = info.message; *p != 0; ++p)
        text += static_cast<char>(*p < 128 ? *p : '?');
    return text;
}

long peak_rss_kib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One Z_SIM_ROWS call; returns seconds, or a negative value on failure.
// `table` receives the rows; it is emptied, not freed, between calls, so the
// receiver holds at most one table.
double fetch_rows(RFC_HANDLE h, ITAB_H table, std::int32_t rows, std::int32_t width)
{
    ItFree(table);
    RFC_PARAMETER exporting[] = {{u"ROWS", 0, RFCTYPE_INT, 4, &rows}, {u"WIDTH", 0, RFCTYPE_INT, 4, &width},
                                 {nullptr, 0, 0, 0, nullptr}};
    RFC_PARAMETER importing[] = {{nullptr, 0, 0, 0, nullptr}};
    RFC_TABLE tables[] = {{u"DATA", 0, RFCTYPE_BYTE, static_cast<unsigned>(width), table, RFC_ITMODE_BYREFERENCE, 0}, {nullptr, 0, 0, 0, nullptr, 0, 0}};
    SAP_UC* exception = nullptr;
    const auto start = Clock::now();
    const RFC_RC rc = RfcCallReceive(h, u"Z_SIM_ROWS", exporting, importing, tables, &exception);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bool ok = rc == RFC_OK && ItFill(tables[0].ithandle) == static_cast<unsigned>(rows) &&
              ItLeng(tables[0].ithandle) == static_cast<unsigned>(width);
    if (ok && rows > 0) {  // each line starts with its number
        char number[16];
        std::snprintf(number, sizeof number, "%010d", rows);
        ok = std::memcmp(ItGetLine(tables[0].ithandle, static_cast<unsigned>(rows)), number, std::min<size_t>(10, static_cast<size_t>(width))) == 0;
    }
    if (!ok) {
        std::fprintf(stderr, "Z_SIM_ROWS failed (rc %d): %s\n", rc, last_error().c_str());
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"sapsim_bench: rfclib throughput and round trip against sapsim"};
    int port = 0;
    std::string sapsim = SAPSIM_EXE;
    std::int32_t rows = 1'000'000, width = 200;
    int repeat = 6, pings = 20000;
    app.add_option("--port", port, "Port of a running sapsim (default: start one)");
    app.add_option("--sapsim", sapsim, "sapsim executable to start")->capture_default_str();
    app.add_option("--rows", rows, "Rows per table")->capture_default_str();
    app.add_option("--width", width, "Bytes per row")->capture_default_str();
    app.add_option("--repeat", repeat, "Table transfers")->capture_default_str()->check(CLI::Range(1, 1000));
    app.add_option("--pings", pings, "Empty calls for the round trip")->capture_default_str()->check(CLI::Range(1, 10000000));
    CLI11_PARSE(app, argc, argv);

    std::unique_ptr<vurude::test::TempDir> data;
    vurude::test::ChildProcess child;
    if (port == 0) {
        data = std::make_unique<vurude::test::TempDir>();
        std::string error;
        if (!child.start({sapsim, "--data", data->path(), "--port", "0", "--bookings", "0", "--log-level", "warning"}, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        port = child.wait_for_port(std::chrono::seconds(60));
        if (port <= 0) {
            std::fprintf(stderr, "sapsim did not start:\n%s\n", child.stderr_text().c_str());
            return 1;
        }
    }

    RfcInit();
    const std::u16string connect = utf16("ashost=\"127.0.0.1\" gwserv=\"" + std::to_string(port) +
                                         "\" client=\"100\" user=\"DEMO\" passwd=\"demo\" lang=\"E\"");
    RFC_ERROR_INFO_EX error{};
    const RFC_HANDLE h = RfcOpenEx(connect.c_str(), &error);
    if (h == RFC_HANDLE_NULL) {
        std::fprintf(stderr, "logon failed: %s\n", last_error().c_str());
        return 1;
    }

    const long rss_before = peak_rss_kib();
    const double bytes = static_cast<double>(rows) * width;
    std::vector<double> rates;  // warm transfers: the first one also faults in both tables' pages
    double cold = 0;
    ITAB_H table = ItCreate(u"DATA", static_cast<unsigned>(width), static_cast<unsigned>(rows), 0);
    for (int i = 0; i < repeat; ++i) {
        const double seconds = fetch_rows(h, table, rows, width);
        if (seconds < 0)
            return 1;
        const double rate = bytes / seconds / 1e9;
        if (i == 0)
            cold = rate;
        if (i > 0 || repeat == 1)
            rates.push_back(rate);
        std::printf("transfer %d: %.0f MB in %.3f s = %.2f GB/s\n", i + 1, bytes / 1e6, seconds, rate);
    }
    std::sort(rates.begin(), rates.end());
    ItDelete(table);
    const long rss_after = peak_rss_kib();

    std::vector<double> trips;
    trips.reserve(static_cast<size_t>(pings));
    RFC_PARAMETER none[] = {{nullptr, 0, 0, 0, nullptr}};
    RFC_TABLE no_tables[] = {{nullptr, 0, 0, 0, nullptr, 0, 0}};
    for (int i = 0; i < pings; ++i) {
        SAP_UC* exception = nullptr;
        const auto start = Clock::now();
        if (RfcCallReceive(h, u"RFC_PING", none, none, no_tables, &exception) != RFC_OK) {
            std::fprintf(stderr, "RFC_PING failed: %s\n", last_error().c_str());
            return 1;
        }
        trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(trips.begin(), trips.end());
    RfcClose(h);

    std::printf("table: %d rows x %d bytes = %.0f MB per call, %d calls\n", rows, width, bytes / 1e6, repeat);
    std::printf("throughput: first (cold) %.2f GB/s; later transfers median %.2f GB/s, best %.2f GB/s\n", cold,
                rates[rates.size() / 2], rates.back());
    std::printf("round trip of RFC_PING over %d calls: median %.1f us, p99 %.1f us\n", pings, trips[trips.size() / 2],
                trips[trips.size() * 99 / 100]);
    std::printf("peak RSS of the receiver: %.0f MB before the transfers, %.0f MB after %d of them (one table is %.0f MB)\n",
                rss_before / 1024.0, rss_after / 1024.0, repeat, bytes / 1e6);
    return 0;
}
