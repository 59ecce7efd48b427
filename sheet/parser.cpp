#include "sheet/parser.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "sheet/utf8.h"

namespace sheet {

namespace {

// Inside the parser a column counts bytes from 1; parseStatement() reports it in
// characters.
struct Token {
  enum class Kind { kNumber, kImaginary, kString, kName, kSymbol, kEnd };
  Kind kind;
  int column;
  std::string text;  // the name, the string's contents, or the symbol
  double number = 0;
};

bool isNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool isDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Splits a line of UTF-8 text into tokens; a comment ends it, whatever it holds.
class Lexer {
 public:
  explicit Lexer(std::string_view line) : line_(line) {}

  std::vector<Token> tokens() {
    std::vector<Token> out;
    for (;;) {
      while (pos_ < line_.size() && std::isspace(static_cast<unsigned char>(line_[pos_]))) ++pos_;
      if (pos_ == line_.size() || line_[pos_] == '#') break;
      out.push_back(next());
    }
    out.push_back(Token{Token::Kind::kEnd, column(), "", 0});
    return out;
  }

 private:
  int column() const { return static_cast<int>(pos_) + 1; }

  bool atNonAscii() const { return static_cast<unsigned char>(line_[pos_]) >= 0x80; }

  // The character that starts at a byte beyond ASCII, whole; a SyntaxError naming the byte
  // when it starts none.
  std::string_view character() const {
    const size_t length = utf8::sequenceLength(line_, pos_);
    if (length == 0) {
      char detail[40];
      std::snprintf(detail, sizeof detail, "invalid UTF-8 byte 0x%02X",
                    static_cast<unsigned>(static_cast<unsigned char>(line_[pos_])));
      throw SyntaxError(column(), detail);
    }
    return line_.substr(pos_, length);
  }

  Token next() {
    const char c = line_[pos_];
    if (isDigit(c) || (c == '.' && pos_ + 1 < line_.size() && isDigit(line_[pos_ + 1]))) {
      return number();
    }
    if (isNameStart(c)) return name();
    if (c == '"') return string();
    const int start = column();
    if (line_.substr(pos_, 2) == ":=") {
      pos_ += 2;
      return Token{Token::Kind::kSymbol, start, ":=", 0};
    }
    if (std::string_view("=+-*/^()[],;").find(c) != std::string_view::npos) {
      ++pos_;
      return Token{Token::Kind::kSymbol, start, std::string(1, c), 0};
    }
    const std::string_view shown = atNonAscii() ? character() : line_.substr(pos_, 1);
    throw SyntaxError(start, "unexpected character '" + std::string(shown) + "'");
  }

  Token number() {
    const int start = column();
    const size_t first = pos_;
    auto digits = [&] {
      while (pos_ < line_.size() && isDigit(line_[pos_])) ++pos_;
    };
    digits();
    if (pos_ < line_.size() && line_[pos_] == '.') {
      ++pos_;
      digits();
    }
    // An exponent only when digits follow: `2e` is the number 2 and the name e.
    if (pos_ < line_.size() && (line_[pos_] == 'e' || line_[pos_] == 'E')) {
      size_t after = pos_ + 1;
      if (after < line_.size() && (line_[after] == '+' || line_[after] == '-')) ++after;
      if (after < line_.size() && isDigit(line_[after])) {
        pos_ = after;
        digits();
      }
    }
    const std::string text(line_.substr(first, pos_ - first));
    // The C locale is in force, so the decimal point is '.'.
    Token token{Token::Kind::kNumber, start, text, std::strtod(text.c_str(), nullptr)};
    if (pos_ < line_.size() && line_[pos_] == 'i' &&
        (pos_ + 1 == line_.size() || !isNameChar(line_[pos_ + 1]))) {
      ++pos_;
      token.kind = Token::Kind::kImaginary;
    }
    return token;
  }

  Token name() {
    const int start = column();
    const size_t first = pos_;
    while (pos_ < line_.size() && isNameChar(line_[pos_])) ++pos_;
    return Token{Token::Kind::kName, start, std::string(line_.substr(first, pos_ - first)), 0};
  }

  Token string() {
    const int start = column();
    std::string text;
    ++pos_;  // the opening quote
    for (;;) {
      if (pos_ == line_.size()) throw SyntaxError(start, "the string is not closed");
      if (atNonAscii()) {
        const std::string_view c = character();
        text += c;
        pos_ += c.size();
        continue;
      }
      const char c = line_[pos_++];
      if (c == '"') break;
      if (c == '\\') {
        const char escaped = pos_ < line_.size() ? line_[pos_] : '\0';
        if (escaped != '"' && escaped != '\\') {
          throw SyntaxError(column() - 1, "only \\\" and \\\\ are escapes in a string");
        }
        ++pos_;
        text += escaped;
      } else {
        text += c;
      }
    }
    return Token{Token::Kind::kString, start, text, 0};
  }

