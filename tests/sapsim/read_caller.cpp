#include "read_caller.h"

#include "sapsim_process.h"

#include "sapsim/text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace sapsim_test {

namespace {

constexpr RFC_PARAMETER end_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        parts.push_back(part);
    return parts;
}

std::string utf16_text(const std::string& bytes, size_t offset, size_t size)
{
    std::u16string text(size / 2, u' ');
    std::memcpy(text.data(), bytes.data() + offset, size);
    return sapsim::to_utf8(text);
}

std::int64_t little_endian(const std::string& bytes, size_t offset, size_t size, bool is_signed)
{
    std::uint64_t value = 0;
    for (size_t k = size; k-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes[offset + k]);
    if (is_signed && size < 8 && (value >> (8 * size - 1)) != 0)
        value |= ~std::uint64_t{0} << (8 * size);
    return static_cast<std::int64_t>(value);
}

std::string packed_text(const std::string& bytes, size_t offset, size_t size, int decimals)
{
    std::string digits;
    for (size_t k = 0; k < size; ++k) {
        const auto b = static_cast<unsigned char>(bytes[offset + k]);
        digits.push_back(static_cast<char>('0' + (b >> 4)));
        if (k + 1 < size)
            digits.push_back(static_cast<char>('0' + (b & 15)));
    }
    const bool negative = (static_cast<unsigned char>(bytes[offset + size - 1]) & 15) == 0x0D;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.size() <= static_cast<size_t>(decimals))
        digits.insert(0, static_cast<size_t>(decimals) + 1 - digits.size(), '0');
    if (decimals > 0)
        digits.insert(digits.size() - static_cast<size_t>(decimals), ".");
    return (negative ? "-" : "") + digits;
}

} // namespace

std::vector<std::string> decode_record(const std::vector<std::string>& metadata, const std::string& record)
{
    std::vector<std::string> values;
    for (const std::string& line : metadata) {
        const std::vector<std::string> f = split(line);
        if (f.size() < 6 || f[0] != "F")
            continue;
        const char type = f[2][0];
        const size_t bytes = std::stoul(f[3]);
        const int decimals = std::stoi(f[4]);
        const size_t offset = std::stoul(f[5]);
        std::string value;
        switch (type) {
        case 'C': {
            value = utf16_text(record, offset, bytes);
            value.erase(value.find_last_not_of(' ') + 1);
            break;
        }
        case 'N': case 'D': case 'T': value = utf16_text(record, offset, bytes); break;
        case 'P': value = packed_text(record, offset, bytes, decimals); break;
        case 'I': case 's': case '8': value = std::to_string(little_endian(record, offset, bytes, true)); break;
        case 'b': value = std::to_string(little_endian(record, offset, bytes, false)); break;
        case 'F': {
            double d;
            std::memcpy(&d, record.data() + offset, 8);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.4f", d);
            value = buf;
            break;
        }
        default: {
            static const char hex[] = "0123456789ABCDEF";
            for (size_t k = 0; k < bytes; ++k) {
                const auto c = static_cast<unsigned char>(record[offset + k]);
                value += hex[c >> 4];
                value += hex[c & 15];
            }
        }
        }
        values.push_back(value);
    }
    return values;
}

RFC_RC ReadCaller::call(const std::string& module)
{
    const std::u16string name = sapsim::to_utf16(module);
    char16_t dest[] = u"BACK";
    RFC_PARAMETER exporting[] = {{u"PDEST", 0, RFCTYPE_CHAR, 8, dest}, end_parameters};
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE no_tables[] = {end_tables};
    RFC_RC rc = RfcCall(handle_, name.c_str(), exporting, no_tables);
    SAP_UC* raised = nullptr;
    while (rc == RFC_OK) {
        rc = RfcReceive(handle_, none, no_tables, &raised);
        if (rc != RFC_CALL)
            break;
        if (!serve())
            return RFC_FAILURE;
        rc = RFC_OK;
    }
    if (rc == RFC_EXCEPTION && raised != nullptr)
        exception = sapsim::to_utf8(raised);
    return rc;
}

std::vector<std::string> ReadCaller::records() const
{
    std::vector<std::string> all;
    for (const Chunk& c : chunks)
        all.insert(all.end(), c.rows.begin(), c.rows.end());
    return all;
}

bool ReadCaller::serve()
{
    SAP_UC raw[201] = {};
    if (RfcGetName(handle_, raw) != RFC_OK)
        return false;
    const std::string name = sapsim::to_utf8(raw);
    callbacks.push_back(name);
    if (name == "Z_VOK_GET_REQUEST_PARAMETERS")
        return request_parameters();
    if (name == "Z_VOK_GENPROG")
        return program_lines();
    if (name == "Z_VOK_MDATA")
        return metadata_lines();
    if (name == "Z_VOK_DATA_CHUNK")
        return data_chunk();
    RfcAbort(handle_, u"Function not supported by VOK RFC Server");
    return false;
}

