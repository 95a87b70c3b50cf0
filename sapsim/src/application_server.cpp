#include "sapsim/application_server.h"

#include "sapsim/logger.h"
#include "sapsim/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace sapsim {

namespace {

// The id of the connection whose thread this is: the gateway runs the logon
// check and the serve function of one connection on the same thread.
thread_local std::uint64_t current_connection = 0;
// Set when the logon check refused this thread's connection and logged why.
thread_local bool refusal_logged = false;

void put_c_text(SAP_UC* field, size_t size, std::string_view text)
{
    const std::u16string t = to_utf16(text);
    const size_t n = std::min(size - 1, t.size());
    std::copy_n(t.data(), n, field);
    field[n] = 0;
}

void refuse(RFC_ERROR_INFO_EX& refusal, int group, const char* key, const std::string& message)
{
    refusal_logged = true;
    refusal.group = group;
    put_c_text(refusal.key, RFC_ERROR_KEY_LN + 1, key);
    put_c_text(refusal.message, RFC_ERROR_MESSAGE_LN + 1, message);
}

// The gateway ended a connection before its logon: not this protocol, a bad
// handshake, a full gateway. A refusal of the logon check is logged there.
void log_dropped(void*, const SAP_UC* partner_address, const RFC_ERROR_INFO_EX* reason)
{
    if (refusal_logged)
        return;
    SAPSIM_LOG(warning, current_connection)
        << "connection from " << from_c_text(partner_address, 64)
        << " dropped before logon: " << from_c_text(reason->message, RFC_ERROR_MESSAGE_LN);
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

ApplicationServer::~ApplicationServer()
{
    stop();
}

bool ApplicationServer::start(const std::string& bind_address, unsigned short port, std::string& error)
{
    RFC_GW_CONFIG gw{};
    gw.bind_address = bind_address.empty() ? nullptr : bind_address.c_str();
    gw.port = port;
    gw.max_connections = 0;
    gw.logon_check = &ApplicationServer::logon_check;
    gw.serve = &ApplicationServer::serve;
    gw.context = this;
    gw.drop_log = &log_dropped;
    RFC_ERROR_INFO_EX info{};
    gateway_ = RfcGwStart(&gw, &info);
    if (gateway_ == nullptr) {
        error = "cannot listen on " + (bind_address.empty() ? std::string("*") : bind_address) + ":" +
                std::to_string(port) + ": " + from_c_text(info.message, RFC_ERROR_MESSAGE_LN);
        return false;
    }
    services_.gateway.store(gateway_);
    config_.port = RfcGwPort(gateway_);
    return true;
}

void ApplicationServer::stop()
{
    if (gateway_ != nullptr) {
        RfcGwStop(gateway_);
        gateway_ = nullptr;
    }
}

int ApplicationServer::logon_check(void* self, const RFC_GW_LOGON_DATA* logon, RFC_ATTRIBUTES* attributes,
                                   RFC_ERROR_INFO_EX* refusal)
{
    return static_cast<ApplicationServer*>(self)->check(*logon, *attributes, *refusal);
}

void ApplicationServer::serve(void* self, RFC_HANDLE handle, const RFC_GW_LOGON_DATA* logon)
{
    static_cast<ApplicationServer*>(self)->serve_connection(handle, *logon);
}

void ApplicationServer::describe_system(RFC_ATTRIBUTES& attributes) const
{
    char sysnr[8];
    std::snprintf(sysnr, sizeof sysnr, "%02d", config_.sysnr);
    put_c_text(attributes.partner_host, sizeof attributes.partner_host / sizeof(SAP_UC), config_.hostname);
    put_c_text(attributes.systnr, sizeof attributes.systnr / sizeof(SAP_UC), sysnr);
    put_c_text(attributes.sysid, sizeof attributes.sysid / sizeof(SAP_UC), config_.sysid);
    put_c_text(attributes.partner_codepage, sizeof attributes.partner_codepage / sizeof(SAP_UC), "4103");
    put_c_text(attributes.kernel_rel, sizeof attributes.kernel_rel / sizeof(SAP_UC), config_.kernel_release);
    put_c_text(attributes.partner_rel, sizeof attributes.partner_rel / sizeof(SAP_UC), config_.release);
    put_c_text(attributes.partner_type, sizeof attributes.partner_type / sizeof(SAP_UC), "3");
}

int ApplicationServer::check(const RFC_GW_LOGON_DATA& logon, RFC_ATTRIBUTES& attributes, RFC_ERROR_INFO_EX& refusal)
{
    current_connection = next_connection_.fetch_add(1);
    const std::uint64_t conn = current_connection;
    const std::string address = from_c_text(logon.partner_address, sizeof logon.partner_address / sizeof(SAP_UC));
    if (logon.kind == RFC_GW_REGISTER) {
        const std::string program_id = from_c_text(logon.program_id, RFC_GW_TEXT_LN);
        if (program_id.empty()) {
            SAPSIM_LOG(warning, conn) << "registration from " << address << " without program id refused";
            refuse(refusal, RFC_ERROR_PROGRAM, "RFC_ERROR_PROGRAM", "Program id missing");
            return 1;
        }
        SAPSIM_LOG(info, conn) << "program " << program_id << " registered from " << address;
        describe_system(attributes);
        return 0;
    }
    const std::string client = from_c_text(logon.client, RFC_GW_TEXT_LN);
    const std::string user = upper(from_c_text(logon.user, RFC_GW_TEXT_LN));
    const std::string password = from_c_text(logon.password, RFC_GW_TEXT_LN);
    switch (store_.check_logon(client, user, password)) {
    case LogonCheck::ok:
        break;
    case LogonCheck::unknown_client:
        SAPSIM_LOG(warning, conn) << "logon of " << user << " from " << address << " refused: client '" << client
                                  << "' does not exist";
        refuse(refusal, RFC_ERROR_LOGON_FAILURE, "RFC_ERROR_LOGON_FAILURE",
               "Client " + client + " is not available in this system");
        return 1;
    case LogonCheck::bad_credentials:
        SAPSIM_LOG(warning, conn) << "logon of " << user << " in client " << client << " from " << address
                                  << " refused: name or password incorrect";
        refuse(refusal, RFC_ERROR_LOGON_FAILURE, "RFC_ERROR_LOGON_FAILURE", "Name or password is incorrect (repeat logon)");
        return 1;
    case LogonCheck::user_locked:
        SAPSIM_LOG(warning, conn) << "logon of " << user << " in client " << client << " from " << address
                                  << " refused: user locked";
        refuse(refusal, RFC_ERROR_LOGON_FAILURE, "RFC_ERROR_LOGON_FAILURE",
               "User is locked. Please notify the person responsible");
        return 1;
    }
    SAPSIM_LOG(info, conn) << "logon of " << user << " in client " << client << " from " << address;
    describe_system(attributes);
    return 0;
}

void ApplicationServer::serve_connection(RFC_HANDLE handle, const RFC_GW_LOGON_DATA& logon)
{
    Session session;
    session.connection_id = current_connection;
    session.client = from_c_text(logon.client, RFC_GW_TEXT_LN);
    session.user = upper(from_c_text(logon.user, RFC_GW_TEXT_LN));
    session.language = from_c_text(logon.language, RFC_GW_TEXT_LN);
    for (;;) {
        const RFC_RC rc = RfcWaitForRequest(handle, 5);
        if (rc == RFC_RETRY)
            continue;
        if (rc != RFC_OK)
            break;
        CallContext context(handle, session, services_);
        registry_.dispatch(context);
    }
    RFC_ERROR_INFO_EX info{};
    RfcLastErrorEx(&info);
    const std::string why = from_c_text(info.message, RFC_ERROR_MESSAGE_LN);
    if (info.group == RFC_ERROR_PROTOCOL)
        SAPSIM_LOG(warning, session.connection_id) << "connection of " << session.user << " dropped: malformed data: " << why;
    else
        SAPSIM_LOG(info, session.connection_id) << "connection of " << session.user << " ended: " << why;
}

} // namespace sapsim