  std::string_view line_;
  size_t pos_ = 0;
};

using ExprPtr = std::unique_ptr<Expr>;

// Recursive descent over the tokens of one line.
class Parser {
 public:
  Parser(std::string_view line, std::vector<Token> tokens)
      : line_(line), tokens_(std::move(tokens)) {}

  std::optional<Statement> statement() {
    if (peek().kind == Token::Kind::kEnd) return std::nullopt;
    const int start = peek().column;
    ExprPtr expr = expression();
    Statement s;
    if (isSymbol(":=")) {
      const int column = take().column;
      s = definitionOf(*expr, column);
      s.expr = expression();
      s.text = textBetween(start, peek().column);
    } else {
      s.kind = Statement::Kind::kShow;
      s.expr = std::move(expr);
      s.text = textBetween(start, peek().column);
      if (isSymbol("=")) {
        take();
        if (peek().kind != Token::Kind::kEnd) {
          throw SyntaxError(peek().column, "nothing may follow '=' (definitions use ':=')");
        }
      }
    }
    if (peek().kind != Token::Kind::kEnd) throw unexpected("the end of the statement");
    return s;
  }

 private:
  // The line from column `first` up to column `end`, without the blanks before `end`.
  std::string textBetween(int first, int end) const {
    std::string_view text = line_.substr(size_t(first - 1), size_t(end - first));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
      text.remove_suffix(1);
    }
    return std::string(text);
  }

  const Token& peek() const { return tokens_[next_]; }
  Token take() { return tokens_[next_++]; }
  bool isSymbol(const char* symbol) const {
    return peek().kind == Token::Kind::kSymbol && peek().text == symbol;
  }

  SyntaxError unexpected(const std::string& wanted) const {
    const Token& t = peek();
    std::string found;
    switch (t.kind) {
      case Token::Kind::kEnd:
        found = "the end of the line";
        break;
      case Token::Kind::kName:
        found = "the name '" + t.text + "'";
        break;
      case Token::Kind::kString:
        found = "a string";
        break;
      case Token::Kind::kNumber:
      case Token::Kind::kImaginary:
        found = "a number";
        break;
      case Token::Kind::kSymbol:
        found = "'" + t.text + "'";
        break;
    }
    return SyntaxError(t.column, "expected " + wanted + ", found " + found);
  }

  void expect(const char* symbol, const std::string& wanted) {
    if (!isSymbol(symbol)) throw unexpected(wanted);
    take();
  }

  // The left side of `:=`: a name, or a call whose arguments are distinct names.
  static Statement definitionOf(const Expr& target, int column) {
    Statement s;
    s.name = target.text;
    if (target.kind == Expr::Kind::kName) {
      s.kind = Statement::Kind::kDefineVariable;
      return s;
    }
    if (target.kind != Expr::Kind::kCall) {
      throw SyntaxError(column, "only a name or f(a, b) can be defined with ':='");
    }
    s.kind = Statement::Kind::kDefineFunction;
    for (const ExprPtr& parameter : target.children) {
      if (parameter->kind != Expr::Kind::kName) {
        throw SyntaxError(parameter->column, "the parameters of a definition must be names");
      }
      if (std::count(s.parameters.begin(), s.parameters.end(), parameter->text) != 0) {
        throw SyntaxError(parameter->column,
                          "the parameter '" + parameter->text + "' appears twice");
      }
      s.parameters.push_back(parameter->text);
    }
    return s;
  }

  static ExprPtr node(Expr::Kind kind, int column) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->column = column;
    return e;
  }

  static ExprPtr withChildren(ExprPtr e, std::vector<ExprPtr> children) {
    for (const ExprPtr& child : children) e->depth = std::max(e->depth, child->depth + 1);
    if (e->depth > kMaxExpressionDepth) {
      throw SyntaxError(e->column, "the expression is nested too deeply");
    }
    e->children = std::move(children);
    return e;
  }

  static ExprPtr binary(char op, ExprPtr left, ExprPtr right) {
    ExprPtr e = node(Expr::Kind::kBinary, left->column);
    e->op = op;
    std::vector<ExprPtr> operands;
    operands.push_back(std::move(left));
    operands.push_back(std::move(right));
    return withChildren(std::move(e), std::move(operands));
  }

  // Guards the parser's own recursion (parentheses and brackets add no nodes).
  struct Nesting {
    explicit Nesting(Parser& p) : parser(p) {
      if (++parser.nesting_ > kMaxExpressionDepth) {
        throw SyntaxError(parser.peek().column, "the expression is nested too deeply");
      }
    }
    ~Nesting() { --parser.nesting_; }
    Parser& parser;
  };

