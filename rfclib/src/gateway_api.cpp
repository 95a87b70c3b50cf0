// The RfcGw* operations of rfc_gateway.h.
#include "connection.h"
#include "gateway.h"
#include "handle_table.h"
#include "text.h"

using namespace rfclib;

extern "C" {

RFC_GATEWAY RfcGwStart(const RFC_GW_CONFIG* config, RFC_ERROR_INFO_EX* error_info) {
  Error error;
  Gateway* g = nullptr;
  if (config == nullptr) {
    error = make_error(RFC_ERROR_PROGRAM, "no gateway configuration");
  } else {
    g = Gateway::start(*config, error);
  }
  if (g == nullptr) {
    fill_record(error, error_info);
    set_last_error(error);
    return nullptr;
  }
  return g->handle();
}

unsigned short RfcGwPort(RFC_GATEWAY gateway) {
  return gateway != nullptr ? Gateway::from(gateway)->port() : 0;
}

int RfcGwCountRegistered(RFC_GATEWAY gateway, const SAP_UC* program_id, int* ready, int* busy) {
  int r = 0;
  int b = 0;
  int total = 0;
  if (gateway != nullptr && program_id != nullptr) {
    total = Gateway::from(gateway)->count(std::u16string(name_view(program_id, 0)), r, b);
  }
  if (ready != nullptr) *ready = r;
  if (busy != nullptr) *busy = b;
  return total;
}

RFC_HANDLE RfcGwOpenRegistered(RFC_GATEWAY gateway, const SAP_UC* program_id,
                               RFC_ERROR_INFO_EX* error_info) {
  Error error;
  RFC_HANDLE handle = RFC_HANDLE_NULL;
  if (gateway == nullptr || program_id == nullptr) {
    error = make_error(RFC_ERROR_PROGRAM, "gateway and program id are needed");
  } else {
    handle = Gateway::from(gateway)->open_registered(std::u16string(name_view(program_id, 0)), error);
  }
  if (handle == RFC_HANDLE_NULL) {
    fill_record(error, error_info);
    set_last_error(error);
  }
  return handle;
}

void RfcGwSystemFailure(RFC_HANDLE handle, const SAP_UC* key, const SAP_UC* message) {
  auto c = HandleTable::instance().remove(handle);
  if (c == nullptr) return;
  Error e;
  e.group = RFC_ERROR_SYSTEM_FAILURE;
  e.key = std::u16string(name_view(key, 0)).substr(0, RFC_ERROR_KEY_LN);
  e.message = std::u16string(name_view(message, 0)).substr(0, RFC_ERROR_MESSAGE_LN);
  c->abort(wire::AbortKind::system_failure, e);
}

void RfcGwStop(RFC_GATEWAY gateway) {
  if (gateway == nullptr) return;
  Gateway* g = Gateway::from(gateway);
  g->stop();
  delete g;
}

}  // extern "C"
