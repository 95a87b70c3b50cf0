// Z_SIM_ROWS: one table DATA of ROWS lines of WIDTH bytes, for throughput tests.
// Each line starts with its 1-based number as 10 decimal digits (as far as the
// width allows) followed by letters that shift by one per line.
#include "sapsim/call_context.h"
#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/modules.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sapsim {

namespace {

// The table of the last call on this connection's thread. Emptying it keeps
// its memory, so repeated calls do not fault in fresh pages for every table;
// it goes when the connection's thread ends.
struct ThreadTable {
    ITAB_H table = nullptr;
    ~ThreadTable()
    {
        if (table != nullptr)
            ItDelete(table);
    }
};

ITAB_H reusable_table(unsigned width, unsigned rows)
{
    thread_local ThreadTable kept;
    if (kept.table != nullptr && ItLeng(kept.table) == width) {
        ItFree(kept.table);
        return kept.table;
    }
    if (kept.table != nullptr)
        ItDelete(kept.table);
    kept.table = ItCreate(u"DATA", width, rows, 0);
    return kept.table;
}

class RowsModule : public FunctionModule {
public:
    static constexpr std::int64_t max_table_bytes = std::int64_t{4} << 30;
    static constexpr std::int32_t max_width = 65535;

    const char* name() const override { return "Z_SIM_ROWS"; }
    void serve(CallContext& context) const override
    {
        std::int32_t rows = 0, width = 0;
        RFC_PARAMETER importing[] = {{u"ROWS", 0, RFCTYPE_INT, sizeof rows, &rows},
                                     {u"WIDTH", 0, RFCTYPE_INT, sizeof width, &width},
                                     end_of_parameters};
        RFC_TABLE tables[] = {RFC_TABLE{u"DATA", 0, RFCTYPE_BYTE, 0, nullptr, RFC_ITMODE_BYREFERENCE, 0}, end_of_tables};
        if (!get_call_data(context, name(), importing, tables)) {
            delete_received_tables(tables);
            return;
        }
        if (rows < 0 || width < 1 || width > max_width || std::int64_t{rows} * width > max_table_bytes) {
            SAPSIM_LOG(info, context.session().connection_id)
                << name() << ": refused " << rows << " rows of " << width << " bytes";
            RfcRaise(context.handle(), u"INVALID_SIZE");
            delete_received_tables(tables);
            return;
        }
        const unsigned w = static_cast<unsigned>(width);
        const auto start = std::chrono::steady_clock::now();
        ITAB_H data = reusable_table(w, static_cast<unsigned>(rows));
        if (data == nullptr) {
            RfcRaise(context.handle(), u"NO_MEMORY");
            delete_received_tables(tables);
            return;
        }
        std::vector<unsigned char> pattern(w + 26);
        for (size_t i = 0; i < pattern.size(); ++i)
            pattern[i] = static_cast<unsigned char>('A' + i % 26);
        char digits[10];
        const unsigned digit_count = w < 10 ? w : 10;
        for (std::int32_t r = 1; r <= rows; ++r) {
            auto* line = static_cast<unsigned char*>(ItAppLine(data));
            if (line == nullptr) {
                ItFree(data);
                RfcRaise(context.handle(), u"NO_MEMORY");
                delete_received_tables(tables);
                return;
            }
            std::memcpy(line, pattern.data() + r % 26, w);
            std::uint32_t n = static_cast<std::uint32_t>(r);
            for (int d = 9; d >= 0; --d, n /= 10)
                digits[d] = static_cast<char>('0' + n % 10);
            std::memcpy(line, digits, digit_count);
        }
        RFC_PARAMETER none[] = {end_of_parameters};
        RFC_TABLE answer[] = {RFC_TABLE{u"DATA", 0, RFCTYPE_BYTE, w, data, RFC_ITMODE_BYREFERENCE, 0}, end_of_tables};
        const auto built = std::chrono::steady_clock::now();
        send_answer(context, name(), none, answer);
        const auto sent = std::chrono::steady_clock::now();
        SAPSIM_LOG(debug, context.session().connection_id)
            << name() << ": " << rows << " rows of " << width << " bytes built in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(built - start).count() << " ms, sent in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(sent - built).count() << " ms";
        ItFree(data);
        delete_received_tables(tables);
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_rows_module()
{
    return std::make_unique<RowsModule>();
}

} // namespace sapsim
