#ifndef VOK_PASSWORD_H
#define VOK_PASSWORD_H

#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>

// Encrypting a SAP password for the `xpasswd` attribute of a connect request
// (docs/password.md). The server decodes the text back when it logs on.

// Longest password the server decodes, in characters.
constexpr std::size_t vok_password_max_length = 99;

// `password` is UTF-8 of 1 to 99 characters from U+0001 to U+00FF; anything
// else fails with invalid_argument, and `encrypted` is left as it was. The
// key byte is drawn at random, so one password has many encryptions.
Vok_Status vok_encode_password (std::string_view password, std::string &encrypted);
// The same with a chosen key byte.
Vok_Status vok_encode_password (std::string_view password, unsigned char key,
                                std::string &encrypted);

#endif
