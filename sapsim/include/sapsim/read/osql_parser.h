// Parses the clause texts of a select statement (Open SQL conditions, field
// lists, sort orders) into trees. Grammar, keywords in any case:
//   condition := and { OR and }
//   and       := not { AND not }
//   not       := NOT not | '(' condition ')' | predicate
//   predicate := operand compare operand
//              | operand [NOT] LIKE operand [ESCAPE text]
//              | operand [NOT] IN '(' operand { ',' operand } ')'
//              | operand [NOT] BETWEEN operand AND operand
//              | operand IS [NOT] NULL
//   compare   := EQ | NE | LT | GT | LE | GE | = | <> | != | >< | < | > | <= | >= | =< | =>
//   operand   := field | text | [+|-] number | aggregate
//   field     := name [ '~' name ]                       (alias~field, table~field)
//   aggregate := (AVG|COUNT|MAX|MIN|SUM) '(' [DISTINCT] (field | '*') ')'
//   fields    := field { [','] field }                   (group by)
//   orders    := PRIMARY KEY | order { [','] order }     (order by)
//   order     := operand [ASCENDING | DESCENDING | ASC | DESC]
// Whether aggregates may appear is the caller's decision (SqlBuilder).
#pragma once

#include "sapsim/read/osql_lexer.h"

#include <memory>
#include <string>
#include <vector>

namespace sapsim {

struct OsqlOperand {
    enum Kind { field, text, number, aggregate };
    Kind kind = field;
    std::string qualifier;  // alias or table before '~'; empty when none
    std::string name;       // field name; "*" in COUNT(*)
    std::string value;      // literal: the text, or the number with its sign
    std::string function;   // aggregate: AVG, COUNT, MAX, MIN or SUM
    bool distinct = false;  // aggregate over distinct values
    std::string source;     // as written, for messages

    bool literal() const { return kind == text || kind == number; }
};

struct OsqlCondition {
    enum Kind { compare, like, in, between, is_null, negation, conjunction, disjunction };
    Kind kind = compare;
    std::string op;        // compare: = <> < > <= >=
    bool negated = false;  // NOT LIKE, NOT IN, NOT BETWEEN, IS NOT NULL
    // compare: left, right; like: value, pattern [, escape]; in: value, items...;
    // between: value, low, high; is_null: value
    std::vector<OsqlOperand> operands;
    std::vector<std::unique_ptr<OsqlCondition>> children;  // negation: 1; and / or: 2 or more
};

struct OsqlOrder {
    OsqlOperand operand;
    bool descending = false;
};

class OsqlParser {
public:
    // Deeper nesting of parentheses and NOT is refused, so that hostile input
    // cannot exhaust the stack.
    static constexpr int max_depth = 64;

    // Each parses a whole token stream (OsqlLexer); false and a message naming
    // the offending token otherwise.
    static bool condition(const std::vector<OsqlToken>& tokens, std::unique_ptr<OsqlCondition>& out, std::string& error);
    static bool fields(const std::vector<OsqlToken>& tokens, std::vector<OsqlOperand>& out, std::string& error);
    // `primary_key` is set for ORDER BY PRIMARY KEY (then `out` stays empty).
    static bool orders(const std::vector<OsqlToken>& tokens, std::vector<OsqlOrder>& out, bool& primary_key,
                       std::string& error);
};

} // namespace sapsim
