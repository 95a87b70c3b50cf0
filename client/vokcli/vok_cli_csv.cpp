#include "vok_cli_csv.h"

#include <cerrno>
#include <cstring>
#include <fstream>

bool vok_cli_parse_csv (std::string_view text, std::vector<std::vector<std::string>> &records, std::string &problem)
{
  records.clear ();
  if (text.substr (0, 3) == "\xEF\xBB\xBF")
    text.remove_prefix (3);
  std::vector<std::string> record;
  std::string field;
  std::size_t line = 1;
  std::size_t i = 0;
  // Whether the current record has any field text yet (empty lines have none).
  bool started = false;
  const auto end_record = [&] {
    if (started)
      {
        record.push_back (std::move (field));
        records.push_back (std::move (record));
      }
    record.clear ();
    field.clear ();
    started = false;
  };
  while (i < text.size ())
    {
      const char c = text[i];
      if (c == '"' && field.empty ())
        {
          const std::size_t opening_line = line;
          ++i;
          for (;;)
            {
              if (i == text.size ())
                {
                  problem = "the quote opened on line " + std::to_string (opening_line) + " is not closed";
                  return false;
                }
              if (text[i] == '"')
                {
                  if (i + 1 < text.size () && text[i + 1] == '"')
                    {
                      field += '"';
                      i += 2;
                      continue;
                    }
                  ++i;
                  break;
                }
              if (text[i] == '\n')
                ++line;
              field += text[i++];
            }
          started = true;
          if (i < text.size () && text[i] != ',' && text[i] != '\n' && text.substr (i, 2) != "\r\n")
            {
              problem = "line " + std::to_string (line) + ": text after the closing quote of a field";
              return false;
            }
          continue;
        }
      if (c == ',')
        {
          record.push_back (std::move (field));
          field.clear ();
          started = true;
          ++i;
          continue;
        }
      if (c == '\n' || text.substr (i, 2) == "\r\n")
        {
          end_record ();
          i += c == '\n' ? 1 : 2;
          ++line;
          continue;
        }
      field += c;
      started = true;
      ++i;
    }
  end_record ();
  return true;
}

bool vok_cli_read_file (const std::string &path, std::size_t max_bytes, std::string &text, std::string &problem)
{
  std::ifstream file (path, std::ios::binary);
  if (!file)
    {
      problem = "cannot open " + path + ": " + std::strerror (errno);
      return false;
    }
  text.clear ();
  char buffer[65536];
  while (file.read (buffer, sizeof buffer) || file.gcount () > 0)
    {
      text.append (buffer, static_cast<std::size_t> (file.gcount ()));
      if (text.size () > max_bytes)
        {
          problem = path + " is larger than " + std::to_string (max_bytes) + " bytes";
          return false;
        }
    }
  if (file.bad ())
    {
      problem = "cannot read " + path;
      return false;
    }
  return true;
}
