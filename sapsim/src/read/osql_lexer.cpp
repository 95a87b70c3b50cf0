#include "sapsim/read/osql_lexer.h"

#include <cctype>

namespace sapsim {

namespace {

bool name_start(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '/';
}

bool name_char(char c)
{
    return name_start(c) || std::isdigit(static_cast<unsigned char>(c));
}

bool digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string where(const ClauseLine& line, size_t column)
{
    return " (JDATA line " + std::to_string(line.line) + ", column " + std::to_string(column + 1) + ")";
}

bool tokenize_line(const ClauseLine& line, std::vector<OsqlToken>& tokens, std::string& error)
{
    static const char* const two_char_symbols[] = {"<>", "!=", "><", "<=", ">=", "=<", "=>"};
    const std::string& s = line.text;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        OsqlToken t;
        t.line = line.line;
        t.column = static_cast<int>(i) + 1;
        if (name_start(c)) {
            t.kind = OsqlToken::name;
            while (i < s.size() && name_char(s[i]))
                t.value.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(s[i++]))));
        } else if (digit(c)) {
            t.kind = OsqlToken::number;
            while (i < s.size() && digit(s[i]))
                t.value.push_back(s[i++]);
            if (i + 1 < s.size() && s[i] == '.' && digit(s[i + 1])) {
                t.value.push_back(s[i++]);
                while (i < s.size() && digit(s[i]))
                    t.value.push_back(s[i++]);
            }
        } else if (c == '\'' || c == '`') {
            t.kind = OsqlToken::text;
            const size_t start = i++;
            for (;;) {
                if (i >= s.size()) {
                    error = "unterminated literal " + s.substr(start, 20) + where(line, start);
                    return false;
                }
                if (s[i] == c) {
                    if (i + 1 < s.size() && s[i + 1] == c) {
                        t.value.push_back(c);
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.value.push_back(s[i++]);
            }
        } else {
            t.kind = OsqlToken::symbol;
            for (const char* two : two_char_symbols)
                if (s.compare(i, 2, two) == 0)
                    t.value = two;
            if (t.value.empty()) {
                if (std::string("=<>(),~+-*").find(c) == std::string::npos) {
                    error = "unexpected character '" + std::string(1, c) + "'" + where(line, i);
                    return false;
                }
                t.value = std::string(1, c);
            }
            i += t.value.size();
        }
        tokens.push_back(std::move(t));
    }
    return true;
}

} // namespace

std::string OsqlToken::describe() const
{
    switch (kind) {
    case text: return "'" + (value.size() > 24 ? value.substr(0, 24) + "..." : value) + "'";
    case end: return "the end";
    default: return value;
    }
}

bool OsqlLexer::tokenize(const std::vector<ClauseLine>& lines, std::vector<OsqlToken>& tokens, std::string& error)
{
    tokens.clear();
    for (const ClauseLine& line : lines)
        if (!tokenize_line(line, tokens, error))
            return false;
    OsqlToken end;
    end.line = lines.empty() ? 0 : lines.back().line;
    end.column = lines.empty() ? 0 : static_cast<int>(lines.back().text.size()) + 1;
    tokens.push_back(end);
    return true;
}

} // namespace sapsim
