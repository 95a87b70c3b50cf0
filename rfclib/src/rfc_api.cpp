// The Rfc* operations of rfclib.h: argument checks, then the connection.
#include <algorithm>
#include <string>
#include <vector>

#include "client_open.h"
#include "connection.h"
#include "handle_table.h"
#include "liveness.h"
#include "text.h"
#include "type_registry.h"
#include "version.h"

using namespace rfclib;

namespace {

std::shared_ptr<Connection> connection_of(RFC_HANDLE handle) {
  auto c = HandleTable::instance().find(handle);
  if (c == nullptr) {
    set_last_error(make_error(RFC_ERROR_PROGRAM, "invalid handle " + std::to_string(handle)));
  }
  return c;
}

RFC_HANDLE publish(std::shared_ptr<Connection> connection, Error& error) {
  const RFC_HANDLE handle = HandleTable::instance().add(connection);
  if (handle == RFC_HANDLE_NULL) {
    error = make_error(RFC_ERROR_RESOURCE, "no handle numbers left");
    connection->close();
    return RFC_HANDLE_NULL;
  }
  copy_text(connection->attributes().conversation_id, from_utf8(std::to_string(handle)));
  return handle;
}

// Splits an argument vector into words: options and values may stand in one
// entry or in separate ones.
std::vector<std::u16string> words_of(SAP_UC** argv) {
  std::vector<std::u16string> words;
  for (std::size_t i = 0; argv[i] != nullptr && i < 256; ++i) {
    const std::u16string entry(argv[i], u16_length(argv[i], 2048));
    std::size_t pos = 0;
    while (pos < entry.size()) {
      while (pos < entry.size() && entry[pos] == u' ') ++pos;
      const std::size_t start = pos;
      while (pos < entry.size() && entry[pos] != u' ') ++pos;
      if (pos > start) words.push_back(entry.substr(start, pos - start));
    }
  }
  return words;
}

bool parse_accept_arguments(SAP_UC** argv, std::u16string& program_id, std::u16string& gwhost,
                            std::u16string& gwserv) {
  if (argv == nullptr) return false;
  const std::vector<std::u16string> words = words_of(argv);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::u16string& w = words[i];
    if (w.size() < 2 || w[0] != u'-') continue;
    std::u16string* target = w[1] == u'a' ? &program_id : w[1] == u'g' ? &gwhost
                           : w[1] == u'x' ? &gwserv : nullptr;
    if (target == nullptr) continue;
    if (w.size() > 2) {
      *target = w.substr(2);
    } else if (i + 1 < words.size()) {
      *target = words[++i];
    }
  }
  return !program_id.empty() && !gwhost.empty() && !gwserv.empty();
}

}  // namespace

extern "C" {

void RfcInit(void) {
  // Instances are created on first use; this makes them exist before threads start.
  (void)HandleTable::instance();
  (void)TypeRegistry::instance();
  configure_partner_timeout();
}

RFC_HANDLE RfcOpenEx(const SAP_UC* connect_string, RFC_ERROR_INFO_EX* error_info) {
  Error error;
  ConnectString options;
  std::shared_ptr<Connection> connection;
  if (connect_string == nullptr) {
    error = make_error(RFC_ERROR_PROGRAM, "no connect string");
  } else if (options.parse({connect_string, u16_length(connect_string, 100000)}, error)) {
    connection = open_logon(options, error);
  }
  RFC_HANDLE handle = connection != nullptr ? publish(connection, error) : RFC_HANDLE_NULL;
  if (handle == RFC_HANDLE_NULL) {
    fill_record(error, error_info);
    set_last_error(error);
  }
  return handle;
}

void RfcClose(RFC_HANDLE handle) {
  auto c = HandleTable::instance().remove(handle);
  if (c != nullptr) c->close();
}

RFC_RC RfcCall(RFC_HANDLE handle, const SAP_UC* function, RFC_PARAMETER* exporting,
               RFC_TABLE* tables) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->call(name_view(function, 0), exporting, tables);
}

RFC_RC RfcReceive(RFC_HANDLE handle, RFC_PARAMETER* importing, RFC_TABLE* tables,
                  SAP_UC** exception) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->receive(importing, tables, exception);
}

RFC_RC RfcCallReceive(RFC_HANDLE handle, const SAP_UC* function, RFC_PARAMETER* exporting,
                      RFC_PARAMETER* importing, RFC_TABLE* tables, SAP_UC** exception) {
  if (exception != nullptr) *exception = nullptr;
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  const RFC_RC rc = c->call(name_view(function, 0), exporting, tables);
  if (rc != RFC_OK) return rc;
  return c->receive(importing, tables, exception);
}

RFC_HANDLE RfcAccept(SAP_UC** argv) {
  std::u16string program_id;
  std::u16string gwhost;
  std::u16string gwserv;
  Error error;
  if (!parse_accept_arguments(argv, program_id, gwhost, gwserv)) {
    set_last_error(make_error(RFC_ERROR_PROGRAM,
                              "RfcAccept needs -a <program id> -g <gateway host> -x <gateway service>"));
    return RFC_HANDLE_NULL;
  }
  auto connection = open_registration(program_id, gwhost, gwserv, error);
  const RFC_HANDLE handle = connection != nullptr ? publish(connection, error) : RFC_HANDLE_NULL;
  if (handle == RFC_HANDLE_NULL) set_last_error(error);
  return handle;
}

