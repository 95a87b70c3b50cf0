// The read report: runs the select statement of a VOK request and hands the
// result to the VOK server while the dialog module runs (docs/sapsim.md,
// "The read report"). Per request type (FUNC_FLAG):
//   'M', 'B'  the metadata lines through Z_VOK_MDATA;
//   'D', 'B'  the records through Z_VOK_DATA_CHUNK, after the dialog row
//             limit was checked (DIALOG_ROWLIMIT_EXCEEDED before anything
//             is sent);
//   ' '       the statement is only checked.
// A statement that cannot run ends the data with one chunk carrying EMSG;
// without data to send, the call ends with the system failure
// STATEMENT_ERROR carrying the same text.
// One object per call of the dialog module, used on that connection's thread.
#pragma once

#include "sapsim/call_context.h"
#include "sapsim/read/sql_builder.h"
#include "sapsim/sqlite_statement.h"
#include "sapsim/store.h"
#include "sapsim/vok_callback.h"
#include "sapsim/vok_request.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sapsim {

class ReadReport {
public:
    enum class Result {
        finished,  // answer the module's call
        raise,     // end the module's call with the exception in `raised`
        ended      // the call is over already (system failure sent, caller gone)
    };

    // `report`: the name the report runs under (for logs and program lines).
    ReadReport(const CallContext& context, const VokRequest& request, std::string report);

    // Decodes and translates the statement on a read connection of its own,
    // whose snapshot of the store serves the whole run.
    void prepare();
    // What the generated program shows of the run (Z_VOK_GENPROG).
    std::vector<std::string> program_lines() const;
    Result run(std::u16string& raised);

private:
    Result statement_failed(const std::string& message, std::u16string& raised);
    Result send_metadata(std::u16string& raised);
    Result stream(std::u16string& raised);
    bool count_rows(std::int64_t limit, std::int64_t& count);
    std::int64_t row_limit() const;

    const CallContext& context_;
    const VokRequest& request_;
    std::string report_;
    Store::Connection reader_;
    SqlPlan plan_;
    Statement statement_;
    std::string error_;
};

} // namespace sapsim
