// The worksheet language: one statement per line, `#` starts a comment.
//
//   x := [1, 2; 3, 4]        defines a variable (TOL and ORIGIN are system variables)
//   f(a, b) := a * b + 1     defines a function
//   rows(x) * 2 =            evaluates and shows (the trailing `=` is optional)
//
// Lines are UTF-8 text. Literals: numbers (2, 1.5e-3), imaginary numbers (2i, 0.5i),
// strings in double quotes (any text; escapes \" and \\), matrices with `,` between
// columns and `;` between rows. Operators, loosest first: `+ -`, `* /`, unary `-`, `^`
// (right to left), then calls `f(x)` and indexing `A[i, j]`, `v[i]`.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sheet {

struct Expr {
  enum class Kind {
    kNumber,     // number
    kImaginary,  // number times i
    kString,     // text
    kName,       // text
    kMatrix,     // children: the elements row by row; rows x cols
    kNegate,     // children: operand
    kBinary,     // op; children: left, right
    kCall,       // text: the function; children: the arguments
    kIndex,      // children: the indexed value, then one or two indices
  };

  Kind kind;
  int column;  // where the expression starts, in bytes from 1
  double number = 0;
  std::string text;
  char op = 0;  // '+', '-', '*', '/', '^'
  int rows = 0;
  int cols = 0;
  int depth = 1;  // levels of nesting, this node included
  std::vector<std::unique_ptr<Expr>> children;
};

struct Statement {
  enum class Kind {
    kShow,            // expr
    kDefineVariable,  // name := expr
    kDefineFunction,  // name(parameters) := expr
  };

  Kind kind;
  std::string name;
  std::vector<std::string> parameters;
  std::shared_ptr<const Expr> expr;  // shared with the functions defined from it
  std::string text;                  // as written, without a trailing `=` or comment
};

// A statement that does not follow the grammar; `column` counts characters from 1.
class SyntaxError : public std::runtime_error {
 public:
  SyntaxError(int column, const std::string& detail)
      : std::runtime_error(detail), column_(column) {}
  int column() const { return column_; }

 private:
  int column_;
};

// Parses one line. Nothing for a line that holds only blanks and a comment; throws
// SyntaxError otherwise when the line is not a statement.
std::optional<Statement> parseStatement(std::string_view line);

// Deeper expressions are refused, so evaluating one cannot exhaust the stack.
inline constexpr int kMaxExpressionDepth = 200;

}  // namespace sheet
