#include "tests/fuzz/call_codec.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "pack/exports.h"
#include "pack/messages.h"
#include "tests/support/values.h"

namespace fuzzing {

namespace {

using testsupport::FpState;
using testsupport::Values;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The numbers a selector byte from 0x80 to 0xBF stands for, in turn.
constexpr double kNotable[] = {
    0.5,
    -0.5,
    2.5,
    0.1,
    1e-11,
    1 + 1e-11,
    1 - 1e-11,
    1e-10,
    1e308,
    -1e308,
    DBL_MAX,
    -DBL_MAX,
    kInfinity,
    -kInfinity,
    kNaN,
    -kNaN,
    DBL_TRUE_MIN,
    -DBL_TRUE_MIN,
    DBL_MIN,
    1e-300,
    2147483648.0,
    -2147483648.0,
    2147483647.0,
    -2147483649.0,
    4294967296.0,
    4096,
    4097,
    8000000,
    8000001,
    1e10,
    -1e10,
    9007199254740992.0,
    1e15,
    -0.0,
    3.141592653589793,
    1e-5,
    1e5,
    0.001,
    2147483647.5,
    64,
    100,
    1e154,
    1e-154,
    1e200,
    -1e200,
    0.25,
    1.0 / 3,
};
constexpr size_t kNotableCount = std::size(kNotable);

constexpr uint8_t kEmbeddedMark = 0xFE;
constexpr int kDeepest = 3;  // levels of values inside values

// The caller's floating-point states the setting byte chooses from: the usual one, 53-bit
// x87 precision, stale flags in MXCSR, and rounding toward zero with denormals flushed.
constexpr FpState kCallerStates[] = {
    {0x037F, 0x1F80}, {0x027F, 0x1F80}, {0x037F, 0x1FBF}, {0x0F7F, 0xFFC0}};

// Messages an error value passed in may carry.
constexpr const char* kErrorMessages[] = {msg::kMustBeReal, msg::kSingularMatrix, msg::kOutOfMemory,
                                          msg::kInterrupted};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint8_t byte() { return next_ < bytes_.size() ? bytes_[next_++] : 0; }

  double number() {
    const uint8_t selector = byte();
    if (selector < 0x80) return selector - 64.0;
    if (selector < 0xC0) return kNotable[(selector - 0x80u) % kNotableCount];
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits |= uint64_t{byte()} << (8 * k);
    // A number must not read as an embedded element: clear the lowest bit of the mark.
    if ((bits & embedded::kMarkMask) == embedded::kMarkMask) {
      bits &= ~(embedded::kMarkMask & (~embedded::kMarkMask + 1));
    }
    return std::bit_cast<double>(bits);
  }

  bool next(uint8_t b) {
    if (next_ < bytes_.size() && bytes_[next_] == b) {
      ++next_;
      return true;
    }
    return false;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t next_ = 0;
};

// A matrix's elements made by a formula of (i, j) and a number c.
double byRule(int formula, int i, int j, double c) {
  switch (formula) {
    case 0:
      return c;
    case 1:
      return i == j ? c : 0.0;
    case 2:
      return i == j ? 64.0 + c : 1.0 / (1 + i + 2 * j);
    case 3:
      return 1.0 / (i + j + 1);
    case 4: {
      uint64_t state = std::bit_cast<uint64_t>(c) ^ (uint64_t(i) * 0x9E3779B97F4A7C15ull) ^
                       (uint64_t(j) * 0xC2B2AE3D27D4EB4Full);
      state ^= state >> 29;
      state *= 0xBF58476D1CE4E5B9ull;
      return double(state >> 11) / 9007199254740992.0 - 0.5;
    }
    case 5:
      return (i + 1.0) * (j + 1.0) * c;
    case 6:
      return i + 3.0 * j + c;
    default:
      return i == j ? 64.0 : (i + j) % 3 == 1 ? c : 0.5;
  }
}

class Decoder {
 public:
  Decoder(std::span<const uint8_t> bytes, sheet::Host& host)
      : in_(bytes), values_(host.allocator, &host.evaluator) {}

  Reader& in() { return in_; }

