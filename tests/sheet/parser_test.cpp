// The worksheet language's parser: the trees it builds, the statements it recognises, and
// where it reports what is wrong.
#include "sheet/parser.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using sheet::Expr;
using sheet::parseStatement;
using sheet::Statement;
using sheet::SyntaxError;

// The tree in prefix form: (op left right), (neg x), (call f args), (index a i j),
// [rows x cols elements], "text".
std::string show(const Expr& e) {
  auto children = [&] {
    std::string out;
    for (const auto& child : e.children) out += " " + show(*child);
    return out;
  };
  char number[32];
  switch (e.kind) {
    case Expr::Kind::kNumber:
    case Expr::Kind::kImaginary:
      std::snprintf(number, sizeof number, "%g%s", e.number,
                    e.kind == Expr::Kind::kImaginary ? "i" : "");
      return number;
    case Expr::Kind::kString:
      return "\"" + e.text + "\"";
    case Expr::Kind::kName:
      return e.text;
    case Expr::Kind::kMatrix:
      return "[" + std::to_string(e.rows) + "x" + std::to_string(e.cols) + children() + "]";
    case Expr::Kind::kNegate:
      return "(neg" + children() + ")";
    case Expr::Kind::kBinary:
      return std::string("(") + e.op + children() + ")";
    case Expr::Kind::kCall:
      return "(call " + e.text + children() + ")";
    case Expr::Kind::kIndex:
      return "(index" + children() + ")";
  }
  return "?";
}

std::string tree(const char* line) {
  const auto statement = parseStatement(line);
  if (!statement) return "(nothing)";
  return show(*statement->expr);
}

struct TreeCase {
  const char* line;
  const char* tree;
};

// Precedence and associativity of the arithmetic operators show in the values of
// tests/sheets/language.sheet; these are the trees values cannot tell apart.
TEST(Parser, BuildsTrees) {
  const TreeCase cases[] = {
      {"M^-1", "(^ M (neg 1))"},
      {"+-x", "(neg x)"},
      {"2i + .5 - 1.5e-3", "(- (+ 2i 0.5) 0.0015)"},
      {"a[1, 2] * f(x, [1])[0]", "(* (index a 1 2) (index (call f x [1x1 1]) 0))"},
      {"f()", "(call f)"},
      {"[1, 2; 3, 4]", "[2x2 1 2 3 4]"},
      {"[\"a\\\"b\\\\\", [5]]", "[1x2 \"a\"b\\\" [1x1 5]]"},
      {"t[0][1]", "(index (index t 0) 1)"},
      {"x =", "x"},
      {"x # a comment, \"not a string", "x"},
      {"x # whatever a comment holds: \xff\xc3", "x"},
      {"\"# not a comment\"", "\"# not a comment\""},
      {"[\"\u00e9\", \"\u20ac\U0001F600\"]", "[1x2 \"\u00e9\" \"\u20ac\U0001F600\"]"},
      {"   ", "(nothing)"},
      {"# only a comment", "(nothing)"},
  };
  for (const TreeCase& c : cases) EXPECT_EQ(tree(c.line), c.tree) << c.line;
}

