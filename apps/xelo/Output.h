// The data `xelo` prints, in the four formats a user can choose: an aligned
// table for people, CSV for spreadsheets, JSON and JSON lines for programs.
//
// Every command builds rows of cells; a cell carries its value twice, as
// the text the library shows (VarToAStr, the quality words, ...) for table
// and CSV, and as a typed JSON value (numbers stay numbers, a missing value
// is null) for the JSON formats. Column keys name the JSON members and the
// CSV header; titles head the table.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xelo::cli {

enum class Format { Table, Csv, Json, Jsonl };

using Json = nlohmann::ordered_json;

struct Cell {
  Cell(Json json, std::string text, std::optional<std::string> csv = std::nullopt)
      : json(std::move(json)), text(std::move(text)), csv(std::move(csv)) {}

  Json json;
  std::string text;
  // CSV's text where it differs from the table's: a time stamp is local
  // time for people and ISO 8601 for programs.
  std::optional<std::string> csv;

  const std::string& CsvText() const { return csv ? *csv : text; }
  friend bool operator==(const Cell&, const Cell&) = default;

  static Cell Null() { return {Json(nullptr), std::string()}; }
  static Cell Text(std::string text) { return {Json(text), std::move(text)}; }
  // Null (and blank in tables) for an empty text.
  static Cell OptionalText(std::string text);
  static Cell Integer(long long value) { return {Json(value), std::to_string(value)}; }
  static Cell Boolean(bool value) { return {Json(value), value ? "yes" : "no"}; }
};

struct Column {
  std::string key;      // JSON member, CSV header
  std::string title;    // table heading
  bool inTable = true;  // false: a detail for programs only (JSON and CSV)
};

using Row = std::vector<Cell>;  // one cell per column, in column order

// A finished set of rows, printed at once.
class Report {
 public:
  using TableRenderer = std::function<void(std::ostream& out, const std::vector<Row>& rows)>;

  explicit Report(std::vector<Column> columns) : columns_(std::move(columns)) {}

  void Add(Row row);
  bool Empty() const { return rows_.empty(); }
  // Draws the table itself instead of the aligned columns (the browse tree).
  void SetTableRenderer(TableRenderer renderer) { tableRenderer_ = std::move(renderer); }

  // JSON: an array of objects (also when empty); JSON lines: one object per
  // line; CSV: a header line, then the rows; table: headings and aligned
  // columns.
  // Without `header` table and CSV start with the first row.
  void Print(std::ostream& out, Format format, bool header = true) const;
  // Both raise RuntimeFailure when the output cannot be written.
  // One record: JSON as a single object, the table as "title  value" lines;
  // CSV and JSON lines as for a report of one row. Needs exactly one row.
  void PrintRecord(std::ostream& out, Format format) const;

 private:
  std::vector<Column> columns_;
  std::vector<Row> rows_;
  TableRenderer tableRenderer_;
};

// Rows printed one by one as they arrive (data changes). Each row is
// flushed at once, so a pipe sees it immediately. JSON opens the array at
// the start and Close() closes it, so the output is valid JSON whenever the
// stream ends cleanly.
class RowStream {
 public:
  // `widths` are minimum table widths, one per column (rows arrive one at a
  // time, so the table cannot measure them beforehand).
  // Without `header` table and CSV start with the first row.
  RowStream(std::ostream& out, Format format, std::vector<Column> columns, std::vector<std::size_t> widths,
            bool header = true);
  ~RowStream();
  RowStream(const RowStream&) = delete;
  RowStream& operator=(const RowStream&) = delete;

  void Add(const Row& row);
  // Something that happened among the rows (a lost connection): an object
  // of its own in JSON and JSON lines; table and CSV, which have only
  // rows, leave it to the diagnostics.
  void AddEvent(const Json& event);
  // Ends the output (the closing bracket of JSON); idempotent.
  void Close();
  std::size_t Count() const { return count_; }  // rows
  // The errno of the first write that failed (a full disk, a closed pipe),
  // 0 while every row went out. After a failure the stream writes nothing
  // more; the caller ends the run and reports it.
  int WriteError() const { return writeError_; }
  // RuntimeFailure "cannot write to standard output: ..." after a failure.
  void CheckWritten() const;

 private:
  void WriteHeader(bool header);
  void Flush();

  std::ostream& out_;
  Format format_;
  std::vector<Column> columns_;
  std::vector<std::size_t> widths_;
  std::size_t count_ = 0;     // rows
  std::size_t elements_ = 0;  // rows and events
  int writeError_ = 0;
  bool closed_ = false;
};

// Helpers shared by the renderers (and the browse tree).
std::string CsvField(const std::string& text);
// JSON text whatever bytes its strings hold: invalid UTF-8 becomes U+FFFD.
std::string JsonText(const Json& value, int indent = -1);
Json RowObject(const std::vector<Column>& columns, const Row& row);

}  // namespace xelo::cli
