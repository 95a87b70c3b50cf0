#ifndef VURUDEDC_H
#define VURUDEDC_H

#include <cstddef>
#include <string_view>

// Decoding the encrypted password of a connect request (docs/password.md).
// Stateless: any thread, any number at once.

// The buffer a decoded password goes to: at most 99 bytes and a zero.
constexpr std::size_t decoded_password_size = 100;

// Decodes `input`, a zero-terminated text of hexadecimal digit pairs (key
// pair first), into `output` as a zero-terminated single-byte text (each
// byte a character U+0001..U+00FF). Anything undecodable (null, fewer than
// two digits, a character that is no hexadecimal digit, an odd number of
// digits, more than 99 pairs after the key) leaves `output` empty. Returns
// the length of the decoded password; callers only ask whether it is empty.
int decode_password (char (&output)[decoded_password_size], const char *input);

// The same for the UTF-16 text a request carries. It is taken as
// single-byte text: a character beyond U+00FF, or a zero inside, makes the
// password undecodable.
int decode_password (char (&output)[decoded_password_size], std::u16string_view input);

#endif