RFC_RC RfcCheckRegisterServer(const SAP_UC* program_id, const SAP_UC* gwhost,
                              const SAP_UC* gwserv, RFC_INT* total, RFC_INT* init,
                              RFC_INT* ready, RFC_INT* busy, RFC_ERROR_INFO_EX* error_info) {
  Error error;
  CheckResult result;
  const std::u16string id(name_view(program_id, 0));
  const std::u16string host(name_view(gwhost, 0));
  const std::u16string service(name_view(gwserv, 0));
  bool ok = false;
  if (id.empty() || host.empty() || service.empty()) {
    error = make_error(RFC_ERROR_PROGRAM, "program id, gateway host and gateway service are needed");
  } else {
    ok = check_registrations(id, host, service, result, error);
  }
  if (!ok) {
    fill_record(error, error_info);
    return fail(error);
  }
  if (total != nullptr) *total = static_cast<RFC_INT>(result.total);
  if (init != nullptr) *init = static_cast<RFC_INT>(result.init);
  if (ready != nullptr) *ready = static_cast<RFC_INT>(result.ready);
  if (busy != nullptr) *busy = static_cast<RFC_INT>(result.busy);
  return RFC_OK;
}

RFC_RC RfcWaitForRequest(RFC_HANDLE handle, int seconds) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->wait_for_request(seconds);
}

RFC_RC RfcGetName(RFC_HANDLE handle, SAP_UC* name) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->get_name(name, RFC_FUNCNAME_LN + 1, false);
}

RFC_RC RfcGetLongNameEx(RFC_HANDLE handle, SAP_UC* name, unsigned size) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->get_name(name, size, true);
}

RFC_RC RfcGetData(RFC_HANDLE handle, RFC_PARAMETER* importing, RFC_TABLE* tables) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->get_data(importing, tables);
}

RFC_RC RfcSendData(RFC_HANDLE handle, RFC_PARAMETER* exporting, RFC_TABLE* tables) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->send_data(exporting, tables);
}

RFC_RC RfcRaise(RFC_HANDLE handle, const SAP_UC* exception) {
  return RfcRaiseTables(handle, exception, nullptr);
}

RFC_RC RfcRaiseTables(RFC_HANDLE handle, const SAP_UC* exception, RFC_TABLE* tables) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->raise(name_view(exception, 0), tables);
}

void RfcAbort(RFC_HANDLE handle, const SAP_UC* text) {
  auto c = HandleTable::instance().remove(handle);
  if (c == nullptr) return;
  Error e = make_error(RFC_ERROR_SYSTEM_FAILURE, "");
  e.message = std::u16string(name_view(text, 0)).substr(0, RFC_ERROR_MESSAGE_LN);
  c->abort(wire::AbortKind::aborted, e);
}

RFC_RC RfcGetAttributes(RFC_HANDLE handle, RFC_ATTRIBUTES* attributes) {
  auto c = connection_of(handle);
  if (c == nullptr) return RFC_FAILURE;
  return c->get_attributes(attributes);
}

int RfcLastErrorEx(RFC_ERROR_INFO_EX* error_info) {
  if (error_info == nullptr) return 1;
  return copy_last_error(error_info) ? 0 : 1;
}

RFC_RC RfcInstallUnicodeStructure(const SAP_UC* name, const RFC_UNICODE_TYPE_ELEMENT* elements,
                                  unsigned entries, unsigned fillers_c1, unsigned fillers_c4,
                                  RFC_TYPEHANDLE* type) {
  if (type == nullptr) return fail(make_error(RFC_ERROR_PROGRAM, "no place for the type handle"));
  if (fillers_c1 != 0 || fillers_c4 != 0) {
    return fail(make_error(RFC_ERROR_PROGRAM, "filler elements are not supported"));
  }
  Error error;
  if (!TypeRegistry::instance().install(name_view(name, 0), elements, entries, *type, error)) {
    return fail(error);
  }
  return RFC_OK;
}

unsigned RfcGetAllLibVersions(SAP_UC* text, unsigned size) {
  const std::string versions =
      "\nrfclib " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
      std::to_string(kVersionPatch) + " (RFC library of this project, Unicode)\n" +
      "protocol version " + std::to_string(wire::kVersionMajor) + "." +
      std::to_string(wire::kVersionMinor) + ", frames up to " +
      std::to_string(wire::kMaxFramePayload) + " bytes\n" +
      "code page 4103 (UTF-16 little endian)\n";
  return static_cast<unsigned>(copy_text(text, size, from_utf8(versions)));
}

RFC_RC RfcGetCodePagesInfo(RFC_HANDLE handle, SAP_UC* own_codepage, SAP_UC* partner_codepage) {
  RFC_ATTRIBUTES a{};
  if (handle == RFC_HANDLE_NULL) {
    copy_text(a.own_codepage, kCodePage);
    copy_text(a.partner_codepage, kCodePage);
  } else if (RfcGetAttributes(handle, &a) != RFC_OK) {
    return RFC_FAILURE;
  }
  copy_text(own_codepage, RFC_CODEPAGE_LN + 1, {a.own_codepage, u16_length(a.own_codepage, 4)});
  copy_text(partner_codepage, RFC_CODEPAGE_LN + 1,
            {a.partner_codepage, u16_length(a.partner_codepage, 4)});
  return RFC_OK;
}

RFC_RC RfcGetPatchLevel(int* major, int* minor, int* patch) {
  if (major != nullptr) *major = kVersionMajor;
  if (minor != nullptr) *minor = kVersionMinor;
  if (patch != nullptr) *patch = kVersionPatch;
  return RFC_OK;
}

}  // extern "C"