  Anyval* value(int depth) {
    const uint8_t kind = in_.byte() % 9;
    switch (kind) {
      case 5: {
        const uint32_t tag = in_.byte() & 1 ? kTagFunction : kTagFunction2;
        Anyval* gives = depth < kDeepest ? value(depth + 1) : values_.scalar(1);
        return values_.function([gives](std::span<Anyval* const>) { return gives; }, tag);
      }
      case 6: {
        static sString name{kTagString, "X", 2};
        Anyval* id = values_.record(kTagIdentifier, sizeof(sIdentifier));
        *as<sIdentifier>(id) = sIdentifier{kTagIdentifier, 0, &name, 2};
        return id;
      }
      case 7:
        return values_.record(kTagOpaque, 16);
      case 8: {
        const char* message = kErrorMessages[in_.byte() % std::size(kErrorMessages)];
        return values_.error(message, in_.byte() & 1);
      }
      default:
        return plain(kind, depth);
    }
  }

 private:
  Anyval* string() {
    const size_t length = in_.byte() % 64;
    std::string text;
    for (size_t k = 0; k < length; ++k) {
      const char c = static_cast<char>(in_.byte());
      if (c == '\0') break;
      text += c;
    }
    return values_.string(text.c_str());
  }

  // A value of the kinds a matrix element may refer to: 0 a real and 1 a complex scalar,
  // 2 a string, 3 a spelled-out and 4 a ruled matrix.
  Anyval* plain(uint8_t kind, int depth) {
    switch (kind) {
      case 0:
        return values_.scalar(in_.number());
      case 1: {
        const double re = in_.number();
        return values_.scalar(re, in_.number());
      }
      case 2:
        return string();
      case 3:
        return spelledMatrix(depth);
      default:
        return ruledMatrix();
    }
  }

  // What an embedded element refers to.
  Anyval* element(int depth) {
    if (depth >= kDeepest) return values_.scalar(0);
    return plain(in_.byte() % 5, depth + 1);
  }

  aMatrix* shaped(int rows, int cols, uint8_t layout, int ldExtra) {
    const int parts = layout & 3;  // real, complex, imaginary only, none
    aMatrix* m = values_.blank(rows, cols, parts <= 1, parts == 1 || parts == 2, rows + ldExtra);
    if (layout & 4) m->flags |= aMatrix::kNested;
    return m;
  }

  Anyval* spelledMatrix(int depth) {
    const uint8_t shape = in_.byte();
    const uint8_t layout = in_.byte();
    const int rows = shape & 7, cols = (shape >> 3) & 7;
    aMatrix* m = shaped(rows, cols, uint8_t(layout >> 2), layout & 3);
    if (m->re) {
      for (int j = 0; j < cols; ++j) {
        for (int i = 0; i < rows; ++i) {
          realPart(m)(i, j) =
              in_.next(kEmbeddedMark) ? embedded::make(element(depth)) : in_.number();
        }
      }
    }
    if (m->im) {
      for (int j = 0; j < cols; ++j) {
        for (int i = 0; i < rows; ++i) imagPart(m)(i, j) = in_.number();
      }
    }
    return asValue(m);
  }

  Anyval* ruledMatrix() {
    const int rows = in_.byte() % 64, cols = in_.byte() % 64;
    const uint8_t rule = in_.byte();
    const double c = in_.number();
    aMatrix* m = shaped(rows, cols, rule & 7, 0);
    const int formula = rule >> 3 & 7;
    for (int j = 0; j < cols; ++j) {
      for (int i = 0; i < rows; ++i) {
        if (m->re) realPart(m)(i, j) = embedded::asNumber(byRule(formula, i, j, c));
        if (m->im) imagPart(m)(i, j) = byRule(formula, j, i, c);
      }
    }
    return asValue(m);
  }

  Reader in_;
  Values values_;
};

class Encoder {
 public:
  std::string bytes;

  void byte(uint8_t b) { bytes += static_cast<char>(b); }

  void number(double x) {
    if (x == std::floor(x) && x >= -64 && x <= 63 && !(x == 0 && std::signbit(x))) {
      byte(static_cast<uint8_t>(x + 64));
      return;
    }
    for (size_t k = 0; k < kNotableCount; ++k) {
      if (std::bit_cast<uint64_t>(kNotable[k]) == std::bit_cast<uint64_t>(x)) {
        byte(static_cast<uint8_t>(0x80 + k));
        return;
      }
    }
    byte(0xC0);
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    for (int k = 0; k < 8; ++k) byte(static_cast<uint8_t>(bits >> (8 * k)));
  }

