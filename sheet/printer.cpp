#include "sheet/printer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "host/embedded.h"
#include "host/part_view.h"

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
  for (char c : text) {
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

std::string readableMatrix(const aMatrix* m) {
  if (m->rows == 0 || m->cols == 0) return "(empty " + shape(m) + " matrix)";
  std::vector<std::string> cells;
  std::vector<size_t> widths(size_t(m->cols), 0);
  for (int i = 0; i < m->rows; ++i) {
    for (int j = 0; j < m->cols; ++j) {
      cells.push_back(readableCell(elementOf(m, i, j)));
      widths[size_t(j)] = std::max(widths[size_t(j)], cells.back().size());
    }
  }
  std::string out;
  size_t k = 0;
  for (int i = 0; i < m->rows; ++i) {
    out += i == 0 ? "[" : "\n[";
    for (int j = 0; j < m->cols; ++j) {
      const std::string& cell = cells[k++];
      out += std::string(widths[size_t(j)] - cell.size() + (j == 0 ? 0 : 2), ' ') + cell;
    }
    out += "]";
  }
  return out;
}

void jsonRows(std::string& out, const aMatrix* m, bool realParts) {
  if (!(realParts ? m->re : m->im)) {
    out += "null";
    return;
  }
  out += '[';
  for (int i = 0; i < m->rows; ++i) {
    out += i == 0 ? "[" : ", [";
    for (int j = 0; j < m->cols; ++j) {
      if (j > 0) out += ", ";
      const Element e = elementOf(m, i, j);
      if (e.embedded) {
        out += realParts ? jsonValue(e.embedded) : "0";
      } else {
        out += jsonNumber(realParts ? e.re : e.im);
      }
    }
    out += ']';
  }
  out += ']';
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
    case kTagMatrix:
      return readableMatrix(as<aMatrix>(value));
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
  if (const char* special = nonFinite(x)) return std::string("\"") + special + '"';
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", x);
  return buffer;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
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
  switch (value->tag) {
    case kTagScalar:
      return "{\"type\": \"scalar\", \"re\": " + jsonNumber(as<aComplex>(value)->re) +
             ", \"im\": " + jsonNumber(as<aComplex>(value)->im) + "}";
    case kTagString:
      return "{\"type\": \"string\", \"text\": " + jsonString(as<aString>(value)->text) + "}";
    case kTagMatrix: {
      const aMatrix* m = as<aMatrix>(value);
      std::string out = "{\"type\": \"matrix\", \"rows\": " + std::to_string(m->rows) +
                        ", \"cols\": " + std::to_string(m->cols) +
                        ", \"nested\": " + (m->nested() ? "true" : "false") + ", \"re\": ";
      jsonRows(out, m, true);
      out += ", \"im\": ";
      jsonRows(out, m, false);
      return out + "}";
    }
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

void ReadableOutput::value(int, const std::string& text, const Anyval* value) {
  const std::string shown = readableValue(value);
  if (shown.find('\n') == std::string::npos) {
    out_ << text << " = " << shown << '\n';
  } else {
    out_ << text << " =\n  ";
    for (char c : shown) out_ << c << (c == '\n' ? "  " : "");
    out_ << '\n';
  }
  out_ << std::flush;
}

void ReadableOutput::hostError(int, const std::string& text) {
  out_ << std::flush;
  errors_ << text << '\n' << std::flush;
}

void JsonOutput::value(int statement, const std::string&, const Anyval* value) {
  out_ << "{\"line\": " << statement << ", \"value\": " << jsonValue(value) << "}\n" << std::flush;
}

void JsonOutput::hostError(int statement, const std::string& text) {
  out_ << "{\"line\": " << statement << ", \"host_error\": " << jsonString(text) << "}\n"
       << std::flush;
}

}  // namespace sheet
