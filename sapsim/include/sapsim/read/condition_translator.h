// An Open SQL condition (OsqlParser) as an SQL condition for SQLite: fields
// resolved in a TableScope, literals bound as parameters of the compared
// field's type, LIKE through the case-sensitive sap_like function (% any
// text, _ one character, an optional escape character).
#pragma once

#include "sapsim/read/osql_parser.h"
#include "sapsim/read/sql_expression.h"
#include "sapsim/read/table_scope.h"

#include <string>
#include <vector>

namespace sapsim {

class ConditionTranslator {
public:
    // `aggregates`: whether aggregates may appear (having); then a field
    // outside an aggregate must be one of `groups` (the group by).
    ConditionTranslator(const TableScope& scope, SqlParameters& parameters, ScopeView view, bool aggregates,
                        const std::vector<SqlExpression>* groups = nullptr)
        : scope_(scope), parameters_(parameters), view_(view), aggregates_(aggregates), groups_(groups) {}

    // Appends the condition's SQL to `sql`; false and a message on a fault.
    bool translate(const OsqlCondition& condition, std::string& sql, std::string& error);

private:
    bool predicate(const OsqlCondition& condition, std::string& sql, std::string& error);
    // An operand that is not a literal; literals are typed by what they meet.
    bool typed(const OsqlOperand& operand, SqlExpression& out, std::string& error);
    bool value(const OsqlOperand& operand, const SqlExpression* target, std::string& sql, std::string& error);

    const TableScope& scope_;
    SqlParameters& parameters_;
    ScopeView view_;
    bool aggregates_;
    const std::vector<SqlExpression>* groups_;
};

} // namespace sapsim
