#include "sapsim/csv_reader.h"

namespace sapsim {

bool CsvReader::next(std::vector<std::string>& fields)
{
    fields.clear();
    error_.clear();
    record_line_ = line_;
    if (in_.peek() == std::char_traits<char>::eof())
        return false;

    std::string field;
    size_t bytes = 0;
    bool quoted = false;
    bool after_quote = false;  // a quoted field has ended; only , or end of line may follow
    for (;;) {
        const int c = in_.get();
        if (c == std::char_traits<char>::eof()) {
            if (quoted) {
                error_ = "line " + std::to_string(record_line_) + ": unterminated quoted field";
                return false;
            }
            fields.push_back(std::move(field));
            return true;
        }
        if (++bytes > max_record_bytes) {
            error_ = "line " + std::to_string(record_line_) + ": record longer than " +
                     std::to_string(max_record_bytes) + " bytes";
            return false;
        }
        if (quoted) {
            if (c == '"') {
                if (in_.peek() == '"') {
                    in_.get();
                    field.push_back('"');
                } else {
                    quoted = false;
                    after_quote = true;
                }
            } else {
                if (c == '\n')
                    ++line_;
                field.push_back(static_cast<char>(c));
            }
            continue;
        }
        if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
            after_quote = false;
        } else if (c == '\n' || (c == '\r' && in_.peek() == '\n')) {
            if (c == '\r')
                in_.get();
            ++line_;
            fields.push_back(std::move(field));
            return true;
        } else if (after_quote) {
            error_ = "line " + std::to_string(line_) + ": text after a closing quote";
            return false;
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else {
            field.push_back(static_cast<char>(c));
        }
    }
}

} // namespace sapsim
