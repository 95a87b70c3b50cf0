#ifndef VOK_SELECT_CLAUSE_H
#define VOK_SELECT_CLAUSE_H

#include "vok_status.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The server hands every clause element (`where`, `groupby`, `having`,
// `orderby`, `on`) to SAP as one line of 72 characters and drops what does
// not fit; a longer clause goes as several elements, which SAP reads as one
// text.
constexpr std::size_t vok_clause_line_characters = 72;

// Cuts a clause into pieces of at most `max_characters` characters (UTF-16
// units, as the server counts them: a character beyond U+FFFF counts two).
// A text that fits is one piece, unchanged. A longer one is cut only at
// blanks outside literals ('...' or `...`, a doubled quote staying inside);
// every piece after the first begins with the blank it was cut at, so that
// the pieces read the same whether SAP joins the lines with or without a
// blank. Greedy: each piece is as long as it can be.
//
//   std::vector<std::string> pieces;
//   if (Vok_Status s = vok_split_clause (condition, pieces); !s.ok ()) ...
//   for (const std::string &piece : pieces)
//     select.content.push_back (Vok_Select_Document::where (piece));
//
// Fails with invalid_argument, leaving `pieces` empty, when a run without such
// a blank (a long literal, a long word) does not fit one piece.
Vok_Status vok_split_clause (std::string_view text, std::vector<std::string> &pieces,
                             std::size_t max_characters = vok_clause_line_characters);

#endif
