#include "Output.h"

#include "DisplayText.h"
#include "ExitCodes.h"

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <stdexcept>
#include <system_error>

namespace xelo::cli {

namespace {

std::string Heading(const std::string& title) {
  std::string heading = title;
  std::transform(heading.begin(), heading.end(), heading.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return heading;
}

// The indices of the columns a table shows.
std::vector<std::size_t> TableColumns(const std::vector<Column>& columns) {
  std::vector<std::size_t> shown;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].inTable) shown.push_back(i);
  }
  return shown;
}

// The columns a cell takes in a table.
std::size_t CellWidth(const std::string& text) { return DisplayWidth(CellText(text)); }

// One table line: every cell but the last padded to its width (in terminal
// columns, not bytes), two blanks between columns, no blanks at the end of
// the line.
void TableLine(std::ostream& out, const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += "  ";
    const std::string cell = CellText(cells[i]);
    line += cell;
    const std::size_t width = DisplayWidth(cell);
    if (i + 1 < cells.size() && width < widths[i]) line.append(widths[i] - width, ' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  out << line << '\n';
}

void CsvLine(std::ostream& out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out << ',';
    out << CsvField(ValidUtf8(fields[i]));
  }
  out << '\n';
}

std::vector<std::string> Keys(const std::vector<Column>& columns) {
  std::vector<std::string> keys;
  for (const Column& column : columns) keys.push_back(column.key);
  return keys;
}

std::vector<std::string> CsvTexts(const Row& row) {
  std::vector<std::string> texts;
  for (const Cell& cell : row) texts.push_back(cell.CsvText());
  return texts;
}

std::string WriteErrorText(int error) {
  return "cannot write to standard output" + (error != 0 ? ": " + std::generic_category().message(error) : "");
}

// Ends the command when its output could not be written: a result that did
// not reach its reader must not end with "all good".
void CheckWritten(std::ostream& out) {
  out.flush();
  if (!out) throw RuntimeFailure(WriteErrorText(errno));
}

void CheckRow(const std::vector<Column>& columns, const Row& row) {
  // A row of the wrong length is a bug of the command that built it.
  if (row.size() != columns.size()) throw std::logic_error("row does not match its columns");
}

}  // namespace

void RowStream::CheckWritten() const {
  if (writeError_ != 0) throw RuntimeFailure(WriteErrorText(writeError_));
}

Cell Cell::OptionalText(std::string text) {
  if (text.empty()) return Null();
  return Text(std::move(text));
}

