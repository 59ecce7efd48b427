// Bytes <-> one call of a table row with arbitrary host values, for the structured fuzz
// target. Any byte string decodes to a call; the encoder writes the calls the golden sheets
// make as seeds.
//
//   call     row (mod 41), setting, fault count, argument count (counted rows only),
//            TOL, ORIGIN, then each argument as a value
//   setting  bits 0-1 the caller's floating-point state, bits 2-4 a fault: none, the nth
//            host allocation failing (negative or null), the nth scratch allocation
//            failing, the user's request to stop at the nth poll (n = fault count + 1)
//   value    a kind byte, then
//              0 real scalar: number            1 complex scalar: two numbers
//              2 string: length (0-63), text    3 matrix, spelled out: shape byte (rows and
//              columns 0-7), layout byte (leading dimension beyond rows 0-3, parts: real,
//              complex, imaginary only, none; nested flag), then each element column by
//              column: the real part (a number, or 0xFE and an embedded value: a scalar, a
//              string or a matrix), then the imaginary parts
//              4 matrix, made by rule: rows and columns (0-63 each), a rule byte (parts,
//              nested flag, which formula) and a number the formula uses
//              5 function value (kind bit, and the value it gives)
//              6 identifier   7 opaque value   8 error value (message, position 0 or 1)
//   number   a byte: below 0x80 a whole number from -64 to 63; up to 0xBF one of a list of
//            notable numbers (0.5, 1e308, NaN, the infinities, the denormal, 2^31, ...);
//            from 0xC0 the 8 bytes of a double follow (one that would read as an embedded
//            element has a bit cleared)
// Data that runs out reads as zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sheet/host.h"
#include "tests/support/call_checks.h"

namespace fuzzing {

enum class Fault { kNone, kHostNegative, kHostNull, kScratch, kInterrupt };

// A decoded call, its values built on a host.
struct DecodedCall {
  int row = 0;
  testsupport::FpState caller{};
  Fault fault = Fault::kNone;
  long faultAt = 0;
  std::vector<Anyval*> arguments;
  Anyval* tol = nullptr;
  Anyval* origin = nullptr;
};

// The call the bytes stand for, its values built on `host`; nothing when the row has no
// entry.
std::optional<DecodedCall> decodeCall(std::span<const uint8_t> bytes, sheet::Host& host);

// The bytes of a call of `row` with these values, no fault and the usual caller state;
// nothing when a value cannot be written (a function of the host's, or a matrix larger than
// the spelled-out kind allows).
std::optional<std::string> encodeCall(int row, std::span<Anyval* const> arguments, Anyval* tol,
                                      Anyval* origin);

}  // namespace fuzzing
