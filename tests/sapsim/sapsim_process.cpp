#include "sapsim_process.h"

#include "sapsim/text.h"

#include <chrono>

namespace sapsim_test {

std::u16string field(const std::string& text, size_t chars)
{
    std::u16string f = sapsim::to_utf16(text);
    f.resize(chars, u' ');
    return f;
}

std::string trimmed(const char16_t* text, size_t chars)
{
    while (chars > 0 && (text[chars - 1] == u' ' || text[chars - 1] == 0))
        --chars;
    return sapsim::to_utf8(std::u16string_view(text, chars));
}

RFC_ERROR_INFO_EX last_error()
{
    RFC_ERROR_INFO_EX info{};
    RfcLastErrorEx(&info);
    return info;
}

std::string describe(const RFC_ERROR_INFO_EX& error)
{
    return "group " + std::to_string(error.group) + " key " + trimmed(error.key, RFC_ERROR_KEY_LN) + ": " +
           trimmed(error.message, RFC_ERROR_MESSAGE_LN);
}

SapsimProcess::SapsimProcess(const std::vector<std::string>& extra_args)
{
    std::vector<std::string> argv = {SAPSIM_EXE, "--data", data_.path(), "--port", "0", "--bookings", "1000",
                                     "--log-level", "debug"};
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    if (!process_.start(argv, error_))
        return;
    port_ = process_.wait_for_port(std::chrono::seconds(60));
    if (port_ <= 0)
        error_ = "sapsim did not report its port; its log:\n" + process_.stderr_text();
}

std::string SapsimProcess::connect_string(const std::string& client, const std::string& user,
                                          const std::string& password) const
{
    return "ashost=\"127.0.0.1\" gwserv=\"" + std::to_string(port_) + "\" client=\"" + client + "\" user=\"" + user +
           "\" passwd=\"" + password + "\" lang=\"E\"";
}

RFC_HANDLE SapsimProcess::open(const std::string& client, const std::string& user, const std::string& password,
                               RFC_ERROR_INFO_EX* error) const
{
    const std::u16string text = sapsim::to_utf16(connect_string(client, user, password));
    RFC_ERROR_INFO_EX info{};
    const RFC_HANDLE handle = RfcOpenEx(text.c_str(), &info);
    if (error != nullptr)
        *error = info;
    return handle;
}

} // namespace sapsim_test