std::string CsvField(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

std::string JsonText(const Json& value, int indent) {
  // Bytes that are no UTF-8 (an item identifier typed by the user, a text
  // from the server) become U+FFFD instead of ending the document half-way.
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json RowObject(const std::vector<Column>& columns, const Row& row) {
  Json object = Json::object();
  for (std::size_t i = 0; i < columns.size(); ++i) object[columns[i].key] = row[i].json;
  return object;
}

// ---- Report ------------------------------------------------------------------

void Report::Add(Row row) {
  CheckRow(columns_, row);
  rows_.push_back(std::move(row));
}

void Report::Print(std::ostream& out, Format format, bool header) const {
  errno = 0;  // the failure CheckWritten reports is one of this output
  switch (format) {
    case Format::Json: {
      Json array = Json::array();
      for (const Row& row : rows_) array.push_back(RowObject(columns_, row));
      out << JsonText(array, 2) << '\n';
      break;
    }
    case Format::Jsonl:
      for (const Row& row : rows_) out << JsonText(RowObject(columns_, row)) << '\n';
      break;
    case Format::Csv:
      if (header) CsvLine(out, Keys(columns_));
      for (const Row& row : rows_) CsvLine(out, CsvTexts(row));
      break;
    case Format::Table: {
      if (tableRenderer_) {
        tableRenderer_(out, rows_);
        break;
      }
      const std::vector<std::size_t> shown = TableColumns(columns_);
      std::vector<std::string> headings;
      std::vector<std::size_t> widths;
      for (const std::size_t c : shown) {
        headings.push_back(Heading(columns_[c].title));
        widths.push_back(headings.back().size());
      }
      for (const Row& row : rows_) {
        for (std::size_t i = 0; i < shown.size(); ++i) widths[i] = std::max(widths[i], CellWidth(row[shown[i]].text));
      }
      if (header) TableLine(out, headings, widths);
      for (const Row& row : rows_) {
        std::vector<std::string> cells;
        for (const std::size_t c : shown) cells.push_back(row[c].text);
        TableLine(out, cells, widths);
      }
      break;
    }
  }
  CheckWritten(out);
}

void Report::PrintRecord(std::ostream& out, Format format) const {
  errno = 0;
  if (rows_.size() != 1) throw std::logic_error("a record is exactly one row");
  const Row& row = rows_.front();
  switch (format) {
    case Format::Json:
      out << JsonText(RowObject(columns_, row), 2) << '\n';
      break;
    case Format::Table: {
      std::size_t width = 0;
      for (const Column& column : columns_) {
        if (column.inTable) width = std::max(width, CellWidth(column.title) + 1);
      }
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (!columns_[i].inTable) continue;
        TableLine(out, {columns_[i].title + ":", row[i].text}, {width});
      }
      break;
    }
    case Format::Csv:
    case Format::Jsonl:
      Print(out, format);
      break;
  }
  CheckWritten(out);
}

// ---- RowStream ---------------------------------------------------------------

RowStream::RowStream(std::ostream& out, Format format, std::vector<Column> columns, std::vector<std::size_t> widths,
                     bool header)
    : out_(out), format_(format), columns_(std::move(columns)), widths_(std::move(widths)) {
  widths_.resize(columns_.size(), 0);
  WriteHeader(header);
}

RowStream::~RowStream() { Close(); }

void RowStream::WriteHeader(bool header) {
  errno = 0;
  switch (format_) {
    case Format::Json:
      out_ << '[';
      break;
    case Format::Csv:
      if (header) CsvLine(out_, Keys(columns_));
      break;
    case Format::Table: {
      if (!header) break;
      std::vector<std::string> headings;
      std::vector<std::size_t> widths;
      for (const std::size_t c : TableColumns(columns_)) {
        headings.push_back(Heading(columns_[c].title));
        widths.push_back(std::max(widths_[c], headings.back().size()));
      }
      TableLine(out_, headings, widths);
      break;
    }
    case Format::Jsonl:
      break;
  }
  Flush();
}

void RowStream::Add(const Row& row) {
  CheckRow(columns_, row);
  if (closed_ || writeError_ != 0) return;
  errno = 0;
  switch (format_) {
    case Format::Json:
      out_ << (elements_ == 0 ? "\n  " : ",\n  ") << JsonText(RowObject(columns_, row));
      break;
    case Format::Jsonl:
      out_ << JsonText(RowObject(columns_, row)) << '\n';
      break;
    case Format::Csv:
      CsvLine(out_, CsvTexts(row));
      break;
    case Format::Table: {
      std::vector<std::string> cells;
      std::vector<std::size_t> widths;
      for (const std::size_t c : TableColumns(columns_)) {
        // A cell wider than its column widens it for this row and every
        // later one: rows already printed cannot move, but the table stays
        // aligned from here on instead of shifting on every long value.
        widths_[c] = std::max(widths_[c], CellWidth(row[c].text));
        cells.push_back(row[c].text);
        widths.push_back(std::max(widths_[c], Heading(columns_[c].title).size()));
      }
      TableLine(out_, cells, widths);
      break;
    }
  }
  ++count_;
  ++elements_;
  Flush();
}

void RowStream::AddEvent(const Json& event) {
  if (closed_ || writeError_ != 0) return;
  errno = 0;
  switch (format_) {
    case Format::Json:
      out_ << (elements_ == 0 ? "\n  " : ",\n  ") << JsonText(event);
      break;
    case Format::Jsonl:
      out_ << JsonText(event) << '\n';
      break;
    case Format::Csv:
    case Format::Table:
      return;
  }
  ++elements_;
  Flush();
}

void RowStream::Flush() {
  if (writeError_ != 0) return;
  out_.flush();
  if (!out_ && writeError_ == 0) writeError_ = errno != 0 ? errno : EIO;
}

void RowStream::Close() {
  if (closed_) return;
  closed_ = true;
  if (writeError_ != 0) return;
  errno = 0;
  if (format_ == Format::Json) out_ << (elements_ == 0 ? "]\n" : "\n]\n");
  Flush();
}

}  // namespace xelo::cli
