#include "sapsim/sample_data.h"

#include "sapsim/sqlite_statement.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace sapsim {

namespace {

FieldDef field(const char* name, bool key, char type, int length, int decimals, const char* text)
{
    return FieldDef{name, 0, key, type, length, decimals, text};
}

TableDef table(const char* name, bool client_dependent, const char* text, std::vector<FieldDef> fields)
{
    for (size_t i = 0; i < fields.size(); ++i)
        fields[i].position = static_cast<int>(i) + 1;
    return TableDef{name, client_dependent, text, std::move(fields)};
}

const FieldDef mandt = field("MANDT", true, 'C', 3, 0, "Client");

std::vector<TableDef> make_table_defs()
{
    return {
        table("T000", false, "Clients",
              {field("MANDT", true, 'C', 3, 0, "Client"), field("MTEXT", false, 'C', 25, 0, "Client name"),
               field("ORT01", false, 'C', 25, 0, "City"), field("MWAER", false, 'C', 5, 0, "Currency")}),
        table("USR02", true, "Logon data",
              {mandt, field("BNAME", true, 'C', 12, 0, "User name"), field("PASSWORD", false, 'C', 40, 0, "Password"),
               field("USTYP", false, 'C', 1, 0, "User type (A dialog, B system)"),
               field("UFLAG", false, 'C', 1, 0, "Locked (X)"), field("LANGU", false, 'C', 1, 0, "Logon language")}),
        table("SCARR", true, "Airline",
              {mandt, field("CARRID", true, 'C', 3, 0, "Airline code"), field("CARRNAME", false, 'C', 20, 0, "Airline name"),
               field("CURRCODE", false, 'C', 5, 0, "Local currency of airline"), field("URL", false, 'C', 255, 0, "Airline URL")}),
        table("SPFLI", true, "Flight schedule",
              {mandt, field("CARRID", true, 'C', 3, 0, "Airline code"), field("CONNID", true, 'N', 4, 0, "Flight connection"),
               field("COUNTRYFR", false, 'C', 3, 0, "Country from"), field("CITYFROM", false, 'C', 20, 0, "Departure city"),
               field("AIRPFROM", false, 'C', 3, 0, "Departure airport"), field("COUNTRYTO", false, 'C', 3, 0, "Country to"),
               field("CITYTO", false, 'C', 20, 0, "Arrival city"), field("AIRPTO", false, 'C', 3, 0, "Destination airport"),
               field("FLTIME", false, 'I', 4, 0, "Flight time in minutes"), field("DEPTIME", false, 'T', 6, 0, "Departure time"),
               field("ARRTIME", false, 'T', 6, 0, "Arrival time"), field("DISTANCE", false, 'P', 5, 1, "Distance"),
               field("DISTID", false, 'C', 3, 0, "Distance unit"), field("FLTYPE", false, 'C', 1, 0, "Charter flight (X)"),
               field("PERIOD", false, 'b', 1, 0, "Days later arrival")}),
        table("SFLIGHT", true, "Flight",
              {mandt, field("CARRID", true, 'C', 3, 0, "Airline code"), field("CONNID", true, 'N', 4, 0, "Flight connection"),
               field("FLDATE", true, 'D', 8, 0, "Flight date"), field("PRICE", false, 'P', 8, 2, "Airfare"),
               field("CURRENCY", false, 'C', 5, 0, "Local currency of airline"), field("PLANETYPE", false, 'C', 10, 0, "Aircraft type"),
               field("SEATSMAX", false, 'I', 4, 0, "Maximum capacity"), field("SEATSOCC", false, 'I', 4, 0, "Occupied seats"),
               field("PAYMENTSUM", false, 'P', 9, 2, "Total of current bookings")}),
        table("SBOOK", true, "Single flight booking",
              {mandt, field("CARRID", true, 'C', 3, 0, "Airline code"), field("CONNID", true, 'N', 4, 0, "Flight connection"),
               field("FLDATE", true, 'D', 8, 0, "Flight date"), field("BOOKID", true, 'N', 8, 0, "Booking number"),
               field("CUSTOMID", false, 'N', 8, 0, "Customer number"), field("CUSTTYPE", false, 'C', 1, 0, "Customer type (P/B)"),
               field("SMOKER", false, 'C', 1, 0, "Smoker (X)"), field("LUGGWEIGHT", false, 'P', 8, 4, "Weight of luggage"),
               field("WUNIT", false, 'C', 3, 0, "Weight unit"), field("INVOICE", false, 'C', 1, 0, "Invoice (X)"),
               field("CLASS", false, 'C', 1, 0, "Flight class (Y/C/F)"), field("FORCURAM", false, 'P', 8, 2, "Price in foreign currency"),
               field("FORCURKEY", false, 'C', 5, 0, "Payment currency"), field("LOCCURAM", false, 'P', 8, 2, "Price in local currency"),
               field("LOCCURKEY", false, 'C', 5, 0, "Local currency"), field("ORDER_DATE", false, 'D', 8, 0, "Booking date"),
               field("COUNTER", false, 'N', 8, 0, "Sales office"), field("AGENCYNUM", false, 'N', 8, 0, "Travel agency"),
               field("CANCELLED", false, 'C', 1, 0, "Cancelled (X)"), field("PASSNAME", false, 'C', 25, 0, "Passenger name")}),
        table("MARA", true, "General material data",
              {mandt, field("MATNR", true, 'C', 18, 0, "Material number"), field("ERSDA", false, 'D', 8, 0, "Created on"),
               field("MTART", false, 'C', 4, 0, "Material type"), field("MATKL", false, 'C', 9, 0, "Material group"),
               field("MEINS", false, 'C', 3, 0, "Base unit of measure"), field("BRGEW", false, 'P', 7, 3, "Gross weight"),
               field("NTGEW", false, 'P', 7, 3, "Net weight"), field("GEWEI", false, 'C', 3, 0, "Weight unit"),
               field("RAWID", false, 'X', 8, 0, "Raw identifier")}),
        table("MAKT", true, "Material descriptions",
              {mandt, field("MATNR", true, 'C', 18, 0, "Material number"), field("SPRAS", true, 'C', 1, 0, "Language"),
               field("MAKTX", false, 'C', 40, 0, "Material description")}),
    };
}

// splitmix64: a fixed, portable sequence for a fixed seed.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

private:
    std::uint64_t state_;
};

