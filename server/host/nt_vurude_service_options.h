#ifndef NT_VURUDE_SERVICE_OPTIONS_H
#define NT_VURUDE_SERVICE_OPTIONS_H

#include "vurude_service_options.h"

#include <ace/ARGV.h>
#include <ace/Mutex.h>
#include <ace/Singleton.h>

#include <deque>
#include <string>
#include <vector>

// The options of the process host: service-control switches, the usage text
// and the stored service arguments, on top of the server options.
class Platform_Options : public Options
{
public:
  static constexpr std::size_t service_name_units = 128;
  static constexpr std::size_t service_desc_units = 1024;
  // Stored arguments longer than this buffer (terminator included) are ignored.
  static constexpr std::size_t registry_read_units = 256;

  Platform_Options ();
  ~Platform_Options () override;

  // Parses an argument vector, skipping its first `skip` elements. Bad input
  // either logs and continues or prints the usage and ends the process.
  void parse_args (int argc, ACE_TCHAR *argv[], int skip);

  // Logs the usage text for `program` and ends the process with status 1.
  [[noreturn]] void usage (const ACE_TCHAR *program);

  // Applies debug_level to the process-wide log priority mask.
  void set_log_mask ();

  // Parses the arguments stored for service_name; failures are logged.
  void get_registry ();
  // Stores the arguments of this command line for service_name. 0 or -1.
  int set_registry ();

  const char16_t *service_name () const { return service_name_; }
  const char16_t *service_desc () const { return service_desc_; }
  void service_name (std::u16string_view name);
  int install_requested () const { return install_requested_; }
  int remove_requested () const { return remove_requested_; }
  int start_requested () const { return start_requested_; }
  int kill_requested () const { return kill_requested_; }
  int set_startup_requested () const { return set_startup_requested_; }
  int startup_type () const { return startup_type_; }

  // The arguments to persist, in their stored order.
  ACE_ARGV &app_parameter () { return app_parameter_; }

  // Root folder of the key store that stands in for the system registry.
  void registry_root (const std::string &root) { registry_root_ = root; }
  const std::string &registry_root () const { return registry_root_; }

private:
  void persist (std::string entry);
  void persist_quoted (char quote, const char *value);
  void persist_number (int value);
  void set_name_and_description (const char *argument);
  std::vector<std::string> registry_context_path () const;

  char16_t service_name_[service_name_units];
  char16_t service_desc_[service_desc_units];
  int install_requested_;
  int remove_requested_;
  int start_requested_;
  int kill_requested_;
  int startup_type_;
  int set_startup_requested_;
  // ACE_ARGV keeps pointers to what is added; the deque keeps those texts alive.
  std::deque<std::string> app_parameter_texts_;
  ACE_ARGV app_parameter_;
  std::string registry_value_name_;
  std::string registry_root_;
};

typedef ACE_Singleton<Platform_Options, ACE_Mutex> OPTIONS;

// Where the service parameters are kept unless a test says otherwise.
extern const char *const default_registry_root;

#endif
