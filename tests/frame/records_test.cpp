#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "host/embedded.h"
#include "host/part_view.h"

namespace {

TEST(EmbeddedElement, RoundTripsTheAddressAndIsRecognised) {
  aString text{kTagString, "abc", 3};
  const double slot = embedded::make(asValue(&text));
  EXPECT_TRUE(embedded::is(slot));
  EXPECT_EQ(embedded::target(slot), asValue(&text));
}

TEST(EmbeddedElement, UsesTheHostsBitPattern) {
  aString text{kTagString, "abc", 3};
  const uint64_t bits = std::bit_cast<uint64_t>(embedded::make(asValue(&text)));
  const auto address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&text));
  if (sizeof(void*) == 4) {
    EXPECT_EQ(bits, 0xFFFFFFFF00000000ull | address);
  } else {
    EXPECT_EQ(bits, 0xFFFF000000000000ull | address);
  }
}

TEST(EmbeddedElement, NumbersAreNotEmbedded) {
  const double numbers[] = {0.0,
                            -0.0,
                            1.5,
                            -1e308,
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            -std::numeric_limits<double>::quiet_NaN()};
  for (double x : numbers) EXPECT_FALSE(embedded::is(x)) << x;
}

TEST(EmbeddedElement, KeepNumbersUnmarksEveryMarkedNaNAndLeavesTheRest) {
  aString text{kTagString, "abc", 3};
  const double marked = embedded::make(asValue(&text));
  // Counts around the scan's pairs and stretches, a marked NaN at each place that ends one.
  for (size_t count : {1u, 2u, 3u, 31u, 32u, 33u, 64u, 67u}) {
    for (size_t at : {size_t{0}, count / 2, count - 1}) {
      std::vector<double> part(count, 1.5);
      part[at] = marked;
      if (count > 2) part[(at + 1) % count] = std::numeric_limits<double>::quiet_NaN();
      embedded::keepNumbers(part.data(), count);
      for (size_t k = 0; k < count; ++k) {
        EXPECT_FALSE(embedded::is(part[k])) << count << " numbers, marked at " << at;
      }
      EXPECT_TRUE(std::isnan(part[at])) << "the marked slot stays a NaN";
      EXPECT_EQ(std::count(part.begin(), part.end(), 1.5),
                ptrdiff_t(count > 2 ? count - 2 : count - 1));
    }
  }
}

TEST(PartView, ReachesElementsThroughTheLeadingDimension) {
  double data[] = {1, 2, -1, 3, 4, -1};  // 2 x 2 with ld 3
  aMatrix m{kTagMatrix, 3, sizeof data, 0, data, nullptr, 2, 2, 1, 0};
  const PartView re = realPart(&m);
  EXPECT_EQ(re(1, 0), 2);
  EXPECT_EQ(re(0, 1), 3);
  EXPECT_EQ(re(1, 1), 4);
  EXPECT_FALSE(imagPart(&m));
}

}  // namespace
