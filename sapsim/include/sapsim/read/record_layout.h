// The record of a select result: its columns in order, their type, size and
// offset, and the metadata lines that describe it to the client
// (docs/extraction-records.md):
//   "R,<row bytes>,<column count>"
//   "F,<column name>,<type>,<bytes>,<decimals>,<offset>,<description>"
#pragma once

#include "sapsim/read/sql_expression.h"

#include <string>
#include <vector>

namespace sapsim {

struct OutputColumn {
    std::string name;         // the field alias, the field name, or AGGREGATE(FIELD)
    char type = 'C';          // C N D T I s b 8 F P X
    int bytes = 0;
    int decimals = 0;
    int offset = 0;           // in the record, 0-based
    std::string description;  // dictionary text of the field
};

class RecordLayout {
public:
    // Metadata lines stay below this many characters (the server cuts at 256).
    static constexpr size_t max_line_chars = 255;

    void add(std::string name, const ValueType& type, std::string description);
    const std::vector<OutputColumn>& columns() const { return columns_; }
    int row_bytes() const { return row_bytes_; }
    std::vector<std::string> metadata_lines() const;

    // Bytes a value of this type takes in the record.
    static int bytes_of(const ValueType& type);

private:
    std::vector<OutputColumn> columns_;
    int row_bytes_ = 0;
};

} // namespace sapsim
