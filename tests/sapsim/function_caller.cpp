#include "function_caller.h"

#include "sapsim_process.h"

#include "sapsim/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace sapsim_test {

namespace {

constexpr RFC_PARAMETER end_parameters{nullptr, 0, 0, 0, nullptr};
constexpr RFC_TABLE end_tables{nullptr, 0, 0, 0, nullptr, 0, 0};

const std::string grp = "Z_VOK_GET_REQUEST_PARAMETERS";
const std::string genprog = "Z_VOK_GENPROG";
const std::string mdata = "Z_VOK_MDATA";
const std::string chunk = "Z_VOK_DATA_CHUNK";
const std::string getptab = "Z_VOK_GET_PARAMETER_TABLE";

RFC_TYPEHANDLE type_code(char type)
{
    switch (type) {
    case 'C': return RFCTYPE_CHAR;
    case 'D': return RFCTYPE_DATE;
    case 'P': return RFCTYPE_BCD;
    case 'T': return RFCTYPE_TIME;
    case 'N': return RFCTYPE_NUM;
    case 'F': return RFCTYPE_FLOAT;
    case 'I': return RFCTYPE_INT;
    case 's': return RFCTYPE_INT2;
    case 'b': return RFCTYPE_INT1;
    default: return RFCTYPE_BYTE;
    }
}

} // namespace

Lines split(const std::string& line)
{
    Lines parts;
    std::stringstream in(line);
    std::string part;
    while (std::getline(in, part, ','))
        parts.push_back(part);
    return parts;
}

std::string utf16(const std::string& text, size_t chars)
{
    const std::u16string units = field(text, chars);
    std::string bytes(2 * chars, '\0');
    for (size_t i = 0; i < chars; ++i) {
        bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return bytes;
}

std::string text_of(const std::string& bytes)
{
    std::u16string units(bytes.size() / 2, u' ');
    std::memcpy(units.data(), bytes.data(), 2 * units.size());
    return trimmed(units.data(), units.size());
}

std::string int4(std::int32_t value)
{
    std::string bytes(4, '\0');
    for (int k = 0; k < 4; ++k)
        bytes[k] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * k)) & 0xFF);
    return bytes;
}

std::int32_t int4_of(const std::string& bytes)
{
    std::uint32_t value = 0;
    for (int k = 3; k >= 0; --k)
        value = value << 8 | static_cast<unsigned char>(bytes[k]);
    return static_cast<std::int32_t>(value);
}

RFC_RC FunctionCaller::call(const std::string& module)
{
    std::vector<std::u16string> names;
    names.reserve(sent.size() + received_sizes.size() + tables.size());
    std::vector<std::string> values;
    values.reserve(sent.size() + received_sizes.size());
    std::vector<RFC_PARAMETER> exporting, importing;
    for (const Sent& s : sent) {
        names.push_back(sapsim::to_utf16(s.name));
        values.push_back(s.bytes);
        exporting.push_back({names.back().c_str(), 0, s.character ? RFCTYPE_CHAR : RFCTYPE_BYTE,
                             static_cast<unsigned>(values.back().size()), values.back().data()});
    }
    exporting.push_back(end_parameters);
    for (const auto& [name, size] : received_sizes) {
        names.push_back(sapsim::to_utf16(name));
        values.emplace_back(size, '\0');
        importing.push_back({names.back().c_str(), 0, RFCTYPE_BYTE, size, values.back().data()});
    }
    importing.push_back(end_parameters);
    std::vector<RFC_TABLE> itabs;
    for (const CallTable& t : tables) {
        names.push_back(sapsim::to_utf16(t.name));
        const ITAB_H itab = ItCreate(names.back().c_str(), t.line_bytes, 0, 0);
        for (const std::string& line : t.lines) {
            void* target = ItAppLine(itab);
            std::memcpy(target, line.data(), std::min<size_t>(line.size(), t.line_bytes));
        }
        itabs.push_back({names.back().c_str(), 0, install(t), t.line_bytes, itab, RFC_ITMODE_BYREFERENCE, 0});
    }
    itabs.push_back(end_tables);
    call_tables_ = &itabs;
    const std::u16string name = sapsim::to_utf16(module);
    const RFC_RC rc = finish(RfcCall(handle_, name.c_str(), exporting.data(), itabs.data()), importing.data(),
                             itabs.data());
    call_tables_ = nullptr;
    if (rc == RFC_OK) {
        for (size_t i = 0; i < received_sizes.size(); ++i)
            received[received_sizes[i].first] = values[sent.size() + i];
        for (size_t t = 0; t < tables.size(); ++t)
            returned[tables[t].name] = lines_of(itabs[t].ithandle);
    }
    for (size_t t = 0; t < tables.size(); ++t)
        ItDelete(itabs[t].ithandle);
    return rc;
}

