#ifndef VOK_BASE64_H
#define VOK_BASE64_H

#include <string>
#include <string_view>

// Standard Base64 with padding and without line breaks, the form the server
// decodes from the `d` elements of a function document.
std::string vok_base64_encode (std::string_view bytes);

#endif
