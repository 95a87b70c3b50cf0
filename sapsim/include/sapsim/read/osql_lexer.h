// Tokens of the Open SQL fragments in the clause lines of a select statement:
// names (upper-cased; a name may hold letters, digits, '_' and '/'), text
// literals in single quotes ('' stands for one quote) or back quotes (``
// stands for one back quote), unsigned numbers
// (digits, optionally a decimal point and more digits) and the symbols
//   = <> != >< < > <= >= =< => ( ) , ~ + - *
// A literal ends on the line it starts on. Anything else is refused, so no
// text of a clause line reaches SQL except through a parsed token.
#pragma once

#include "sapsim/read/select_request.h"

#include <string>
#include <vector>

namespace sapsim {

struct OsqlToken {
    enum Kind { name, text, number, symbol, end };
    Kind kind = end;
    std::string value;  // name upper-cased; literal without quotes; number; symbol
    int line = 0;       // JDATA line
    int column = 0;     // 1-based

    // The token as a message shows it: 'literal', the name, the end.
    std::string describe() const;
    bool is_symbol(const char* s) const { return kind == symbol && value == s; }
    bool is_word(const char* w) const { return kind == name && value == w; }
};

class OsqlLexer {
public:
    // The tokens of all lines of a clause, one stream, ended by an `end`
    // token. False and a message naming line and column on a fault.
    static bool tokenize(const std::vector<ClauseLine>& lines, std::vector<OsqlToken>& tokens, std::string& error);
};

} // namespace sapsim
