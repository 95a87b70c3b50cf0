#include "sapsim/vok_request.h"

#include "sapsim/text.h"

namespace sapsim {

using namespace vok_dialog;

VokRequest::VokRequest()
{
    put_chars(func_flag, func_flag_chars, "");
    put_chars(abapprog, abapprog_chars, "");
    put_chars(variant, variant_chars, "");
    put_chars(blocksize, blocksize_chars, "");
    put_chars(debug, debug_chars, "");
    put_chars(dest, dest_chars, "");
    put_chars(func_name, func_name_chars, "");
    put_chars(dhandle, dhandle_chars, "");
    put_chars(dialog_flag, dialog_flag_chars, "");
}

bool VokRequest::is_select() const
{
    const char16_t type = request_type();
    return statement_lines(jdata) > 0 && (type == u' ' || type == u'M' || type == u'D' || type == u'B');
}

bool VokRequest::is_function() const
{
    const char16_t type = request_type();
    return !function_name().empty() && (type == u' ' || type == u'M' || type == u'D' || type == u'B');
}

std::string VokRequest::function_name() const
{
    return get_chars(func_name, func_name_chars);
}

std::int64_t VokRequest::block_size() const
{
    std::int64_t size = 0;
    for (const char16_t c : blocksize) {
        if (c == u' ')
            continue;
        if (c < u'0' || c > u'9')
            return default_block_size;
        size = size * 10 + (c - u'0');
    }
    return size > 0 ? size : default_block_size;
}

std::vector<std::string> VokRequest::lines(size_t table) const
{
    std::vector<std::string> out;
    const ITAB_H t = tables[table].ithandle;
    const unsigned chars = ItLeng(t) / 2;
    for (unsigned i = 1; i <= ItFill(t); ++i)
        out.push_back(get_chars(static_cast<const char16_t*>(ItGetLine(t, i)), chars));
    return out;
}

std::string VokRequest::report() const
{
    return get_chars(abapprog, abapprog_chars);
}

} // namespace sapsim
