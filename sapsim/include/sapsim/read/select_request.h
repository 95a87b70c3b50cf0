// The select statement of a VOK select request, decoded from the two tables
// the VOK server hands the read report (docs/sapsim.md, "The read report"):
//   JDATA  the kind line ("sselect", "nselect" or "gselect", ",Y" for a
//          distinct result), "T,name,alias,join" for each table, and clause
//          sections "O,n" (on, right after its table), "W,n" (where), "GB,n"
//          (group by), "H,n" (having), "OB,n" (order by), each followed by
//          its n element lines;
//   MDATA  "table,name,alias,distinct,aggregate,suppress" for each field, or
//          "table,*" for all fields of a table.
// Only the lines are taken apart here; names and conditions are checked
// against the dictionary when the statement is translated (SqlBuilder).
#pragma once

#include <string>
#include <vector>

namespace sapsim {

enum class SelectKind { single, nested, grouped };  // sselect, nselect, gselect
enum class JoinKind { none, inner, left };          // none: the T line gave no join

// One element line of a clause, with its line number in JDATA (1-based).
struct ClauseLine {
    std::string text;
    int line = 0;
};

struct TableLine {
    std::string name;   // upper case
    std::string alias;  // upper case; empty when none was given
    JoinKind join = JoinKind::none;
    std::vector<ClauseLine> on;
    int line = 0;
};

// One select over one table or a join: the statement of an sselect or a
// gselect, or one of the statements of an nselect.
struct SelectPart {
    std::vector<TableLine> tables;
    std::vector<ClauseLine> where, group_by, having, order_by;
};

struct FieldLine {
    std::string table;      // upper case; table name or alias
    std::string name;       // upper case; "*" for all fields, or in COUNT(*)
    std::string alias;      // as written
    bool distinct = false;
    std::string aggregate;  // AVG, COUNT, MAX, MIN, SUM or empty
    bool suppress = false;
    int line = 0;           // in MDATA, 1-based
};

struct SelectRequest {
    SelectKind kind = SelectKind::single;
    bool distinct = false;
    std::vector<SelectPart> parts;  // one; an nselect has one per statement
    std::vector<FieldLine> fields;  // in MDATA order
};

const char* select_kind_name(SelectKind kind);

class SelectRequestParser {
public:
    // `jdata` and `mdata` are the table lines without trailing blanks. False
    // and a message for the analyst on the first fault.
    static bool parse(const std::vector<std::string>& jdata, const std::vector<std::string>& mdata,
                      SelectRequest& request, std::string& error);
};

} // namespace sapsim
