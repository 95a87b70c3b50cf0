// Translates a decoded select request (SelectRequest) into one SQL statement
// for SQLite over the store's tables, with its parameters and the layout of
// the records it produces (docs/sapsim.md, "The read report"):
//   sselect, gselect  one statement: the first table, the others joined to it
//                     (inner unless the T line says left) on their on
//                     conditions; where, group by, having, order by;
//   nselect           its statements nested: each later statement runs for
//                     every row of the ones before and may refer to their
//                     fields as alias~field; a row is written for every
//                     combination, as an inner join in the order of the loops.
// Every client-dependent table is read in the logon client only.
#pragma once

#include "sapsim/dictionary.h"
#include "sapsim/read/record_layout.h"
#include "sapsim/read/select_request.h"
#include "sapsim/sqlite_statement.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sapsim {

struct SqlPlan {
    std::string sql;
    std::vector<FieldValue> parameters;  // ?1, ?2, ...
    RecordLayout layout;                 // result column i is layout column i
    std::string table_name;              // the first table
    std::string summary;                 // "gselect over SPFLI, SFLIGHT (left join)"

    // Binds the parameters to a statement prepared from `sql`.
    void bind(Statement& statement) const;
};

class SqlBuilder {
public:
    // Rows wider than a table line may be cannot be sent.
    static constexpr int max_row_bytes = 8 << 20;

    using TableLookup = std::function<std::optional<TableDef>(std::string_view name)>;
    SqlBuilder(TableLookup lookup, std::string client) : lookup_(std::move(lookup)), client_(std::move(client)) {}

    // False and a message for the analyst when the statement cannot run.
    bool build(const SelectRequest& request, SqlPlan& plan, std::string& error);

private:
    struct Output {
        SqlExpression expression;
        std::string name;
        std::string description;
    };

    bool make_scope(const SelectRequest& request, std::string& error);
    bool from_and_where(const SelectRequest& request, std::string& sql, std::string& error);
    bool select_list(const SelectRequest& request, std::string& error);
    bool add_field(const FieldLine& line, size_t& cursor, bool nested, std::string& error);
    bool group_by(const SelectPart& part, std::string& sql, std::string& error);
    bool having(const SelectPart& part, std::string& sql, std::string& error);
    bool order_by(const SelectPart& part, std::string& sql, std::string& error);
    bool condition(const std::vector<ClauseLine>& lines, ScopeView view, bool aggregates, std::string& sql,
                   std::string& error);
    bool grouped_field_allowed(const SqlExpression& e) const;
    // With aggregates or a group by, every field read is grouped or aggregated.
    bool check_grouping(std::string& error) const;
    std::string client_filter(const ScopeTable& table);

    TableLookup lookup_;
    std::string client_;
    TableScope scope_;
    SqlParameters parameters_;
    std::vector<Output> outputs_;
    std::vector<SqlExpression> groups_;
    bool distinct_ = false;
    bool grouped_ = false;
};

} // namespace sapsim
