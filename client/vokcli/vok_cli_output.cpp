#include "vok_cli_output.h"

#include <algorithm>

namespace
{
void append_csv (std::string_view text, std::string &line)
{
  if (text.find_first_of (",\"\r\n") == std::string_view::npos)
    {
      line += text;
      return;
    }
  line += '"';
  for (char c : text)
    {
      if (c == '"')
        line += '"';
      line += c;
    }
  line += '"';
}

void append_json_string (std::string_view text, std::string &line)
{
  static const char digits[] = "0123456789abcdef";
  line += '"';
  for (char c : text)
    {
      const auto byte = static_cast<unsigned char> (c);
      switch (c)
        {
        case '"': line += "\\\""; break;
        case '\\': line += "\\\\"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        case '\t': line += "\\t"; break;
        default:
          if (byte < 0x20)
            {
              line += "\\u00";
              line += digits[byte >> 4];
              line += digits[byte & 0x0F];
            }
          else
            line += c;
        }
    }
  line += '"';
}

class Csv_Writer : public Vok_Cli_Writer
{
public:
  explicit Csv_Writer (std::ostream &out) : out_ (out) {}

  void begin (const std::vector<Vok_Cli_Output_Column> &columns) override
  {
    line_.clear ();
    for (std::size_t i = 0; i < columns.size (); ++i)
      {
        if (i > 0)
          line_ += ',';
        append_csv (columns[i].name, line_);
      }
    flush_line ();
  }

  void row (const std::vector<Vok_Cli_Cell> &cells) override
  {
    line_.clear ();
    for (std::size_t i = 0; i < cells.size (); ++i)
      {
        if (i > 0)
          line_ += ',';
        append_csv (cells[i].text, line_);
      }
    flush_line ();
  }

  void end (std::uint64_t) override {}

private:
  void flush_line ()
  {
    line_ += '\n';
    out_.write (line_.data (), static_cast<std::streamsize> (line_.size ()));
  }

  std::ostream &out_;
  std::string line_;
};

class Jsonl_Writer : public Vok_Cli_Writer
{
public:
  explicit Jsonl_Writer (std::ostream &out) : out_ (out) {}

  void begin (const std::vector<Vok_Cli_Output_Column> &columns) override
  {
    keys_.clear ();
    for (const Vok_Cli_Output_Column &column : columns)
      {
        std::string key;
        append_json_string (column.name, key);
        keys_.push_back (key + ':');
      }
  }

  void row (const std::vector<Vok_Cli_Cell> &cells) override
  {
    line_.assign (1, '{');
    for (std::size_t i = 0; i < cells.size () && i < keys_.size (); ++i)
      {
        if (i > 0)
          line_ += ',';
        line_ += keys_[i];
        if (cells[i].number)
          line_ += cells[i].text;
        else
          append_json_string (cells[i].text, line_);
      }
    line_ += "}\n";
    out_.write (line_.data (), static_cast<std::streamsize> (line_.size ()));
  }

  void end (std::uint64_t) override {}

private:
  std::ostream &out_;
  std::vector<std::string> keys_;
  std::string line_;
};

class Table_Writer : public Vok_Cli_Writer
{
public:
  explicit Table_Writer (std::ostream &out) : out_ (out) {}

  void begin (const std::vector<Vok_Cli_Output_Column> &columns) override
  {
    columns_ = columns;
    for (Vok_Cli_Output_Column &column : columns_)
      column.width = std::max (column.width, vok_cli_text_width (column.name));
    line_.clear ();
    for (std::size_t i = 0; i < columns_.size (); ++i)
      append_cell (i, columns_[i].name, false);
    flush_line ();
    for (std::size_t i = 0; i < columns_.size (); ++i)
      {
        if (i > 0)
          line_ += "-+-";
        line_.append (columns_[i].width, '-');
      }
    flush_line ();
  }

  void row (const std::vector<Vok_Cli_Cell> &cells) override
  {
    line_.clear ();
    for (std::size_t i = 0; i < cells.size () && i < columns_.size (); ++i)
      append_cell (i, cells[i].text, columns_[i].number);
    flush_line ();
  }

  void end (std::uint64_t rows) override
  {
    line_ = "(" + std::to_string (rows) + (rows == 1 ? " row)" : " rows)");
    flush_line ();
  }

private:
  void append_cell (std::size_t i, std::string_view text, bool right)
  {
    if (i > 0)
      line_ += " | ";
    const std::size_t width = vok_cli_text_width (text);
    const std::size_t padding = columns_[i].width > width ? columns_[i].width - width : 0;
    if (right)
      line_.append (padding, ' ');
    line_ += text;
    if (!right)
      line_.append (padding, ' ');
  }

  void flush_line ()
  {
    line_.erase (line_.find_last_not_of (' ') + 1);
    line_ += '\n';
    out_.write (line_.data (), static_cast<std::streamsize> (line_.size ()));
    line_.clear ();
  }

  std::ostream &out_;
  std::vector<Vok_Cli_Output_Column> columns_;
  std::string line_;
};
}

std::size_t vok_cli_text_width (std::string_view text)
{
  // Continuation bytes of UTF-8 begin no character.
  const auto begins_character = [] (char c) { return (static_cast<unsigned char> (c) & 0xC0) != 0x80; };
  return static_cast<std::size_t> (std::count_if (text.begin (), text.end (), begins_character));
}

std::unique_ptr<Vok_Cli_Writer> Vok_Cli_Writer::make (Vok_Cli_Format format, std::ostream &out)
{
  switch (format)
    {
    case Vok_Cli_Format::csv: return std::make_unique<Csv_Writer> (out);
    case Vok_Cli_Format::jsonl: return std::make_unique<Jsonl_Writer> (out);
    case Vok_Cli_Format::table: return std::make_unique<Table_Writer> (out);
    }
  return nullptr;
}
