// Z_VOK_STREAM_TABLE: the rows of a store table streamed to a client
// connection of the VOK server through Z_VOK_DATA_CHUNK, as an ABAP module
// called for a client hands large results over while it runs. The records
// are those of a select over all fields (docs/extraction-records.md); the
// first chunk carries the FIELD lines of the record in MTAB.
#include "sapsim/described_module.h"
#include "sapsim/logger.h"
#include "sapsim/modules.h"
#include "sapsim/read/data_chunk_sender.h"
#include "sapsim/read/record_encoder.h"
#include "sapsim/read/sql_builder.h"
#include "sapsim/sqlite_statement.h"
#include "sapsim/store.h"
#include "sapsim/text.h"
#include "sapsim/vok_dialog_module.h"
#include "sapsim/vok_request.h"

#include <algorithm>
#include <cctype>

namespace sapsim {

namespace {

FunctionInterface stream_table_interface()
{
    return FunctionInterface{
        "Z_VOK_STREAM_TABLE",
        "Streams the rows of a table to a connection of the VOK server in chunks",
        {optional_in("QUERY_TABLE", AbapType::character(30), "Table whose rows are streamed", "SCARR"),
         optional_in("DHANDLE", AbapType::character(vok_dialog::chunk_dhandle_chars),
                     "Connection the chunks go to (blank: the data handle of the request)"),
         optional_in("ROWCOUNT", AbapType::int4(), "Most rows streamed (0: all)"),
         optional_in("BLOCKSIZE", AbapType::int4(), "Most bytes of rows in one chunk (0: 10000)"),
         out_parameter("ROWS", AbapType::int4(), "Rows sent"),
         out_parameter("CHUNKS", AbapType::int4(), "Chunks sent")},
        {},
        {{"TABLE_NOT_AVAILABLE", "QUERY_TABLE names no table"},
         {"NO_DATA_HANDLE", "Neither DHANDLE nor the request names a connection"},
         {"INVALID_DATA_HANDLE", "The VOK server knows no connection of that handle"},
         {"KILLED_BY_VOK", "The client's data connection is gone"}}};
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The record of the plan as a table description, for its FIELD lines.
TableDescription record_table(const SqlPlan& plan)
{
    TableDescription table{plan.table_name, static_cast<size_t>(plan.layout.row_bytes()), {}, false, {}, {}};
    for (const OutputColumn& c : plan.layout.columns())
        table.fields.push_back(FieldDescription{
            c.name, AbapType{c.type, static_cast<size_t>(c.bytes), c.decimals}, static_cast<size_t>(c.offset),
            c.description});
    return table;
}

class StreamTableModule : public DescribedModule {
public:
    StreamTableModule() : DescribedModule(stream_table_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        FunctionFrame& frame = run.frame;
        char16_t dhandle[vok_dialog::chunk_dhandle_chars];
        const std::string own_handle = frame.text("DHANDLE");
        if (own_handle.empty())
            put_chars(dhandle, vok_dialog::chunk_dhandle_chars, std::u16string_view(run.request_dhandle));
        else
            put_chars(dhandle, vok_dialog::chunk_dhandle_chars, own_handle);
        if (get_chars(dhandle, vok_dialog::chunk_dhandle_chars).empty())
            return raise(run, u"NO_DATA_HANDLE");

        std::string error;
        const Store::Connection db = run.context.services().store.open_reader(error);
        if (!db)
            return database_failure(run, "the tables cannot be read: " + error);
        const std::optional<TableDef> table = Store::read_table(db.get(), upper(frame.text("QUERY_TABLE")));
        if (!table)
            return raise(run, u"TABLE_NOT_AVAILABLE");
        SelectRequest request;
        SelectPart part;
        part.tables.push_back(TableLine{table->name, {}, JoinKind::none, {}, 1});
        if (std::any_of(table->fields.begin(), table->fields.end(), [](const FieldDef& f) { return f.key; }))
            part.order_by.push_back(ClauseLine{"PRIMARY KEY", 0});
        request.parts.push_back(std::move(part));
        request.fields.push_back(FieldLine{table->name, "*", {}, false, {}, false, 0});
        sqlite3* reader = db.get();
        SqlBuilder builder([reader](std::string_view n) { return Store::read_table(reader, n); },
                           run.context.session().client);
        SqlPlan plan;
        if (!builder.build(request, plan, error)) {
            // A table of the client field alone has no record to stream.
            SAPSIM_LOG(info, run.context.session().connection_id) << name() << ": " << error;
            return raise(run, u"TABLE_NOT_AVAILABLE");
        }
        Statement statement;
        if (!statement.prepare(reader, plan.sql))
            return database_failure(run, std::string("the statement cannot run: ") + sqlite3_errmsg(reader));
        plan.bind(statement);

        const std::int64_t block = frame.integer("BLOCKSIZE");
        DataChunkSender sender(run.context, name(), dhandle, plan.table_name,
                               static_cast<unsigned>(plan.layout.row_bytes()),
                               block > 0 ? block : VokRequest::default_block_size);
        if (!sender.ready() || !sender.describe(field_lines(record_table(plan))))
            return out_of_memory(run);
        const ModuleOutcome outcome = stream(run, reader, statement, plan, sender);
        frame.set_integer("ROWS", static_cast<std::int64_t>(sender.rows_sent()));
        frame.set_integer("CHUNKS", static_cast<std::int64_t>(sender.chunks_sent()));
        SAPSIM_LOG(debug, run.context.session().connection_id)
            << name() << ": " << sender.rows_sent() << " rows of " << plan.table_name << " in " << sender.chunks_sent()
            << " chunks to " << get_chars(dhandle, vok_dialog::chunk_dhandle_chars);
        return outcome;
    }

private:
    // Every chunk but the last is sent once the next row is known to exist,
    // so the last one, with END_OF_DATA 'X', is never an empty trailer.
    ModuleOutcome stream(ModuleRun& run, sqlite3* db, Statement& statement, const SqlPlan& plan,
                         DataChunkSender& sender) const
    {
        const std::int64_t wanted = run.frame.integer("ROWCOUNT");
        const RecordEncoder encoder(plan.layout);
        std::string error;
        std::int64_t rows = 0;
        int rc = statement.step();
        for (;;) {
            if (rc == SQLITE_DONE || (wanted > 0 && rows == wanted))
                return sent(sender.send(true, run.raised));
            if (rc != SQLITE_ROW)
                return database_failure(run, std::string("the statement failed: ") + sqlite3_errmsg(db));
            unsigned char* record = sender.append();
            if (record == nullptr)
                return out_of_memory(run);
            if (!encoder.encode(statement.handle(), record, error))
                return database_failure(run, error);
            ++rows;
            rc = statement.step();
            if (rc == SQLITE_ROW && sender.full() && (wanted <= 0 || rows < wanted)) {
                const ModuleOutcome outcome = sent(sender.send(false, run.raised));
                if (outcome != ModuleOutcome::answer)
                    return outcome;
            }
        }
    }

    // After a chunk: an exception of the server is raised again under its
    // own name (INVALID_DATA_HANDLE, KILLED_BY_VOK).
    static ModuleOutcome sent(CallbackOutcome outcome)
    {
        switch (outcome) {
        case CallbackOutcome::answered: return ModuleOutcome::answer;
        case CallbackOutcome::raised: return ModuleOutcome::raise;
        case CallbackOutcome::failed: break;
        }
        return ModuleOutcome::ended;
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_vok_stream_table_module()
{
    return std::make_unique<StreamTableModule>();
}

} // namespace sapsim
