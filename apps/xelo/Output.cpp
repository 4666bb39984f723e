#include "Output.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

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

// One table line: every cell but the last padded to its width, two blanks
// between columns, no blanks at the end of the line.
void TableLine(std::ostream& out, const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += "  ";
    line += cells[i];
    if (i + 1 < cells.size() && cells[i].size() < widths[i]) line.append(widths[i] - cells[i].size(), ' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  out << line << '\n';
}

void CsvLine(std::ostream& out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out << ',';
    out << CsvField(fields[i]);
  }
  out << '\n';
}

std::vector<std::string> Keys(const std::vector<Column>& columns) {
  std::vector<std::string> keys;
  for (const Column& column : columns) keys.push_back(column.key);
  return keys;
}

std::vector<std::string> Texts(const Row& row) {
  std::vector<std::string> texts;
  for (const Cell& cell : row) texts.push_back(cell.text);
  return texts;
}

void CheckRow(const std::vector<Column>& columns, const Row& row) {
  // A row of the wrong length is a bug of the command that built it.
  if (row.size() != columns.size()) throw std::logic_error("row does not match its columns");
}

}  // namespace

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

void Report::Print(std::ostream& out, Format format) const {
  switch (format) {
    case Format::Json: {
      Json array = Json::array();
      for (const Row& row : rows_) array.push_back(RowObject(columns_, row));
      out << array.dump(2) << '\n';
      break;
    }
    case Format::Jsonl:
      for (const Row& row : rows_) out << RowObject(columns_, row).dump() << '\n';
      break;
    case Format::Csv:
      CsvLine(out, Keys(columns_));
      for (const Row& row : rows_) CsvLine(out, Texts(row));
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
        for (std::size_t i = 0; i < shown.size(); ++i) widths[i] = std::max(widths[i], row[shown[i]].text.size());
      }
      TableLine(out, headings, widths);
      for (const Row& row : rows_) {
        std::vector<std::string> cells;
        for (const std::size_t c : shown) cells.push_back(row[c].text);
        TableLine(out, cells, widths);
      }
      break;
    }
  }
  out.flush();
}

void Report::PrintRecord(std::ostream& out, Format format) const {
  if (rows_.size() != 1) throw std::logic_error("a record is exactly one row");
  const Row& row = rows_.front();
  switch (format) {
    case Format::Json:
      out << RowObject(columns_, row).dump(2) << '\n';
      break;
    case Format::Table: {
      std::size_t width = 0;
      for (const Column& column : columns_) {
        if (column.inTable) width = std::max(width, column.title.size() + 1);
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
  out.flush();
}

// ---- RowStream ---------------------------------------------------------------

RowStream::RowStream(std::ostream& out, Format format, std::vector<Column> columns, std::vector<std::size_t> widths)
    : out_(out), format_(format), columns_(std::move(columns)), widths_(std::move(widths)) {
  widths_.resize(columns_.size(), 0);
  WriteHeader();
}

RowStream::~RowStream() { Close(); }

void RowStream::WriteHeader() {
  switch (format_) {
    case Format::Json:
      out_ << '[';
      break;
    case Format::Csv:
      CsvLine(out_, Keys(columns_));
      break;
    case Format::Table: {
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
  out_.flush();
}

void RowStream::Add(const Row& row) {
  CheckRow(columns_, row);
  if (closed_) return;
  switch (format_) {
    case Format::Json:
      out_ << (count_ == 0 ? "\n  " : ",\n  ") << RowObject(columns_, row).dump();
      break;
    case Format::Jsonl:
      out_ << RowObject(columns_, row).dump() << '\n';
      break;
    case Format::Csv:
      CsvLine(out_, Texts(row));
      break;
    case Format::Table: {
      std::vector<std::string> cells;
      std::vector<std::size_t> widths;
      for (const std::size_t c : TableColumns(columns_)) {
        cells.push_back(row[c].text);
        widths.push_back(std::max(widths_[c], Heading(columns_[c].title).size()));
      }
      TableLine(out_, cells, widths);
      break;
    }
  }
  ++count_;
  out_.flush();
}

void RowStream::Close() {
  if (closed_) return;
  closed_ = true;
  if (format_ == Format::Json) out_ << (count_ == 0 ? "]\n" : "\n]\n");
  out_.flush();
}

}  // namespace xelo::cli
