#include "vurude_itab.h"

#include "utf16_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace
{
// The terminators of gather_list pieces: flag 0 and flag 1.
const unsigned char terminator_bytes[2] = {0x00, 0x01};
}

Vurude_Itab::Vurude_Itab (ITAB_H table, int owned)
  : handle (table),
    ownership (owned),
    line_length (table ? ItLeng (table) : 0),
    current_line (1),
    offset (0)
{
}

Vurude_Itab::~Vurude_Itab ()
{
  if (!handle)
    return;
  if (ownership == OWN_DELETE)
    {
      ItDelete (handle);
      handle = ITAB_NULL;
    }
  else if (ownership == OWN_EMPTY)
    ItFree (handle);
}

ITAB_H Vurude_Itab::create (const char16_t *name, unsigned length, unsigned expected_lines)
{
  if (!handle)
    {
      handle = ItCreate (name, length, expected_lines, 0);
      line_length = handle ? ItLeng (handle) : 0;
    }
  return handle;
}

char16_t *Vurude_Itab::append_line (const char16_t *text, std::size_t units, bool cut_full)
{
  if (!handle)
    return nullptr;
  auto *row = static_cast<char16_t *> (ItAppLine (handle));
  if (!row)
    return nullptr;
  const std::size_t room = line_length / 2;
  std::fill_n (row, room, u' ');
  std::copy_n (text, std::min (units, room), row);
  if (cut_full && units >= room && room > 0)
    row[room - 1] = 0;
  return row;
}

char16_t *Vurude_Itab::append_text (const char16_t *text)
{
  const std::size_t units = text ? std::char_traits<char16_t>::length (text) : 0;
  return append_line (text, units, false);
}

char16_t *Vurude_Itab::append_format (const char *format, ...)
{
  if (!handle)
    return nullptr;
  const std::size_t room = line_length / 2;
  va_list arguments;
  va_start (arguments, format);
  va_list again;
  va_copy (again, arguments);
  const int needed = std::vsnprintf (nullptr, 0, format, arguments);
  va_end (arguments);
  char16_t *row = nullptr;
  if (needed >= 0)
    {
      // A UTF-8 sequence of n bytes gives at most one UTF-16 unit per byte
      // and at least one per three, so room * 3 + 4 bytes always tell
      // whether the text fills the line, without formatting all of a huge one.
      const std::size_t keep = std::min (static_cast<std::size_t> (needed), room * 3 + 4);
      std::unique_ptr<char[]> bytes (new (std::nothrow) char[keep + 1]);
      if (bytes)
        {
          std::vsnprintf (bytes.get (), keep + 1, format, again);
          try
            {
              const std::u16string text = utf16_from_utf8 (std::string_view (bytes.get (), keep));
              row = append_line (text.data (), text.size (), true);
            }
          catch (const std::bad_alloc &)
            {
              row = nullptr;
            }
        }
    }
  va_end (again);
  return row;
}

void *Vurude_Itab::line (unsigned i) const
{
  return handle ? ItGetLine (handle, i) : nullptr;
}

unsigned Vurude_Itab::count () const
{
  return ItFill (handle);
}

int Vurude_Itab::free_lines ()
{
  current_line = 1;
  offset = 0;
  return ItFree (handle);
}

std::unique_ptr<unsigned char[]> Vurude_Itab::wire_image (int flag, std::size_t &size) const
{
  size = 0;
  const unsigned lines = count ();
  if (lines == 0)
    return nullptr;
  const std::size_t record = static_cast<std::size_t> (line_length) + 1;
  std::unique_ptr<unsigned char[]> image (new (std::nothrow) unsigned char[lines * record]);
  if (!image)
    return nullptr;
  unsigned char *out = image.get ();
  for (unsigned k = 1; k <= lines; ++k)
    {
      std::memcpy (out, ItGetLine (handle, k), line_length);
      out[line_length] = flag ? 1 : 0;
      out += record;
    }
  size = lines * record;
  return image;
}

std::unique_ptr<iovec[]> Vurude_Itab::gather_list (int flag) const
{
  const unsigned lines = count ();
  if (lines == 0)
    return nullptr;
  std::unique_ptr<iovec[]> pieces (new (std::nothrow) iovec[2 * static_cast<std::size_t> (lines)]);
  if (!pieces)
    return nullptr;
  // The pieces only feed writes; iovec has no const form.
  void *terminator = const_cast<unsigned char *> (&terminator_bytes[flag ? 1 : 0]);
  for (unsigned k = 0; k < lines; ++k)
    {
      pieces[2 * k] = {ItGetLine (handle, k + 1), line_length};
      pieces[2 * k + 1] = {terminator, 1};
    }
  return pieces;
}

std::size_t Vurude_Itab::read (const void *&address, std::size_t max)
{
  if (!handle || offset >= line_length)
    return 0;
  const auto *row = static_cast<const unsigned char *> (ItGetLine (handle, current_line));
  if (!row)
    return 0;
  const std::size_t n = std::min (max, line_length - offset);
  address = row + offset;
  offset += n;
  if (offset == line_length)
    {
      ++current_line;
      offset = 0;
    }
  return n;
}
