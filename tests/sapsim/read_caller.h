// The VOK server's side of a select, for tests of the read report: calls the
// dialog module, answers Z_VOK_GET_REQUEST_PARAMETERS with a statement and
// serves Z_VOK_GENPROG, Z_VOK_MDATA and Z_VOK_DATA_CHUNK with the server's
// parameter sizes, recording what arrives.
#pragma once

#include "rfclib/rfclib.h"

#include <string>
#include <vector>

namespace sapsim_test {

struct Chunk {
    std::string dhandle, emsg, table_name;
    char end_of_data = '?';
    unsigned line_bytes = 0;
    std::vector<std::string> rows;  // raw record bytes
};

class ReadCaller {
public:
    explicit ReadCaller(RFC_HANDLE handle) : handle_(handle) {}

    // The request: FUNC_FLAG and the rest, and the statement tables.
    std::string func_flag = "B";
    std::string abapprog = "/VOK/Z_VOK_READ";
    std::string blocksize = "00010000";
    std::string debug = " ";
    std::string dhandle = "0042000055D1C0A81234";
    std::string dialog_flag = " ";
    std::vector<std::string> jdata, mdata;
    // Z_VOK_DATA_CHUNK number n (1-based) is answered with KILLED_BY_VOK; 0: never.
    int kill_at_chunk = 0;

    // What arrived.
    std::vector<std::string> callbacks;
    std::vector<std::string> program;   // Z_VOK_GENPROG lines
    std::vector<std::string> metadata;  // Z_VOK_MDATA lines
    std::vector<Chunk> chunks;
    std::string exception;              // of the call, with RFC_EXCEPTION

    RFC_RC call(const std::string& module = "/VOK/Z_VOK_DIALOG");

    // Every record of every chunk, in order.
    std::vector<std::string> records() const;

private:
    bool serve();
    bool request_parameters();
    bool program_lines();
    bool metadata_lines();
    bool data_chunk();

    RFC_HANDLE handle_;
};

// A record as text per column, read by the metadata lines ("F,..."): C
// without trailing blanks, N/D/T their digits, P as decimal text with its
// decimals, I/s/b/8 as integers, F with four decimals, X as hexadecimal.
std::vector<std::string> decode_record(const std::vector<std::string>& metadata, const std::string& record);

} // namespace sapsim_test
