// Reads comma-separated records: a field may be quoted with double quotes, a
// quote inside is doubled, quoted fields may hold commas and line breaks.
// Lines end in LF or CRLF. Records longer than max_record_bytes are refused.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace sapsim {

class CsvReader {
public:
    static constexpr size_t max_record_bytes = 1 << 20;

    explicit CsvReader(std::istream& in) : in_(in) {}

    // Returns true with the next record; false at the end or on an error
    // (then error() is non-empty).
    bool next(std::vector<std::string>& fields);
    const std::string& error() const { return error_; }
    // Line on which the last returned record started.
    int line() const { return record_line_; }

private:
    std::istream& in_;
    std::string error_;
    int line_ = 1;
    int record_line_ = 0;
};

} // namespace sapsim