struct Carrier {
    const char* id;
    const char* name;
    const char* currency;
};
constexpr std::array<Carrier, 10> carriers = {{{"AA", "American Airlines", "USD"}, {"AC", "Air Canada", "CAD"},
                                               {"AF", "Air France", "EUR"},        {"AZ", "Alitalia", "EUR"},
                                               {"BA", "British Airways", "GBP"},   {"DL", "Delta Airlines", "USD"},
                                               {"JL", "Japan Airlines", "JPY"},    {"LH", "Lufthansa", "EUR"},
                                               {"QF", "Qantas Airways", "AUD"},    {"SQ", "Singapore Airlines", "SGD"}}};

struct Airport {
    const char* id;
    const char* city;
    const char* country;
    int x, y;  // rough map position in 100 km, for distances and flight times
};
constexpr std::array<Airport, 12> airports = {{{"FRA", "FRANKFURT", "DE", 0, 0},       {"JFK", "NEW YORK", "US", -62, -2},
                                               {"SFO", "SAN FRANCISCO", "US", -91, 3}, {"NRT", "TOKYO", "JP", 93, 8},
                                               {"SIN", "SINGAPORE", "SG", 103, 48},    {"SYD", "SYDNEY", "AU", 160, 78},
                                               {"LHR", "LONDON", "GB", -6, -1},        {"CDG", "PARIS", "FR", -5, 3},
                                               {"FCO", "ROME", "IT", 8, 9},            {"YYZ", "TORONTO", "CA", -64, -4},
                                               {"ATL", "ATLANTA", "US", -73, 8},       {"MEX", "MEXICO CITY", "MX", -95, 25}}};

struct Plane {
    const char* type;
    int seats;
};
constexpr std::array<Plane, 5> planes = {{{"A319-100", 220}, {"A330-300", 440}, {"747-400", 660}, {"A380-800", 853}, {"767-200", 250}}};

constexpr std::array<const char*, 12> first_names = {"Anna", "Ben", "Chen", "Dalia", "Emil", "Fatima",
                                                     "Gustav", "Hana", "Ivan", "Julia", "Kofi", "Lea"};
