#ifndef VURUDE_V9CONNECT_REQUEST_H
#define VURUDE_V9CONNECT_REQUEST_H

#include "vurude_base_request.h"

// A connect document: logs the client on. Its connection becomes the
// control connection of the logon, and this request, kept there as the
// connection's current request, holds the logon data every later request
// naming the connection opens its RFC connection with.
class Vurude_V9connect_Request : public Vurude_Base_Request
{
public:
  using Vurude_Base_Request::Vurude_Base_Request;

  // Vurude_Base_Request
  // Builds the connect string and its log copy from the attributes; 0, or
  // -1 after an error reply.
  int parse_attributes () override;

protected:
  ~Vurude_V9connect_Request () override = default;

private:
  // Forgets the logon data and sends the error reply.
  void refuse (const char *reason);
  // Appends one piece to both strings; false when either would overflow.
  bool append (std::u16string_view text, std::u16string_view log_text);
};

#endif
