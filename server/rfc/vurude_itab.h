#ifndef VURUDE_ITAB_H
#define VURUDE_ITAB_H

#include <rfclib/rfclib.h>

#include <sys/uio.h>

#include <cstddef>
#include <memory>

// One internal table of the RFC library, for writing lines of text, reading
// its bytes in pieces and turning its lines into what a client receives.
// One thread at a time, like the table.
class Vurude_Itab
{
public:
  // What happens to the table when the wrapper goes.
  enum
  {
    OWN_NONE = 0,    // nothing
    OWN_DELETE = 1,  // ItDelete
    OWN_EMPTY = 2    // ItFree
  };

  explicit Vurude_Itab (ITAB_H handle = ITAB_NULL, int ownership = OWN_NONE);
  ~Vurude_Itab ();
  Vurude_Itab (const Vurude_Itab &) = delete;
  Vurude_Itab &operator= (const Vurude_Itab &) = delete;

  // Creates the table unless one is set. Returns the handle, null when the
  // library could not create it.
  ITAB_H create (const char16_t *name, unsigned line_length, unsigned expected_lines);

  // Appends a line of blanks with the text at its start, cut to the line's
  // line_length / 2 characters. Returns the line, or null (no table or no
  // memory: nothing is appended).
  char16_t *append_text (const char16_t *text);
  // The same with a printf format (UTF-8 format and arguments). When the
  // result fills the line or is longer, it is cut and the line's last
  // character becomes 0.
  char16_t *append_format (const char *format, ...) __attribute__ ((format (printf, 2, 3)));

  // Line i (1-based), null without it; the number of lines; empties the table.
  void *line (unsigned i) const;
  unsigned count () const;
  int free_lines ();

  // Every line followed by one byte, 1 when `flag` is not 0, else 0, in one
  // new buffer; size := its length. Null and 0 for an empty table or
  // without memory.
  std::unique_ptr<unsigned char[]> wire_image (int flag, std::size_t &size) const;
  // The same as 2 x count() pieces for a gathering write: each line, then
  // its terminator byte (1 when `flag` is not 0, else 0). The pieces point
  // into the table and into constant bytes: valid until the table changes.
  // Null for an empty table or without memory.
  std::unique_ptr<iovec[]> gather_list (int flag = 1) const;

  // Sequential reading: the next at most `max` bytes of the current line;
  // a line's end moves on to the start of the next one. Returns the bytes
  // available (address := where they are), 0 at the end or without a table.
  std::size_t read (const void *&address, std::size_t max);

  ITAB_H handle;
  int ownership;
  unsigned line_length;
  // 1-based line and byte offset of the next read.
  unsigned current_line;
  std::size_t offset;

private:
  // Appends a line of blanks and writes text into it; see append_format for
  // `cut_full`.
  char16_t *append_line (const char16_t *text, std::size_t units, bool cut_full);
};

#endif
