#include "sapsim/read/osql_parser.h"

#include <algorithm>
#include <iterator>

namespace sapsim {

namespace {

// Open SQL's word operators and their symbols, as SQL writes them.
const char* comparison(const OsqlToken& t)
{
    static const std::pair<const char*, const char*> operators[] = {
        {"EQ", "="},  {"=", "="},   {"NE", "<>"}, {"<>", "<>"}, {"!=", "<>"}, {"><", "<>"}, {"LT", "<"},
        {"<", "<"},   {"GT", ">"},  {">", ">"},   {"LE", "<="}, {"<=", "<="}, {"=<", "<="}, {"GE", ">="},
        {">=", ">="}, {"=>", ">="},
    };
    if (t.kind != OsqlToken::name && t.kind != OsqlToken::symbol)
        return nullptr;
    for (const auto& [written, sql] : operators)
        if (t.value == written)
            return sql;
    return nullptr;
}

bool aggregate_name(const std::string& word)
{
    static const char* const names[] = {"AVG", "COUNT", "MAX", "MIN", "SUM"};
    return std::find(std::begin(names), std::end(names), word) != std::end(names);
}

class Parser {
public:
    Parser(const std::vector<OsqlToken>& tokens, std::string& error) : tokens_(tokens), error_(error) {}

    bool condition(std::unique_ptr<OsqlCondition>& out, int depth)
    {
        if (depth > OsqlParser::max_depth)
            return fail("conditions nested deeper than " + std::to_string(OsqlParser::max_depth) + " levels at");
        return list(out, depth, "OR", OsqlCondition::disjunction, &Parser::conjunction);
    }

    bool conjunction(std::unique_ptr<OsqlCondition>& out, int depth)
    {
        return list(out, depth, "AND", OsqlCondition::conjunction, &Parser::negation);
    }

    bool negation(std::unique_ptr<OsqlCondition>& out, int depth)
    {
        if (depth > OsqlParser::max_depth)
            return fail("conditions nested deeper than " + std::to_string(OsqlParser::max_depth) + " levels at");
        if (peek().is_word("NOT")) {
            ++pos_;
            auto node = std::make_unique<OsqlCondition>();
            node->kind = OsqlCondition::negation;
            node->children.emplace_back();
            if (!negation(node->children.back(), depth + 1))
                return false;
            out = std::move(node);
            return true;
        }
        if (peek().is_symbol("(")) {
            ++pos_;
            if (!condition(out, depth + 1))
                return false;
            return expect(")", "')' to close the condition");
        }
        return predicate(out);
    }

    bool predicate(std::unique_ptr<OsqlCondition>& out)
    {
        auto node = std::make_unique<OsqlCondition>();
        node->operands.emplace_back();
        if (!operand(node->operands.back()))
            return false;
        if (const char* op = comparison(peek())) {
            ++pos_;
            node->kind = OsqlCondition::compare;
            node->op = op;
            node->operands.emplace_back();
            if (!operand(node->operands.back()))
                return false;
            out = std::move(node);
            return true;
        }
        if (peek().is_word("IS")) {
            ++pos_;
            node->kind = OsqlCondition::is_null;
            node->negated = accept_word("NOT");
            if (!accept_word("NULL"))
                return fail("expected NULL at");
            out = std::move(node);
            return true;
        }
        node->negated = accept_word("NOT");
        if (accept_word("LIKE")) {
            node->kind = OsqlCondition::like;
            node->operands.emplace_back();
            if (!operand(node->operands.back()))
                return false;
            if (accept_word("ESCAPE")) {
                if (peek().kind != OsqlToken::text || peek().value.size() != 1)
                    return fail("ESCAPE needs a literal of one character, found");
                node->operands.push_back(literal_text(next()));
            }
        } else if (accept_word("IN")) {
            node->kind = OsqlCondition::in;
            if (!expect("(", "'(' to open the IN list"))
                return false;
            do {
                node->operands.emplace_back();
                if (!operand(node->operands.back()))
                    return false;
            } while (accept_symbol(","));
            if (!expect(")", "',' or ')' in the IN list"))
                return false;
        } else if (accept_word("BETWEEN")) {
            node->kind = OsqlCondition::between;
            node->operands.emplace_back();
            if (!operand(node->operands.back()))
                return false;
            if (!accept_word("AND"))
                return fail("expected AND of BETWEEN at");
            node->operands.emplace_back();
            if (!operand(node->operands.back()))
                return false;
        } else {
            return fail(std::string("expected a comparison (=, <>, <, >, <=, >=, EQ, NE, LT, GT, LE, GE), ") +
                        (node->negated ? "" : "NOT, ") + "LIKE, IN, BETWEEN" + (node->negated ? "" : " or IS") +
                        " after " + node->operands.front().source + ", found");
        }
        out = std::move(node);
        return true;
    }

    bool operand(OsqlOperand& out)
    {
        const OsqlToken& t = peek();
        if (t.kind == OsqlToken::text) {
            out = literal_text(next());
            return true;
        }
        if (t.kind == OsqlToken::number || ((t.is_symbol("-") || t.is_symbol("+")) && peek(1).kind == OsqlToken::number)) {
            std::string sign = t.kind == OsqlToken::symbol ? next().value : "";
            out.kind = OsqlOperand::number;
            out.value = (sign == "-" ? "-" : "") + next().value;
            out.source = sign + out.value.substr(sign == "-" ? 1 : 0);
            return true;
        }
        if (t.kind != OsqlToken::name)
            return fail("expected a field or a value, found");
        if (aggregate_name(t.value) && peek(1).is_symbol("("))
            return aggregate(out);
        return field(out);
    }

