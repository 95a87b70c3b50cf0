#ifndef VURUDE_SERVICE_OPTIONS_H
#define VURUDE_SERVICE_OPTIONS_H

#include "vurude_status.h"

#include <ace/Thread_Mutex.h>

#include <xercesc/util/TransService.hpp>

#include <memory>
#include <string>
#include <string_view>

// The configuration every part of the server reads. Filled from the command
// line (and, for a service, from its stored arguments) before the event loop
// starts; read-only afterwards, so readers on any thread take no lock.
class Options
{
public:
  Options ();
  virtual ~Options ();
  Options (const Options &) = delete;
  Options &operator= (const Options &) = delete;

  Vurude_Status &status () { return status_; }
  int debug_level () const { return debug_level_; }
  int port () const { return port_; }
  int dialog_port () const { return dialog_port_; }
  int batch_port () const { return batch_port_; }
  int min_bufsize () const { return min_bufsize_; }
  char16_t unlimited_dialog () const { return unlimited_dialog_; }
  const std::u16string &batch_parms () const { return batch_parms_; }
  const std::u16string &variant () const { return variant_; }
  const std::u16string &batch_variant () const { return batch_variant_; }
  const std::u16string &batch_report () const { return batch_report_; }
  const std::u16string &name_prefix () const { return name_prefix_; }

  // The XML library's UTF-8 transcoder every reply to a client goes
  // through; made on first use, after the XML library is initialised.
  // Null when the XML library cannot make one.
  xercesc::XMLTranscoder *utf8_transcoder ();
  // Before the XML library ends: later calls get no transcoder.
  void release_utf8_transcoder ();

  // The "-b" value: "-p port -R report -V variant -B size". Bad sub-options
  // are logged and skipped; a -p or -B that is not a number in range counts
  // as a bad value of its option.
  void parse_batch_parms (const char *text);

  // One character: 0/n/N enforce the dialog row limit, 1/y/Y lift it.
  // Returns -1 and changes nothing for anything else.
  int set_unlimited_dialog (std::string_view text);

protected:
  Vurude_Status status_;
  int debug_level_;
  int port_;
  int dialog_port_;
  int batch_port_;
  int min_bufsize_;
  char16_t unlimited_dialog_;
  std::u16string batch_parms_;
  std::u16string variant_;
  std::u16string batch_variant_;
  std::u16string batch_report_;
  std::u16string name_prefix_;
  ACE_Thread_Mutex transcoder_lock_;
  std::unique_ptr<xercesc::XMLTranscoder> utf8_transcoder_;
  bool transcoder_released_ = false;
};

// A number as the options accept it: decimal digits only (no sign, no
// blanks, nothing after them) with a value from low to high. True and the
// value in `value`, or false with `value` unchanged.
bool read_number (std::string_view text, int low, int high, int &value);

constexpr int max_port = 65535;

constexpr int default_min_bufsize = 10000;
constexpr int default_batch_port = 6995;

#endif
