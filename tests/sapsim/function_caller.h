// The VOK server's side of a function request, for tests of the described
// function modules: calls a module directly with parameters and tables as a
// function request in mode Y passes them, or the dialog module with the
// request parameters of a function request in mode N, and serves the
// callbacks (request parameters, program lines, metadata, data chunks,
// parameter tables) with the server's sizes, recording what arrives.
#pragma once

#include "rfclib/rfclib.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sapsim_test {

using Lines = std::vector<std::string>;

// Values as the client encodes them (docs/extraction-records.md).
std::string utf16(const std::string& text, size_t chars);  // UTF-16LE, padded with blanks
std::string text_of(const std::string& bytes);             // UTF-16LE without trailing blanks
std::string int4(std::int32_t value);
std::int32_t int4_of(const std::string& bytes);
// The comma-separated items of an interface line.
Lines split(const std::string& line);

// A value sent with a call: type C (character) or B (bytes), as the server
// passes parameter values.
struct Sent {
    std::string name;
    std::string bytes;
    bool character = true;
};

// A table of a call: lines of `line_bytes` bytes; with FIELD lines, the
// structure is installed from them as the server installs a table's fields.
struct CallTable {
    std::string name;
    unsigned line_bytes = 0;
    Lines lines;
    Lines fields;
};

struct FunctionChunk {
    std::string dhandle, table_name;
    char end_of_data = '?';
    unsigned line_bytes = 0;
    Lines rows;
    Lines mtab;
};

class FunctionCaller {
public:
    static constexpr const char* own_handle = "0042000055D1C0A81234";

    explicit FunctionCaller(RFC_HANDLE handle) : handle_(handle) {}

    // Mode Y: values sent, values received (name and size), tables.
    std::vector<Sent> sent;
    std::vector<std::pair<std::string, unsigned>> received_sizes;
    std::vector<CallTable> tables;
    // After a call that returned RFC_OK.
    std::map<std::string, std::string> received;
    std::map<std::string, Lines> returned;

    // Mode N: DHANDLE of the request.
    std::string dhandle = own_handle;

    // Chunk number `raise_at_chunk` (1-based) and every parameter-table
    // fetch are answered with these exceptions when set.
    int raise_at_chunk = 0;
    std::string chunk_exception;
    std::string fetch_exception;

    // What arrived.
    Lines callbacks;
    Lines metadata, program;
    std::vector<FunctionChunk> chunks;
    std::vector<std::pair<std::string, std::string>> fetches;  // table name, DHANDLE
    std::string exception;                                     // of the call, with RFC_EXCEPTION

    RFC_RC call(const std::string& module);
    RFC_RC dialog(const std::string& func_flag, const std::string& function, const std::string& debug = " ");

    // Every row of every chunk, in order.
    Lines rows() const;

private:
    static Lines lines_of(ITAB_H itab);
    static Lines text_lines(ITAB_H itab);
    static RFC_TYPEHANDLE install(const CallTable& table);
    RFC_RC finish(RFC_RC rc, RFC_PARAMETER* importing, RFC_TABLE* itabs);
    bool serve();
    bool request_parameters();
    bool program_lines();
    bool metadata_lines();
    bool data_chunk();
    // As the server: the request's table of that name, else its first table.
    bool parameter_table();

    RFC_HANDLE handle_;
    std::string func_flag_, function_, debug_;
    std::vector<RFC_TABLE>* call_tables_ = nullptr;
};

} // namespace sapsim_test