  ExprPtr expression() {
    Nesting guard(*this);
    ExprPtr left = term();
    while (isSymbol("+") || isSymbol("-")) {
      const char op = take().text[0];
      left = binary(op, std::move(left), term());
    }
    return left;
  }

  ExprPtr term() {
    ExprPtr left = unary();
    while (isSymbol("*") || isSymbol("/")) {
      const char op = take().text[0];
      left = binary(op, std::move(left), unary());
    }
    return left;
  }

  ExprPtr unary() {
    Nesting guard(*this);
    if (isSymbol("+")) {
      take();
      return unary();
    }
    if (isSymbol("-")) {
      ExprPtr e = node(Expr::Kind::kNegate, take().column);
      std::vector<ExprPtr> operand;
      operand.push_back(unary());
      return withChildren(std::move(e), std::move(operand));
    }
    return power();
  }

  ExprPtr power() {
    ExprPtr base = postfix();
    if (!isSymbol("^")) return base;
    take();
    return binary('^', std::move(base), unary());
  }

  ExprPtr postfix() {
    ExprPtr e = primary();
    for (;;) {
      if (isSymbol("(") && e->kind == Expr::Kind::kName) {
        take();
        ExprPtr call = node(Expr::Kind::kCall, e->column);
        call->text = e->text;
        e = withChildren(std::move(call), list(")", "',' or ')'"));
      } else if (isSymbol("[")) {
        const int column = take().column;
        std::vector<ExprPtr> parts;
        parts.push_back(std::move(e));
        for (ExprPtr& index : list("]", "',' or ']'")) parts.push_back(std::move(index));
        if (parts.size() < 2 || parts.size() > 3) {
          throw SyntaxError(column, "an index is [i] or [i, j]");
        }
        const int start = parts.front()->column;
        e = withChildren(node(Expr::Kind::kIndex, start), std::move(parts));
      } else {
        return e;
      }
    }
  }

  // Expressions separated by commas up to `close`, which is consumed.
  std::vector<ExprPtr> list(const char* close, const std::string& wanted) {
    std::vector<ExprPtr> items;
    if (isSymbol(close)) {
      take();
      return items;
    }
    for (;;) {
      items.push_back(expression());
      if (isSymbol(close)) break;
      expect(",", wanted);
    }
    take();
    return items;
  }

  ExprPtr primary() {
    const Token& t = peek();
    switch (t.kind) {
      case Token::Kind::kNumber:
      case Token::Kind::kImaginary: {
        ExprPtr e =
            node(t.kind == Token::Kind::kNumber ? Expr::Kind::kNumber : Expr::Kind::kImaginary,
                 t.column);
        e->number = take().number;
        return e;
      }
      case Token::Kind::kString:
      case Token::Kind::kName: {
        ExprPtr e = node(t.kind == Token::Kind::kString ? Expr::Kind::kString : Expr::Kind::kName,
                         t.column);
        e->text = take().text;
        return e;
      }
      case Token::Kind::kSymbol:
        if (t.text == "(") {
          take();
          ExprPtr inner = expression();
          expect(")", "')'");
          return inner;
        }
        if (t.text == "[") return matrix();
        break;
      case Token::Kind::kEnd:
        break;
    }
    throw unexpected("a value");
  }

  static std::string elementCount(int count) {
    return std::to_string(count) + (count == 1 ? " element" : " elements");
  }

  // [a, b; c, d]: every row as long as the first.
  ExprPtr matrix() {
    const int column = take().column;
    if (isSymbol("]")) throw SyntaxError(column, "a matrix needs at least one element");
    std::vector<ExprPtr> elements;
    int rows = 0;
    int cols = 0;
    for (;;) {
      const int rowColumn = peek().column;
      int count = 0;
      for (;;) {
        elements.push_back(expression());
        ++count;
        if (!isSymbol(",")) break;
        take();
      }
      if (rows == 0) cols = count;
      if (count != cols) {
        throw SyntaxError(rowColumn, "row " + std::to_string(rows + 1) + " has " +
                                         elementCount(count) + ", row 1 has " + elementCount(cols));
      }
      ++rows;
      if (isSymbol("]")) break;
      expect(";", "',', ';' or ']'");
    }
    take();
    ExprPtr e = node(Expr::Kind::kMatrix, column);
    e->rows = rows;
    e->cols = cols;
    return withChildren(std::move(e), std::move(elements));
  }

  std::string_view line_;
  std::vector<Token> tokens_;
  size_t next_ = 0;
  int nesting_ = 0;
};

}  // namespace

std::optional<Statement> parseStatement(std::string_view line) {
  try {
    return Parser(line, Lexer(line).tokens()).statement();
  } catch (const SyntaxError& e) {
    const size_t bytesBefore = static_cast<size_t>(e.column() - 1);
    throw SyntaxError(static_cast<int>(utf8::characters(line, bytesBefore)) + 1, e.what());
  }
}

}  // namespace sheet
