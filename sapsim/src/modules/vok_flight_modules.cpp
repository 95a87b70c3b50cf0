// Described modules over the flight model: the flights of airlines in a date
// range (SFLIGHT) and the bookings of flights (SBOOK), returned as tables of
// structured lines (docs/sapsim.md, "Described function modules"). The lines
// are the records of docs/extraction-records.md over the structure's fields;
// each field is read from the store column of its name, in the logon client.
#include "sapsim/described_module.h"
#include "sapsim/logger.h"
#include "sapsim/modules.h"
#include "sapsim/read/record_encoder.h"
#include "sapsim/read/record_layout.h"
#include "sapsim/sqlite_statement.h"
#include "sapsim/store.h"
#include "sapsim/text.h"

#include <set>
#include <tuple>

namespace sapsim {

namespace {

// The line layout of a structured table as the record layout that encodes it.
RecordLayout record_layout(const TableDescription& table)
{
    RecordLayout layout;
    for (const FieldDescription& f : table.fields) {
        const int length = static_cast<int>(f.type.is_text() ? f.type.chars() : f.type.bytes);
        layout.add(f.name, ValueType{f.type.type, length, f.type.decimals}, f.description);
    }
    return layout;
}

// The store columns of a table's fields, for a select list.
std::string select_list(const TableDescription& table)
{
    std::string list;
    for (const FieldDescription& f : table.fields)
        list += (list.empty() ? "\"" : ", \"") + f.name + "\"";
    return list;
}

// A read of store rows into a structured table, on a read connection of its own.
class RowReader {
public:
    enum class Result { done, more, no_memory, failed };

    RowReader(const ModuleRun& run, const TableDescription& table) : layout_(record_layout(table)), encoder_(layout_)
    {
        db_ = run.context.services().store.open_reader(error_);
    }

    bool open() const { return db_ != nullptr; }
    const std::string& error() const { return error_; }
    sqlite3* db() const { return db_.get(); }

    bool prepare(Statement& statement, const std::string& sql)
    {
        if (statement.prepare(db_.get(), sql))
            return true;
        error_ = std::string("the statement cannot run: ") + sqlite3_errmsg(db_.get());
        return false;
    }

