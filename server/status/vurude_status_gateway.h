#ifndef VURUDE_STATUS_GATEWAY_H
#define VURUDE_STATUS_GATEWAY_H

#include <string>

// One status-monitor registration: the program id under which the server
// registers at one gateway. Built from a "-a progid -g gwhost -x gwserv" text.
class Vurude_Status_Gateway
{
public:
  // Parses the text; message() is empty when it is a usable registration.
  explicit Vurude_Status_Gateway (const char *text);

  const std::u16string &program_id () const { return program_id_; }
  const std::u16string &gateway_host () const { return gateway_host_; }
  const std::u16string &gateway_service () const { return gateway_service_; }
  // Program id, gateway host and gateway service joined: the table key.
  const std::u16string &key () const { return key_; }
  // The argument vector for registering at the gateway, as given.
  const std::string &arguments () const { return arguments_; }
  const char *message () const { return message_; }

private:
  std::string arguments_;
  std::u16string gateway_host_;
  std::u16string gateway_service_;
  std::u16string program_id_;
  std::u16string key_;
  const char *message_ = nullptr;
};

#endif