constexpr std::array<const char*, 12> last_names = {"Schmidt", "Miller", "Rossi", "Tanaka", "Dubois", "Kowalski",
                                                    "Larsen", "Okafor", "Silva", "Novak", "Haddad", "Berg"};

// Days since 1970-01-01 to YYYYMMDD.
std::string date_text(int days)
{
    const std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{days}}};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02u%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()));
    return buf;
}

int days_of(int y, unsigned m, unsigned d)
{
    return static_cast<int>(
        std::chrono::sys_days{std::chrono::year{y} / std::chrono::month{m} / std::chrono::day{d}}.time_since_epoch().count());
}

// Cents (or ten-thousandths) as decimal text with `decimals` places.
std::string decimal_text(std::int64_t scaled, int decimals)
{
    std::int64_t divisor = 1;
    for (int i = 0; i < decimals; ++i)
        divisor *= 10;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%lld.%0*lld", scaled < 0 ? "-" : "", static_cast<long long>(std::llabs(scaled) / divisor),
                  decimals, static_cast<long long>(std::llabs(scaled) % divisor));
    return buf;
}

class Generator {
public:
    Generator(sqlite3* db, std::string& error) : db_(db), error_(error) {}

    bool prepare(const TableDef& t, Statement& s)
    {
        std::string sql = "INSERT INTO \"" + t.name + "\" VALUES (";
        for (size_t i = 0; i < t.fields.size(); ++i)
            sql += i ? ", ?" : "?";
        sql += ")";
        if (!s.prepare(db_, sql)) {
            error_ = sqlite3_errmsg(db_);
            return false;
        }
        return true;
    }

    bool run(Statement& s)
    {
        if (s.step() != SQLITE_DONE) {
            error_ = sqlite3_errmsg(db_);
            return false;
        }
        s.reset();
        return true;
    }

    bool clients_and_users()
    {
        const TableDef* t000 = &SampleData::table_defs()[0];
        const TableDef* usr02 = &SampleData::table_defs()[1];
        Statement c, u;
        if (!prepare(*t000, c) || !prepare(*usr02, u))
            return false;
        const std::array<std::array<const char*, 4>, 3> clients = {
            {{"000", "Administration", "Hamburg", "EUR"}, {"100", "Sandbox", "Berlin", "EUR"}, {"200", "Training", "Zurich", "CHF"}}};
        for (const auto& row : clients) {
            for (int i = 0; i < 4; ++i)
                c.bind_text(i + 1, row[i]);
            if (!run(c))
                return false;
        }
        const std::array<std::array<const char*, 6>, 6> users = {{{"000", "ADMIN", "admin", "A", "", "E"},
                                                                  {"100", "DEMO", "demo", "A", "", "E"},
                                                                  {"100", "ADMIN", "admin", "A", "", "E"},
                                                                  {"100", "RFCUSER", "rfcuser", "B", "", "E"},
                                                                  {"100", "LOCKED", "locked", "A", "X", "E"},
                                                                  {"200", "DEMO", "demo200", "A", "", "D"}}};
        for (const auto& row : users) {
            for (int i = 0; i < 6; ++i)
                u.bind_text(i + 1, row[i]);
            if (!run(u))
                return false;
        }
        return true;
    }

