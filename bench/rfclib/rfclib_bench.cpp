// Data path and latency of the library against itself over loopback: a
// gateway-side partner thread serves BIG_TABLE (1,000,000 lines of 200 bytes,
// filled once) and EMPTY (no data); the client measures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "rfclib/rfc_gateway.h"

namespace {

constexpr unsigned kRows = 1000000;
constexpr unsigned kLeng = 200;

ITAB_H big_table() {
  static ITAB_H table = [] {
    ITAB_H t = ItCreate(u"DATA", kLeng, kRows, 0);
    for (unsigned k = 1; k <= kRows; ++k) std::memset(ItAppLine(t), static_cast<int>(k % 251), kLeng);
    return t;
  }();
  return table;
}

int accept_all(void*, const RFC_GW_LOGON_DATA*, RFC_ATTRIBUTES*, RFC_ERROR_INFO_EX*) { return 0; }

void serve(void*, RFC_HANDLE h, const RFC_GW_LOGON_DATA*) {
  RFC_TABLE tables[] = {{u"DATA", 0, RFCTYPE_BYTE, kLeng, big_table(), 0, 0},
                        {nullptr, 0, 0, 0, nullptr, 0, 0}};
  for (;;) {
    const RFC_RC rc = RfcWaitForRequest(h, 60);
    if (rc == RFC_RETRY) continue;
    if (rc != RFC_OK) return;
    SAP_UC name[RFC_FUNCNAME_LN + 1];
    if (RfcGetName(h, name) != RFC_OK || RfcGetData(h, nullptr, nullptr) != RFC_OK) return;
    const bool big = std::u16string(name) == u"BIG_TABLE";
    if (RfcSendData(h, nullptr, big ? tables : nullptr) != RFC_OK) return;
  }
}

struct Partner {
  RFC_GATEWAY gateway = nullptr;
  RFC_HANDLE handle = RFC_HANDLE_NULL;

  Partner() {
    big_table();
    RFC_GW_CONFIG config{};
    config.bind_address = "127.0.0.1";
    config.logon_check = accept_all;
    config.serve = serve;
    gateway = RfcGwStart(&config, nullptr);
    const std::string port = std::to_string(RfcGwPort(gateway));
    const std::u16string cs = u"gwhost=127.0.0.1 gwserv=" + std::u16string(port.begin(), port.end()) +
                              u" client=001 user=BENCH passwd=x lang=E";
    handle = RfcOpenEx(cs.c_str(), nullptr);
  }
  ~Partner() {
    RfcClose(handle);
    RfcGwStop(gateway);
  }
};

Partner& partner() {
  static Partner p;
  return p;
}

// state.range(0): 1 reuses the receiving table (its blocks stay), 0 lets the
// library create it on every receipt.
void BM_TableFromPartner(benchmark::State& state) {
  Partner& p = partner();
  const bool reuse = state.range(0) == 1;
  ITAB_H mine = reuse ? ItCreate(u"DATA", kLeng, kRows, 0) : nullptr;
  for (auto _ : state) {
    // Tables travel both ways: an emptied table sends no lines with the call.
    if (mine != nullptr) ItFree(mine);
    RFC_TABLE t[] = {{u"DATA", 0, RFCTYPE_BYTE, kLeng, mine, 0, 0}, {nullptr, 0, 0, 0, nullptr, 0, 0}};
    SAP_UC* exception = nullptr;
    if (RfcCallReceive(p.handle, u"BIG_TABLE", nullptr, nullptr, t, &exception) != RFC_OK ||
        ItFill(t[0].ithandle) != kRows) {
      state.SkipWithError("call failed");
      break;
    }
    if (!reuse) ItDelete(t[0].ithandle);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kRows * kLeng);
  if (mine != nullptr) ItDelete(mine);
}
BENCHMARK(BM_TableFromPartner)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_EmptyRoundTrip(benchmark::State& state) {
  Partner& p = partner();
  std::vector<double> micros;
  micros.reserve(1 << 20);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    SAP_UC* exception = nullptr;
    if (RfcCallReceive(p.handle, u"EMPTY", nullptr, nullptr, nullptr, &exception) != RFC_OK) {
      state.SkipWithError("call failed");
      break;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_EmptyRoundTrip)->MinTime(3.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
