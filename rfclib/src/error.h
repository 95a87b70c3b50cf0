// Error records of the library and the calling thread's last error.
#ifndef RFCLIB_ERROR_H
#define RFCLIB_ERROR_H

#include <string>
#include <string_view>

#include "rfclib/rfclib.h"

namespace rfclib {

struct Error {
  int group = RFC_ERROR_NONE;
  std::u16string key;
  std::u16string message;

  bool empty() const { return group == RFC_ERROR_NONE; }
};

// Name of a group as used for the key ("RFC_ERROR_COMMUNICATION").
const char* group_key(int group);

// An error of a group with its standard key and a UTF-8 message.
Error make_error(int group, std::string_view message);

// "<what>: <strerror(errno_value)>".
Error system_error(int group, std::string_view what, int errno_value);

void fill_record(const Error& error, RFC_ERROR_INFO_EX* record);
Error from_record(const RFC_ERROR_INFO_EX& record);

// The calling thread's last error (RfcLastErrorEx).
void set_last_error(const Error& error);
bool copy_last_error(RFC_ERROR_INFO_EX* record);

// Sets the thread's last error and returns RFC_FAILURE, for brevity at failure points.
RFC_RC fail(const Error& error);

}  // namespace rfclib

#endif
