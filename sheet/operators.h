// The host's own arithmetic on worksheet values: the operators, matrix literals, indexing
// and the host functions re, im, abs, conj and sqrt. Results are built through the
// allocator; values of the wrong kind for an operation raise a HostError.
//
// Scalars follow complex arithmetic, computed here (not by the runtime's complex support)
// so that every target gets the same doubles; real operands stay real. Matrices hold
// numbers only for arithmetic: one holding strings or nested arrays is refused. A computed
// matrix gets an imaginary-part array only when some element has a non-zero imaginary part.
// Work on large matrices asks the stop request after each column and stops with
// Interrupted.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "sheet/allocator.h"
#include "sheet/interrupt.h"

namespace sheet {

// A statement the sheet itself cannot evaluate.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Complex {
  double re = 0;
  double im = 0;
  bool real() const { return im == 0; }
};

// "a scalar", "a string", "a 2 x 3 matrix", ...: for messages.
std::string describe(const Anyval* value);

// The real part of a real scalar; HostError naming `what` otherwise.
double realScalar(const Anyval* value, const std::string& what);

class Operators {
 public:
  explicit Operators(Allocator& allocator, StopRequest stop = {})
      : allocator_(allocator), stop_(std::move(stop)) {}

  // + - * / between scalars and matrices, and ^ between scalars.
  Anyval* binary(char op, const Anyval* left, const Anyval* right);
  Anyval* negate(const Anyval* value);

  static constexpr const char* kHostFunctions[] = {"re", "im", "abs", "conj", "sqrt"};
  static bool isHostFunction(std::string_view name);
  Anyval* hostFunction(std::string_view name, const Anyval* argument);

  // A rows x cols literal from its elements row by row: numbers from scalars, embedded
  // elements from strings and matrices (the literal is then nested).
  Anyval* matrixLiteral(int rows, int cols, std::span<Anyval* const> elements);

  // A[i, j] or v[i], counted from `origin`. An embedded element is returned itself.
  Anyval* index(Anyval* target, std::span<Anyval* const> indices, double origin);

  Anyval* scalar(Complex z);

 private:
  Anyval* sum(char op, const Anyval* left, const Anyval* right);
  Anyval* product(const Anyval* left, const Anyval* right);
  Anyval* quotient(const Anyval* left, const Anyval* right);
  Anyval* power(const Anyval* left, const Anyval* right);
  template <class F>
  Anyval* mapElements(const aMatrix* m, F f);

  Allocator& allocator_;
  StopRequest stop_;
};

}  // namespace sheet
