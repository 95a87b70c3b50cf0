#include "sapsim/read/record_layout.h"

#include "sapsim/text.h"

#include <algorithm>

namespace sapsim {

int RecordLayout::bytes_of(const ValueType& type)
{
    switch (type.type) {
    case 'C': case 'N': return 2 * type.length;
    case 'D': return 16;
    case 'T': return 12;
    case 'I': return 4;
    case 's': return 2;
    case 'b': return 1;
    case '8': case 'F': return 8;
    default: return type.length;  // P and X: bytes
    }
}

void RecordLayout::add(std::string name, const ValueType& type, std::string description)
{
    OutputColumn c;
    c.name = std::move(name);
    c.type = type.type;
    c.bytes = bytes_of(type);
    c.decimals = type.type == 'P' ? type.decimals : 0;
    c.offset = row_bytes_;
    c.description = std::move(description);
    row_bytes_ += c.bytes;
    columns_.push_back(std::move(c));
}

std::vector<std::string> RecordLayout::metadata_lines() const
{
    std::vector<std::string> lines;
    lines.push_back("R," + std::to_string(row_bytes_) + "," + std::to_string(columns_.size()));
    for (const OutputColumn& c : columns_) {
        std::string description = c.description;
        std::replace(description.begin(), description.end(), ',', ' ');
        const std::u16string head = to_utf16("F," + c.name + "," + std::string(1, c.type) + "," + std::to_string(c.bytes) +
                                             "," + std::to_string(c.decimals) + "," + std::to_string(c.offset) + ",");
        std::u16string line = head + to_utf16(description);
        if (line.size() > max_line_chars)
            line.resize(max_line_chars);
        // A cut must not leave half a surrogate pair behind.
        if (!line.empty() && line.back() >= 0xD800 && line.back() <= 0xDBFF)
            line.pop_back();
        lines.push_back(to_utf8(line));
    }
    return lines;
}

} // namespace sapsim
