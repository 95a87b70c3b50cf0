#include "sapsim/read/data_chunk_sender.h"

#include "sapsim/module_support.h"
#include "sapsim/text.h"
#include "sapsim/vok_dialog_module.h"

#include <algorithm>

namespace sapsim {

using namespace vok_dialog;

DataChunkSender::DataChunkSender(const CallContext& context, const char* module, const char16_t* dhandle,
                                 const std::string& table_name, unsigned row_bytes, std::int64_t block_size)
    : context_(context), module_(module), dhandle_(dhandle, chunk_dhandle_chars), table_name_(table_name)
{
    const std::int64_t rows = block_size / static_cast<std::int64_t>(row_bytes);
    rows_per_chunk_ = static_cast<unsigned>(std::clamp<std::int64_t>(rows, 1, 1 << 30));
    // The hint only sizes the table's blocks; lines come as they are appended.
    dtab_ = ItCreate(u"DTAB", row_bytes, std::min(rows_per_chunk_, 1u << 16), 0);
    mtab_ = ItCreate(u"MTAB", mtab_line_chars * 2, 0, 0);
}

DataChunkSender::~DataChunkSender()
{
    if (dtab_ != nullptr)
        ItDelete(dtab_);
    if (mtab_ != nullptr)
        ItDelete(mtab_);
}

unsigned char* DataChunkSender::append()
{
    return static_cast<unsigned char*>(ItAppLine(dtab_));
}

bool DataChunkSender::describe(const std::vector<std::string>& lines)
{
    for (const std::string& text : lines) {
        auto* line = static_cast<char16_t*>(ItAppLine(mtab_));
        if (line == nullptr)
            return false;
        put_chars(line, mtab_line_chars, text);
    }
    return true;
}

CallbackOutcome DataChunkSender::send(bool last, std::u16string& raised)
{
    return call(last, {}, raised);
}

CallbackOutcome DataChunkSender::send_error(const std::string& message, std::u16string& raised)
{
    ItFree(dtab_);
    return call(true, message, raised);
}

CallbackOutcome DataChunkSender::call(bool last, const std::string& message, std::u16string& raised)
{
    char16_t dhandle[chunk_dhandle_chars], emsg[emsg_chars], end_of_data[end_of_data_chars],
        table_name[table_name_chars];
    put_chars(dhandle, chunk_dhandle_chars, std::u16string_view(dhandle_));
    put_chars(emsg, emsg_chars, message);
    put_chars(end_of_data, end_of_data_chars, last ? "X" : " ");
    put_chars(table_name, table_name_chars, table_name_);
    RFC_PARAMETER exporting[] = {char_parameter(u"DHANDLE", dhandle, chunk_dhandle_chars),
                                 char_parameter(u"EMSG", emsg, emsg_chars),
                                 char_parameter(u"END_OF_DATA", end_of_data, end_of_data_chars),
                                 char_parameter(u"TABLE_NAME", table_name, table_name_chars), end_of_parameters};
    RFC_PARAMETER none[] = {end_of_parameters};
    RFC_TABLE tables[] = {RFC_TABLE{u"DTAB", 0, RFCTYPE_BYTE, ItLeng(dtab_), dtab_, RFC_ITMODE_BYREFERENCE, 0},
                          table_parameter(u"MTAB", mtab_line_chars * 2, mtab_), end_of_tables};
    const unsigned rows = ItFill(dtab_);
    const CallbackOutcome outcome =
        call_back(context_, module_, u"Z_VOK_DATA_CHUNK", exporting, none, tables, raised, false);
    if (outcome == CallbackOutcome::answered) {
        rows_sent_ += rows;
        ++chunks_sent_;
        ItFree(dtab_);
        ItFree(mtab_);
    }
    return outcome;
}

} // namespace sapsim
