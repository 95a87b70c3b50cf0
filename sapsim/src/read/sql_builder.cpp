#include "sapsim/read/sql_builder.h"

#include "sapsim/read/condition_translator.h"
#include "sapsim/read/osql_lexer.h"
#include "sapsim/read/osql_parser.h"

#include <algorithm>
#include <cctype>

namespace sapsim {

namespace {

// Names reach SQL only in double quotes and only from the dictionary; this
// keeps a store with odd names from ever changing the statement.
bool plain_name(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isupper(c) || std::isdigit(c) || c == '_';
    });
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string line_prefix(const char* table, int line)
{
    return std::string(table) + " line " + std::to_string(line) + ": ";
}

bool same_field(const FieldRef& a, const FieldRef& b)
{
    return a.table == b.table && a.field == b.field;
}

} // namespace

bool SqlBuilder::build(const SelectRequest& request, SqlPlan& plan, std::string& error)
{
    scope_ = TableScope{};
    parameters_ = SqlParameters{};
    outputs_.clear();
    groups_.clear();
    distinct_ = request.distinct;
    grouped_ = false;
    plan = SqlPlan{};
    if (!make_scope(request, error) || !select_list(request, error))
        return false;
    std::string from;
    if (!from_and_where(request, from, error))
        return false;
    std::string tail;
    if (request.kind != SelectKind::nested) {
        const SelectPart& part = request.parts.front();
        if (!group_by(part, tail, error) || !check_grouping(error) || !having(part, tail, error) ||
            !order_by(part, tail, error))
            return false;
    } else if (!check_grouping(error)) {
        return false;
    }
    std::string sql = distinct_ ? "SELECT DISTINCT " : "SELECT ";
    for (size_t i = 0; i < outputs_.size(); ++i) {
        // The records show a null as the initial value anyway; only distinct
        // rows need stored nulls and initial values made one.
        const SqlExpression& e = outputs_[i].expression;
        sql += (i > 0 ? ", " : "") + (e.column.empty() || distinct_ ? e.value : e.column);
        plan.layout.add(outputs_[i].name, outputs_[i].expression.type, outputs_[i].description);
    }
    if (plan.layout.row_bytes() > max_row_bytes) {
        error = "a record of " + std::to_string(plan.layout.row_bytes()) + " bytes is too wide (at most " +
                std::to_string(max_row_bytes) + "): select fewer fields";
        return false;
    }
    plan.sql = sql + " " + from + tail;
    plan.parameters = parameters_.values();
    plan.table_name = scope_.tables().front().def.name;
    plan.summary = std::string(select_kind_name(request.kind)) + " over ";
    for (size_t i = 0; i < scope_.tables().size(); ++i) {
        const ScopeTable& t = scope_.tables()[i];
        plan.summary += (i > 0 ? ", " : "") + t.def.name + (t.alias != t.def.name ? " " + t.alias : "") +
                        (t.outer ? " (left join)" : "");
    }
    return true;
}

bool SqlBuilder::make_scope(const SelectRequest& request, std::string& error)
{
    size_t index = 0;
    for (size_t p = 0; p < request.parts.size(); ++p) {
        const SelectPart& part = request.parts[p];
        for (size_t k = 0; k < part.tables.size(); ++k, ++index) {
            const TableLine& line = part.tables[k];
            std::optional<TableDef> def = lookup_(line.name);
            if (!def) {
                error = line_prefix("JDATA", line.line) + "table " + line.name + " does not exist";
                return false;
            }
            const bool names_ok = plain_name(def->name) && std::all_of(def->fields.begin(), def->fields.end(),
                                                                       [](const FieldDef& f) { return plain_name(f.name); });
            if (!names_ok || def->fields.empty()) {
                error = "table " + def->name + " cannot be read: its dictionary entry is not usable";
                return false;
            }
            ScopeTable t;
            t.alias = line.alias.empty() ? def->name : line.alias;
            t.has_alias = !line.alias.empty();
            t.def = std::move(*def);
            t.sql_name = "t" + std::to_string(index + 1);
            t.outer = request.kind != SelectKind::nested && k > 0 && line.join == JoinKind::left;
            t.part = p;
            // The statements of an nselect may each read the same table under
            // its name; in a join every table needs a name of its own.
            if (request.kind != SelectKind::nested)
                for (const ScopeTable& other : scope_.tables())
                    if (other.alias == t.alias) {
                        error = line_prefix("JDATA", line.line) + t.alias + " names two tables: give each an alias";
                        return false;
                    }
            scope_.add(std::move(t));
        }
    }
    return true;
}

