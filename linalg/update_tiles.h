// The register tiles behind linalg/update.h, written once over the vector width: included by
// update.cpp for SSE2 (2 lanes) and by update_avx2.cpp, compiled for AVX2, for 4 lanes. Each
// includer gets its own copy (internal linkage) and names its entry points itself.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "linalg/update.h"

namespace {

// W doubles side by side in one vector register (GCC's vector extensions: arithmetic on them
// is lane by lane, and with contraction off a product followed by a difference stays two
// operations).
typedef double Vector2 __attribute__((vector_size(16)));
template <int W>
struct VectorOf;
template <>
struct VectorOf<2> {
  using Type = Vector2;
  static Type broadcast(double x) { return Type{x, x}; }
};
#if defined(__AVX2__)
typedef double Vector4 __attribute__((vector_size(32)));
template <>
struct VectorOf<4> {
  using Type = Vector4;
  static Type broadcast(double x) { return Type{x, x, x, x}; }
};
#endif

template <int W>
struct Lanes {
  using Vector = typename VectorOf<W>::Type;
  static Vector load(const double* p) {
    Vector v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
  }
  static void store(double* p, Vector v) { __builtin_memcpy(p, &v, sizeof v); }
  static Vector broadcast(double x) { return VectorOf<W>::broadcast(x); }
};

// One tile of MV * W rows and NR columns of C, every step applied while it is held.
template <int W, int MV, int NR>
inline void realTile(double* c, int32_t ldc, const double* a, int32_t lda, const double* b,
                     int32_t ldb, int32_t depth) {
  using L = Lanes<W>;
  typename L::Vector acc[NR][MV];
  for (int r = 0; r < NR; ++r) {
    for (int v = 0; v < MV; ++v) acc[r][v] = L::load(c + r * ldc + v * W);
  }
  for (int32_t s = 0; s < depth; ++s) {
    typename L::Vector column[MV];
    for (int v = 0; v < MV; ++v) column[v] = L::load(a + ptrdiff_t{s} * lda + v * W);
    for (int r = 0; r < NR; ++r) {
      const typename L::Vector factor = L::broadcast(b[s + r * ldb]);
      for (int v = 0; v < MV; ++v) acc[r][v] = acc[r][v] - column[v] * factor;
    }
  }
  for (int r = 0; r < NR; ++r) {
    for (int v = 0; v < MV; ++v) L::store(c + r * ldc + v * W, acc[r][v]);
  }
}

// The same for one element, for the rows and columns the tiles leave.
inline void realElement(double* c, const double* a, int32_t lda, const double* b, int32_t depth) {
  double x = *c;
  for (int32_t s = 0; s < depth; ++s) x = x - a[ptrdiff_t{s} * lda] * b[s];
  *c = x;
}

// The steps in chunks of kDepth, ascending, so that a tile's rows of A stay in the nearest
// cache while it meets every column block of B (a tile of 8 rows: 8 KB of A, or 12 KB where
// its rows straddle cache lines, beside 4 KB of B); C's elements are stored between chunks,
// exactly.
constexpr int32_t kDepth = 128;

// Rows of C per block, a multiple of every tile height, so that only the last block has
// rows the tallest tiles leave.
constexpr int32_t kBlockRows = 256;

// Up to this many columns of C, each tile walks across all of them: its rows of A (at
// most kDepth steps) stay in the first-level cache, and B, that narrow, in the second.
// Wider, each strip of columns walks down the block instead: the strip's columns of B
// stay in the first-level cache, the block's rows of A in the second, and C is read down
// its columns.
constexpr int32_t kNarrowColumns = 64;

// Visits the rows top .. bottom-1 of every column of C: tiles of MV * W rows by NR columns
// (then by one column where fewer than NR are left), then the rows left over with tiles
// half as high, down to one vector, and single elements for the last few rows.
// tile(height, width, i, j) gets the tile's height in vectors and width in columns as
// std::integral_constant values.
template <int W, int MV, int NR, class Tile, class Element>
void visitBlock(int32_t top, int32_t bottom, int32_t cols, Tile& tile, Element& element) {
  constexpr int32_t kRows = MV * W;
  const int32_t end = top + (bottom - top) / kRows * kRows;
  const int32_t whole = cols / NR * NR;  // columns in strips of NR
  const std::integral_constant<int, MV> height;
  const std::integral_constant<int, NR> strip;
  const std::integral_constant<int, 1> single;
  if (cols <= kNarrowColumns) {
    for (int32_t i = top; i < end; i += kRows) {
      for (int32_t j = 0; j < whole; j += NR) tile(height, strip, i, j);
      for (int32_t j = whole; j < cols; ++j) tile(height, single, i, j);
    }
  } else {
    for (int32_t j = 0; j < whole; j += NR) {
      for (int32_t i = top; i < end; i += kRows) tile(height, strip, i, j);
    }
    for (int32_t j = whole; j < cols; ++j) {
      for (int32_t i = top; i < end; i += kRows) tile(height, single, i, j);
    }
  }
  if constexpr (MV > 1) {
    visitBlock<W, MV / 2, NR>(end, bottom, cols, tile, element);
  } else {
    for (int32_t j = 0; j < cols; ++j) {
      for (int32_t i = end; i < bottom; ++i) element(i, j);
    }
  }
}

// Visits all rows of every column of C, block by block.
template <int W, int MV, int NR, class Tile, class Element>
void visitTiles(int32_t rows, int32_t cols, Tile tile, Element element) {
  static_assert(kBlockRows % (MV * W) == 0);
  for (int32_t top = 0; top < rows; top += kBlockRows) {
    visitBlock<W, MV, NR>(top, std::min(top + kBlockRows, rows), cols, tile, element);
  }
}

// C -= A B for all of C, over steps already offset into A and B.
template <int W, int MV, int NR>
void realRows(double* c, int32_t ldc, const double* a, int32_t lda, const double* b, int32_t ldb,
              int32_t rows, int32_t cols, int32_t depth) {
  visitTiles<W, MV, NR>(
      rows, cols,
      [&](auto height, auto width, int32_t i, int32_t j) {
        realTile<W, decltype(height)::value, decltype(width)::value>(
            c + i + ptrdiff_t{j} * ldc, ldc, a + i, lda, b + ptrdiff_t{j} * ldb, ldb, depth);
      },
      [&](int32_t i, int32_t j) {
        realElement(c + i + ptrdiff_t{j} * ldc, a + i, lda, b + ptrdiff_t{j} * ldb, depth);
      });
}

// C -= A B with tiles of MV * W rows by NR columns. A single column (a row of U seen
// transposed, or one entry of many solutions) gets taller tiles, so that enough sums are in
// flight.
template <int W, int MV, int NR, int kColumnMV>
void realProduct(double* c, int32_t ldc, const double* a, int32_t lda, const double* b, int32_t ldb,
                 int32_t rows, int32_t cols, int32_t depth) {
  for (int32_t s0 = 0; s0 < depth; s0 += kDepth) {
    const int32_t steps = std::min(kDepth, depth - s0);
    const double* as = a + ptrdiff_t{s0} * lda;
    const double* bs = b + s0;
    if (cols == 1) {
      realRows<W, kColumnMV, 1>(c, ldc, as, lda, bs, ldb, rows, 1, steps);
    } else {
      realRows<W, MV, NR>(c, ldc, as, lda, bs, ldb, rows, cols, steps);
    }
  }
}

// The complex tile: products (lr ur - li ui, li ur + lr ui), then the differences.
template <int W, int MV, int NR>
inline void complexTile(double* cr, double* ci, int32_t ldc, const double* ar, const double* ai,
                        int32_t lda, const double* br, const double* bi, int32_t ldb,
                        int32_t depth) {
  using L = Lanes<W>;
  typename L::Vector accRe[NR][MV], accIm[NR][MV];
  for (int r = 0; r < NR; ++r) {
    for (int v = 0; v < MV; ++v) {
      accRe[r][v] = L::load(cr + r * ldc + v * W);
      accIm[r][v] = L::load(ci + r * ldc + v * W);
    }
  }
  for (int32_t s = 0; s < depth; ++s) {
    typename L::Vector lr[MV], li[MV];
    for (int v = 0; v < MV; ++v) {
      lr[v] = L::load(ar + ptrdiff_t{s} * lda + v * W);
      li[v] = L::load(ai + ptrdiff_t{s} * lda + v * W);
    }
    for (int r = 0; r < NR; ++r) {
      const typename L::Vector ur = L::broadcast(br[s + r * ldb]);
      const typename L::Vector ui = L::broadcast(bi[s + r * ldb]);
      for (int v = 0; v < MV; ++v) {
        const typename L::Vector productRe = lr[v] * ur - li[v] * ui;
        const typename L::Vector productIm = li[v] * ur + lr[v] * ui;
        accRe[r][v] = accRe[r][v] - productRe;
        accIm[r][v] = accIm[r][v] - productIm;
      }
    }
  }
  for (int r = 0; r < NR; ++r) {
    for (int v = 0; v < MV; ++v) {
      L::store(cr + r * ldc + v * W, accRe[r][v]);
      L::store(ci + r * ldc + v * W, accIm[r][v]);
    }
  }
}

inline void complexElement(double* cr, double* ci, const double* ar, const double* ai, int32_t lda,
                           const double* br, const double* bi, int32_t depth) {
  double xr = *cr, xi = *ci;
  for (int32_t s = 0; s < depth; ++s) {
    const double lr = ar[ptrdiff_t{s} * lda], li = ai[ptrdiff_t{s} * lda];
    const double productRe = lr * br[s] - li * bi[s];
    const double productIm = li * br[s] + lr * bi[s];
    xr = xr - productRe;
    xi = xi - productIm;
  }
  *cr = xr;
  *ci = xi;
}

template <int W, int MV, int NR>
void complexRows(linalg::SplitColumn c, int32_t ldc, linalg::SplitColumn a, int32_t lda,
                 linalg::SplitColumn b, int32_t ldb, int32_t rows, int32_t cols, int32_t depth) {
  visitTiles<W, MV, NR>(
      rows, cols,
      [&](auto height, auto width, int32_t i, int32_t j) {
        const ptrdiff_t at = i + ptrdiff_t{j} * ldc, bt = ptrdiff_t{j} * ldb;
        complexTile<W, decltype(height)::value, decltype(width)::value>(
            c.re + at, c.im + at, ldc, a.re + i, a.im + i, lda, b.re + bt, b.im + bt, ldb, depth);
      },
      [&](int32_t i, int32_t j) {
        const ptrdiff_t at = i + ptrdiff_t{j} * ldc, bt = ptrdiff_t{j} * ldb;
        complexElement(c.re + at, c.im + at, a.re + i, a.im + i, lda, b.re + bt, b.im + bt, depth);
      });
}

template <int W, int MV, int NR, int kColumnMV>
void complexProduct(linalg::SplitColumn c, int32_t ldc, linalg::SplitColumn a, int32_t lda,
                    linalg::SplitColumn b, int32_t ldb, int32_t rows, int32_t cols, int32_t depth) {
  for (int32_t s0 = 0; s0 < depth; s0 += kDepth) {
    const int32_t steps = std::min(kDepth, depth - s0);
    const linalg::SplitColumn as = a + ptrdiff_t{s0} * lda, bs = b + s0;
    if (cols == 1) {
      complexRows<W, kColumnMV, 1>(c, ldc, as, lda, bs, ldb, rows, 1, steps);
    } else {
      complexRows<W, MV, NR>(c, ldc, as, lda, bs, ldb, rows, cols, steps);
    }
  }
}

}  // namespace
