#include "sheet/printer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "host/embedded.h"
#include "host/part_view.h"
#include "sheet/utf8.h"

namespace sheet {

namespace {

const char* nonFinite(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  return nullptr;
}

std::string messageOf(const aError* error) {
  return error->message && error->message->text ? error->message->text : "";
}

// Text on its way to a stream, passed on in large pieces. Before each piece, and whenever
// a long loop polls, the stop request is asked; stopping drops what is buffered and ends
// a line already begun on the stream.
class Sink {
 public:
  Sink(std::ostream& out, const StopRequest& stop) : out_(out), stop_(stop) {}

  Sink& operator<<(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kPiece) pass();
    return *this;
  }
  Sink& operator<<(char c) {
    buffer_ += c;
    if (buffer_.size() >= kPiece) pass();
    return *this;
  }

  // For loops that write nothing for a while.
  void poll() {
    if (++polls_ % kPollEvery == 0) checkStop();
  }

  // Writes the rest, the value being complete.
  void finish() {
    out_ << buffer_ << std::flush;
    buffer_.clear();
  }

 private:
  static constexpr size_t kPiece = size_t{1} << 16;
  static constexpr unsigned kPollEvery = 1024;

  void checkStop() {
    if (!stop_ || !stop_()) return;
    buffer_.clear();
    if (begun_) out_ << '\n' << std::flush;
    throw Interrupted();
  }

  void pass() {
    checkStop();
    out_ << buffer_;
    buffer_.clear();
    begun_ = true;
  }