    // One client's flight model: `carrier_count` carriers, 3 connections each,
    // weekly flights over a year, `bookings` bookings spread evenly over them.
    bool flights(const char* client, size_t carrier_count, std::int64_t bookings, std::uint64_t seed)
    {
        const auto& defs = SampleData::table_defs();
        Statement scarr, spfli, sflight, sbook;
        if (!prepare(defs[2], scarr) || !prepare(defs[3], spfli) || !prepare(defs[4], sflight) || !prepare(defs[5], sbook))
            return false;
        Random rnd(seed);
        constexpr int connections_per_carrier = 3;
        constexpr int weeks = 52;
        const int first_day = days_of(2026, 1, 7);
        const std::int64_t flight_count = static_cast<std::int64_t>(carrier_count) * connections_per_carrier * weeks;
        std::int64_t flight_index = 0;
        std::int64_t bookid = 0;
        char buf[32];
        for (size_t ci = 0; ci < carrier_count; ++ci) {
            const Carrier& carrier = carriers[ci];
            scarr.bind_text(1, client);
            scarr.bind_text(2, carrier.id);
            scarr.bind_text(3, carrier.name);
            scarr.bind_text(4, carrier.currency);
            scarr.bind_text(5, std::string("https://www.example.com/") + carrier.id);
            if (!run(scarr))
                return false;
            for (int k = 0; k < connections_per_carrier; ++k) {
                const Airport& from = airports[static_cast<size_t>(rnd.below(static_cast<int>(airports.size())))];
                const Airport* to = &airports[static_cast<size_t>(rnd.below(static_cast<int>(airports.size())))];
                if (to == &from)
                    to = &airports[(static_cast<size_t>(to - airports.data()) + 1) % airports.size()];
                const int dx = from.x - to->x, dy = from.y - to->y;
                int distance = 0;  // integer square root, in km
                while ((distance + 1) * (distance + 1) <= (dx * dx + dy * dy) * 10000)
                    ++distance;
                const int fltime = 30 + distance * 60 / 850;
                const int dep = 6 * 60 + rnd.below(16 * 60);
                const int arr_total = dep + fltime;
                std::snprintf(buf, sizeof buf, "%04d", 17 + 100 * static_cast<int>(ci) + k * 7);
                const std::string connid = buf;
                spfli.bind_text(1, client);
                spfli.bind_text(2, carrier.id);
                spfli.bind_text(3, connid);
                spfli.bind_text(4, from.country);
                spfli.bind_text(5, from.city);
                spfli.bind_text(6, from.id);
                spfli.bind_text(7, to->country);
                spfli.bind_text(8, to->city);
                spfli.bind_text(9, to->id);
                spfli.bind_int(10, fltime);
                std::snprintf(buf, sizeof buf, "%02d%02d00", dep / 60, dep % 60);
                spfli.bind_text(11, buf);
                std::snprintf(buf, sizeof buf, "%02d%02d00", (arr_total / 60) % 24, arr_total % 60);
                spfli.bind_text(12, buf);
                spfli.bind_text(13, decimal_text(distance * 10, 1));
                spfli.bind_text(14, "KM");
                spfli.bind_text(15, "");
                spfli.bind_int(16, arr_total / (24 * 60));
                if (!run(spfli))
                    return false;

                const Plane& plane = planes[static_cast<size_t>(rnd.below(static_cast<int>(planes.size())))];
                const std::int64_t base_price = 9900 + distance * 12;  // cents
                for (int w = 0; w < weeks; ++w, ++flight_index) {
                    const int day = first_day + 7 * w;
                    const std::string fldate = date_text(day);
                    const std::int64_t count = bookings / flight_count + (flight_index < bookings % flight_count ? 1 : 0);
                    std::int64_t payment = 0;
                    for (std::int64_t b = 0; b < count; ++b) {
                        const int r = rnd.below(100);
                        const char* cls = r < 80 ? "Y" : r < 95 ? "C" : "F";
                        const std::int64_t price = base_price * (r < 80 ? 1 : r < 95 ? 2 : 4);
                        payment += price;
                        sbook.bind_text(1, client);
                        sbook.bind_text(2, carrier.id);
                        sbook.bind_text(3, connid);
                        sbook.bind_text(4, fldate);
                        std::snprintf(buf, sizeof buf, "%08lld", static_cast<long long>(++bookid));
                        sbook.bind_text(5, buf);
                        std::snprintf(buf, sizeof buf, "%08d", 1 + rnd.below(4600));
                        sbook.bind_text(6, buf);
                        sbook.bind_text(7, rnd.below(4) == 0 ? "B" : "P");
                        sbook.bind_text(8, rnd.below(10) == 0 ? "X" : "");
                        sbook.bind_text(9, decimal_text(rnd.below(300000), 4));
                        sbook.bind_text(10, "KG");
                        sbook.bind_text(11, rnd.below(5) == 0 ? "X" : "");
                        sbook.bind_text(12, cls);
                        const std::string amount = decimal_text(price, 2);
                        sbook.bind_text(13, amount);
                        sbook.bind_text(14, carrier.currency);
                        sbook.bind_text(15, amount);
                        sbook.bind_text(16, carrier.currency);
                        sbook.bind_text(17, date_text(day - 1 - rnd.below(180)));
                        std::snprintf(buf, sizeof buf, "%08lld", static_cast<long long>(b + 1));
                        sbook.bind_text(18, buf);
                        std::snprintf(buf, sizeof buf, "%08d", 100 + rnd.below(50));
                        sbook.bind_text(19, buf);
                        sbook.bind_text(20, rnd.below(33) == 0 ? "X" : "");
                        std::snprintf(buf, sizeof buf, "%s %s", first_names[static_cast<size_t>(rnd.below(12))],
                                      last_names[static_cast<size_t>(rnd.below(12))]);
                        sbook.bind_text(21, buf);
                        if (!run(sbook))
                            return false;
                    }
                    sflight.bind_text(1, client);
                    sflight.bind_text(2, carrier.id);
                    sflight.bind_text(3, connid);
                    sflight.bind_text(4, fldate);
                    sflight.bind_text(5, decimal_text(base_price, 2));
                    sflight.bind_text(6, carrier.currency);
                    sflight.bind_text(7, plane.type);
                    sflight.bind_int(8, std::max<std::int64_t>(plane.seats, count));
                    sflight.bind_int(9, count);
                    sflight.bind_text(10, decimal_text(payment, 2));
                    if (!run(sflight))
                        return false;
                }
            }
        }
        return true;
    }

