#ifndef VOK_CLI_CSV_H
#define VOK_CLI_CSV_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The records of a CSV text (RFC 4180): fields separated by commas, records
// by line feeds or carriage return and line feed; a field in double quotes
// may hold commas, line ends and doubled quotes. A UTF-8 byte order mark at
// the start is dropped, empty lines are skipped, the last line may lack its
// line end. False with `problem` set (naming the line) for a quote that is
// not closed or text between a closing quote and the next separator.
bool vok_cli_parse_csv (std::string_view text, std::vector<std::vector<std::string>> &records, std::string &problem);

// The file's bytes, at most `max_bytes`. False with `problem` set when it
// cannot be read or is larger.
bool vok_cli_read_file (const std::string &path, std::size_t max_bytes, std::string &text, std::string &problem);

#endif
