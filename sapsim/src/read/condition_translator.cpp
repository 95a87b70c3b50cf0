#include "sapsim/read/condition_translator.h"

namespace sapsim {

namespace {

bool character_like(char type)
{
    return type == 'C' || type == 'N' || type == 'D' || type == 'T';
}

} // namespace

bool ConditionTranslator::translate(const OsqlCondition& condition, std::string& sql, std::string& error)
{
    switch (condition.kind) {
    case OsqlCondition::negation:
        sql += "NOT ";
        return translate(*condition.children.front(), sql, error);
    case OsqlCondition::conjunction:
    case OsqlCondition::disjunction: {
        sql += "(";
        for (size_t i = 0; i < condition.children.size(); ++i) {
            if (i > 0)
                sql += condition.kind == OsqlCondition::conjunction ? " AND " : " OR ";
            if (!translate(*condition.children[i], sql, error))
                return false;
        }
        sql += ")";
        return true;
    }
    default:
        return predicate(condition, sql, error);
    }
}

bool ConditionTranslator::typed(const OsqlOperand& operand, SqlExpression& out, std::string& error)
{
    if (!SqlExpressions::operand(scope_, operand, view_, aggregates_, out, error))
        return false;
    if (groups_ == nullptr || out.aggregate)
        return true;
    for (const SqlExpression& g : *groups_)
        if (g.field.table == out.field.table && g.field.field == out.field.field)
            return true;
    error = "field " + out.name + " is neither in the group by nor aggregated";
    return false;
}

bool ConditionTranslator::value(const OsqlOperand& operand, const SqlExpression* target, std::string& sql,
                                std::string& error)
{
    if (operand.literal()) {
        FieldValue v;
        if (!SqlExpressions::literal(operand, target, v, error))
            return false;
        sql += parameters_.add(std::move(v));
        return true;
    }
    SqlExpression e;
    if (!typed(operand, e, error))
        return false;
    sql += e.compare;
    return true;
}

bool ConditionTranslator::predicate(const OsqlCondition& c, std::string& sql, std::string& error)
{
    const std::vector<OsqlOperand>& ops = c.operands;
    // The first operand that is no literal gives the type the literals take.
    SqlExpression subject;
    bool typed_subject = false;
    for (const OsqlOperand& o : ops) {
        if (!o.literal()) {
            if (!typed(o, subject, error))
                return false;
            typed_subject = true;
            break;
        }
    }
    const SqlExpression* target = typed_subject ? &subject : nullptr;
    sql += "(";
    switch (c.kind) {
    case OsqlCondition::compare:
        if (!value(ops[0], target, sql, error))
            return false;
        sql += " " + c.op + " ";
        if (!value(ops[1], target, sql, error))
            return false;
        break;
    case OsqlCondition::like: {
        if (ops[0].literal()) {
            error = "LIKE needs a field before it, found " + ops[0].source;
            return false;
        }
        if (!character_like(subject.type.type)) {
            error = "LIKE needs a character field; " + subject.name + " has type " + std::string(1, subject.type.type);
            return false;
        }
        sql += std::string(c.negated ? "NOT " : "") + "sap_like(" + subject.value + ", ";
        // A pattern is text as written: its wildcards are no digits of an N field.
        if (!value(ops[1], nullptr, sql, error))
            return false;
        if (ops.size() > 2) {
            sql += ", ";
            if (!value(ops[2], nullptr, sql, error))
                return false;
        }
        sql += ")";
        break;
    }
    case OsqlCondition::in:
    case OsqlCondition::between:
        if (!value(ops[0], target, sql, error))
            return false;
        sql += c.negated ? " NOT" : "";
        sql += c.kind == OsqlCondition::in ? " IN (" : " BETWEEN ";
        for (size_t i = 1; i < ops.size(); ++i) {
            if (i > 1)
                sql += c.kind == OsqlCondition::in ? ", " : " AND ";
            if (!value(ops[i], target, sql, error))
                return false;
        }
        sql += c.kind == OsqlCondition::in ? ")" : "";
        break;
    case OsqlCondition::is_null:
        if (ops[0].literal()) {
            error = "IS NULL needs a field before it, found " + ops[0].source;
            return false;
        }
        sql += subject.value + (c.negated ? " IS NOT NULL" : " IS NULL");
        break;
    default:
        break;
    }
    sql += ")";
    return true;
}

} // namespace sapsim
