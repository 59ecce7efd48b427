// How matsheet shows results: readably for people, or as one JSON object per statement.
//
// Readable: each result after its statement as written, `rows(A) = 2`, a matrix on the
// lines below. Scalars as 1.5 or 2 - 3i (the shortest digits that read back the same
// value), strings quoted, matrices as aligned rows in brackets, a pack error as
// `error: must be square (argument 1)`.
//
// JSON, one object per line:
//   {"line": L, "value": V}   or   {"line": L, "host_error": TEXT}
// with V one of
//   {"type": "scalar", "re": R, "im": I}
//   {"type": "string", "text": T}
//   {"type": "matrix", "rows": m, "cols": n, "nested": B, "re": [[row 0], ...], "im": ...}
//   {"type": "error", "message": M, "position": [first, second]}
// A part array the matrix lacks is null; an embedded element is its own V in "re" and 0 in
// "im". Numbers have 17 significant digits; NaN and the infinities are the strings "NaN",
// "Infinity" and "-Infinity". Text is written as valid UTF-8: a byte of a string that
// starts no UTF-8 character is shown as U+FFFD.
//
// Values are written as they are made, without recursion, so neither size nor depth is a
// limit; the outputs ask their StopRequest now and then while they write a large value.
// Stopping ends the line already begun and throws Interrupted.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "host/records.h"
#include "sheet/interrupt.h"

namespace sheet {

std::string readableNumber(double x);
std::string readableComplex(double re, double im);
// Several lines for a matrix, without a final newline.
std::string readableValue(const Anyval* value);

std::string jsonNumber(double x);
std::string jsonString(std::string_view text);
std::string jsonValue(const Anyval* value);

// Where the outcome of each statement goes; statements are numbered from 1, `text` is the
// statement as written.
class Output {
 public:
  virtual ~Output() = default;
  virtual void value(int statement, const std::string& text, const Anyval* value) = 0;
  virtual void hostError(int statement, const std::string& text) = 0;
};

// Values on `out`, host errors on `errors`.
class ReadableOutput : public Output {
 public:
  ReadableOutput(std::ostream& out, std::ostream& errors, StopRequest stop = {})
      : out_(out), errors_(errors), stop_(std::move(stop)) {}
  void value(int statement, const std::string& text, const Anyval* value) override;
  void hostError(int statement, const std::string& text) override;

 private:
  std::ostream& out_;
  std::ostream& errors_;
  StopRequest stop_;
};

class JsonOutput : public Output {
 public:
  explicit JsonOutput(std::ostream& out, StopRequest stop = {})
      : out_(out), stop_(std::move(stop)) {}
  void value(int statement, const std::string& text, const Anyval* value) override;
  void hostError(int statement, const std::string& text) override;

 private:
  std::ostream& out_;
  StopRequest stop_;
};

}  // namespace sheet