RFC_RC FunctionCaller::dialog(const std::string& func_flag, const std::string& function, const std::string& debug)
{
    func_flag_ = func_flag;
    function_ = function;
    debug_ = debug;
    char16_t dest[] = u"BACK";
    RFC_PARAMETER exporting[] = {{u"PDEST", 0, RFCTYPE_CHAR, 8, dest}, end_parameters};
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE no_tables[] = {end_tables};
    return finish(RfcCall(handle_, u"/VOK/Z_VOK_DIALOG", exporting, no_tables), none, no_tables);
}

Lines FunctionCaller::rows() const
{
    Lines all;
    for (const FunctionChunk& c : chunks)
        all.insert(all.end(), c.rows.begin(), c.rows.end());
    return all;
}

Lines FunctionCaller::lines_of(ITAB_H itab)
{
    Lines out;
    for (unsigned i = 1; i <= ItFill(itab); ++i)
        out.emplace_back(static_cast<const char*>(ItGetLine(itab, i)), ItLeng(itab));
    return out;
}

RFC_TYPEHANDLE FunctionCaller::install(const CallTable& table)
{
    if (table.fields.empty())
        return RFCTYPE_BYTE;
    std::vector<std::u16string> names;
    names.reserve(table.fields.size());
    std::vector<RFC_UNICODE_TYPE_ELEMENT> elements;
    for (const std::string& line : table.fields) {
        const Lines f = split(line);
        names.push_back(sapsim::to_utf16(f[2]));
        RFC_UNICODE_TYPE_ELEMENT e{};
        e.name = names.back().c_str();
        e.type = type_code(f[3][0]);
        e.decimals = static_cast<unsigned>(std::stoul(f[5]));
        e.c2_length = static_cast<unsigned>(std::stoul(f[4]));
        e.c2_offset = static_cast<unsigned>(std::stoul(f[6]));
        elements.push_back(e);
    }
    const std::u16string name = sapsim::to_utf16("TEST_" + table.name);
    RFC_TYPEHANDLE type = RFCTYPE_BYTE;
    EXPECT_EQ(RfcInstallUnicodeStructure(name.c_str(), elements.data(), static_cast<unsigned>(elements.size()), 0, 0,
                                         &type),
              RFC_OK);
    return type;
}