bool ReadCaller::request_parameters()
{
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE tables[] = {{u"MDATA", 0, RFCTYPE_CHAR, 144, nullptr, RFC_ITMODE_BYREFERENCE, 0},
                          {u"JDATA", 0, RFCTYPE_CHAR, 144, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    if (RfcGetData(handle_, none, tables) != RFC_OK)
        return false;
    for (int t = 0; t < 2; ++t)
        for (const std::string& text : t == 0 ? mdata : jdata) {
            const std::u16string line = field(text, 72);
            std::memcpy(ItAppLine(tables[t].ithandle), line.data(), 144);
        }
    const std::pair<const char16_t*, std::string> values[] = {
        {u"FUNC_FLAG", func_flag}, {u"ABAPPROG", abapprog}, {u"BLOCKSIZE", blocksize},
        {u"DEBUG", debug},         {u"DHANDLE", dhandle},   {u"DIALOG_FLAG", dialog_flag}};
    std::vector<std::u16string> texts;
    texts.reserve(std::size(values));
    std::vector<RFC_PARAMETER> exporting;
    for (const auto& [n, v] : values) {
        texts.push_back(sapsim::to_utf16(v));
        exporting.push_back({n, 0, RFCTYPE_CHAR, static_cast<unsigned>(texts.back().size() * 2), texts.back().data()});
    }
    exporting.push_back(end_parameters);
    const bool ok = RfcSendData(handle_, exporting.data(), tables) == RFC_OK;
    ItDelete(tables[0].ithandle);
    ItDelete(tables[1].ithandle);
    return ok;
}

bool ReadCaller::program_lines()
{
    std::u16string rc(8, u' '), handle(130, u' ');
    RFC_PARAMETER importing[] = {{u"RC", 0, RFCTYPE_CHAR, 16, rc.data()},
                                 {u"DHANDLE", 0, RFCTYPE_CHAR, 260, handle.data()}, end_parameters};
    RFC_TABLE tables[] = {{u"LTAB", 0, RFCTYPE_CHAR, 510, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    if (RfcGetData(handle_, importing, tables) != RFC_OK)
        return false;
    for (unsigned i = 1; i <= ItFill(tables[0].ithandle); ++i)
        program.push_back(trimmed(static_cast<const char16_t*>(ItGetLine(tables[0].ithandle, i)), 255));
    RFC_PARAMETER none[] = {end_parameters};
    const bool ok = RfcSendData(handle_, none, tables) == RFC_OK;
    ItDelete(tables[0].ithandle);
    return ok;
}

bool ReadCaller::metadata_lines()
{
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE tables[] = {{u"MTAB", 0, RFCTYPE_CHAR, 1024, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    if (RfcGetData(handle_, none, tables) != RFC_OK)
        return false;
    const unsigned chars = ItLeng(tables[0].ithandle) / 2;
    for (unsigned i = 1; i <= ItFill(tables[0].ithandle); ++i)
        metadata.push_back(trimmed(static_cast<const char16_t*>(ItGetLine(tables[0].ithandle, i)), chars));
    const bool ok = RfcSendData(handle_, none, tables) == RFC_OK;
    ItDelete(tables[0].ithandle);
    return ok;
}

bool ReadCaller::data_chunk()
{
    std::u16string handle(131, u' '), emsg(200, u'\0'), end(1, u' '), table(30, u'\0');
    RFC_PARAMETER importing[] = {{u"DHANDLE", 0, RFCTYPE_CHAR, 262, handle.data()},
                                 {u"EMSG", 0, RFCTYPE_CHAR, 400, emsg.data()},
                                 {u"END_OF_DATA", 0, RFCTYPE_CHAR, 2, end.data()},
                                 {u"TABLE_NAME", 0, RFCTYPE_CHAR, 60, table.data()}, end_parameters};
    RFC_TABLE tables[] = {{u"DTAB", 0, RFCTYPE_BYTE, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0},
                          {u"MTAB", 0, RFCTYPE_CHAR, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    if (RfcGetData(handle_, importing, tables) != RFC_OK)
        return false;
    Chunk chunk;
    chunk.dhandle = trimmed(handle.data(), handle.size());
    chunk.emsg = trimmed(emsg.data(), emsg.size());
    chunk.end_of_data = static_cast<char>(end[0]);
    chunk.table_name = trimmed(table.data(), table.size());
    chunk.line_bytes = ItLeng(tables[0].ithandle);
    for (unsigned i = 1; i <= ItFill(tables[0].ithandle); ++i)
        chunk.rows.emplace_back(static_cast<const char*>(ItGetLine(tables[0].ithandle, i)), chunk.line_bytes);
    chunks.push_back(std::move(chunk));
    const bool kill = static_cast<int>(chunks.size()) == kill_at_chunk;
    RFC_PARAMETER none[] = {end_parameters};
    const bool ok = (kill ? RfcRaiseTables(handle_, u"KILLED_BY_VOK", tables) : RfcSendData(handle_, none, tables)) == RFC_OK;
    ItDelete(tables[0].ithandle);
    ItDelete(tables[1].ithandle);
    return ok;
}

} // namespace sapsim_test
