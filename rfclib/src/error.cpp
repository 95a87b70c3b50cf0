#include "error.h"

#include <cstring>

#include "text.h"

namespace rfclib {
namespace {

struct LastError {
  bool set = false;
  Error error;
};

thread_local LastError last_error;

}  // namespace

const char* group_key(int group) {
  switch (group) {
    case RFC_ERROR_PROGRAM: return "RFC_ERROR_PROGRAM";
    case RFC_ERROR_COMMUNICATION: return "RFC_ERROR_COMMUNICATION";
    case RFC_ERROR_LOGON_FAILURE: return "RFC_ERROR_LOGON_FAILURE";
    case RFC_ERROR_SYSTEM_FAILURE: return "RFC_ERROR_SYSTEM_FAILURE";
    case RFC_ERROR_APPLICATION: return "RFC_ERROR_APPLICATION";
    case RFC_ERROR_RESOURCE: return "RFC_ERROR_RESOURCE";
    case RFC_ERROR_PROTOCOL: return "RFC_ERROR_PROTOCOL";
    case RFC_ERROR_INTERNAL: return "RFC_ERROR_INTERNAL";
    case RFC_ERROR_CANCELLED: return "RFC_ERROR_CANCELLED";
    case RFC_ERROR_BUSY: return "RFC_ERROR_BUSY";
    default: return "RFC_ERROR_UNKNOWN";
  }
}

Error make_error(int group, std::string_view message) {
  Error e;
  e.group = group;
  e.key = from_utf8(group_key(group));
  e.message = from_utf8(message);
  return e;
}

Error system_error(int group, std::string_view what, int errno_value) {
  std::string text(what);
  text += ": ";
  text += std::strerror(errno_value);
  return make_error(group, text);
}

void fill_record(const Error& error, RFC_ERROR_INFO_EX* record) {
  if (record == nullptr) return;
  record->group = error.group;
  copy_text(record->key, error.key);
  copy_text(record->message, error.message);
}

Error from_record(const RFC_ERROR_INFO_EX& record) {
  Error e;
  e.group = record.group;
  e.key.assign(record.key, u16_length(record.key, RFC_ERROR_KEY_LN + 1));
  e.message.assign(record.message, u16_length(record.message, RFC_ERROR_MESSAGE_LN + 1));
  return e;
}

void set_last_error(const Error& error) {
  last_error.set = true;
  last_error.error = error;
}

bool copy_last_error(RFC_ERROR_INFO_EX* record) {
  if (!last_error.set) return false;
  fill_record(last_error.error, record);
  return true;
}

RFC_RC fail(const Error& error) {
  set_last_error(error);
  return RFC_FAILURE;
}

}  // namespace rfclib
