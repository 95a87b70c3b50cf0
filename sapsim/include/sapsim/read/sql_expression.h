// Fields, aggregates and literals of a select statement as SQL for SQLite.
// Every literal becomes a numbered parameter, converted to the type of what
// it is compared with (an N field's digits zero-filled, a C text without its
// trailing blanks, an X value from hexadecimal, numbers for numeric types);
// the client's text never becomes SQL text.
#pragma once

#include "sapsim/dictionary.h"
#include "sapsim/read/osql_parser.h"
#include "sapsim/read/table_scope.h"

#include <string>
#include <vector>

namespace sapsim {

// Type of a value in the record: an ABAP type letter, or '8' for an 8-byte
// integer (COUNT, SUM of integers). Length in characters for C/N/D/T, bytes
// otherwise.
struct ValueType {
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

struct SqlExpression {
    std::string value;    // for output, LIKE and IS NULL
    std::string compare;  // for comparing, grouping and sorting
    std::string column;   // a field's column as stored (nulls and all); empty for aggregates
    ValueType type;
    bool aggregate = false;
    FieldRef field;       // the field read; no table for COUNT(*)
    std::string name;     // FIELD, or AGGREGATE(FIELD) in upper case
};

// Numbered parameters ?1, ?2, ... of one statement.
class SqlParameters {
public:
    // Returns the placeholder of the new parameter.
    std::string add(FieldValue value);
    // The logon client, one parameter however many tables are filtered by it.
    std::string client(const std::string& client);
    const std::vector<FieldValue>& values() const { return values_; }

private:
    std::vector<FieldValue> values_;
    std::string client_placeholder_;
};

class SqlExpressions {
public:
    static SqlExpression field(const FieldRef& ref);
    // An aggregate over `ref` (null: COUNT(*)). False and a message when the
    // aggregate does not fit the field's type.
    static bool aggregate(const std::string& function, bool distinct, const FieldRef* ref, SqlExpression& out,
                          std::string& error);
    // A field or aggregate operand resolved in `view`; aggregates only when allowed.
    static bool operand(const TableScope& scope, const OsqlOperand& operand, ScopeView view, bool aggregates,
                        SqlExpression& out, std::string& error);
    // A literal as the value compared with `target` (null: as written).
    static bool literal(const OsqlOperand& literal, const SqlExpression* target, FieldValue& out, std::string& error);
    // A parameter's value as the generated program shows it.
    static std::string describe(const FieldValue& value);
};

} // namespace sapsim
