#include "sheet/worksheet.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "host/structured_exceptions.h"

namespace sheet {

namespace {

// A pack error met while evaluating: it becomes the value of the whole expression.
struct ErrorResult {
  Anyval* error;
};

// A host error inside a worksheet function, naming the function.
class InFunction : public HostError {
 public:
  using HostError::HostError;
};

// Functions calling functions: deeper chains are refused, so they cannot exhaust the stack.
constexpr size_t kMaxCallDepth = 32;

// The Itanium-mangled name of `Anyval* inv(UfnCallContext*, Anyval*)`, also in the mingw DLL.
constexpr const char* kInverseSymbol = "_Z3invP14UfnCallContextP6Anyval";

std::string plural(size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

Worksheet::Worksheet(const PackLibrary& pack, Host& host, InverseEntry inverse, double tol,
                     double origin)
    : pack_(pack),
      host_(host),
      inverse_(inverse),
      operators_(host.allocator, [&host] { return host.evaluator.interruptRequested(); }) {
  // A session runs for long, and nothing reads the record of the evaluator's slots.
  host_.evaluator.keepCallRecord(false);
  define("TOL", operators_.scalar({tol, 0}));
  define("ORIGIN", operators_.scalar({origin, 0}));
}

InverseEntry Worksheet::findInverse(const PackLibrary& pack) {
  return reinterpret_cast<InverseEntry>(pack.symbol(kInverseSymbol));
}

std::vector<Anyval*> Worksheet::roots() const {
  std::vector<Anyval*> roots;
  for (const auto& [name, value] : variables_) roots.push_back(value);
  for (const auto& [name, value] : functionValues_) roots.push_back(value);
  return roots;
}

std::vector<std::string> Worksheet::names() const {
  std::vector<std::string> names;
  for (const auto& [name, value] : variables_) names.push_back(name);
  for (const auto& [name, function] : functions_) names.push_back(name);
  for (const char* name : Operators::kHostFunctions) names.push_back(name);
  for (int row = 0; row < pack_.size(); ++row) {
    const sString* name = pack_.descriptor(row).name;
    if (name && name->text) names.push_back(name->text);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool Worksheet::run(std::string_view line, const std::string& source, int lineNumber, Output& out) {
  const std::string place = source + ":" + std::to_string(lineNumber) + ":";
  std::optional<Statement> statement;
  try {
    statement = parseStatement(line);
  } catch (const SyntaxError& e) {
    out.hostError(++statements_,
                  place + std::to_string(e.column()) + ": syntax error: " + e.what());
    return false;
  } catch (const std::bad_alloc&) {
    out.hostError(++statements_, place + " out of memory");
    return false;
  }
  if (!statement) return true;
  ++statements_;
  const uint64_t start = host_.allocator.historyPoint();
  // The problem is reported once the statement's temporaries are freed: out of memory,
  // the report itself needs some.
  std::string problem;
  bool evaluated = true;
  try {
    execute(*statement, out);
  } catch (const std::bad_alloc&) {
    problem = "out of memory";
    evaluated = false;
  } catch (const std::exception& e) {  // HostError, Interrupted
    try {
      problem = e.what();
    } catch (const std::bad_alloc&) {
      problem = "out of memory";
    }
    evaluated = false;
  }
  finishStatement(start);
  if (!evaluated) out.hostError(statements_, place + " " + problem);
  return evaluated;
}

void Worksheet::execute(const Statement& statement, Output& out) {
  if (statement.kind == Statement::Kind::kDefineFunction) {
    defineFunction(statement);
    return;
  }
  Anyval* value = nullptr;
  try {
    value = evaluate(*statement.expr);
  } catch (const ErrorResult& result) {
    value = result.error;
  }
  if (statement.kind == Statement::Kind::kDefineVariable && value->tag != kTagError) {
    define(statement.name, value);
    return;
  }
  if (value->tag == kTagFunction || value->tag == kTagFunction2) {
    throw HostError("a function cannot be shown; call it, or pass it to matrix");
  }
  // An error is shown even when a definition produced it; the variable then holds it.
  if (statement.kind == Statement::Kind::kDefineVariable && statement.name != "TOL" &&
      statement.name != "ORIGIN") {
    define(statement.name, value);
  }
  out.value(statements_, statement.text, value);
}

void Worksheet::define(const std::string& name, Anyval* value) {
  if (name == "TOL") realScalar(value, "TOL");
  if (name == "ORIGIN") {
    const double origin = realScalar(value, "ORIGIN");
    if (origin != std::floor(origin) || std::fabs(origin) > 1e9) {
      throw HostError("ORIGIN must be a whole number");
    }
  }
  Anyval*& binding = variables_.try_emplace(name, nullptr).first->second;
  // Held before the old value goes, which it may embed or be.
  host_.allocator.hold(value);
  if (binding) host_.allocator.letGo(binding);
  binding = value;
  functions_.erase(name);
}

void Worksheet::defineFunction(const Statement& statement) {
  const std::string& name = statement.name;
  if (name == "TOL" || name == "ORIGIN") throw HostError(name + " is a system variable");
  Anyval*& value = functionValues_.try_emplace(name, nullptr).first->second;
  if (!value) {
    value = host_.evaluator.functionValue(
        [this, name](std::span<Anyval* const> args) { return callback(name, args); });
    host_.allocator.hold(value);
  }
  functions_[name] = Function{statement.parameters, statement.expr, value};
  if (auto it = variables_.find(name); it != variables_.end()) {
    host_.allocator.letGo(it->second);
    variables_.erase(it);
  }
}

void Worksheet::finishStatement(uint64_t start) {
  host_.allocator.collect({}, start);
  host_.evaluator.clearInterrupt();
  lastCallbackScalar_ = nullptr;
  callbackError_.reset();
  locals_ = nullptr;
  active_.clear();
}

double Worksheet::origin() const {
  return as<aComplex>(variables_.find("ORIGIN")->second)->re;
}

Anyval* Worksheet::operand(const Expr& e) {
  Anyval* value = evaluate(e);
  if (value->tag == kTagError) throw ErrorResult{value};
  return value;
}

std::vector<Anyval*> Worksheet::operands(std::span<const std::unique_ptr<Expr>> exprs) {
  std::vector<Anyval*> values;
  for (const auto& e : exprs) values.push_back(operand(*e));
  return values;
}

Anyval* Worksheet::evaluate(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::kNumber:
      return operators_.scalar({e.number, 0});
    case Expr::Kind::kImaginary:
      return operators_.scalar({0, e.number});
    case Expr::Kind::kString:
      return asValue(host_.allocator.string(e.text));
    case Expr::Kind::kName:
      return name(e.text);
    case Expr::Kind::kMatrix:
      return operators_.matrixLiteral(e.rows, e.cols, operands(e.children));
    case Expr::Kind::kNegate:
      return operators_.negate(operand(*e.children[0]));
    case Expr::Kind::kBinary: {
      Anyval* left = operand(*e.children[0]);
      Anyval* right = operand(*e.children[1]);
      if (e.op == '^' && isMatrix(left)) return power(left, right);
      return operators_.binary(e.op, left, right);
    }
    case Expr::Kind::kCall:
      return call(e);
    case Expr::Kind::kIndex: {
      const std::vector<Anyval*> parts = operands(e.children);
      return operators_.index(parts[0], std::span(parts).subspan(1), origin());
    }
  }
  throw HostError("unknown expression");
}

Anyval* Worksheet::name(const std::string& name) {
  if (locals_) {
    if (auto it = locals_->find(name); it != locals_->end()) return it->second;
  }
  if (auto it = variables_.find(name); it != variables_.end()) return it->second;
  if (auto it = functions_.find(name); it != functions_.end()) return it->second.value;
  if (Operators::isHostFunction(name) || pack_.find(name) >= 0) {
    throw HostError("'" + name + "' is a function: call it with arguments");
  }
  throw HostError("unknown name '" + name + "'");
}

Anyval* Worksheet::call(const Expr& e) {
  const std::string& name = e.text;
  if (functions_.count(name) != 0) return applyUser(name, operands(e.children));
  if (Operators::isHostFunction(name)) {
    if (e.children.size() != 1) {
      throw HostError(name + " takes 1 argument, not " + std::to_string(e.children.size()));
    }
    return operators_.hostFunction(name, operand(*e.children[0]));
  }
  const int row = pack_.find(name);
  if (row < 0) {
    const bool value = (locals_ && locals_->count(name)) || variables_.count(name);
    throw HostError(value ? "'" + name + "' is a variable, not a function"
                          : "unknown function '" + name + "'");
  }
  const std::vector<Anyval*> args = operands(e.children);
  const SystemVariables system{variables_["TOL"], variables_["ORIGIN"]};
  return intoPack(name, [&] { return pack_.call(row, &host_.context, args, system); });
}

Anyval* Worksheet::power(Anyval* base, Anyval* exponent) {
  if (!isScalar(exponent) || as<aComplex>(exponent)->re != -1 || as<aComplex>(exponent)->im != 0) {
    throw HostError("a matrix can only be raised to -1 (its inverse), not to " +
                    (isScalar(exponent) ? readableValue(exponent) : describe(exponent)));
  }
  if (!inverse_) throw HostError("the inverse M^-1 is not available in this pack");
  return intoPack("the inverse", [&] { return inverse_(&host_.context, base); });
}

// Calls into the pack. Exceptions that come back out, and host errors raised while the
// pack called a worksheet function, are host errors; an error value is the result.
template <class Call>
Anyval* Worksheet::intoPack(const std::string& what, Call call) {
  Anyval* result = nullptr;
  try {
    result = call();
  } catch (const CallError& e) {
    throw HostError(e.what());
  } catch (const SE_FPE_Exception& e) {
    // A floating-point fault that a plain entry let through, named as the system names it.
    throw HostError(what + " raised " + exceptionName(e.code()));
  } catch (const std::exception& e) {
    throw HostError(what + " raised an exception: " + e.what());
  } catch (...) {
    throw HostError(what + " raised an exception");
  }
  lastCallbackScalar_ = nullptr;
  if (callbackError_) throw HostError(*std::exchange(callbackError_, std::nullopt));
  if (!result) throw HostError(what + " returned no value");
  host_.allocator.adopt(result);
  if (result->tag == kTagError) throw ErrorResult{result};
  return result;
}

Anyval* Worksheet::applyUser(const std::string& name, std::span<Anyval* const> args) {
  const auto it = functions_.find(name);
  if (it == functions_.end()) throw HostError("'" + name + "' is no longer a function");
  const Function function = it->second;  // a copy: the body stays alive
  if (args.size() != function.parameters.size()) {
    throw HostError(name + " takes " + plural(function.parameters.size(), "argument") + ", not " +
                    std::to_string(args.size()));
  }
  for (const std::string& active : active_) {
    if (active == name) throw HostError(name + " calls itself, which would never end");
  }
  if (active_.size() >= kMaxCallDepth) throw HostError("functions call each other too deeply");
  Bindings bindings;
  for (size_t k = 0; k < args.size(); ++k) bindings[function.parameters[k]] = args[k];

  // Restores the caller's parameters however the body ends.
  struct Frame {
    Worksheet& sheet;
    const Bindings* saved;
    ~Frame() {
      sheet.locals_ = saved;
      sheet.active_.pop_back();
    }
  } frame{*this, locals_};
  locals_ = &bindings;
  active_.push_back(name);
  try {
    return evaluate(*function.body);
  } catch (const InFunction&) {
    throw;  // already names the innermost function
  } catch (const HostError& e) {
    throw InFunction("in " + name + ": " + e.what());
  }
}

// A worksheet function called by the pack (from matrix). Nothing may escape into the
// pack: a host error (Ctrl-C among them) is kept for the statement and the pack gets an
// error value, at once for every later call. What the body built is released at once, as
// the pack may call many times.
Anyval* Worksheet::callback(const std::string& name, std::span<Anyval* const> args) noexcept {
  Allocator& allocator = host_.allocator;
  if (lastCallbackScalar_) allocator.release(std::exchange(lastCallbackScalar_, nullptr));
  const uint64_t start = allocator.historyPoint();
  if (host_.evaluator.interruptRequested()) keepCallbackError("interrupted");
  if (!callbackError_) {
    try {
      Anyval* result = nullptr;
      try {
        result = applyUser(name, args);
      } catch (const ErrorResult& e) {
        result = e.error;
      }
      if (!isScalar(result)) {
        allocator.collect(std::span(&result, 1), start);
        return result;
      }
      const aComplex value = *as<aComplex>(result);
      allocator.collect({}, start);
      lastCallbackScalar_ = asValue(allocator.scalar(value.re, value.im));
      return lastCallbackScalar_;
    } catch (const std::bad_alloc&) {
      allocator.collect({}, start);
      keepCallbackError("out of memory");
    } catch (const std::exception& e) {
      allocator.collect({}, start);
      keepCallbackError(e.what());
    }
  }
  try {
    return asValue(aError::mk(allocator.com(), callbackError_->c_str(), 0, 0, nullptr, nullptr));
  } catch (...) {
    return asValue(sError_OutOfMemory);
  }
}

// Keeps the first host error of the calls back from the pack. Called where nothing may
// throw: when even the copy cannot be had, "out of memory" fits the string's own storage.
void Worksheet::keepCallbackError(const char* text) noexcept {
  if (callbackError_) return;
  try {
    callbackError_ = text;
  } catch (const std::bad_alloc&) {
    callbackError_.emplace("out of memory");
  }
}

}  // namespace sheet