  std::ostream& out_;
  const StopRequest& stop_;
  std::string buffer_;
  bool begun_ = false;
  unsigned polls_ = 0;
};

// Room for any number writeJsonNumber() writes.
constexpr size_t kJsonNumberSize = 32;

// Writes x as printf's %.17g does (to_chars is that, and faster), or the name of a value
// that is not finite in quotes; returns the end.
char* writeJsonNumber(double x, char* buffer) {
  if (const char* special = nonFinite(x)) {
    const size_t length = std::strlen(special);
    buffer[0] = '"';
    std::memcpy(buffer + 1, special, length);
    buffer[length + 1] = '"';
    return buffer + length + 2;
  }
  return std::to_chars(buffer, buffer + kJsonNumberSize, x, std::chars_format::general, 17).ptr;
}

// An element of a matrix, or the value an embedded element refers to.
struct Element {
  const Anyval* embedded = nullptr;
  double re = 0;
  double im = 0;
};

Element elementOf(const aMatrix* m, int i, int j) {
  Element e;
  if (m->re) {
    const double slot = realPart(m)(i, j);
    if (embedded::is(slot)) {
      e.embedded = embedded::target(slot);
      return e;
    }
    e.re = slot;
  }
  if (m->im) e.im = imagPart(m)(i, j);
  return e;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : utf8::repaired(text)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string shape(const aMatrix* m) {
  return std::to_string(m->rows) + " x " + std::to_string(m->cols);
}

// One matrix cell as text: a number, a quoted string, or {rows x cols} for a nested array.
std::string readableCell(const Element& e) {
  if (!e.embedded) return readableComplex(e.re, e.im);
  if (isString(e.embedded)) return quoted(as<aString>(e.embedded)->text);
  if (isMatrix(e.embedded)) return "{" + shape(as<aMatrix>(e.embedded)) + "}";
  return readableValue(e.embedded);
}

// How a matrix of at least one element is laid out: the width of each column in
// characters, and whether it takes more than one line.
struct Layout {
  std::vector<size_t> widths;
  bool multiline = false;
};

Layout layoutOf(const aMatrix* m, Sink& sink) {
  Layout layout;
  layout.widths.assign(size_t(m->cols), 0);
  layout.multiline = m->rows > 1;
  for (int i = 0; i < m->rows; ++i) {
    for (int j = 0; j < m->cols; ++j) {
      sink.poll();
      const std::string cell = readableCell(elementOf(m, i, j));
      layout.widths[size_t(j)] = std::max(layout.widths[size_t(j)], utf8::characters(cell));
      layout.multiline = layout.multiline || cell.find('\n') != std::string::npos;
    }
  }
  return layout;
}

// The rows in brackets, the columns aligned; each line after the first starts with
// `indent`.
void writeRows(Sink& sink, const aMatrix* m, const Layout& layout, std::string_view indent) {
  for (int i = 0; i < m->rows; ++i) {
    if (i > 0) sink << '\n' << indent;
    sink << '[';
    for (int j = 0; j < m->cols; ++j) {
      sink.poll();
      const std::string cell = readableCell(elementOf(m, i, j));
      sink << std::string(layout.widths[size_t(j)] - utf8::characters(cell) + (j == 0 ? 0 : 2),
                          ' ');
      for (char c : cell) {
        sink << c;
        if (c == '\n') sink << indent;
      }
    }
    sink << ']';
  }
}

bool emptyMatrix(const aMatrix* m) {
  return m->rows == 0 || m->cols == 0;
}

std::string emptyMatrixText(const aMatrix* m) {
  return "(empty " + shape(m) + " matrix)";
}

// The JSON of a value other than a matrix.
std::string jsonLeaf(const Anyval* value) {
  switch (value->tag) {
    case kTagScalar:
      return "{\"type\": \"scalar\", \"re\": " + jsonNumber(as<aComplex>(value)->re) +
             ", \"im\": " + jsonNumber(as<aComplex>(value)->im) + "}";
    case kTagString:
      return "{\"type\": \"string\", \"text\": " + jsonString(as<aString>(value)->text) + "}";
    case kTagError: {
      const aError* error = as<aError>(value);
      return "{\"type\": \"error\", \"message\": " + jsonString(messageOf(error)) +
             ", \"position\": [" + std::to_string(static_cast<int32_t>(error->first)) + ", " +
             std::to_string(static_cast<int32_t>(error->position)) + "]}";
    }
    case kTagFunction:
    case kTagFunction2:
      return "{\"type\": \"function\"}";
    default:
      return "{\"type\": \"other\", \"tag\": " + std::to_string(value->tag) + "}";
  }
}

// A matrix whose JSON is being written: which part, whether its opening bracket is out,
// and the next element. An embedded element's value is written before the rest.
struct JsonFrame {
  const aMatrix* m;
  bool imag = false;
  bool begun = false;
  bool rowOpen = false;
  int i = 0;
  int j = 0;
};

void writeJson(Sink& sink, const Anyval* value) {
  std::vector<JsonFrame> stack;
  // Writes a value whole, or a matrix's opening and keeps the matrix to continue.
  auto start = [&](const Anyval* v) {
    if (!isMatrix(v)) {
      sink << jsonLeaf(v);
      return;
    }
    const aMatrix* m = as<aMatrix>(v);
    sink << "{\"type\": \"matrix\", \"rows\": " << std::to_string(m->rows)
         << ", \"cols\": " << std::to_string(m->cols)
         << ", \"nested\": " << (m->nested() ? "true" : "false") << ", \"re\": ";
    stack.push_back({m});
  };
  start(value);
  while (!stack.empty()) {
    JsonFrame& f = stack.back();
    const aMatrix* m = f.m;
    const PartView part = f.imag ? imagPart(m) : realPart(m);
    if (!f.begun) {
      f.begun = true;
      sink << (part ? "[" : "null");
      continue;
    }
    if (part && f.i < m->rows) {
      if (!f.rowOpen) {
        sink << (f.i == 0 ? "[" : ", [");
        f.rowOpen = true;
      }
      if (f.j == m->cols) {
        sink << ']';
        f.rowOpen = false;
        f.j = 0;
        ++f.i;
        continue;
      }
      if (f.j > 0) sink << ", ";
      const Element e = elementOf(m, f.i, f.j++);
      if (!e.embedded) {
        char number[kJsonNumberSize];
        sink << std::string_view(number, writeJsonNumber(f.imag ? e.im : e.re, number));
      } else if (f.imag) {
        sink << '0';
      } else {
        start(e.embedded);  // may move the frames: `f` is not used after this
      }
      continue;
    }
    if (part) sink << ']';
    if (!f.imag) {
      sink << ", \"im\": ";
      f = JsonFrame{m, true};
    } else {
      sink << '}';
      stack.pop_back();
    }
  }
}

}  // namespace

std::string readableNumber(double x) {
  if (const char* special = nonFinite(x)) return special;
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, result.ptr);
}