std::string SqlBuilder::client_filter(const ScopeTable& table)
{
    if (!table.def.client_dependent)
        return {};
    return table.sql_name + ".\"MANDT\" = " + parameters_.client(client_);
}

bool SqlBuilder::condition(const std::vector<ClauseLine>& lines, ScopeView view, bool aggregates, std::string& sql,
                           std::string& error)
{
    std::vector<OsqlToken> tokens;
    std::unique_ptr<OsqlCondition> tree;
    if (!OsqlLexer::tokenize(lines, tokens, error) || !OsqlParser::condition(tokens, tree, error))
        return false;
    return ConditionTranslator(scope_, parameters_, view, aggregates, aggregates ? &groups_ : nullptr)
        .translate(*tree, sql, error);
}

bool SqlBuilder::from_and_where(const SelectRequest& request, std::string& sql, std::string& error)
{
    const std::vector<ScopeTable>& tables = scope_.tables();
    const bool nested = request.kind == SelectKind::nested;
    sql = "FROM \"" + tables[0].def.name + "\" AS " + tables[0].sql_name;
    size_t index = 0;
    for (size_t p = 0; p < request.parts.size(); ++p) {
        const SelectPart& part = request.parts[p];
        if (nested && (!part.group_by.empty() || !part.having.empty() || !part.order_by.empty())) {
            error = "statement " + std::to_string(p + 1) + " of the nselect: group by, having and order by are not part of a nested select";
            return false;
        }
        for (size_t k = 0; k < part.tables.size(); ++k, ++index) {
            const TableLine& line = part.tables[k];
            const ScopeTable& table = tables[index];
            if (!line.on.empty() && (nested || index == 0)) {
                error = line_prefix("JDATA", line.on.front().line) + "an on condition belongs to a table joined to " +
                        (nested ? "a gselect" : "the first one");
                return false;
            }
            if (index == 0)
                continue;
            std::string on;
            if (nested) {
                // The statement's where becomes the condition of its loop.
                if (!part.where.empty()) {
                    std::string where;
                    if (!condition(part.where, ScopeView{index + 1, index}, false, where, error)) {
                        error = "where of statement " + std::to_string(p + 1) + ": " + error;
                        return false;
                    }
                    on = where;
                }
            } else {
                if (line.on.empty()) {
                    error = line_prefix("JDATA", line.line) + "table " + table.alias + " is joined without an on condition";
                    return false;
                }
                if (!condition(line.on, ScopeView{index + 1, 0}, false, on, error)) {
                    error = "on of " + table.alias + ": " + error;
                    return false;
                }
            }
            const std::string filter = client_filter(table);
            if (!filter.empty())
                on += (on.empty() ? "" : " AND ") + filter;
            // CROSS JOIN keeps SQLite from reordering the loops of an nselect.
            sql += std::string(nested ? " CROSS JOIN " : table.outer ? " LEFT JOIN " : " JOIN ") + "\"" + table.def.name +
                   "\" AS " + table.sql_name + " ON " + (on.empty() ? "1" : on);
        }
    }
    std::string where = client_filter(tables[0]);
    const std::vector<ClauseLine>& first_where = request.parts.front().where;
    if (!first_where.empty()) {
        std::string condition_sql;
        const ScopeView view = nested ? ScopeView{1, 0} : scope_.all();
        if (!condition(first_where, view, false, condition_sql, error)) {
            error = (nested ? "where of statement 1: " : "where: ") + error;
            return false;
        }
        where += (where.empty() ? "" : " AND ") + condition_sql;
    }
    if (!where.empty())
        sql += " WHERE " + where;
    return true;
}

