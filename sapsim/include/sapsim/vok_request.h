// What the VOK server answers to Z_VOK_GET_REQUEST_PARAMETERS, as the dialog
// module and the read report receive it (sizes in vok_dialog_module.h). A
// parameter the server does not send stays blank.
#pragma once

#include "sapsim/module_support.h"
#include "sapsim/vok_dialog_module.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sapsim {

struct VokRequest {
    char16_t func_flag[vok_dialog::func_flag_chars];
    char16_t abapprog[vok_dialog::abapprog_chars];
    char16_t variant[vok_dialog::variant_chars];
    char16_t blocksize[vok_dialog::blocksize_chars];
    char16_t debug[vok_dialog::debug_chars];
    char16_t dest[vok_dialog::dest_chars];
    char16_t func_name[vok_dialog::func_name_chars];
    char16_t dhandle[vok_dialog::dhandle_chars];
    char16_t dialog_flag[vok_dialog::dialog_flag_chars];
    // MDATA and JDATA, created by the library on receipt.
    static constexpr size_t mdata = 0;
    static constexpr size_t jdata = 1;
    RFC_TABLE tables[3] = {table_parameter(u"MDATA", vok_dialog::statement_line_chars * 2),
                           table_parameter(u"JDATA", vok_dialog::statement_line_chars * 2), end_of_tables};

    // Block size of data chunks when BLOCKSIZE holds no positive number.
    static constexpr std::int64_t default_block_size = 10000;

    VokRequest();
    ~VokRequest() { delete_received_tables(tables); }
    VokRequest(const VokRequest&) = delete;
    VokRequest& operator=(const VokRequest&) = delete;

    char16_t request_type() const { return func_flag[0]; }
    // The generated program is shown unless DEBUG is blank or 'N'.
    bool debugging() const { return debug[0] != u' ' && debug[0] != u'N'; }
    unsigned statement_lines(size_t table) const { return ItFill(tables[table].ithandle); }
    // A select: a statement came and the request type asks for data,
    // metadata, both or neither.
    bool is_select() const;
    // A function request: FUNC_NAME names a module and the request type asks
    // for its interface, its data, both or neither.
    bool is_function() const;
    std::string function_name() const;
    bool wants_metadata() const { return func_flag[0] == u'M' || func_flag[0] == u'B'; }
    bool wants_data() const { return func_flag[0] == u'D' || func_flag[0] == u'B'; }
    // DIALOG_FLAG 'X': the dialog row limit does not apply.
    bool unlimited() const { return dialog_flag[0] == u'X' || dialog_flag[0] == u'x'; }
    std::int64_t block_size() const;
    // The lines of MDATA or JDATA without trailing blanks.
    std::vector<std::string> lines(size_t table) const;
    std::string report() const;
};

} // namespace sapsim