    bool materials(const char* client, int count, std::uint64_t seed)
    {
        const auto& defs = SampleData::table_defs();
        Statement mara, makt;
        if (!prepare(defs[6], mara) || !prepare(defs[7], makt))
            return false;
        Random rnd(seed);
        constexpr std::array<const char*, 4> types = {"FERT", "HALB", "ROH", "HAWA"};
        constexpr std::array<const char*, 6> nouns = {"Pump", "Valve", "Bearing", "Gear", "Sensor", "Housing"};
        constexpr std::array<const char*, 6> nomen = {"Pumpe", "Ventil", "Lager", "Getriebe", "Sensor", "Gehaeuse"};
        char buf[64];
        for (int i = 1; i <= count; ++i) {
            std::snprintf(buf, sizeof buf, "%018d", 100000 + i);
            const std::string matnr = buf;
            const std::int64_t net = 100 + rnd.below(500000);
            mara.bind_text(1, client);
            mara.bind_text(2, matnr);
            mara.bind_text(3, date_text(days_of(2020, 1, 1) + rnd.below(2000)));
            mara.bind_text(4, types[static_cast<size_t>(rnd.below(4))]);
            std::snprintf(buf, sizeof buf, "%03d", rnd.below(40));
            mara.bind_text(5, buf);
            mara.bind_text(6, "ST");
            mara.bind_text(7, decimal_text(net + rnd.below(5000), 3));
            mara.bind_text(8, decimal_text(net, 3));
            mara.bind_text(9, "KG");
            const std::uint64_t raw = rnd.next();
            mara.bind_blob(10, &raw, sizeof raw);
            if (!run(mara))
                return false;
            const size_t noun = static_cast<size_t>(rnd.below(6));
            const int size = 10 + rnd.below(90);
            const std::array<std::pair<const char*, std::string>, 2> texts = {
                {{"D", std::string(nomen[noun]) + " Groesse " + std::to_string(size)},
                 {"E", std::string(nouns[noun]) + " size " + std::to_string(size)}}};
            for (const auto& [lang, text] : texts) {
                makt.bind_text(1, client);
                makt.bind_text(2, matnr);
                makt.bind_text(3, lang);
                makt.bind_text(4, text);
                if (!run(makt))
                    return false;
            }
        }
        return true;
    }

private:
    sqlite3* db_;
    std::string& error_;
};

} // namespace

const std::vector<TableDef>& SampleData::table_defs()
{
    static const std::vector<TableDef> defs = make_table_defs();
    return defs;
}

bool SampleData::create(sqlite3* db, const StoreOptions& options, std::string& error)
{
    for (const TableDef& t : table_defs())
        if (!Store::define_table(db, t, error))
            return false;
    Generator g(db, error);
    return g.clients_and_users() && g.flights("100", carriers.size(), options.bookings, 0x5A9517'0100) &&
           g.flights("200", 4, 2000, 0x5A9517'0200) && g.materials("100", 500, 0x3A7E'0100) &&
           g.materials("200", 50, 0x3A7E'0200);
}

} // namespace sapsim
