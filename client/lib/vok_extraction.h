#ifndef VOK_EXTRACTION_H
#define VOK_EXTRACTION_H

#include "vok_connection.h"
#include "vok_connection_options.h"
#include "vok_metadata.h"
#include "vok_select_document.h"
#include "vok_status.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How one select ended.
enum class Vok_Extraction_Outcome
{
  completed,     // everything asked for arrived (rows up to the end record, the metadata) and no error line came
  server_error,  // the server reported a failure: error lines, an error record, or both
  failed,        // a connection or protocol problem; the status says what
  stopped        // a handler of the caller returned a failure; the status is that failure
};

// Where a select stands, for progress reports.
struct Vok_Extraction_Progress
{
  std::uint64_t rows = 0;
  // Record bytes received on the data connection, flag bytes included.
  std::uint64_t bytes = 0;
  // Since the select document was sent.
  std::chrono::steady_clock::duration elapsed {};
  // The last report of the select.
  bool final = false;
};

// What the caller hears while a select runs. Each handler may be empty.
struct Vok_Extraction_Handlers
{
  // Once, when the rows are about to come (after the server's "OK"), with
  // the layout they have. A failure stops the select.
  std::function<Vok_Status (const Vok_Layout &layout)> on_layout;
  // Once per row: the row's bytes (without the flag byte, valid during the
  // call only) and its layout. A failure stops the select.
  std::function<Vok_Status (std::string_view row, const Vok_Layout &layout)> on_row;
  // Every progress_rows rows and every progress_interval while rows come,
  // and once more (`final`) when the rows have ended, however they ended.
  std::function<void (const Vok_Extraction_Progress &progress)> on_progress;
};

struct Vok_Extraction_Settings
{
  // Timeouts and bounds of the data and the request connection. The
  // reply_timeout is the longest silence tolerated: before the first rows
  // (SAP may take its time to start), between two records, before the close.
  Vok_Connection_Options connection;
  // Row width when rows are asked for without metadata; ignored when the
  // metadata is asked for (it then gives the width).
  std::optional<std::size_t> row_width;
  // Text lines accepted on the request connection, all kinds together.
  std::size_t max_lines = 10000;
  // A progress report every this many rows (0: none by count) ...
  std::uint64_t progress_rows = 0;
  // ... and when this much time has passed since the last one (0: none by time).
  std::chrono::milliseconds progress_interval {1000};
};

// What a select produced besides its rows.
struct Vok_Extraction_Result
{
  Vok_Extraction_Outcome outcome = Vok_Extraction_Outcome::failed;
  // ok when completed; otherwise why not: for server_error a summary, for
  // failed the problem, for stopped the handler's status.
  Vok_Status status;
  // The metadata, when asked for and complete.
  std::optional<Vok_Layout> layout;
  // The server's error lines without their "E,", in order.
  std::vector<std::string> error_lines;
  // Other lines of the request connection (generated program lines, system
  // information), in order.
  std::vector<std::string> other_lines;
  std::uint64_t rows = 0;
  std::uint64_t bytes = 0;
  // Whether the end record arrived (all rows are there).
  bool end_record = false;
  // Whether an error record ended the rows.
  bool error_record = false;
};

// Runs one select through the VOK server and hands its rows over one by one.
//
// It needs the handle of a logged-on control connection (Vok_Logon), which
// must stay open while the select runs. With rows asked for (`data` Y) it
// opens a data connection first and then a request connection; otherwise the
// request connection alone. It sends the select document on the request
// connection with `chandle` and, with rows, `dhandle` set (the values given
// in the document are replaced), and reads:
//
// 1. on the request connection: the metadata lines ("R,...", "F,...") when
//    asked for, then "OK" before the first rows. Other lines are kept;
//    an "E," line means the select failed, and the rest of the reply up to the
//    server's close is read;
// 2. on the data connection: records of the row width (the metadata's, or
//    settings.row_width) up to the end record (0xFF) or an error record
//    ('X'). Before the first row both may come with width zero, a single
//    byte followed by the close;
// 3. on the request connection again, up to its close: the error lines
//    that explain an error record or a failure after the last row.
//
// Rows asked for without metadata need settings.row_width; without it run()
// refuses the select with invalid_argument before connecting. Memory does not
// grow with the number of rows: one record is held at a time.
//
//   Vok_Select_Document select (Vok_Select_Type::sselect);
//   select.data = true;
//   select.metadata = true;
//   select.content.push_back (Vok_Select_Document::table ("SCARR"));
//   Vok_Extraction_Handlers handlers;
//   handlers.on_row = [] (std::string_view row, const Vok_Layout &layout) { ...; return Vok_Status (); };
//   Vok_Extraction_Result result = Vok_Extraction ().run (host, port, control.handle (), select, handlers);
class Vok_Extraction
{
public:
  explicit Vok_Extraction (const Vok_Extraction_Settings &settings = {});

  Vok_Extraction_Result run (const std::string &host, std::uint16_t port, const std::string &chandle,
                             const Vok_Select_Document &select, const Vok_Extraction_Handlers &handlers) const;

private:
  struct Run;
  Vok_Extraction_Settings settings_;
};

#endif
