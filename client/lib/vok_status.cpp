#include "vok_status.h"

#include <utility>

const char *vok_result_name (Vok_Result result)
{
  switch (result)
    {
    case Vok_Result::ok: return "ok";
    case Vok_Result::timed_out: return "timed_out";
    case Vok_Result::closed: return "closed";
    case Vok_Result::too_long: return "too_long";
    case Vok_Result::rejected: return "rejected";
    case Vok_Result::bad_greeting: return "bad_greeting";
    case Vok_Result::bad_record: return "bad_record";
    case Vok_Result::invalid_argument: return "invalid_argument";
    case Vok_Result::connect_failed: return "connect_failed";
    case Vok_Result::not_connected: return "not_connected";
    case Vok_Result::io_error: return "io_error";
    }
  return "unknown";
}

Vok_Status::Vok_Status (Vok_Result result, std::string message, std::string server_reply)
  : result_ (result), message_ (std::move (message)), server_reply_ (std::move (server_reply))
{
}
