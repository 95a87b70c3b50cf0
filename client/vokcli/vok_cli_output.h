#ifndef VOK_CLI_OUTPUT_H
#define VOK_CLI_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The output formats of `vokcli select` (docs/vokcli.md, "Output formats").
enum class Vok_Cli_Format
{
  csv,    // a header line of column names, then one line per row
  jsonl,  // one JSON object per row
  table   // aligned columns for people
};

// One column of the output.
struct Vok_Cli_Output_Column
{
  std::string name;
  // Numbers are right-aligned in a table.
  bool number = false;
  // Characters the widest value may take (for the table format).
  std::size_t width = 0;
};

// One value of a row.
struct Vok_Cli_Cell
{
  std::string text;
  // Written as a JSON number (the text must be one); otherwise as a string.
  bool number = false;
};

// Writes rows of text cells to a stream in one of the formats. Nothing is
// kept beyond the current row.
class Vok_Cli_Writer
{
public:
  virtual ~Vok_Cli_Writer () = default;

  // Before the first row.
  virtual void begin (const std::vector<Vok_Cli_Output_Column> &columns) = 0;
  // One row, a cell per column.
  virtual void row (const std::vector<Vok_Cli_Cell> &cells) = 0;
  // After the last row.
  virtual void end (std::uint64_t rows) = 0;

  static std::unique_ptr<Vok_Cli_Writer> make (Vok_Cli_Format format, std::ostream &out);
};

// Characters (code points) of UTF-8 text.
std::size_t vok_cli_text_width (std::string_view text);

#endif
