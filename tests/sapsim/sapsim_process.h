// SapsimProcess: a running sapsim child on a free port with a fresh data folder,
// and helpers to log on to it through rfclib.
#pragma once

#include "child_process.h"
#include "temp_dir.h"

#include "rfclib/rfclib.h"

#include <string>
#include <vector>

namespace sapsim_test {

// A fixed-width character field as UTF-16, padded with blanks.
std::u16string field(const std::string& text, size_t chars);
// UTF-16 text without trailing blanks and zeros, as UTF-8.
std::string trimmed(const char16_t* text, size_t chars);
// The calling thread's last library error.
RFC_ERROR_INFO_EX last_error();
std::string describe(const RFC_ERROR_INFO_EX& error);

class SapsimProcess {
public:
    // Starts sapsim; check ok() (the failure is in error()).
    explicit SapsimProcess(const std::vector<std::string>& extra_args = {});

    bool ok() const { return port_ > 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // The data folder; the store is its file sapsim.db.
    const std::string& data_path() const { return data_.path(); }
    vurude::test::ChildProcess& process() { return process_; }

    std::string connect_string(const std::string& client, const std::string& user, const std::string& password) const;
    // Logs on; RFC_HANDLE_NULL and `error` on failure.
    RFC_HANDLE open(const std::string& client, const std::string& user, const std::string& password,
                    RFC_ERROR_INFO_EX* error = nullptr) const;
    RFC_HANDLE open_demo() const { return open("100", "DEMO", "demo"); }

private:
    vurude::test::TempDir data_;
    vurude::test::ChildProcess process_;
    std::string error_;
    int port_ = -1;
};

} // namespace sapsim_test
