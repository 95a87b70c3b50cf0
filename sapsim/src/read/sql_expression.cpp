#include "sapsim/read/sql_expression.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace sapsim {

namespace {

std::string trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string trim_right(const std::string& text)
{
    const size_t last = text.find_last_not_of(' ');
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

bool whole_number(const std::string& text, long long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool real_number(const std::string& text, double& out)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0';
}

bool numeric(char type)
{
    return type == 'I' || type == 's' || type == 'b' || type == 'P' || type == 'F' || type == '8';
}

FieldValue text_value(std::string text)
{
    FieldValue v;
    v.kind = FieldValue::text;
    v.text_value = std::move(text);
    return v;
}

std::string type_text(const SqlExpression& e)
{
    return e.name + " (" + std::string(1, e.type.type) + ")";
}

} // namespace

std::string SqlParameters::add(FieldValue value)
{
    values_.push_back(std::move(value));
    return "?" + std::to_string(values_.size());
}

std::string SqlParameters::client(const std::string& client)
{
    if (client_placeholder_.empty())
        client_placeholder_ = add(text_value(client));
    return client_placeholder_;
}

SqlExpression SqlExpressions::field(const FieldRef& ref)
{
    SqlExpression e;
    e.value = TableScope::value_sql(ref);
    e.compare = TableScope::compare_sql(ref);
    e.column = TableScope::column_sql(*ref.table, *ref.field);
    e.type = ValueType{ref.field->type, ref.field->length, ref.field->decimals};
    e.field = ref;
    e.name = ref.field->name;
    return e;
}

bool SqlExpressions::aggregate(const std::string& function, bool distinct, const FieldRef* ref, SqlExpression& out,
                               std::string& error)
{
    out = SqlExpression{};
    out.aggregate = true;
    out.name = function + "(" + (ref != nullptr ? ref->field->name : "*") + ")";
    if (ref == nullptr) {
        if (function != "COUNT" || distinct) {
            error = function + (distinct ? "(DISTINCT *)" : "(*)") + " is not possible: name a field";
            return false;
        }
        out.value = out.compare = "COUNT(*)";
        out.type = ValueType{'8', 8, 0};
        return true;
    }
    out.field = *ref;
    const FieldDef& f = *ref->field;
    const std::string d = distinct ? "DISTINCT " : "";
    const std::string value = TableScope::value_sql(*ref);
    const std::string compare = TableScope::compare_sql(*ref);
    if (function == "COUNT") {
        out.value = "COUNT(" + d + value + ")";
        out.type = ValueType{'8', 8, 0};
    } else if (function == "MIN" || function == "MAX") {
        // Packed numbers are stored as text: their order is that of numbers.
        out.value = function + "(" + d + (f.type == 'P' ? compare : value) + ")";
        out.type = ValueType{f.type, f.length, f.decimals};
    } else if (!numeric(f.type)) {
        error = function + " needs a numeric field; " + f.name + " has type " + std::string(1, f.type);
        return false;
    } else if (function == "AVG") {
        out.value = "AVG(" + d + compare + ")";
        out.type = ValueType{'F', 8, 0};
    } else if (f.type == 'P') {
        // Exact: the sum of packed numbers is summed as decimal text.
        out.value = "sap_psum(" + d + value + ")";
        out.compare = "CAST(" + out.value + " AS REAL)";
        out.type = ValueType{'P', 16, f.decimals};
        return true;
    } else {
        out.value = "SUM(" + d + value + ")";
        out.type = f.type == 'F' ? ValueType{'F', 8, 0} : ValueType{'8', 8, 0};
    }
    out.compare = out.value;
    return true;
}

bool SqlExpressions::operand(const TableScope& scope, const OsqlOperand& operand, ScopeView view, bool aggregates,
                             SqlExpression& out, std::string& error)
{
    if (operand.kind == OsqlOperand::aggregate) {
        if (!aggregates) {
            error = "aggregate " + operand.source + " is not possible here (aggregates belong in the fields, having and order by)";
            return false;
        }
        if (operand.name == "*")
            return aggregate(operand.function, operand.distinct, nullptr, out, error);
        FieldRef ref;
        return scope.resolve(operand.qualifier, operand.name, view, ref, error) &&
               aggregate(operand.function, operand.distinct, &ref, out, error);
    }
    if (operand.kind != OsqlOperand::field) {
        error = "expected a field, found the value " + operand.source;
        return false;
    }
    FieldRef ref;
    if (!scope.resolve(operand.qualifier, operand.name, view, ref, error))
        return false;
    out = field(ref);
    return true;
}

bool SqlExpressions::literal(const OsqlOperand& literal, const SqlExpression* target, FieldValue& out,
                             std::string& error)
{
    out = FieldValue{};
    const std::string& text = literal.value;
    if (target == nullptr) {
        long long whole = 0;
        if (literal.kind == OsqlOperand::text) {
            out = text_value(text);
        } else if (whole_number(text, whole)) {
            out.kind = FieldValue::integer;
            out.int_value = whole;
        } else {
            out.kind = FieldValue::real;
            real_number(text, out.real_value);
        }
        return true;
    }
    const ValueType& t = target->type;
    const auto refuse = [&](const char* what) {
        error = literal.source + " is not " + what + " for " + type_text(*target);
        return false;
    };
    switch (t.type) {
    case 'N': {
        std::string digits = trim(text);
        for (const char c : digits)
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return refuse("a number of digits");
        if (digits.size() < static_cast<size_t>(t.length))
            digits.insert(0, static_cast<size_t>(t.length) - digits.size(), '0');
        out = text_value(digits);
        return true;
    }
    case 'D': case 'T':
        out = text_value(trim(text));
        return true;
    case 'X': {
        const std::string hex = trim(text);
        if (hex.size() % 2 != 0 || hex.size() > 2 * static_cast<size_t>(t.length))
            return refuse(("up to " + std::to_string(t.length) + " bytes of hexadecimal").c_str());
        std::string bytes;
        for (size_t i = 0; i < hex.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(hex[i])) || !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
                return refuse("hexadecimal");
            bytes.push_back(static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16)));
        }
        bytes.resize(static_cast<size_t>(t.length), '\0');
        out.kind = FieldValue::blob;
        out.text_value = std::move(bytes);
        return true;
    }
    case 'I': case 's': case 'b': case '8': case 'P': case 'F': {
        const std::string number = trim(text);
        long long whole = 0;
        if (t.type != 'P' && t.type != 'F' && whole_number(number, whole)) {
            out.kind = FieldValue::integer;
            out.int_value = whole;
            return true;
        }
        out.kind = FieldValue::real;
        if (!real_number(number, out.real_value))
            return refuse("a number");
        return true;
    }
    default:
        out = text_value(trim_right(text));
        return true;
    }
}

std::string SqlExpressions::describe(const FieldValue& value)
{
    switch (value.kind) {
    case FieldValue::text: {
        std::string quoted = "'";
        for (const char c : value.text_value)
            quoted += c == '\'' ? std::string("''") : std::string(1, c);
        return quoted + "'";
    }
    case FieldValue::integer: return std::to_string(value.int_value);
    case FieldValue::real: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", value.real_value);
        return buf;
    }
    case FieldValue::blob: {
        static const char digits[] = "0123456789ABCDEF";
        std::string hex = "X'";
        for (const unsigned char c : value.text_value) {
            hex.push_back(digits[c >> 4]);
            hex.push_back(digits[c & 15]);
        }
        return hex + "'";
    }
    case FieldValue::null: break;
    }
    return "NULL";
}

} // namespace sapsim