bool SqlBuilder::select_list(const SelectRequest& request, std::string& error)
{
    const bool nested = request.kind == SelectKind::nested;
    size_t cursor = 0;
    if (request.fields.empty()) {
        FieldLine all;
        all.table = scope_.tables().front().alias;
        all.name = "*";
        if (!add_field(all, cursor, nested, error))
            return false;
    }
    for (const FieldLine& line : request.fields)
        if (!add_field(line, cursor, nested, error))
            return false;
    if (outputs_.empty()) {
        error = "no field to read: every field is suppressed";
        return false;
    }
    return true;
}

bool SqlBuilder::add_field(const FieldLine& line, size_t& cursor, bool nested, std::string& error)
{
    const std::string where = line.line > 0 ? line_prefix("MDATA", line.line) : std::string();
    if (line.table.empty()) {
        error = where + "field " + line.name + " names no table";
        return false;
    }
    // A table name that several tables carry means, in an nselect, the
    // statement the fields have come to; otherwise the last table, which is
    // what a field without table attribute gets.
    const size_t from = nested ? cursor : scope_.tables().size() - 1;
    const ScopeTable* table = scope_.find_table(line.table, scope_.tables().size(), error, &from);
    if (table == nullptr) {
        error = where + error;
        return false;
    }
    cursor = static_cast<size_t>(table - scope_.tables().data());
    const auto add = [&](SqlExpression e) {
        grouped_ = grouped_ || e.aggregate;
        if (line.suppress)
            return;
        const std::string description = e.field.field != nullptr ? e.field.field->text : "Number of rows";
        const std::string name = line.alias.empty() ? e.name : line.alias;
        outputs_.push_back(Output{std::move(e), name, description});
    };
    if (line.name == "*" && line.aggregate.empty()) {
        for (const FieldDef& f : table->def.fields)
            // The client is implied by the logon: read only when named.
            if (!(table->def.client_dependent && f.name == "MANDT"))
                add(SqlExpressions::field(FieldRef{table, &f}));
        return true;
    }
    SqlExpression e;
    if (line.name == "*") {
        if (!SqlExpressions::aggregate(line.aggregate, line.distinct, nullptr, e, error)) {
            error = where + error;
            return false;
        }
        add(std::move(e));
        return true;
    }
    const auto field = std::find_if(table->def.fields.begin(), table->def.fields.end(),
                                    [&](const FieldDef& f) { return f.name == line.name; });
    if (field == table->def.fields.end()) {
        error = where + "unknown field " + line.name + " in table " + table->def.name;
        return false;
    }
    const FieldRef ref{table, &*field};
    if (line.aggregate.empty()) {
        // SQL knows no distinct column: a distinct field makes the rows distinct.
        distinct_ = distinct_ || line.distinct;
        add(SqlExpressions::field(ref));
        return true;
    }
    if (!SqlExpressions::aggregate(line.aggregate, line.distinct, &ref, e, error)) {
        error = where + error;
        return false;
    }
    add(std::move(e));
    return true;
}

bool SqlBuilder::grouped_field_allowed(const SqlExpression& e) const
{
    if (e.aggregate)
        return true;
    return std::any_of(groups_.begin(), groups_.end(), [&](const SqlExpression& g) { return same_field(g.field, e.field); });
}

