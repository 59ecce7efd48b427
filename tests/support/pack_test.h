// A test fixture that plays the host: builds argument values through the stand-in
// allocator, calls table rows through the loader on the linked-in pack, and holds every
// call to the checks of tests/support/call_checks.h.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "pack/exports.h"
#include "sheet/host.h"
#include "sheet/loader.h"
#include "tests/support/call_checks.h"
#include "tests/support/values.h"

namespace testsupport {

class PackTest : public ::testing::Test {
 protected:
  PackTest();

  // Calls the worksheet function `name` with TOL and ORIGIN as set below, through
  // checkedCall; every problem it finds fails the test.
  Anyval* call(const char* name, std::vector<Anyval*> args);

  void setTol(double tol) { tol_ = values.scalar(tol); }
  void setOrigin(double origin) { origin_ = values.scalar(origin); }

  sheet::Host host;
  Values values{host.allocator, &host.evaluator};
  sheet::PackLibrary pack;

 private:
  Anyval* tol_;
  Anyval* origin_;
};

// Expects an error value with this message and position pair.
#define EXPECT_ERROR(value, message, first, position)   \
  do {                                                  \
    const Anyval* v_ = (value);                         \
    ASSERT_EQ(v_->tag, kTagError);                      \
    EXPECT_EQ(::testsupport::messageOf(v_), message);   \
    EXPECT_EQ(::testsupport::firstOf(v_), first);       \
    EXPECT_EQ(::testsupport::positionOf(v_), position); \
  } while (0)

// Expects a real scalar with this value.
#define EXPECT_REAL_SCALAR(value, expected)    \
  do {                                         \
    const Anyval* v_ = (value);                \
    ASSERT_EQ(v_->tag, kTagScalar);            \
    EXPECT_EQ(as<aComplex>(v_)->re, expected); \
    EXPECT_EQ(as<aComplex>(v_)->im, 0.0);      \
  } while (0)

}  // namespace testsupport
