#include "sapsim/read/read_report.h"

#include "sapsim/logger.h"
#include "sapsim/module_support.h"
#include "sapsim/read/data_chunk_sender.h"
#include "sapsim/read/record_encoder.h"
#include "sapsim/read/select_request.h"
#include "sapsim/read/sql_functions.h"
#include "sapsim/system_config.h"
#include "sapsim/text.h"

#include "rfclib/rfc_gateway.h"

#include <chrono>

namespace sapsim {

namespace {

using namespace vok_dialog;

// Long SQL shown in lines of the generated program (255 characters each),
// broken at blanks where one is near.
void add_wrapped(std::vector<std::string>& lines, const std::string& first_prefix, const std::string& text)
{
    const std::string next_prefix(first_prefix.size(), ' ');
    const size_t width = ltab_line_chars - first_prefix.size();
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + width);
        if (end < text.size()) {
            const size_t blank = text.rfind(' ', end);
            if (blank != std::string::npos && blank > start + width / 2)
                end = blank;
        }
        lines.push_back((first ? first_prefix : "*" + next_prefix.substr(1)) + text.substr(start, end - start));
        first = false;
        start = end;
        while (start < text.size() && text[start] == ' ')
            ++start;
    }
}

ReadReport::Result result_of(CallbackOutcome outcome)
{
    switch (outcome) {
    case CallbackOutcome::answered: return ReadReport::Result::finished;
    case CallbackOutcome::raised: return ReadReport::Result::raise;
    case CallbackOutcome::failed: break;
    }
    return ReadReport::Result::ended;
}

} // namespace

ReadReport::ReadReport(const CallContext& context, const VokRequest& request, std::string report)
    : context_(context), request_(request), report_(std::move(report))
{
}

void ReadReport::prepare()
{
    std::string error;
    reader_ = context_.services().store.open_reader(error);
    if (!reader_ || !SqlFunctions::install(reader_.get(), error) || !exec_sql(reader_.get(), "BEGIN", error)) {
        error_ = "the tables cannot be read: " + error;
        return;
    }
    SelectRequest request;
    if (!SelectRequestParser::parse(request_.lines(VokRequest::jdata), request_.lines(VokRequest::mdata), request, error_))
        return;
    sqlite3* db = reader_.get();
    SqlBuilder builder([db](std::string_view name) { return Store::read_table(db, name); }, context_.session().client);
    if (!builder.build(request, plan_, error_))
        return;
    if (!statement_.prepare(db, plan_.sql))
        error_ = std::string("the statement cannot run: ") + sqlite3_errmsg(db);
    else
        plan_.bind(statement_);
}

std::int64_t ReadReport::row_limit() const
{
    return request_.unlimited() ? 0 : context_.services().config.dialog_row_limit;
}

std::vector<std::string> ReadReport::program_lines() const
{
    std::vector<std::string> lines;
    if (!error_.empty()) {
        lines.push_back("* Read report " + report_ + ": the statement cannot run");
        add_wrapped(lines, "* Error: ", error_);
        lines.push_back(request_.wants_data() ? "* The data end with this error (EMSG)"
                                              : "* The report ends with the system failure STATEMENT_ERROR");
        return lines;
    }
    lines.push_back("* Read report " + report_ + ": " + plan_.summary + ", " +
                    std::to_string(plan_.layout.columns().size()) + " columns, " +
                    std::to_string(plan_.layout.row_bytes()) + " bytes per record");
    add_wrapped(lines, "* SQL ", plan_.sql);
    for (size_t i = 0; i < plan_.parameters.size(); ++i)
        lines.push_back("* ?" + std::to_string(i + 1) + " = " + SqlExpressions::describe(plan_.parameters[i]));
    if (request_.wants_data()) {
        const std::int64_t limit = row_limit();
        lines.push_back(limit > 0 ? "* Dialog row limit " + std::to_string(limit) + " rows"
                                  : std::string("* No dialog row limit") + (request_.unlimited() ? " (dialog flag X)" : ""));
    }
    return lines;
}