bool SqlBuilder::group_by(const SelectPart& part, std::string& sql, std::string& error)
{
    grouped_ = grouped_ || !part.group_by.empty() || !part.having.empty();
    if (!part.group_by.empty()) {
        std::vector<OsqlToken> tokens;
        std::vector<OsqlOperand> fields;
        if (!OsqlLexer::tokenize(part.group_by, tokens, error) || !OsqlParser::fields(tokens, fields, error)) {
            error = "group by: " + error;
            return false;
        }
        sql += " GROUP BY ";
        for (size_t i = 0; i < fields.size(); ++i) {
            SqlExpression e;
            if (!SqlExpressions::operand(scope_, fields[i], scope_.all(), false, e, error)) {
                error = "group by: " + error;
                return false;
            }
            sql += (i > 0 ? ", " : "") + e.compare;
            groups_.push_back(std::move(e));
        }
    }
    return true;
}

bool SqlBuilder::check_grouping(std::string& error) const
{
    if (!grouped_)
        return true;
    for (const Output& o : outputs_)
        if (!grouped_field_allowed(o.expression)) {
            error = "field " + o.expression.name + " is neither in the group by nor aggregated";
            return false;
        }
    return true;
}

bool SqlBuilder::having(const SelectPart& part, std::string& sql, std::string& error)
{
    if (part.having.empty())
        return true;
    std::string condition_sql;
    if (!condition(part.having, scope_.all(), true, condition_sql, error)) {
        error = "having: " + error;
        return false;
    }
    sql += " HAVING " + condition_sql;
    return true;
}

bool SqlBuilder::order_by(const SelectPart& part, std::string& sql, std::string& error)
{
    if (part.order_by.empty())
        return true;
    std::vector<OsqlToken> tokens;
    std::vector<OsqlOrder> orders;
    bool primary_key = false;
    if (!OsqlLexer::tokenize(part.order_by, tokens, error) || !OsqlParser::orders(tokens, orders, primary_key, error)) {
        error = "order by: " + error;
        return false;
    }
    std::vector<std::string> items;
    if (primary_key) {
        const ScopeTable& first = scope_.tables().front();
        for (const FieldDef& f : first.def.fields)
            if (f.key)
                items.push_back(TableScope::compare_sql(FieldRef{&first, &f}));
        if (items.empty()) {
            error = "order by: table " + first.def.name + " has no primary key";
            return false;
        }
    }
    for (const OsqlOrder& order : orders) {
        const OsqlOperand& o = order.operand;
        const Output* named = nullptr;
        if (o.kind == OsqlOperand::field && o.qualifier.empty())
            for (const Output& out : outputs_)
                if (upper(out.name) == o.name)
                    named = &out;
        SqlExpression e;
        if (named != nullptr) {
            e = named->expression;
        } else if (!SqlExpressions::operand(scope_, o, scope_.all(), grouped_, e, error)) {
            error = "order by: " + error;
            return false;
        }
        if (grouped_ && !grouped_field_allowed(e)) {
            error = "order by: field " + e.name + " is neither in the group by nor aggregated";
            return false;
        }
        items.push_back(e.compare + (order.descending ? " DESC" : ""));
    }
    sql += " ORDER BY ";
    for (size_t i = 0; i < items.size(); ++i)
        sql += (i > 0 ? ", " : "") + items[i];
    return true;
}

void SqlPlan::bind(Statement& statement) const
{
    for (size_t i = 0; i < parameters.size(); ++i) {
        const FieldValue& v = parameters[i];
        const int index = static_cast<int>(i) + 1;
        switch (v.kind) {
        case FieldValue::text: statement.bind_text(index, v.text_value); break;
        case FieldValue::integer: statement.bind_int(index, v.int_value); break;
        case FieldValue::real: statement.bind_double(index, v.real_value); break;
        case FieldValue::blob: statement.bind_blob(index, v.text_value.data(), static_cast<int>(v.text_value.size())); break;
        case FieldValue::null: statement.bind_null(index); break;
        }
    }
}

} // namespace sapsim
