// A worksheet session: evaluates statements one at a time the way a host does, calling
// the pack's table for its functions and the pack's exported inverse for M^-1, and keeps
// the session's variables and functions alive between statements.
//
// A pack error is a value: it becomes the result of the whole expression it occurs in and
// is shown. A host error (a statement the sheet cannot evaluate: bad syntax, an unknown
// name, a wrong number of arguments, a function the pack lacks, operands of the wrong
// kind, an exception out of the pack) is reported with its place, and the session goes on.
//
// The values of variables and functions are held in the allocator; whatever else a
// statement made is collected after it, so a long session stays the same size and the
// work after a statement is proportional to what the statement made. Ctrl-C stops the
// host's own long loops as well as the pack's.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sheet/host.h"
#include "sheet/loader.h"
#include "sheet/operators.h"
#include "sheet/parser.h"
#include "sheet/printer.h"

namespace sheet {

// The pack's value-level inverse: a matrix in, its inverse or an error value out.
using InverseEntry = Anyval* (*)(UfnCallContext*, Anyval*);

class Worksheet {
 public:
  // `inverse` may be null: M^-1 is then a host error.
  Worksheet(const PackLibrary& pack, Host& host, InverseEntry inverse, double tol = 0.001,
            double origin = 0);
  Worksheet(const Worksheet&) = delete;
  Worksheet& operator=(const Worksheet&) = delete;

  // The inverse the pack exports, or null.
  static InverseEntry findInverse(const PackLibrary& pack);

  // Evaluates one line from `source` (a file name, "-e" or "<stdin>") and reports its
  // outcome to `out`. False when the sheet could not evaluate it. A line with nothing but
  // blanks and a comment is not a statement.
  bool run(std::string_view line, const std::string& source, int lineNumber, Output& out);

  // Statements run so far.
  int statements() const { return statements_; }
  // What the session keeps alive: variable values (TOL and ORIGIN among them) and the
  // values of the defined functions.
  std::vector<Anyval*> roots() const;
  // The names a statement can use: variables, defined functions, the host's functions and
  // the pack's, sorted.
  std::vector<std::string> names() const;

 private:
  struct Function {
    std::vector<std::string> parameters;
    std::shared_ptr<const Expr> body;
    Anyval* value;  // the function value handed to the pack
  };
  using Bindings = std::map<std::string, Anyval*, std::less<>>;

  void execute(const Statement& statement, Output& out);
  void define(const std::string& name, Anyval* value);
  void defineFunction(const Statement& statement);
  void finishStatement(uint64_t start);

  Anyval* evaluate(const Expr& e);
  Anyval* operand(const Expr& e);
  std::vector<Anyval*> operands(std::span<const std::unique_ptr<Expr>> exprs);
  Anyval* name(const std::string& name);
  Anyval* call(const Expr& e);
  Anyval* power(Anyval* base, Anyval* exponent);
  Anyval* applyUser(const std::string& name, std::span<Anyval* const> args);
  Anyval* callback(const std::string& name, std::span<Anyval* const> args) noexcept;
  void keepCallbackError(const char* text) noexcept;
  template <class Call>
  Anyval* intoPack(const std::string& what, Call call);
  double origin() const;

  const PackLibrary& pack_;
  Host& host_;
  InverseEntry inverse_;
  Operators operators_;
  Bindings variables_;
  std::map<std::string, Function, std::less<>> functions_;
  // One function value for each name ever defined as a function, held for the session:
  // it calls whatever definition the name has.
  Bindings functionValues_;
  const Bindings* locals_ = nullptr;          // parameters of the function being evaluated
  std::vector<std::string> active_;           // functions being evaluated, outermost first
  std::optional<std::string> callbackError_;  // a host error inside a call from the pack
                                              // (empty: the host ran out of memory)
  Anyval* lastCallbackScalar_ = nullptr;      // the pack has read it once the next call comes
  int statements_ = 0;
};

}  // namespace sheet