    // Appends the rows of `statement` to `out`, at most `limit`: `more` when
    // a row beyond the limit exists.
    Result append(Statement& statement, ITAB_H out, std::int64_t limit)
    {
        for (std::int64_t count = 0;; ++count) {
            const int rc = statement.step();
            if (rc == SQLITE_DONE)
                return Result::done;
            if (rc != SQLITE_ROW) {
                error_ = std::string("the statement failed: ") + sqlite3_errmsg(db_.get());
                return Result::failed;
            }
            if (count == limit)
                return Result::more;
            auto* line = static_cast<unsigned char*>(ItAppLine(out));
            if (line == nullptr)
                return Result::no_memory;
            if (!encoder_.encode(statement.handle(), line, error_))
                return Result::failed;
        }
    }

private:
    RecordLayout layout_;
    RecordEncoder encoder_;
    Store::Connection db_;
    std::string error_;
};

FunctionInterface flight_list_interface()
{
    return FunctionInterface{
        "Z_VOK_FLIGHT_LIST",
        "Flights of airlines in a date range",
        {optional_in("AIRLINE", AbapType::character(3), "Airline code", "LH"),
         optional_in("FROM_DATE", AbapType::date(), "First flight date (initial: no limit)"),
         optional_in("TO_DATE", AbapType::date(), "Last flight date (initial: no limit)"),
         optional_in("MAX_ROWS", AbapType::int4(), "Most flights returned (0: all)"),
         out_parameter("COUNT", AbapType::int4(), "Flights returned"),
         out_parameter("CARRNAME", AbapType::character(20), "Name of the airline AIRLINE")},
        {structured_table("CARRIERS", "ZVOK_S_CARRID", true, "Further airlines whose flights are listed",
                          {{"CARRID", AbapType::character(3), "Airline code"}}),
         structured_table("FLIGHTS", "ZVOK_S_FLIGHT", false, "The flights by airline, connection and date",
                          {{"CARRID", AbapType::character(3), "Airline code"},
                           {"CONNID", AbapType::numeric(4), "Flight connection"},
                           {"FLDATE", AbapType::date(), "Flight date"},
                           {"PRICE", AbapType::packed(8, 2), "Airfare"},
                           {"CURRENCY", AbapType::character(5), "Local currency of airline"},
                           {"PLANETYPE", AbapType::character(10), "Aircraft type"},
                           {"SEATSMAX", AbapType::int4(), "Maximum capacity"},
                           {"SEATSOCC", AbapType::int4(), "Occupied seats"},
                           {"PAYMENTSUM", AbapType::packed(9, 2), "Total of current bookings"}})},
        {{"INVALID_DATE", "FROM_DATE or TO_DATE is no date or FROM_DATE lies after TO_DATE"},
         {"TOO_MANY_ROWS", "More flights than a table may return: give MAX_ROWS"}}};
}

bool date_digits(const std::string& date)
{
    return date.size() == 8 && date.find_first_not_of("0123456789") == std::string::npos;
}

// A returned table holds at most this many rows (a read keeps them in
// memory, here and at the caller).
constexpr std::int64_t max_returned_rows = 200'000;

// The row limit of a read with MAX_ROWS `wanted`, and whether reaching it is an error.
std::int64_t row_limit(std::int64_t wanted, bool& limit_is_error)
{
    limit_is_error = wanted <= 0 || wanted > max_returned_rows;
    return limit_is_error ? max_returned_rows : wanted;
}

class FlightListModule : public DescribedModule {
public:
    FlightListModule() : DescribedModule(flight_list_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        FunctionFrame& frame = run.frame;
        std::string from = frame.text("FROM_DATE"), to = frame.text("TO_DATE");
        if (from.empty())
            from = "00000000";
        if (to.empty() || to == "00000000")
            to = "99991231";
        if (!date_digits(from) || !date_digits(to) || from > to)
            return raise(run, u"INVALID_DATE");

        std::set<std::string> airlines;
        const std::string airline = frame.text("AIRLINE");
        if (!airline.empty())
            airlines.insert(airline);
        const ITAB_H carriers = frame.table("CARRIERS");
        const FieldDescription& carrid = interface().tables[0].fields[0];
        for (unsigned i = 1; i <= ItFill(carriers); ++i) {
            const std::string carrier =
                get_utf16le(static_cast<const unsigned char*>(ItGetLine(carriers, i)) + carrid.offset, carrid.type.chars());
            if (!carrier.empty())
                airlines.insert(carrier);
        }

        const TableDescription& flights = interface().tables[1];
        RowReader reader(run, flights);
        Statement select, name_of;
        if (!reader.open() ||
            !reader.prepare(select, "SELECT " + select_list(flights) +
                                        " FROM \"SFLIGHT\" WHERE \"MANDT\" = ?1 AND \"CARRID\" = ?2"
                                        " AND \"FLDATE\" BETWEEN ?3 AND ?4 ORDER BY \"CONNID\", \"FLDATE\"") ||
            !reader.prepare(name_of, "SELECT \"CARRNAME\" FROM \"SCARR\" WHERE \"MANDT\" = ?1 AND \"CARRID\" = ?2"))
            return database_failure(run, reader.error());

        bool limit_is_error = false;
        const std::int64_t limit = row_limit(frame.integer("MAX_ROWS"), limit_is_error);
        const ITAB_H out = frame.table("FLIGHTS");
        for (const std::string& carrier : airlines) {
            select.reset();
            select.bind_text(1, run.context.session().client);
            select.bind_text(2, carrier);
            select.bind_text(3, from);
            select.bind_text(4, to);
            const RowReader::Result result = reader.append(select, out, limit - ItFill(out));
            if (result == RowReader::Result::no_memory)
                return out_of_memory(run);
            if (result == RowReader::Result::failed)
                return database_failure(run, reader.error());
            if (result == RowReader::Result::more) {
                if (limit_is_error)
                    return raise(run, u"TOO_MANY_ROWS");
                break;
            }
        }
        name_of.bind_text(1, run.context.session().client);
        name_of.bind_text(2, airline);
        frame.set_text("CARRNAME", name_of.step() == SQLITE_ROW ? name_of.column_text(0) : std::string());
        frame.set_integer("COUNT", ItFill(out));
        SAPSIM_LOG(debug, run.context.session().connection_id)
            << name() << ": " << ItFill(out) << " flights of " << airlines.size() << " airlines";
        return ModuleOutcome::answer;
    }
};

FunctionInterface booking_read_interface()
{
    return FunctionInterface{
        "Z_VOK_BOOKING_READ",
        "Bookings of flights",
        {optional_in("MAX_ROWS", AbapType::int4(), "Most bookings returned (0: all)", "100"),
         out_parameter("COUNT", AbapType::int4(), "Bookings returned")},
        {structured_table("FLIGHT_KEYS", "ZVOK_S_FLIGHT_KEY", true, "Flights whose bookings are read (none: all)",
                          {{"CARRID", AbapType::character(3), "Airline code"},
                           {"CONNID", AbapType::numeric(4), "Flight connection"},
                           {"FLDATE", AbapType::date(), "Flight date"}}),
         structured_table("BOOKINGS", "ZVOK_S_BOOKING", false, "The bookings by flight and booking number",
                          {{"CARRID", AbapType::character(3), "Airline code"},
                           {"CONNID", AbapType::numeric(4), "Flight connection"},
                           {"FLDATE", AbapType::date(), "Flight date"},
                           {"BOOKID", AbapType::numeric(8), "Booking number"},
                           {"CUSTOMID", AbapType::numeric(8), "Customer number"},
                           {"CLASS", AbapType::character(1), "Flight class (Y/C/F)"},
                           {"LUGGWEIGHT", AbapType::packed(8, 4), "Weight of luggage"},
                           {"WUNIT", AbapType::character(3), "Weight unit"},
                           {"FORCURAM", AbapType::packed(8, 2), "Price in foreign currency"},
                           {"FORCURKEY", AbapType::character(5), "Payment currency"},
                           {"ORDER_DATE", AbapType::date(), "Booking date"},
                           {"CANCELLED", AbapType::character(1), "Cancelled (X)"},
                           {"PASSNAME", AbapType::character(25), "Passenger name"}})},
        {{"TOO_MANY_ROWS", "More bookings than a table may return: give MAX_ROWS or fewer flights"}}};
}

class BookingReadModule : public DescribedModule {
public:
    BookingReadModule() : DescribedModule(booking_read_interface()) {}
    ModuleOutcome run(ModuleRun& run) const override
    {
        FunctionFrame& frame = run.frame;
        const TableDescription& keys_table = interface().tables[0];
        const TableDescription& bookings = interface().tables[1];
        std::set<std::tuple<std::string, std::string, std::string>> keys;
        const ITAB_H key_lines = frame.table("FLIGHT_KEYS");
        for (unsigned i = 1; i <= ItFill(key_lines); ++i) {
            const auto* line = static_cast<const unsigned char*>(ItGetLine(key_lines, i));
            std::string key[3];
            for (size_t k = 0; k < 3; ++k) {
                const FieldDescription& f = keys_table.fields[k];
                key[k] = get_utf16le(line + f.offset, f.type.chars());
            }
            keys.emplace(key[0], key[1], key[2]);
        }

        RowReader reader(run, bookings);
        Statement select;
        const std::string sql = "SELECT " + select_list(bookings) + " FROM \"SBOOK\" WHERE \"MANDT\" = ?1" +
                                (keys.empty() ? std::string(" ORDER BY \"CARRID\", \"CONNID\", \"FLDATE\", \"BOOKID\"")
                                              : " AND \"CARRID\" = ?2 AND \"CONNID\" = ?3 AND \"FLDATE\" = ?4"
                                                " ORDER BY \"BOOKID\"");
        if (!reader.open() || !reader.prepare(select, sql))
            return database_failure(run, reader.error());

        bool limit_is_error = false;
        const std::int64_t limit = row_limit(frame.integer("MAX_ROWS"), limit_is_error);
        const ITAB_H out = frame.table("BOOKINGS");
        // Without keys one read of all flights, else one read per flight.
        const size_t reads = keys.empty() ? 1 : keys.size();
        auto key = keys.begin();
        for (size_t r = 0; r < reads; ++r) {
            select.reset();
            select.bind_text(1, run.context.session().client);
            if (key != keys.end()) {
                select.bind_text(2, std::get<0>(*key));
                select.bind_text(3, std::get<1>(*key));
                select.bind_text(4, std::get<2>(*key));
                ++key;
            }
            const RowReader::Result result = reader.append(select, out, limit - ItFill(out));
            if (result == RowReader::Result::no_memory)
                return out_of_memory(run);
            if (result == RowReader::Result::failed)
                return database_failure(run, reader.error());
            if (result == RowReader::Result::more) {
                if (limit_is_error)
                    return raise(run, u"TOO_MANY_ROWS");
                break;
            }
        }
        frame.set_integer("COUNT", ItFill(out));
        SAPSIM_LOG(debug, run.context.session().connection_id)
            << name() << ": " << ItFill(out) << " bookings of " << (keys.empty() ? "all" : std::to_string(keys.size()))
            << " flights";
        return ModuleOutcome::answer;
    }
};

} // namespace

std::unique_ptr<FunctionModule> make_vok_flight_list_module()
{
    return std::make_unique<FlightListModule>();
}

std::unique_ptr<FunctionModule> make_vok_booking_read_module()
{
    return std::make_unique<BookingReadModule>();
}

} // namespace sapsim