ReadReport::Result ReadReport::run(std::u16string& raised)
{
    const std::uint64_t conn = context_.session().connection_id;
    if (!error_.empty())
        return statement_failed(error_, raised);
    SAPSIM_LOG(debug, conn) << report_ << ": " << plan_.summary << ": " << plan_.sql;
    const std::int64_t limit = row_limit();
    if (request_.wants_data() && limit > 0) {
        std::int64_t count = 0;
        if (!count_rows(limit, count))
            return statement_failed(std::string("the statement failed: ") + sqlite3_errmsg(reader_.get()), raised);
        if (count > limit) {
            SAPSIM_LOG(info, conn) << report_ << ": more than " << limit << " rows in a dialog";
            raised = u"DIALOG_ROWLIMIT_EXCEEDED";
            return Result::raise;
        }
    }
    if (request_.wants_metadata()) {
        const Result r = send_metadata(raised);
        if (r != Result::finished)
            return r;
    }
    return request_.wants_data() ? stream(raised) : Result::finished;
}

bool ReadReport::count_rows(std::int64_t limit, std::int64_t& count)
{
    // Counting stops after the first row beyond the limit.
    Statement counter;
    const std::string sql = "SELECT COUNT(*) FROM (" + plan_.sql + " LIMIT ?" + std::to_string(plan_.parameters.size() + 1) + ")";
    if (!counter.prepare(reader_.get(), sql))
        return false;
    plan_.bind(counter);
    counter.bind_int(static_cast<int>(plan_.parameters.size()) + 1, limit + 1);
    if (counter.step() != SQLITE_ROW)
        return false;
    count = counter.column_int(0);
    return true;
}

ReadReport::Result ReadReport::statement_failed(const std::string& message, std::u16string& raised)
{
    SAPSIM_LOG(info, context_.session().connection_id) << report_ << ": " << message;
    if (!request_.wants_data()) {
        // Nothing carries an EMSG here: end the call as a failed program would.
        RfcGwSystemFailure(context_.handle(), u"STATEMENT_ERROR", to_utf16(message).c_str());
        return Result::ended;
    }
    const int width = plan_.layout.row_bytes();
    DataChunkSender sender(context_, report_.c_str(), request_.dhandle, plan_.table_name,
                           width > 0 && width <= SqlBuilder::max_row_bytes ? static_cast<unsigned>(width) : 1u, 1);
    if (!sender.ready()) {
        raised = u"NO_MEMORY";
        return Result::raise;
    }
    return result_of(sender.send_error(message, raised));
}

ReadReport::Result ReadReport::send_metadata(std::u16string& raised)
{
    return result_of(send_mdata_lines(context_, report_.c_str(), plan_.layout.metadata_lines(), raised));
}

ReadReport::Result ReadReport::stream(std::u16string& raised)
{
    const auto start = std::chrono::steady_clock::now();
    DataChunkSender sender(context_, report_.c_str(), request_.dhandle, plan_.table_name,
                           static_cast<unsigned>(plan_.layout.row_bytes()), request_.block_size());
    if (!sender.ready()) {
        raised = u"NO_MEMORY";
        return Result::raise;
    }
    const RecordEncoder encoder(plan_.layout);
    sqlite3_stmt* st = statement_.handle();
    std::string error;
    Result result = Result::finished;
    int rc = sqlite3_step(st);
    for (;;) {
        if (rc == SQLITE_DONE) {
            result = result_of(sender.send(true, raised));
            break;
        }
        unsigned char* record = rc == SQLITE_ROW ? sender.append() : nullptr;
        if (rc != SQLITE_ROW)
            error = std::string("the statement failed: ") + sqlite3_errmsg(reader_.get());
        else if (record == nullptr)
            error = "no memory for a chunk of " + std::to_string(sender.rows_per_chunk()) + " records";
        if (record == nullptr || !encoder.encode(st, record, error)) {
            SAPSIM_LOG(info, context_.session().connection_id) << report_ << ": " << error;
            result = result_of(sender.send_error(error, raised));
            break;
        }
        rc = sqlite3_step(st);
        // A full chunk goes once the next row is known to exist; otherwise
        // it is the last one and goes with END_OF_DATA 'X'.
        if (rc == SQLITE_ROW && sender.full()) {
            result = result_of(sender.send(false, raised));
            if (result != Result::finished)
                break;
        }
    }
    // Done or stopped: the statement lets go of the store at once.
    statement_ = Statement{};
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    SAPSIM_LOG(info, context_.session().connection_id)
        << report_ << ": " << sender.rows_sent() << " rows of " << plan_.layout.row_bytes() << " bytes in "
        << sender.chunks_sent() << " chunks, " << ms << " ms"
        << (result == Result::raise ? ", stopped by " + to_utf8(raised) : result == Result::ended ? ", caller gone" : "");
    return result;
}

} // namespace sapsim