TEST(Parser, RecognisesDefinitions) {
  const auto variable = parseStatement("x := 1");
  EXPECT_EQ(variable->kind, Statement::Kind::kDefineVariable);
  EXPECT_EQ(variable->name, "x");
  const auto function = parseStatement("f(a, b) := a * b");
  EXPECT_EQ(function->kind, Statement::Kind::kDefineFunction);
  EXPECT_EQ(function->name, "f");
  EXPECT_EQ(function->parameters, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(show(*function->expr), "(* a b)");
  EXPECT_TRUE(parseStatement("g() := 1")->parameters.empty());
  EXPECT_EQ(parseStatement("f(a, b)")->kind, Statement::Kind::kShow);
}

TEST(Parser, KeepsTheStatementAsWritten) {
  EXPECT_EQ(parseStatement("  rows(A)  =  # shown")->text, "rows(A)");
  EXPECT_EQ(parseStatement("x := [1, 2]  # defined")->text, "x := [1, 2]");
  EXPECT_EQ(parseStatement("\"#\" ")->text, "\"#\"");
}

struct ErrorCase {
  const char* line;
  int column;
  const char* message;
};

TEST(Parser, ReportsTheColumnOfWhatIsWrong) {
  const ErrorCase cases[] = {
      {"1 +", 4, "expected a value, found the end of the line"},
      {"(1 + 2", 7, "expected ')', found the end of the line"},
      {"f(1, 2", 7, "expected ',' or ')', found the end of the line"},
      {"[1, 2; 3]", 8, "row 2 has 1 element, row 1 has 2 elements"},
      {"[1 2]", 4, "expected ',', ';' or ']', found a number"},
      {"[]", 1, "a matrix needs at least one element"},
      {"x := \"open", 6, "the string is not closed"},
      {"\"a\\n\"", 3, "only \\\" and \\\\ are escapes in a string"},
      {"2 @ 3", 3, "unexpected character '@'"},
      {"1 = 2", 5, "nothing may follow '=' (definitions use ':=')"},
      {"3 := 4", 3, "only a name or f(a, b) can be defined with ':='"},
      {"f(1) := 2", 3, "the parameters of a definition must be names"},
      {"f(a, a) := a", 6, "the parameter 'a' appears twice"},
      {"v[]", 2, "an index is [i] or [i, j]"},
      {"v[1, 2, 3]", 2, "an index is [i] or [i, j]"},
      {"x y", 3, "expected the end of the statement, found the name 'y'"},
      {"2e", 2, "expected the end of the statement, found the name 'e'"},
      {")", 1, "expected a value, found ')'"},
      // Columns count characters of UTF-8 text; a byte that starts none is named.
      {"\"\u00e9t\u00e9\" + \u20ac", 9, "unexpected character '\u20ac'"},
      {"\"\U0001F600\" 1", 5, "expected the end of the statement, found a number"},
      {"x := \"caf\xe9\"", 10, "invalid UTF-8 byte 0xE9"},
      {"\"\u00e9\" \xc3", 5, "invalid UTF-8 byte 0xC3"},
      {"\xa9", 1, "invalid UTF-8 byte 0xA9"},
      {"\"\xed\xa0\x80\"", 2, "invalid UTF-8 byte 0xED"},
      {"\"\xc0\xaf\"", 2, "invalid UTF-8 byte 0xC0"},
  };
  for (const ErrorCase& c : cases) {
    try {
      parseStatement(c.line);
      ADD_FAILURE() << c.line << " parsed";
    } catch (const SyntaxError& e) {
      EXPECT_EQ(e.column(), c.column) << c.line;
      EXPECT_STREQ(e.what(), c.message) << c.line;
    }
  }
}

TEST(Parser, RefusesExpressionsTooDeepToEvaluate) {
  const int n = sheet::kMaxExpressionDepth + 10;
  const std::string lines[] = {
      std::string(size_t(n), '(') + "1" + std::string(size_t(n), ')'),
      std::string(size_t(n), '-') + "1",
      "1" +
          [&] {
            std::string s;
            for (int k = 0; k < n; ++k) s += " + 1";
            return s;
          }(),
      "v" +
          [&] {
            std::string s;
            for (int k = 0; k < n; ++k) s += "[0]";
            return s;
          }(),
  };
  for (const std::string& line : lines) {
    try {
      parseStatement(line);
      ADD_FAILURE() << line << " parsed";
    } catch (const SyntaxError& e) {
      EXPECT_STREQ(e.what(), "the expression is nested too deeply");
    }
  }
  EXPECT_NO_THROW(parseStatement(std::string(40, '(') + "1" + std::string(40, ')')));
}

}  // namespace