std::string readableComplex(double re, double im) {
  if (im == 0) return readableNumber(re);
  const std::string imaginary = readableNumber(std::fabs(im)) + "i";
  if (re == 0) return im < 0 ? "-" + imaginary : imaginary;
  if (std::isnan(im)) return readableNumber(re) + " + NaNi";
  return readableNumber(re) + (im < 0 ? " - " : " + ") + imaginary;
}

std::string readableValue(const Anyval* value) {
  switch (value->tag) {
    case kTagScalar:
      return readableComplex(as<aComplex>(value)->re, as<aComplex>(value)->im);
    case kTagString:
      return quoted(as<aString>(value)->text);
    case kTagMatrix: {
      const aMatrix* m = as<aMatrix>(value);
      if (emptyMatrix(m)) return emptyMatrixText(m);
      std::ostringstream out;
      const StopRequest never;
      Sink sink(out, never);
      writeRows(sink, m, layoutOf(m, sink), "");
      sink.finish();
      return out.str();
    }
    case kTagError: {
      const aError* error = as<aError>(value);
      std::string text = "error: " + messageOf(error);
      if (error->position != 0) text += " (argument " + std::to_string(error->position) + ")";
      return text;
    }
    case kTagFunction:
    case kTagFunction2:
      return "(function)";
    default:
      return "(a value of kind " + std::to_string(value->tag) + ")";
  }
}

std::string jsonNumber(double x) {
  char buffer[kJsonNumberSize];
  return std::string(buffer, writeJsonNumber(x, buffer));
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const size_t length = utf8::sequenceLength(text, pos);
      out += length ? text.substr(pos, length) : std::string_view("\uFFFD");
      pos += std::max<size_t>(length, 1);
      continue;
    }
    ++pos;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + '"';
}

std::string jsonValue(const Anyval* value) {
  std::ostringstream out;
  const StopRequest never;
  Sink sink(out, never);
  writeJson(sink, value);
  sink.finish();
  return out.str();
}

void ReadableOutput::value(int, const std::string& text, const Anyval* value) {
  Sink sink(out_, stop_);
  const aMatrix* m = isMatrix(value) ? as<aMatrix>(value) : nullptr;
  if (m && !emptyMatrix(m)) {
    const Layout layout = layoutOf(m, sink);
    sink << text << (layout.multiline ? " =\n  " : " = ");
    writeRows(sink, m, layout, "  ");
  } else {
    const std::string shown = readableValue(value);
    const bool multiline = shown.find('\n') != std::string::npos;
    sink << text << (multiline ? " =\n  " : " = ");
    for (char c : shown) {
      sink << c;
      if (c == '\n') sink << "  ";
    }
  }
  sink << '\n';
  sink.finish();
}

void ReadableOutput::hostError(int, const std::string& text) {
  out_ << std::flush;
  errors_ << text << '\n' << std::flush;
}

void JsonOutput::value(int statement, const std::string&, const Anyval* value) {
  Sink sink(out_, stop_);
  sink << "{\"line\": " << std::to_string(statement) << ", \"value\": ";
  writeJson(sink, value);
  sink << "}\n";
  sink.finish();
}

void JsonOutput::hostError(int statement, const std::string& text) {
  out_ << "{\"line\": " << statement << ", \"host_error\": " << jsonString(text) << "}\n"
       << std::flush;
}

}  // namespace sheet
