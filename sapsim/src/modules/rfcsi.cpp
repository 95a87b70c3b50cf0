#include "sapsim/rfcsi.h"

#include "sapsim/system_config.h"
#include "sapsim/text.h"

#include <cstdio>
#include <ctime>

namespace sapsim {

namespace {

constexpr RfcsiField rfcsi_fields[] = {
    {"RFCPROTO", 0, 3},    {"RFCCHARTYP", 3, 4},  {"RFCINTTYP", 7, 3},    {"RFCFLOTYP", 10, 3},
    {"RFCDEST", 13, 32},   {"RFCHOST", 45, 8},    {"RFCSYSID", 53, 8},    {"RFCDATABS", 61, 8},
    {"RFCDBHOST", 69, 32}, {"RFCDBSYS", 101, 10}, {"RFCSAPRL", 111, 4},   {"RFCMACH", 115, 5},
    {"RFCOPSYS", 120, 10}, {"RFCTZONE", 130, 6},  {"RFCDAYST", 136, 1},   {"RFCIPADDR", 137, 15},
    {"RFCKERNRL", 152, 4}, {"RFCHOST2", 156, 32}, {"RFCSI_RESV", 188, 12}, {"RFCIPV6ADDR", 200, 45},
};
static_assert(200 + 45 == Rfcsi::chars);

} // namespace

const RfcsiField* Rfcsi::fields(size_t& count)
{
    count = sizeof rfcsi_fields / sizeof rfcsi_fields[0];
    return rfcsi_fields;
}

void Rfcsi::fill(const SystemConfig& config, char16_t* out)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char tzone[16];
    std::snprintf(tzone, sizeof tzone, "%6ld", static_cast<long>(local.tm_gmtoff));
    char sysnr[8];
    std::snprintf(sysnr, sizeof sysnr, "%02d", config.sysnr);

    const std::string values[] = {
        "011",                                              // RFCPROTO: protocol version
        "4103",                                             // RFCCHARTYP: UTF-16LE
        "LIT",                                              // RFCINTTYP: little endian
        "IE3",                                              // RFCFLOTYP: IEEE floats
        config.hostname + "_" + config.sysid + "_" + sysnr, // RFCDEST
        config.hostname,                                    // RFCHOST
        config.sysid,                                       // RFCSYSID
        config.sysid,                                       // RFCDATABS
        config.hostname,                                    // RFCDBHOST
        "SQLITE",                                           // RFCDBSYS
        config.release,                                     // RFCSAPRL
        "  390",                                            // RFCMACH: Linux x86_64
        "Linux",                                            // RFCOPSYS
        tzone,                                              // RFCTZONE: seconds east of UTC
        local.tm_isdst > 0 ? "X" : "",                      // RFCDAYST
        config.ip_address,                                  // RFCIPADDR
        config.kernel_release,                              // RFCKERNRL
        config.fqdn,                                        // RFCHOST2
        "",                                                 // RFCSI_RESV
        "::ffff:" + config.ip_address,                      // RFCIPV6ADDR
    };
    for (size_t i = 0; i < sizeof rfcsi_fields / sizeof rfcsi_fields[0]; ++i)
        put_chars(out + rfcsi_fields[i].offset, rfcsi_fields[i].length, values[i]);
}

} // namespace sapsim
