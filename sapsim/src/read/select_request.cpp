#include "sapsim/read/select_request.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace sapsim {

namespace {

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(trim(text.substr(start, comma - start)));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

bool yes(const std::string& flag)
{
    return !flag.empty() && (flag[0] == 'Y' || flag[0] == 'y' || flag[0] == 'X' || flag[0] == 'x');
}

// A clause header "W,3": the tag and the number of element lines announced.
bool clause_header(const std::string& line, std::string& tag, int& count)
{
    const std::vector<std::string> parts = split(line);
    if (parts.size() != 2 || parts[1].empty() || parts[1].size() > 6 ||
        !std::all_of(parts[1].begin(), parts[1].end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    tag = upper(parts[0]);
    count = std::atoi(parts[1].c_str());
    return tag == "O" || tag == "W" || tag == "GB" || tag == "H" || tag == "OB";
}

class JdataReader {
public:
    JdataReader(const std::vector<std::string>& lines, SelectRequest& request, std::string& error)
        : lines_(lines), request_(request), error_(error) {}

    bool read()
    {
        if (lines_.empty())
            return fail(0, "the statement is empty (no JDATA lines)");
        if (!kind(lines_[0]))
            return false;
        for (size_t i = 1; i < lines_.size();) {
            const std::string& line = lines_[i];
            const int number = static_cast<int>(i) + 1;
            if (line.rfind("T,", 0) == 0 || line.rfind("t,", 0) == 0) {
                if (!table(line, number))
                    return false;
                ++i;
                continue;
            }
            std::string tag;
            int count = 0;
            if (!clause_header(line, tag, count))
                return fail(number, "unknown line '" + line.substr(0, 40) + "'");
            if (count < 1 || static_cast<size_t>(count) > lines_.size() - i - 1)
                return fail(number, line + " announces " + std::to_string(count) + " lines, " +
                                        std::to_string(lines_.size() - i - 1) + " follow");
            if (request_.parts.empty())
                return fail(number, "clause " + tag + " comes before the first table line");
            std::vector<ClauseLine>& target = clause(tag);
            for (int k = 1; k <= count; ++k)
                target.push_back(ClauseLine{lines_[i + k], number + k});
            i += static_cast<size_t>(count) + 1;
        }
        if (request_.parts.empty())
            return fail(0, "the statement names no table (no T line)");
        return true;
    }

private:
    bool fail(int line, const std::string& text)
    {
        error_ = line > 0 ? "JDATA line " + std::to_string(line) + ": " + text : text;
        return false;
    }

    bool kind(const std::string& line)
    {
        const std::vector<std::string> parts = split(line);
        const std::string kind = upper(parts[0]);
        if (kind == "SSELECT")
            request_.kind = SelectKind::single;
        else if (kind == "NSELECT")
            request_.kind = SelectKind::nested;
        else if (kind == "GSELECT")
            request_.kind = SelectKind::grouped;
        else
            return fail(1, "expected sselect, nselect or gselect, found '" + line.substr(0, 40) + "'");
        if (parts.size() > 2 || (parts.size() == 2 && !parts[1].empty() && upper(parts[1]) != "Y" && upper(parts[1]) != "N"))
            return fail(1, "expected '" + parts[0] + "' or '" + parts[0] + ",Y', found '" + line.substr(0, 40) + "'");
        request_.distinct = parts.size() == 2 && upper(parts[1]) == "Y";
        return true;
    }

    bool table(const std::string& line, int number)
    {
        const std::vector<std::string> parts = split(line);
        if (parts.size() != 4)
            return fail(number, "expected T,name,alias,join, found '" + line.substr(0, 60) + "'");
        TableLine t;
        t.name = upper(parts[1]);
        t.alias = upper(parts[2]);
        t.line = number;
        const std::string join = upper(parts[3]);
        if (join == "INNER")
            t.join = JoinKind::inner;
        else if (join == "LEFT")
            t.join = JoinKind::left;
        else if (!join.empty())
            return fail(number, "join '" + parts[3] + "' is neither inner nor left");
        if (t.name.empty())
            return fail(number, "table line without a table name");
        // Each table of an nselect is a statement of its own; the other kinds
        // have one statement over all their tables.
        if (request_.parts.empty() || request_.kind == SelectKind::nested)
            request_.parts.emplace_back();
        request_.parts.back().tables.push_back(std::move(t));
        return true;
    }

    std::vector<ClauseLine>& clause(const std::string& tag)
    {
        SelectPart& part = request_.parts.back();
        if (tag == "O")
            return part.tables.back().on;
        if (tag == "W")
            return part.where;
        if (tag == "GB")
            return part.group_by;
        if (tag == "H")
            return part.having;
        return part.order_by;
    }

    const std::vector<std::string>& lines_;
    SelectRequest& request_;
    std::string& error_;
};

bool field_line(const std::string& line, int number, FieldLine& field, std::string& error)
{
    const std::vector<std::string> parts = split(line);
    const std::string where = "MDATA line " + std::to_string(number) + ": ";
    field.line = number;
    if (parts.size() == 2 && parts[1] == "*") {
        field.table = upper(parts[0]);
        field.name = "*";
        return true;
    }
    if (parts.size() != 6) {
        error = where + "expected table,name,alias,distinct,aggregate,suppress, found '" + line.substr(0, 60) + "'";
        return false;
    }
    field.table = upper(parts[0]);
    field.name = upper(parts[1]);
    field.alias = parts[2];
    field.distinct = yes(parts[3]);
    field.aggregate = upper(parts[4]);
    field.suppress = yes(parts[5]);
    // A name written as alias~field names its table itself.
    const size_t tilde = field.name.find('~');
    if (tilde != std::string::npos) {
        field.table = field.name.substr(0, tilde);
        field.name = field.name.substr(tilde + 1);
    }
    if (field.name.empty()) {
        error = where + "field without a name";
        return false;
    }
    static const char* const aggregates[] = {"", "AVG", "COUNT", "MAX", "MIN", "SUM"};
    if (std::find(std::begin(aggregates), std::end(aggregates), field.aggregate) == std::end(aggregates)) {
        error = where + "aggregate '" + parts[4] + "' is none of avg, count, max, min, sum";
        return false;
    }
    return true;
}

} // namespace

const char* select_kind_name(SelectKind kind)
{
    switch (kind) {
    case SelectKind::single: return "sselect";
    case SelectKind::nested: return "nselect";
    case SelectKind::grouped: return "gselect";
    }
    return "select";
}

bool SelectRequestParser::parse(const std::vector<std::string>& jdata, const std::vector<std::string>& mdata,
                                SelectRequest& request, std::string& error)
{
    request = SelectRequest{};
    if (!JdataReader(jdata, request, error).read())
        return false;
    for (size_t i = 0; i < mdata.size(); ++i) {
        if (trim(mdata[i]).empty())
            continue;
        FieldLine field;
        if (!field_line(mdata[i], static_cast<int>(i) + 1, field, error))
            return false;
        request.fields.push_back(std::move(field));
    }
    return true;
}

} // namespace sapsim