RFC_RC FunctionCaller::finish(RFC_RC rc, RFC_PARAMETER* importing, RFC_TABLE* itabs)
{
    SAP_UC* raised = nullptr;
    while (rc == RFC_OK) {
        rc = RfcReceive(handle_, importing, itabs, &raised);
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

bool FunctionCaller::serve()
{
    SAP_UC raw[201] = {};
    if (RfcGetName(handle_, raw) != RFC_OK)
        return false;
    const std::string name = sapsim::to_utf8(raw);
    callbacks.push_back(name);
    if (name == grp)
        return request_parameters();
    if (name == genprog)
        return program_lines();
    if (name == mdata)
        return metadata_lines();
    if (name == chunk)
        return data_chunk();
    if (name == getptab)
        return parameter_table();
    RfcAbort(handle_, u"Function not supported by VOK RFC Server");
    return false;
}

bool FunctionCaller::request_parameters()
{
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE no_tables[] = {end_tables};
    if (RfcGetData(handle_, none, no_tables) != RFC_OK)
        return false;
    const std::pair<const char16_t*, std::string> values[] = {
        {u"FUNC_FLAG", func_flag_}, {u"ABAPPROG", "/VOK/Z_VOK_READ"}, {u"VARIANT", ""},
        {u"BLOCKSIZE", "00000000"}, {u"DEBUG", debug_},               {u"FUNC_NAME", function_},
        {u"DHANDLE", dhandle}};
    std::vector<std::u16string> texts;
    texts.reserve(std::size(values));
    std::vector<RFC_PARAMETER> exporting;
    for (const auto& [n, v] : values) {
        texts.push_back(sapsim::to_utf16(v));
        exporting.push_back({n, 0, RFCTYPE_CHAR, static_cast<unsigned>(texts.back().size() * 2), texts.back().data()});
    }
    exporting.push_back(end_parameters);
    return RfcSendData(handle_, exporting.data(), no_tables) == RFC_OK;
}

bool FunctionCaller::program_lines()
{
    std::u16string rc(8, u' '), handle(130, u' ');
    RFC_PARAMETER importing[] = {{u"RC", 0, RFCTYPE_CHAR, 16, rc.data()},
                                 {u"DHANDLE", 0, RFCTYPE_CHAR, 260, handle.data()}, end_parameters};
    RFC_TABLE itabs[] = {{u"LTAB", 0, RFCTYPE_CHAR, 510, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    if (RfcGetData(handle_, importing, itabs) != RFC_OK)
        return false;
    for (unsigned i = 1; i <= ItFill(itabs[0].ithandle); ++i)
        program.push_back(trimmed(static_cast<const char16_t*>(ItGetLine(itabs[0].ithandle, i)), 255));
    RFC_PARAMETER none[] = {end_parameters};
    const bool ok = RfcSendData(handle_, none, itabs) == RFC_OK;
    ItDelete(itabs[0].ithandle);
    return ok;
}

Lines FunctionCaller::text_lines(ITAB_H itab)
{
    Lines out;
    const unsigned chars = ItLeng(itab) / 2;
    for (unsigned i = 1; i <= ItFill(itab); ++i)
        out.push_back(trimmed(static_cast<const char16_t*>(ItGetLine(itab, i)), chars));
    return out;
}

bool FunctionCaller::metadata_lines()
{
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE itabs[] = {{u"MTAB", 0, RFCTYPE_CHAR, 1024, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    if (RfcGetData(handle_, none, itabs) != RFC_OK)
        return false;
    metadata = text_lines(itabs[0].ithandle);
    const bool ok = RfcSendData(handle_, none, itabs) == RFC_OK;
    ItDelete(itabs[0].ithandle);
    return ok;
}

bool FunctionCaller::data_chunk()
{
    std::u16string handle(131, u' '), emsg(200, u'\0'), end(1, u' '), table(30, u'\0');
    RFC_PARAMETER importing[] = {{u"DHANDLE", 0, RFCTYPE_CHAR, 262, handle.data()},
                                 {u"EMSG", 0, RFCTYPE_CHAR, 400, emsg.data()},
                                 {u"END_OF_DATA", 0, RFCTYPE_CHAR, 2, end.data()},
                                 {u"TABLE_NAME", 0, RFCTYPE_CHAR, 60, table.data()}, end_parameters};
    RFC_TABLE itabs[] = {{u"DTAB", 0, RFCTYPE_BYTE, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0},
                         {u"MTAB", 0, RFCTYPE_CHAR, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_tables};
    if (RfcGetData(handle_, importing, itabs) != RFC_OK)
        return false;
    FunctionChunk c;
    c.dhandle = trimmed(handle.data(), handle.size());
    c.table_name = trimmed(table.data(), table.size());
    c.end_of_data = static_cast<char>(end[0]);
    c.line_bytes = ItLeng(itabs[0].ithandle);
    c.rows = lines_of(itabs[0].ithandle);
    c.mtab = text_lines(itabs[1].ithandle);
    chunks.push_back(std::move(c));
    RFC_PARAMETER none[] = {end_parameters};
    const bool raise = static_cast<int>(chunks.size()) == raise_at_chunk;
    const std::u16string exception16 = sapsim::to_utf16(chunk_exception);
    const bool ok =
        (raise ? RfcRaise(handle_, exception16.c_str()) : RfcSendData(handle_, none, itabs)) == RFC_OK;
    ItDelete(itabs[0].ithandle);
    ItDelete(itabs[1].ithandle);
    return ok;
}

bool FunctionCaller::parameter_table()
{
    std::u16string tabname(40, u' '), handle(130, u' ');
    RFC_PARAMETER importing[] = {{u"Z_VOK_PARAMETER_TABNAME", 0, RFCTYPE_CHAR, 80, tabname.data()},
                                 {u"DHANDLE", 0, RFCTYPE_CHAR, 260, handle.data()}, end_parameters};
    RFC_TABLE itabs[] = {{u"Z_VOK_PARAMETER_TABLE", 0, RFCTYPE_CHAR, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0},
                         end_tables};
    if (RfcGetData(handle_, importing, itabs) != RFC_OK)
        return false;
    const std::string name = trimmed(tabname.data(), tabname.size());
    fetches.emplace_back(name, trimmed(handle.data(), handle.size()));
    if (!fetch_exception.empty()) {
        const std::u16string exception16 = sapsim::to_utf16(fetch_exception);
        return RfcRaise(handle_, exception16.c_str()) == RFC_OK;
    }
    ITAB_H source = nullptr;
    if (call_tables_ != nullptr && !call_tables_->empty() && call_tables_->front().name != nullptr) {
        source = call_tables_->front().ithandle;
        for (const RFC_TABLE& t : *call_tables_)
            if (t.name != nullptr && sapsim::to_utf8(t.name) == name)
                source = t.ithandle;
    }
    ITAB_H copy = nullptr;
    if (source != nullptr && ItFill(source) > 0) {
        copy = ItCreate(u"Z_VOK_PARAMETER_TABLE", ItLeng(source), 0, 0);
        for (unsigned i = 1; i <= ItFill(source); ++i)
            ItCpyLine(source, i, ItAppLine(copy));
    }
    RFC_PARAMETER none[] = {end_parameters};
    RFC_TABLE answer[] = {{u"Z_VOK_PARAMETER_TABLE", 0, RFCTYPE_CHAR, ItLeng(copy), copy, RFC_ITMODE_BYREFERENCE, 0},
                          end_tables};
    const bool ok = RfcSendData(handle_, none, copy != nullptr ? answer : itabs) == RFC_OK;
    if (copy != nullptr)
        ItDelete(copy);
    return ok;
}

} // namespace sapsim_test
