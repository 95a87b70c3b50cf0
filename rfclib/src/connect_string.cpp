#include "connect_string.h"

#include <netdb.h>

#include <cctype>

#include "text.h"

namespace rfclib {
namespace {

constexpr std::size_t kMaxConnectString = 8192;
constexpr std::size_t kMaxValue = 255;

bool is_key_char(char16_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool is_blank(char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool all_digits(std::u16string_view s) {
  if (s.empty()) return false;
  for (char16_t c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

Error program_error(const std::string& message) {
  return make_error(RFC_ERROR_PROGRAM, "connect string: " + message);
}

// How a message names a value: by its key when the key is one of ours, else
// by position. A word the parser took for an unknown key may be a piece of
// an unquoted password.
std::string value_name(const std::string& key, std::size_t position) {
  static constexpr const char* known[] = {"ashost", "sysnr",  "gwhost", "gwserv", "mshost",
                                          "group",  "r3name", "client", "user",   "passwd",
                                          "lang",   "dest",   "saplogon_id", "trace",
                                          "lcheck", "type"};
  for (const char* k : known) {
    if (key == k) return "value of " + key;
  }
  return "value at position " + std::to_string(position);
}

}  // namespace

bool ConnectString::parse(std::u16string_view text, Error& error) {
  values_.clear();
  if (text.size() > kMaxConnectString) {
    error = program_error("longer than " + std::to_string(kMaxConnectString) + " characters");
    return false;
  }
  std::size_t i = 0;
  while (i < text.size()) {
    if (is_blank(text[i])) {
      ++i;
      continue;
    }
    const std::size_t key_start = i;
    while (i < text.size() && is_key_char(text[i])) ++i;
    std::string key = to_utf8(text.substr(key_start, i - key_start));
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key.empty() || i >= text.size() || text[i] != '=') {
      error = program_error("name=value expected at position " + std::to_string(key_start + 1));
      return false;
    }
    ++i;
    const std::string named = value_name(key, key_start + 1);
    std::u16string value;
    if (i < text.size() && text[i] == '"') {
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            value += u'"';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += text[i++];
      }
      if (!closed) {
        error = program_error(named + " lacks its closing quote");
        return false;
      }
      if (i < text.size() && !is_blank(text[i])) {
        error = program_error("blank expected after the " + named);
        return false;
      }
    } else {
      while (i < text.size() && !is_blank(text[i])) value += text[i++];
    }
    if (value.size() > kMaxValue) {
      error = program_error(named + " longer than " + std::to_string(kMaxValue) + " characters");
      return false;
    }
    values_[key] = std::move(value);
  }
  return true;
}

std::u16string ConnectString::get(std::string_view key) const {
  const auto it = values_.find(std::string(key));
  return it == values_.end() ? std::u16string() : it->second;
}

bool ConnectString::has(std::string_view key) const {
  const auto it = values_.find(std::string(key));
  return it != values_.end() && !it->second.empty();
}

bool port_of_system_number(std::u16string_view sysnr, std::uint16_t& port, Error& error) {
  if (sysnr.size() != 2 || !all_digits(sysnr)) {
    error = program_error("sysnr must be two digits, not \"" + to_utf8(sysnr) + "\"");
    return false;
  }
  port = static_cast<std::uint16_t>(3300 + (sysnr[0] - '0') * 10 + (sysnr[1] - '0'));
  return true;
}

bool resolve_service(std::u16string_view service, std::uint16_t& port, Error& error) {
  if (service.size() == 7 && equals_ascii_nocase(service.substr(0, 5), "sapgw") &&
      all_digits(service.substr(5))) {
    return port_of_system_number(service.substr(5), port, error);
  }
  if (all_digits(service)) {
    const unsigned long n = service.size() <= 5 ? std::stoul(to_utf8(service)) : 0;
    if (n == 0 || n > 65535) {
      error = program_error("gateway service port " + to_utf8(service) + " out of range");
      return false;
    }
    port = static_cast<std::uint16_t>(n);
    return true;
  }
  const std::string name = to_utf8(service);
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (!name.empty() && getservbyname_r(name.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) == 0 &&
      found != nullptr) {
    port = ntohs(static_cast<std::uint16_t>(found->s_port));
    return true;
  }
  error = make_error(RFC_ERROR_COMMUNICATION, "gateway service \"" + name + "\" unknown");
  return false;
}

bool ConnectString::endpoint(std::string& host, std::uint16_t& port, Error& error) const {
  const char* host_key = has("ashost") ? "ashost" : has("gwhost") ? "gwhost" : has("mshost") ? "mshost" : nullptr;
  if (host_key == nullptr) {
    if (has("dest") || has("saplogon_id")) {
      error = program_error("destinations and logon entries are not kept by this library: "
                            "give ashost and sysnr, or gwhost and gwserv");
    } else {
      error = program_error("no partner given: ashost and sysnr, or gwhost and gwserv");
    }
    return false;
  }
  host = to_utf8(get(host_key));
  if (host.find('/') != std::string::npos) {
    // Not shown: a router string may hold a router password.
    error = program_error("router strings are not supported");
    return false;
  }
  const bool service_first = std::string_view(host_key) == "gwhost";
  if (service_first && has("gwserv")) return resolve_service(get("gwserv"), port, error);
  if (has("sysnr")) return port_of_system_number(get("sysnr"), port, error);
  if (has("gwserv")) return resolve_service(get("gwserv"), port, error);
  if (std::string_view(host_key) == "mshost") {
    error = make_error(RFC_ERROR_COMMUNICATION,
                       "load balancing not available: give sysnr or gwserv with mshost");
  } else {
    error = program_error(std::string("sysnr or gwserv missing for ") + host_key);
  }
  return false;
}

}  // namespace rfclib