  bool value(const Anyval* v, int depth) {
    switch (v->tag) {
      case kTagScalar:
        return scalar(*as<aComplex>(v));
      case kTagString:
        byte(2);
        string(*as<aString>(v));
        return true;
      case kTagMatrix:
        return matrix(*as<aMatrix>(v), depth);
      case kTagFunction:
      case kTagFunction2:
        // The host's own functions: one that gives 1.
        byte(5);
        byte(0);
        byte(0);
        number(1);
        return true;
      default:
        return false;
    }
  }

 private:
  bool scalar(const aComplex& z) {
    if (z.im == 0.0 && !std::signbit(z.im)) {
      byte(0);
      number(z.re);
    } else {
      byte(1);
      number(z.re);
      number(z.im);
    }
    return true;
  }

  void string(const aString& s) {
    const size_t length = std::min<size_t>(std::strlen(s.text), 63);
    byte(static_cast<uint8_t>(length));
    for (size_t k = 0; k < length; ++k) byte(static_cast<uint8_t>(s.text[k]));
  }

  bool matrix(const aMatrix& m, int depth) {
    if (m.rows > 7 || m.cols > 7 || depth >= kDeepest) return false;
    const int parts = m.re && m.im ? 1 : m.re ? 0 : m.im ? 2 : 3;
    const int ldExtra = std::min(m.ld - m.rows, 3);
    byte(3);
    byte(static_cast<uint8_t>(m.rows | m.cols << 3));
    byte(static_cast<uint8_t>(ldExtra | parts << 2 | (m.nested() ? 16 : 0)));
    if (m.re) {
      for (int j = 0; j < m.cols; ++j) {
        for (int i = 0; i < m.rows; ++i) {
          const double x = realPart(&m)(i, j);
          if (!embedded::is(x)) {
            number(x);
            continue;
          }
          byte(kEmbeddedMark);
          const Anyval* target = embedded::target(x);
          if (isScalar(target)) {
            const aComplex& z = *as<aComplex>(target);
            byte(1);
            number(z.re);
            number(z.im);
          } else if (isString(target)) {
            byte(2);
            string(*as<aString>(target));
          } else if (isMatrix(target)) {
            if (!matrix(*as<aMatrix>(target), depth + 1)) return false;
          } else {
            return false;
          }
        }
      }
    }
    if (m.im) {
      for (int j = 0; j < m.cols; ++j) {
        for (int i = 0; i < m.rows; ++i) number(imagPart(&m)(i, j));
      }
    }
    return true;
  }
};

}  // namespace

std::optional<DecodedCall> decodeCall(std::span<const uint8_t> bytes, sheet::Host& host) {
  Decoder decoder(bytes, host);
  Reader& in = decoder.in();
  DecodedCall call;
  call.row = in.byte() % numFuncs;
  const sFunctionDescriptor& row = theUfn[call.row];
  if (!row.entry) return std::nullopt;
  const uint8_t setting = in.byte();
  call.caller = kCallerStates[setting & 3];
  switch (setting >> 2 & 7) {
    case 1:
      call.fault = Fault::kHostNegative;
      break;
    case 2:
      call.fault = Fault::kHostNull;
      break;
    case 3:
      call.fault = Fault::kScratch;
      break;
    case 4:
      call.fault = Fault::kInterrupt;
      break;
    default:
      break;
  }
  call.faultAt = in.byte() + 1;
  const uint8_t counted = in.byte() % 16;
  Values values(host.allocator, &host.evaluator);
  call.tol = values.scalar(in.number());
  call.origin = values.scalar(in.number());
  int appended = 0;
  for (const sCons* cell = row.dependencies; cell; cell = cell->cdr) ++appended;
  const int32_t taken = row.signature->arguments;
  const int count = taken == sFunctionInfo::kVariadic ? counted : taken - appended;
  for (int k = 0; k < count; ++k) call.arguments.push_back(decoder.value(0));
  return call;
}

std::optional<std::string> encodeCall(int row, std::span<Anyval* const> arguments, Anyval* tol,
                                      Anyval* origin) {
  Encoder out;
  out.byte(static_cast<uint8_t>(row));
  out.byte(0);
  out.byte(0);
  out.byte(static_cast<uint8_t>(arguments.size()));
  out.number(tol && isScalar(tol) ? as<aComplex>(tol)->re : 0.001);
  out.number(origin && isScalar(origin) ? as<aComplex>(origin)->re : 0.0);
  for (const Anyval* argument : arguments) {
    if (!out.value(argument, 0)) return std::nullopt;
  }
  return out.bytes;
}

}  // namespace fuzzing
