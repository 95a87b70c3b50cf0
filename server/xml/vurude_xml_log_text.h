#ifndef VURUDE_XML_LOG_TEXT_H
#define VURUDE_XML_LOG_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

// Client text as it may appear in the log: printable ASCII as it stands,
// every other byte, and the backslash that would make an escape ambiguous,
// as \xNN, so a client can neither write control characters nor end a log
// line and fake the next. At most `max_logged_bytes` of the text are shown,
// followed by "..." when it was longer.
constexpr std::size_t max_logged_bytes = 200;

std::string log_text (std::string_view bytes);
// The text's UTF-8, shown as above.
std::string log_text (std::u16string_view text);

#endif
