#include "sheet/operators.h"

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/embedded.h"
#include "host/part_view.h"

namespace sheet {

namespace {

// ---- Complex kernels: real operands take the real path, so no 0 * inf turns into NaN.

Complex add(Complex a, Complex b) {
  return {a.re + b.re, a.im + b.im};
}
Complex subtract(Complex a, Complex b) {
  return {a.re - b.re, a.im - b.im};
}

Complex multiply(Complex a, Complex b) {
  if (a.real() && b.real()) return {a.re * b.re, 0};
  if (a.real()) return {a.re * b.re, a.re * b.im};
  if (b.real()) return {a.re * b.re, a.im * b.re};
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

// Smith's division: scales by the larger part of the divisor to avoid overflow.
Complex divide(Complex a, Complex b) {
  if (b.real()) return {a.re / b.re, a.real() ? 0 : a.im / b.re};
  if (std::fabs(b.re) >= std::fabs(b.im)) {
    const double r = b.im / b.re;
    const double d = b.re + b.im * r;
    return {(a.re + a.im * r) / d, (a.im - a.re * r) / d};
  }
  const double r = b.re / b.im;
  const double d = b.re * r + b.im;
  return {(a.re * r + a.im) / d, (a.im * r - a.re) / d};
}

// Whole exponents by repeated squaring (the same doubles everywhere); others through the
// runtime's pow, complex when a negative base meets a fractional exponent.
Complex raise(Complex base, Complex exponent) {
  const double n = exponent.re;
  if (exponent.real() && n == std::floor(n) && std::fabs(n) < 0x1p62) {
    auto bits = static_cast<uint64_t>(std::fabs(n));
    Complex result{1, 0};
    Complex square = base;
    for (; bits != 0; bits >>= 1) {
      if (bits & 1) result = multiply(result, square);
      if (bits > 1) square = multiply(square, square);
    }
    return n < 0 ? divide({1, 0}, result) : result;
  }
  if (base.real() && exponent.real() && !(base.re < 0)) return {std::pow(base.re, n), 0};
  const std::complex<double> z =
      std::pow(std::complex<double>(base.re, base.im), std::complex<double>(n, exponent.im));
  return {z.real(), z.imag()};
}

Complex squareRoot(Complex z) {
  if (z.real()) return z.re < 0 ? Complex{0, std::sqrt(-z.re)} : Complex{std::sqrt(z.re), 0};
  const std::complex<double> r = std::sqrt(std::complex<double>(z.re, z.im));
  return {r.real(), r.imag()};
}

// Worksheet results show no negative zeros.
double tidy(double x) {
  return x == 0 ? 0.0 : x;
}

// ---- Matrices

Complex element(const aMatrix* m, int i, int j) {
  return {m->re ? realPart(m)(i, j) : 0.0, m->im ? imagPart(m)(i, j) : 0.0};
}

bool holdsEmbedded(const aMatrix* m) {
  if (m->nested()) return true;
  if (!m->re) return false;
  const PartView re = realPart(m);
  for (int j = 0; j < m->cols; ++j) {
    for (int i = 0; i < m->rows; ++i) {
      if (embedded::is(re(i, j))) return true;
    }
  }
  return false;
}

// The matrix behind `value` when it holds numbers only.
const aMatrix* numbers(const Anyval* value, const std::string& what) {
  const aMatrix* m = as<aMatrix>(value);
  if (holdsEmbedded(m)) {
    throw HostError(what + " cannot compute with the strings or nested arrays in " +
                    describe(value));
  }
  return m;
}

// Computed elements, column-major, before they become a matrix.
struct Grid {
  int rows;
  int cols;
  std::vector<Complex> values;

  Grid(int r, int c) : rows(r), cols(c), values(size_t(r) * size_t(c)) {}
  Complex& at(int i, int j) { return values[size_t(i) + size_t(j) * size_t(rows)]; }
};

Anyval* matrixOf(Allocator& allocator, const Grid& grid) {
  bool complex = false;
  for (const Complex& z : grid.values) complex = complex || !z.real();
  aMatrix* m = allocator.matrix(grid.rows, grid.cols, true, complex);
  for (size_t k = 0; k < grid.values.size(); ++k) {
    m->re[k] = tidy(grid.values[k].re);
    if (complex) m->im[k] = tidy(grid.values[k].im);
  }
  return asValue(m);
}

std::string operands(const Anyval* left, const Anyval* right) {
  return describe(left) + " and " + describe(right);
}

}  // namespace

template <class F>
Anyval* Operators::mapElements(const aMatrix* m, F f) {
  Grid grid(m->rows, m->cols);
  for (int j = 0; j < m->cols; ++j) {
    stopIfAsked(stop_);
    for (int i = 0; i < m->rows; ++i) grid.at(i, j) = f(element(m, i, j));
  }
  return matrixOf(allocator_, grid);
}

std::string describe(const Anyval* value) {
  switch (value->tag) {
    case kTagScalar:
      return "a scalar";
    case kTagString:
      return "a string";
    case kTagMatrix: {
      const aMatrix* m = as<aMatrix>(value);
      return "a " + std::to_string(m->rows) + " x " + std::to_string(m->cols) + " matrix";
    }
    case kTagFunction:
    case kTagFunction2:
      return "a function";
    case kTagError:
      return "an error";
    default:
      return "a value of kind " + std::to_string(value->tag);
  }
}

double realScalar(const Anyval* value, const std::string& what) {
  if (!isScalar(value) || as<aComplex>(value)->im != 0) {
    throw HostError(what + " must be a real number, not " + describe(value));
  }
  return as<aComplex>(value)->re;
}

Anyval* Operators::scalar(Complex z) {
  return asValue(allocator_.scalar(tidy(z.re), tidy(z.im)));
}

Anyval* Operators::binary(char op, const Anyval* left, const Anyval* right) {
  switch (op) {
    case '+':
    case '-':
      return sum(op, left, right);
    case '*':
      return product(left, right);
    case '/':
      return quotient(left, right);
    default:
      return power(left, right);
  }
}

Anyval* Operators::sum(char op, const Anyval* left, const Anyval* right) {
  auto combine = [op](Complex a, Complex b) { return op == '+' ? add(a, b) : subtract(a, b); };
  const std::string what = std::string("'") + op + "'";
  if (isScalar(left) && isScalar(right)) {
    const auto* a = as<aComplex>(left);
    const auto* b = as<aComplex>(right);
    return scalar(combine({a->re, a->im}, {b->re, b->im}));
  }
  const bool sameShape = isMatrix(left) && isMatrix(right) &&
                         as<aMatrix>(left)->rows == as<aMatrix>(right)->rows &&
                         as<aMatrix>(left)->cols == as<aMatrix>(right)->cols;
  if (!sameShape) {
    throw HostError(what + " needs two scalars or two matrices of one shape, not " +
                    operands(left, right));
  }
  const aMatrix* a = numbers(left, what);
  const aMatrix* b = numbers(right, what);
  Grid grid(a->rows, a->cols);
  for (int j = 0; j < a->cols; ++j) {
    stopIfAsked(stop_);
    for (int i = 0; i < a->rows; ++i) grid.at(i, j) = combine(element(a, i, j), element(b, i, j));
  }
  return matrixOf(allocator_, grid);
}

Anyval* Operators::product(const Anyval* left, const Anyval* right) {
  if (isScalar(left) && isScalar(right)) {
    const auto* a = as<aComplex>(left);
    const auto* b = as<aComplex>(right);
    return scalar(multiply({a->re, a->im}, {b->re, b->im}));
  }
  if (isScalar(left) != isScalar(right) && (isMatrix(left) || isMatrix(right))) {
    const auto* s = as<aComplex>(isScalar(left) ? left : right);
    const aMatrix* m = numbers(isMatrix(left) ? left : right, "'*'");
    const Complex factor{s->re, s->im};
    return mapElements(m, [&](Complex z) { return multiply(factor, z); });
  }
  const bool agree =
      isMatrix(left) && isMatrix(right) && as<aMatrix>(left)->cols == as<aMatrix>(right)->rows;
  if (!agree) {
    throw HostError("'*' needs scalars, or matrices whose inner dimensions agree, not " +
                    operands(left, right));
  }
  const aMatrix* a = numbers(left, "'*'");
  const aMatrix* b = numbers(right, "'*'");
  Grid grid(a->rows, b->cols);
  for (int j = 0; j < b->cols; ++j) {
    stopIfAsked(stop_);
    for (int i = 0; i < a->rows; ++i) {
      Complex total;
      for (int p = 0; p < a->cols; ++p) {
        total = add(total, multiply(element(a, i, p), element(b, p, j)));
      }
      grid.at(i, j) = total;
    }
  }
  return matrixOf(allocator_, grid);
}

Anyval* Operators::quotient(const Anyval* left, const Anyval* right) {
  if (!isScalar(right) || !(isScalar(left) || isMatrix(left))) {
    throw HostError("'/' divides a scalar or a matrix by a scalar, not " + operands(left, right));
  }
  const Complex divisor{as<aComplex>(right)->re, as<aComplex>(right)->im};
  if (isScalar(left)) {
    return scalar(divide({as<aComplex>(left)->re, as<aComplex>(left)->im}, divisor));
  }
  return mapElements(numbers(left, "'/'"), [&](Complex z) { return divide(z, divisor); });
}

Anyval* Operators::power(const Anyval* left, const Anyval* right) {
  if (!isScalar(left) || !isScalar(right)) {
    throw HostError("'^' raises a scalar to a scalar power (and inverts a matrix with ^-1), not " +
                    operands(left, right));
  }
  const auto* a = as<aComplex>(left);
  const auto* b = as<aComplex>(right);
  return scalar(raise({a->re, a->im}, {b->re, b->im}));
}

Anyval* Operators::negate(const Anyval* value) {
  auto flip = [](Complex z) { return subtract({}, z); };
  if (isScalar(value)) {
    return scalar(flip({as<aComplex>(value)->re, as<aComplex>(value)->im}));
  }
  if (!isMatrix(value)) throw HostError("'-' needs a scalar or a matrix, not " + describe(value));
  return mapElements(numbers(value, "'-'"), flip);
}

bool Operators::isHostFunction(std::string_view name) {
  for (const char* host : kHostFunctions) {
    if (name == host) return true;
  }
  return false;
}

Anyval* Operators::hostFunction(std::string_view name, const Anyval* argument) {
  Complex (*f)(Complex) = nullptr;
  if (name == "re") {
    f = [](Complex z) { return Complex{z.re, 0}; };
  } else if (name == "im") {
    f = [](Complex z) { return Complex{z.im, 0}; };
  } else if (name == "conj") {
    f = [](Complex z) { return Complex{z.re, 0 - z.im}; };
  } else if (name == "abs") {
    f = [](Complex z) { return Complex{z.real() ? std::fabs(z.re) : std::hypot(z.re, z.im), 0}; };
  } else {
    f = squareRoot;
  }
  const std::string what(name);
  if (isScalar(argument))
    return scalar(f({as<aComplex>(argument)->re, as<aComplex>(argument)->im}));
  if (!isMatrix(argument)) {
    throw HostError(what + " needs a scalar or a matrix, not " + describe(argument));
  }
  return mapElements(numbers(argument, what), f);
}

Anyval* Operators::matrixLiteral(int rows, int cols, std::span<Anyval* const> elements) {
  bool complex = false;
  bool nested = false;
  for (const Anyval* e : elements) {
    if (isScalar(e)) {
      complex = complex || as<aComplex>(e)->im != 0;
    } else if (isString(e) || isMatrix(e)) {
      nested = true;
    } else {
      throw HostError("a matrix element must be a number, a string or a matrix, not " +
                      describe(e));
    }
  }
  aMatrix* m = allocator_.matrix(rows, cols, true, complex);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      const Anyval* e = elements[size_t(i) * size_t(cols) + size_t(j)];
      if (!isScalar(e)) {
        realPart(m)(i, j) = embedded::make(e);
        continue;
      }
      realPart(m)(i, j) = as<aComplex>(e)->re;
      if (complex) imagPart(m)(i, j) = as<aComplex>(e)->im;
    }
  }
  if (nested) m->flags |= aMatrix::kNested;
  return asValue(m);
}

Anyval* Operators::index(Anyval* target, std::span<Anyval* const> indices, double origin) {
  if (!isMatrix(target)) throw HostError("only a matrix can be indexed, not " + describe(target));
  const aMatrix* m = as<aMatrix>(target);
  if (indices.size() == 1 && m->cols != 1) {
    throw HostError("v[i] needs a column vector, not " + describe(target) + " (use A[i, j])");
  }
  auto position = [&](const Anyval* index, int count, const char* what) {
    const double x = realScalar(index, std::string("the ") + what + " index");
    if (x != std::floor(x)) throw HostError(std::string("the ") + what + " index must be whole");
    const double offset = x - origin;
    if (offset < 0 || offset >= count) {
      char range[160];
      std::snprintf(range, sizeof range, "the %s index %.17g is outside %.17g .. %.17g", what, x,
                    origin, origin + count - 1);
      throw HostError(range);
    }
    return static_cast<int>(offset);
  };
  const int i = position(indices[0], m->rows, "row");
  const int j = indices.size() == 2 ? position(indices[1], m->cols, "column") : 0;
  if (m->re && embedded::is(realPart(m)(i, j))) return embedded::target(realPart(m)(i, j));
  return scalar(element(m, i, j));
}

}  // namespace sheet
