// Every message the pack reports, in one place. The texts are what worksheet users see
// and what other host components compare against; they are kept exactly as the host
// knows them, including "may not be nesetd".
#pragma once

namespace msg {

// Argument kinds.
inline constexpr const char* kMustBeArray = "must be array";
inline constexpr const char* kMustBeVector = "must be vector";
inline constexpr const char* kNonScalarValue = "non-scalar value";
inline constexpr const char* kMustBeFunction = "must be function";
inline constexpr const char* kStringScalarOrArray = "UfnMustBeStringScalarOrArray";
inline constexpr const char* kStringOrScalar = "UfnMustBeStringOrScalar";
inline constexpr const char* kIllegalContext = "illegal context";

// Shapes, realness and nesting.
inline constexpr const char* kMustBeSquare = "must be square";
inline constexpr const char* kMustBeReal = "must be real";
inline constexpr const char* kMayNotBeNested = "may not be nested";
inline constexpr const char* kMayNotBeNestedMinMax = "may not be nesetd";
inline constexpr const char* kCannotMixScalarAndString =
    "cannot mix scalar and string for this function";
inline constexpr const char* kArraySizeMismatch = "array size mismatch";
inline constexpr const char* kArgumentDimensionMismatch = "argument dimension mismatch";
inline constexpr const char* kTooFewArguments = "too few arguments";
inline constexpr const char* kIncompatibleDimension = "incompatible dimension";
inline constexpr const char* kIncompatibleDimensions = "incompatible dimensions";
inline constexpr const char* kRowsLessThanColumns = "number of rows less than number of columns";

// Values.
inline constexpr const char* kMustBeInteger = "must be integer";
inline constexpr const char* kMustBePositive = "must be positive";
inline constexpr const char* kSizeTooLarge = "size too large";
inline constexpr const char* kDomainError = "domain error";
inline constexpr const char* kIncorrectColumnDimensions = "incorrect column dimensions";
inline constexpr const char* kInvalidIndex = "invalid index";
inline constexpr const char* kUpperIndexOutOfBounds = "upper index out of bounds";
inline constexpr const char* kIntegerTooLarge = "integer too large";
inline constexpr const char* kInvalidDimension = "invalid dimension";
inline constexpr const char* kIndexOutOfBounds = "index out of bounds";
inline constexpr const char* kNoMatch = "no match";

// The kinds the lookup functions expect of a value, reported as the message when the
// value is of another kind.
inline constexpr const char* kExpectedInt = "int";
inline constexpr const char* kExpectedMatrix = "matrix[value]";
inline constexpr const char* kExpectedNumericMatrix = "matrix[complex]";
inline constexpr const char* kExpectedStringMatrix = "matrix[string]";

// Numerical outcomes.
inline constexpr const char* kSingularMatrix = "singular matrix";
inline constexpr const char* kNullPointer = "PPnullPtr";
inline constexpr const char* kUnknownError = "Unknown error";
inline constexpr const char* kNonPositiveDefinite = "non-positive definite matrix";
inline constexpr const char* kQrRotation = "ERR_QRFAC_5";
inline constexpr const char* kInterrupted = "interrupted";
inline constexpr const char* kTooManyIterations = "too many iterations";
inline constexpr const char* kOverflow = "overflow";
inline constexpr const char* kNullMatrixOrVector = "Null matrix or vector pointer.";
inline constexpr const char* kSingularity = "singularity";
inline constexpr const char* kNotConverging = "not converging";
inline constexpr const char* kNoSolutionFound = "no solution found";
inline constexpr const char* kFloatingPointError = "floating point error";

// Memory.
inline constexpr const char* kOutOfMemory = "out of memory";
inline constexpr const char* kHostAllocationFailed = "gc: memory allocation failed";

}  // namespace msg