    bool field(OsqlOperand& out)
    {
        if (peek().kind != OsqlToken::name)
            return fail("expected a field name, found");
        out.kind = OsqlOperand::field;
        out.name = next().value;
        out.source = out.name;
        if (accept_symbol("~")) {
            if (peek().kind != OsqlToken::name)
                return fail("expected a field name after " + out.name + "~, found");
            out.qualifier = out.name;
            out.name = next().value;
            out.source = out.qualifier + "~" + out.name;
        }
        return true;
    }

    bool aggregate(OsqlOperand& out)
    {
        out.kind = OsqlOperand::aggregate;
        out.function = next().value;
        ++pos_;  // '('
        out.distinct = accept_word("DISTINCT");
        if (accept_symbol("*")) {
            out.name = "*";
        } else {
            OsqlOperand f;
            if (!field(f))
                return false;
            out.qualifier = f.qualifier;
            out.name = f.name;
        }
        if (!expect(")", "')' after the field of " + out.function))
            return false;
        out.source = out.function + "(" + (out.distinct ? "DISTINCT " : "") +
                     (out.qualifier.empty() ? "" : out.qualifier + "~") + out.name + ")";
        return true;
    }

    bool at_end() const { return peek().kind == OsqlToken::end; }

    bool fail(const std::string& what)
    {
        const OsqlToken& t = peek();
        error_ = what + " " + t.describe() + (t.line > 0 ? " (JDATA line " + std::to_string(t.line) + ")" : "");
        return false;
    }

    const OsqlToken& peek(size_t ahead = 0) const { return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)]; }
    const OsqlToken& next() { return tokens_[std::min(pos_++, tokens_.size() - 1)]; }

    bool accept_word(const char* word)
    {
        if (!peek().is_word(word))
            return false;
        ++pos_;
        return true;
    }

    bool accept_symbol(const char* symbol)
    {
        if (!peek().is_symbol(symbol))
            return false;
        ++pos_;
        return true;
    }

private:
    using Step = bool (Parser::*)(std::unique_ptr<OsqlCondition>&, int);

    // operand { word operand }, folded into one node of `kind` when the word occurs.
    bool list(std::unique_ptr<OsqlCondition>& out, int depth, const char* word, OsqlCondition::Kind kind, Step step)
    {
        std::unique_ptr<OsqlCondition> first;
        if (!(this->*step)(first, depth))
            return false;
        if (!peek().is_word(word)) {
            out = std::move(first);
            return true;
        }
        auto node = std::make_unique<OsqlCondition>();
        node->kind = kind;
        node->children.push_back(std::move(first));
        while (accept_word(word)) {
            node->children.emplace_back();
            if (!(this->*step)(node->children.back(), depth))
                return false;
        }
        out = std::move(node);
        return true;
    }

    bool expect(const char* symbol, const std::string& what)
    {
        if (accept_symbol(symbol))
            return true;
        return fail("expected " + what + ", found");
    }

    static OsqlOperand literal_text(const OsqlToken& t)
    {
        OsqlOperand o;
        o.kind = OsqlOperand::text;
        o.value = t.value;
        o.source = t.describe();
        return o;
    }

    const std::vector<OsqlToken>& tokens_;
    std::string& error_;
    size_t pos_ = 0;
};

} // namespace

bool OsqlParser::condition(const std::vector<OsqlToken>& tokens, std::unique_ptr<OsqlCondition>& out, std::string& error)
{
    Parser p(tokens, error);
    if (p.at_end())
        return p.fail("expected a condition, found");
    if (!p.condition(out, 0))
        return false;
    return p.at_end() || p.fail("expected AND, OR or the end of the condition, found");
}

bool OsqlParser::fields(const std::vector<OsqlToken>& tokens, std::vector<OsqlOperand>& out, std::string& error)
{
    Parser p(tokens, error);
    out.clear();
    do {
        out.emplace_back();
        if (!p.field(out.back()))
            return false;
        p.accept_symbol(",");
    } while (!p.at_end());
    return true;
}

bool OsqlParser::orders(const std::vector<OsqlToken>& tokens, std::vector<OsqlOrder>& out, bool& primary_key,
                        std::string& error)
{
    Parser p(tokens, error);
    out.clear();
    primary_key = false;
    if (p.peek().is_word("PRIMARY") && p.peek(1).is_word("KEY") && p.peek(2).kind == OsqlToken::end) {
        primary_key = true;
        return true;
    }
    do {
        OsqlOrder order;
        if (!p.operand(order.operand))
            return false;
        if (p.accept_word("DESCENDING") || p.accept_word("DESC"))
            order.descending = true;
        else if (!p.accept_word("ASCENDING"))
            p.accept_word("ASC");
        out.push_back(std::move(order));
        p.accept_symbol(",");
    } while (!p.at_end());
    return true;
}

} // namespace sapsim
