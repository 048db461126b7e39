#include "grid/GridArithmetic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "common/Parallel.h"
#include "grid/Lattice.h"
#include "grid/Surface.h"

namespace vellumar::grid {

namespace {

// Lattices larger than this cannot be indexed by the 32-bit counts of a grid or held in memory.

bool isArithmetic(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add:
    case BinaryOp::Subtract:
    case BinaryOp::Multiply:
    case BinaryOp::Divide:
    case BinaryOp::MultiplySignKeeping:
    case BinaryOp::Min:
    case BinaryOp::Max:
      return true;
    default:
      return false;
  }
}

bool isLogical(BinaryOp op) {
  return op == BinaryOp::And || op == BinaryOp::Or;
}

// Grid-by-grid arithmetic on one pair of values; a zero divisor gives the large value.
double arithmetic(BinaryOp op, double a, double b) {
  if (op == BinaryOp::Divide) return b == 0.0 ? kGridDivisionByZeroValue : a / b;
  return applyBinary(op, a, b);
}

// What a kernel knows of the blanks of the values it reads.
enum class Blanks { None, Unknown, Some };

// out[k] = f(a[k], b[k]) over n values (out apart from a and b), with the operation chosen once
// outside the loop; blank where either value is blank. Where blanks are not known either way, the
// loop looks for candidates on the way (mayBeBlank), and values that have one are gone over again
// to tell blanks apart. Returns whether there were candidates (always so when known to be some).
template <Blanks Known, class F>
bool zipInto(const double* a, const double* b, double* out, std::size_t n, F f) {
  if constexpr (Known == Blanks::None) {
    for (std::size_t k = 0; k < n; ++k) out[k] = f(a[k], b[k]);
    return false;
  } else if constexpr (Known == Blanks::Some) {
    for (std::size_t k = 0; k < n; ++k) {
      const double x = a[k];
      const double y = b[k];
      const double v = f(x, y);
      out[k] = isBlank(x) | isBlank(y) ? kBlankValue : v;  // a select, no branch
    }
    return true;
  } else {
    std::uint32_t suspect = 0;  // an integer, so that the loop runs on whole vectors
    for (std::size_t k = 0; k < n; ++k) {
      const double x = a[k];
      const double y = b[k];
      out[k] = f(x, y);
      suspect |=
          static_cast<std::uint32_t>(mayBeBlank(x)) | static_cast<std::uint32_t>(mayBeBlank(y));
    }
    if (suspect == 0) return false;
    for (std::size_t k = 0; k < n; ++k) {
      out[k] = isBlank(a[k]) | isBlank(b[k]) ? kBlankValue : out[k];
    }
    return true;
  }
}

// f of one node, or blank for a blank node.
template <class F>
double unlessBlank(double v, F f) {
  return isBlank(v) ? kBlankValue : f(v);
}

template <Blanks Known>
bool combineValues(BinaryOp op, const double* a, const double* b, double* out, std::size_t n) {
  switch (op) {
    case BinaryOp::Add:
      return zipInto<Known>(a, b, out, n, [](double x, double y) { return x + y; });
    case BinaryOp::Subtract:
      return zipInto<Known>(a, b, out, n, [](double x, double y) { return x - y; });
    case BinaryOp::Multiply:
      return zipInto<Known>(a, b, out, n, [](double x, double y) { return x * y; });
    default:
      return zipInto<Known>(a, b, out, n,
                            [op](double x, double y) { return arithmetic(op, x, y); });
  }
}

// combineValues in cache-sized pieces, adding each piece to range while it is still in cache.
// Returns whether a or b held a candidate for a blank (false: neither holds a blank).
bool combineValues(BinaryOp op, const double* a, const double* b, double* out, std::size_t n,
                   Range& range, Blanks known) {
  constexpr std::size_t kPiece = 2048;
  bool candidates = false;
  for (std::size_t start = 0; start < n; start += kPiece) {
    const std::size_t count = std::min(kPiece, n - start);
    const double* x = a + start;
    const double* y = b + start;
    double* to = out + start;
    switch (known) {
      case Blanks::None:
        combineValues<Blanks::None>(op, x, y, to, count);
        break;
      case Blanks::Unknown:
        candidates |= combineValues<Blanks::Unknown>(op, x, y, to, count);
        break;
      case Blanks::Some:
        candidates |= combineValues<Blanks::Some>(op, x, y, to, count);
        break;
    }
    range.add(rangeOf({to, count}));
  }
  return candidates;
}

// What node-wise blocks found out: the range of their results and whether an operand held a
// candidate for a blank.
struct CombinedBlocks {
  Range range;
  bool candidates = false;
  static CombinedBlocks merge(CombinedBlocks total, const CombinedBlocks& block) {
    total.range.add(block.range);
    total.candidates |= block.candidates;
    return total;
  }
};

// A block's range added to the ranges before it.
Range widened(Range total, const Range& block) {
  total.add(block);
  return total;
}

// The first node in column order at which a function left its domain (status Ok: none).
struct FirstFailure {
  std::size_t i;
  std::size_t j;
  DomainStatus status;
  static FirstFailure earlier(const FirstFailure& a, const FirstFailure& b) {
    if (b.status == DomainStatus::Ok) return a;
    if (a.status == DomainStatus::Ok) return b;
    return (b.i < a.i || (b.i == a.i && b.j < a.j)) ? b : a;
  }
};

// What is known of the blanks of two grids, without scanning them.
Blanks knownBlanks(const Grid& a, const Grid& b) {
  if (a.knownWithoutBlanks() && b.knownWithoutBlanks()) return Blanks::None;
  return a.knownToHaveBlanks() || b.knownToHaveBlanks() ? Blanks::Some : Blanks::Unknown;
}

// The surface value at a node of the grid's own lattice. Mathematically the spline (and the
// bilinear interpolant) reproduces the node exactly; evaluating it would only add the rounding of
// the spline solve, which turns zero nodes into tiny non-zero values (so that Ln or N / G of a
// zero node would pass unnoticed) and Equal into noise. The stored value is that exact value.
NodeVector surfaceAtNodes(const Grid& grid) {
  const std::span<const double> nodes = grid.nodes();
  NodeVector copy(nodes.size());
  parallel::forEachBlock(nodes.size(), [&](std::size_t begin, std::size_t end) {
    std::copy(nodes.begin() + begin, nodes.begin() + end, copy.begin() + begin);
  });
  return copy;
}

// ---- common lattice of two grids ----

// The smaller positive step of the two (b's when equal); 0 when neither is positive.
double finerStep(double a, double b) {
  if (!(a > 0.0)) return b > 0.0 ? b : 0.0;
  if (!(b > 0.0)) return a;
  return a < b ? a : b;
}

// Shrinks the common rectangle so that its nodes lie on a lattice of near-square cells.
void trimLattice(Lattice& lattice, double w, double h, double sx, double sy, int n, int m) {
  const double p = std::trunc(w / sy);
  const double q = std::trunc(h / sx);
  const double rw = w - p * sy;
  const double rh = h - q * sx;
  const double areaW = rw * h;
  const double areaH = rh * w;
  lattice.nx = n;
  lattice.ny = m;
  if (areaW == 0.0 && areaH == 0.0) return;
  // Counts below two would leave an axis without a step; such lattices keep the full n x m.
  if (areaH > areaW) {
    if (p < 2.0 || p * m > mostNodes()) return;
    lattice.left += rw / 2;
    lattice.right -= rw / 2;
    lattice.nx = static_cast<int>(p);
  } else {
    if (q < 2.0 || q * n > mostNodes()) return;
    lattice.bottom += rh / 2;
    lattice.top -= rh / 2;
    lattice.ny = static_cast<int>(q);
  }
}

// Lattice over the intersection of two different rectangles; false when it has no nodes. Sets
// code 201 when the lattice the steps ask for is too large to build.
bool intersectionLattice(const Lattice& a, const Lattice& b, Lattice& lattice, ErrorSink& sink) {
  Lattice& r = lattice;
  r.left = std::max(a.left, b.left);
  r.right = std::min(a.right, b.right);
  r.bottom = std::max(a.bottom, b.bottom);
  r.top = std::min(a.top, b.top);
  if (r.left > r.right || r.bottom > r.top) {  // disjoint: the first grid's rectangle
    r.left = a.left;
    r.right = a.right;
    r.bottom = a.bottom;
    r.top = a.top;
  }
  if (!(r.right > r.left && r.top > r.bottom)) return false;
  const double w = r.right - r.left;
  const double h = r.top - r.bottom;
  const double hx = finerStep(a.stepX(), b.stepX());
  const double hy = finerStep(a.stepY(), b.stepY());
  if (hx == 0.0 || hy == 0.0) return false;
  const double n = std::max(2.0, std::trunc(w / hx + 1));
  const double m = std::max(2.0, std::trunc(h / hy + 1));
  if (!(n * m <= mostNodes())) {
    sink.kernelError(sink_code::kGridMismatch);
    return false;
  }
  trimLattice(lattice, w, h, w / (n - 1), h / (m - 1), static_cast<int>(n), static_cast<int>(m));
  return true;
}

Interpolation commonMode(const Grid& a, const Grid& b) {
  return a.mode() == Interpolation::Bilinear || b.mode() == Interpolation::Bilinear
             ? Interpolation::Bilinear
             : Interpolation::Spline;
}

// Node by node over two grids of the same counts, into out; false when cancelled.
bool combineSameNodes(const Grid& a, const Grid& b, BinaryOp op, NodeVector& out,
                      ProgressPacer& pacer, CombinedBlocks& news) {
  const Blanks known = knownBlanks(a, b);
  const double* left = a.nodes().data();
  const double* right = b.nodes().data();
  return parallel::reduceBlocks(
      out.size(), pacer, news,
      [&](std::size_t begin, std::size_t end) {
        CombinedBlocks block;
        block.candidates = combineValues(op, left + begin, right + begin, out.data() + begin,
                                         end - begin, block.range, known);
        return block;
      },
      CombinedBlocks::merge);
}

// The nodes of target with the surface of other read at them, row by row, into out (other is
// the left operand when otherLeft); false when cancelled.
bool combineThroughSurface(const Grid& target, const Grid& other, bool otherLeft, BinaryOp op,
                           NodeVector& out, ProgressPacer& pacer, CombinedBlocks& news) {
  const std::size_t nx = static_cast<std::size_t>(target.nx());
  const SurfaceSampler sampler(other, target.nodeXs());
  other.hasBlanks();  // settled by the sampler's spline solve (or one scan in bilinear mode)
  const Blanks known = knownBlanks(other, target);
  return parallel::reduceRowBlocks(
      static_cast<std::size_t>(target.ny()), nx, pacer, news,
      [&](std::size_t rowBegin, std::size_t rowEnd) {
        CombinedBlocks block;
        SurfaceSampler rows(sampler);
        std::vector<double> row(nx);
        for (std::size_t j = rowBegin; j < rowEnd; ++j) {
          rows.sampleRow(target.nodeY(static_cast<int>(j)), row.data());
          const double* stored = target.nodes().data() + j * nx;
          const double* left = otherLeft ? row.data() : stored;
          const double* right = otherLeft ? stored : row.data();
          block.candidates |=
              combineValues(op, left, right, out.data() + j * nx, nx, block.range, known);
        }
        return block;
      },
      CombinedBlocks::merge);
}

// Equal rectangles: the grid with fewer columns is read through its surface at the other's nodes.
// Cancel through the sink gives a grid without nodes.
Grid combineOnEqualRectangles(const Grid& a, const Grid& b, BinaryOp op,
                              const CommonLattice& common, ErrorSink& sink) {
  const bool resampleA = !common.secondResampled;
  const Grid& target = resampleA ? b : a;
  const Grid& other = resampleA ? a : b;
  const bool sameCounts = !common.firstResampled && !common.secondResampled;
  if (!sameCounts && !other.prepareSurface(&sink)) return Grid();
  NodeVector out(target.nodeCount());
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(out.size()));
  // What a pass finds out about the blanks of its operands spares later passes the looking; the
  // surface read through the sampler is blank only where that grid has blanks.
  CombinedBlocks news;
  if (sameCounts) {
    if (!combineSameNodes(a, b, op, out, pacer, news)) return Grid();
    if (!news.candidates) other.noteWithoutBlanks();
  } else if (!combineThroughSurface(target, other, resampleA, op, out, pacer, news)) {
    return Grid();
  }
  const Range range = news.range;
  if (news.candidates) {  // settle which of them has blanks, for the passes to come
    a.hasBlanks();
    b.hasBlanks();
  } else {
    target.noteWithoutBlanks();
  }
  return Lattice::of(target).holding(std::move(out), range, target.georeference, commonMode(a, b));
}

Grid combineOnIntersection(const Grid& a, const Grid& b, BinaryOp op, const Lattice& lattice,
                           ErrorSink& sink) {
  if (!a.prepareSurface(&sink) || !b.prepareSurface(&sink)) return Grid();
  const std::vector<double> xs = lattice.nodeXs();
  const std::vector<double> ys = lattice.nodeYs();
  const SurfaceSampler samplerA(a, xs);
  const SurfaceSampler samplerB(b, xs);
  NodeVector out(xs.size() * ys.size());
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(out.size()));
  CombinedBlocks news;
  const bool done = parallel::reduceRowBlocks(
      ys.size(), xs.size(), pacer, news,
      [&](std::size_t rowBegin, std::size_t rowEnd) {
        CombinedBlocks block;
        SurfaceSampler rowsA(samplerA);
        SurfaceSampler rowsB(samplerB);
        std::vector<double> rowA(xs.size());
        std::vector<double> rowB(xs.size());
        for (std::size_t j = rowBegin; j < rowEnd; ++j) {
          rowsA.sampleRow(ys[j], rowA.data());
          rowsB.sampleRow(ys[j], rowB.data());
          combineValues(op, rowA.data(), rowB.data(), out.data() + j * xs.size(), xs.size(),
                        block.range, Blanks::Unknown);
        }
        return block;
      },
      CombinedBlocks::merge);
  if (!done) return Grid();
  return lattice.holding(std::move(out), news.range, {}, commonMode(a, b));
}

// ---- 0/1 results ----

// The z-range of a 0/1 grid: (0, 1) for the comparisons, whatever values occur.
Grid withTruthRange(Grid result, bool unitRange) {
  if (unitRange) {
    result.zmin = 0.0;
    result.zmax = 1.0;
  }
  return result;
}

Grid compareGrids(const Grid& a, const Grid& b, BinaryOp op, ErrorSink& sink) {
  if (!a.sameLattice(b)) {
    sink.kernelError(sink_code::kGridMismatch);
    return Grid();
  }
  NodeVector out(a.nodeCount());  // read at the nodes, the surfaces are the node values
  const double* left = a.nodes().data();
  const double* right = b.nodes().data();
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(out.size()));
  const bool done =
      parallel::forEachBlock(out.size(), pacer, [&](std::size_t begin, std::size_t end) {
        zipInto<Blanks::Unknown>(left + begin, right + begin, out.data() + begin, end - begin,
                                 [op](double x, double y) { return applyBinary(op, x, y); });
      });
  if (!done) return Grid();
  return withTruthRange(
      Lattice::of(a).holding(std::move(out), a.georeference, Interpolation::Bilinear),
      !isLogical(op));
}

// ---- grid with a number ----

// f of every node but the blank ones, in place, block by block; false when cancelled.
template <class F>
bool mapNodes(std::span<double> nodes, ProgressPacer& pacer, F f) {
  return parallel::forEachBlock(nodes.size(), pacer, [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) nodes[k] = unlessBlank(nodes[k], f);
  });
}

// Every node v becomes v * factor (factor != 1) and then v + shift (shift != 0), in place, so an
// unchanged grid keeps its coefficients. The z-range follows from the operand's node range the
// same way.
Grid scaleShift(Grid result, double factor, double shift, ErrorSink* progress) {
  Range range;
  result.name.clear();
  if (factor == 1.0 && shift == 0.0) {
    range = rangeOf(result.nodes());
  } else {
    const std::span<double> nodes = result.mutableNodes();
    ProgressPacer pacer(progress, static_cast<std::int64_t>(nodes.size()));
    const bool done = parallel::reduceBlocks(
        nodes.size(), pacer, range,
        [&](std::size_t begin, std::size_t end) {
          // The block's range while it is in the cache, before it changes.
          const Range block = rangeOf(nodes.subspan(begin, end - begin));
          if (factor != 1.0) {
            for (std::size_t k = begin; k < end; ++k) {
              nodes[k] = unlessBlank(nodes[k], [factor](double x) { return x * factor; });
            }
          }
          if (shift != 0.0) {
            for (std::size_t k = begin; k < end; ++k) {
              nodes[k] = unlessBlank(nodes[k], [shift](double x) { return x + shift; });
            }
          }
          return block;
        },
        widened);
    if (!done) return Grid();
  }
  result.zmin = factor > 0.0 ? factor * range.min : factor * range.max;
  result.zmax = factor > 0.0 ? factor * range.max : factor * range.min;
  if (shift != 0.0) {
    result.zmin += shift;
    result.zmax += shift;
  }
  return result;
}

Grid shift(Grid grid, double n, ErrorSink* progress) {
  return scaleShift(std::move(grid), 1.0, n, progress);
}
Grid scale(Grid grid, double n, ErrorSink* progress) {
  return scaleShift(std::move(grid), n, 0.0, progress);
}

// The grid's own nodes, replaced in place, as a new grid of the given mode: the values a node-wise
// kernel wrote into the nodes it was handed, with their z-range.
Grid rebuilt(Grid grid, Interpolation mode) {
  grid.name.clear();
  grid.setMode(mode);
  const Range range = rangeOf(grid.nodes());
  grid.zmin = range.min;
  grid.zmax = range.max;
  return grid;
}

// A bilinear grid of 0/1 values written in place over the grid's nodes.
Grid truthGrid(Grid grid, bool unitRange) {
  return withTruthRange(rebuilt(std::move(grid), Interpolation::Bilinear), unitRange);
}

// N / G node by node, a zero value giving the large value. That value lies beyond the blanking
// value, so the node is blank, but the z-range still spans (-large, large) to show it was met.
// The nodes are the surface at the nodes (surfaceAtNodes).
Grid numberOverGrid(double n, Grid grid, ErrorSink* progress) {
  bool zeroDivisor = false;
  const std::span<double> nodes = grid.mutableNodes();
  ProgressPacer pacer(progress, static_cast<std::int64_t>(nodes.size()));
  const bool done = parallel::reduceBlocks(
      nodes.size(), pacer, zeroDivisor,
      [&](std::size_t begin, std::size_t end) {
        bool zero = false;
        for (std::size_t k = begin; k < end; ++k) {
          nodes[k] = unlessBlank(nodes[k], [n, &zero](double x) {
            zero |= x == 0.0;
            return x == 0.0 ? kNumberDivisionByZeroValue : n / x;
          });
        }
        return zero;
      },
      [](bool seen, bool zero) { return seen || zero; });
  if (!done) return Grid();
  Grid result = rebuilt(std::move(grid), Interpolation::Spline);
  if (zeroDivisor) result.zmax = std::max(result.zmax, kNumberDivisionByZeroValue);
  if (result.zmax == kNumberDivisionByZeroValue) result.zmin = -kNumberDivisionByZeroValue;
  return result;
}

// Any other operation of a grid and a number, node by node in the written order.
Grid pointwiseWithNumber(Grid grid, double n, BinaryOp op, bool numberOnLeft, ErrorSink* progress) {
  const double zmin = grid.zmin;
  const double zmax = grid.zmax;
  const Interpolation mode = grid.mode();
  const std::span<double> nodes = grid.mutableNodes();
  ProgressPacer pacer(progress, static_cast<std::int64_t>(nodes.size()));
  const bool done = mapNodes(nodes, pacer, [&](double x) {
    return numberOnLeft ? applyBinary(op, n, x) : applyBinary(op, x, n);
  });
  if (!done) return Grid();
  if (op == BinaryOp::Min || op == BinaryOp::Max) {
    Grid result = rebuilt(std::move(grid), mode);
    result.zmin = applyBinary(op, zmin, n);
    result.zmax = applyBinary(op, zmax, n);
    return result;
  }
  if (op == BinaryOp::MultiplySignKeeping) return rebuilt(std::move(grid), mode);
  return truthGrid(std::move(grid), !isLogical(op));
}

// ---- functions of one grid ----

Grid logicalNot(Grid grid, ErrorSink* progress) {
  ProgressPacer pacer(progress, static_cast<std::int64_t>(grid.nodeCount()));
  if (!mapNodes(grid.mutableNodes(), pacer, [](double x) { return x == 0.0 ? 1.0 : 0.0; })) {
    return Grid();
  }
  return truthGrid(std::move(grid), false);
}

int codeOf(DomainStatus status) {
  return status == DomainStatus::DivisionByZero ? sink_code::kGridDivisionByZero
                                                : sink_code::kGridDomain;
}

// fn of every node. The nodes are taken column by column and the walk stops
// at the first failure, so the nodes from that one on (in column order) keep their stored values.
Grid applyToSurface(const Grid& grid, UnaryFn fn, double angleFactor, ErrorSink& sink) {
  NodeVector out = surfaceAtNodes(grid);
  const std::size_t nx = static_cast<std::size_t>(grid.nx());
  FirstFailure first{nx, 0, DomainStatus::Ok};
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(out.size()));
  const bool done = parallel::reduceBlocks(
      out.size(), pacer, first,
      [&](std::size_t begin, std::size_t end) {
        FirstFailure block{nx, 0, DomainStatus::Ok};
        for (std::size_t k = begin; k < end; ++k) {
          if (isBlank(out[k])) {  // no value, so no domain to leave
            out[k] = kBlankValue;
            continue;
          }
          const DomainStatus status = applyUnary(fn, out[k], angleFactor, out[k]);
          if (status != DomainStatus::Ok)
            block = FirstFailure::earlier(block, {k % nx, k / nx, status});
        }
        return block;
      },
      FirstFailure::earlier);
  const std::size_t stopI = first.i;
  const std::size_t stopJ = first.j;
  const DomainStatus stopStatus = first.status;
  if (!done) return Grid();
  if (stopStatus != DomainStatus::Ok) {
    sink.kernelError(codeOf(stopStatus));
    const std::span<const double> stored = grid.nodes();
    for (std::size_t k = 0; k < out.size(); ++k) {
      const std::size_t i = k % nx;
      if (i > stopI || (i == stopI && k / nx >= stopJ)) out[k] = stored[k];
    }
  }
  // The range of the new nodes, which is the range of the surface at the nodes.
  return Lattice::of(grid).holding(std::move(out), grid.georeference, grid.mode());
}

}  // namespace

Grid combine(const Grid& a, const Grid& b, BinaryOp op, ErrorSink& sink) {
  if (!isArithmetic(op)) return compareGrids(a, b, op, sink);
  if (!a.hasNodes() || !b.hasNodes()) return Grid();
  const std::optional<CommonLattice> common = commonLattice(Lattice::of(a), Lattice::of(b), sink);
  if (!common) return Grid();
  if (common->firstResampled && common->secondResampled) {
    return combineOnIntersection(a, b, op, common->lattice, sink);
  }
  return combineOnEqualRectangles(a, b, op, *common, sink);
}

std::optional<CommonLattice> commonLattice(const Lattice& a, const Lattice& b, ErrorSink& sink) {
  if (a.sameRectangle(b) || a.sameNodes(b)) {
    // The grid with fewer columns (the first of two as wide) is read at the other's nodes.
    const bool onSecond = a.nx <= b.nx;
    const bool sameCounts = a.nx == b.nx && a.ny == b.ny;
    return CommonLattice{onSecond ? b : a, onSecond && !sameCounts, !onSecond};
  }
  CommonLattice common{{}, true, true};
  if (!intersectionLattice(a, b, common.lattice, sink)) return std::nullopt;
  return common;
}

Grid combine(Grid grid, double number, BinaryOp op, bool numberOnLeft, ErrorSink& sink) {
  switch (op) {
    case BinaryOp::Add:
      return shift(std::move(grid), number, &sink);
    case BinaryOp::Subtract:
      return numberOnLeft ? scaleShift(std::move(grid), -1.0, number, &sink)
                          : shift(std::move(grid), -number, &sink);
    case BinaryOp::Multiply:
      return scale(std::move(grid), number, &sink);
    case BinaryOp::Divide:
      return numberOnLeft ? numberOverGrid(number, std::move(grid), &sink)
                          : scale(std::move(grid), 1.0 / number, &sink);
    default:
      return pointwiseWithNumber(std::move(grid), number, op, numberOnLeft, &sink);
  }
}

Grid apply(const Grid& grid, UnaryFn fn, double angleFactor, ErrorSink& sink) {
  if (fn == UnaryFn::Not) return logicalNot(grid, &sink);
  if (fn == UnaryFn::Lg) {
    Grid ln = applyToSurface(grid, UnaryFn::Ln, angleFactor, sink);
    if (sink.failed()) return ln;
    return scale(std::move(ln), 1.0 / std::log(10.0), &sink);
  }
  return applyToSurface(grid, fn, angleFactor, sink);
}

Grid negate(Grid grid, ErrorSink* progress) {
  return scale(std::move(grid), -1.0, progress);
}

double minimum(const Grid& grid) {
  double result = kMinMaxStart;
  for (const double v : grid.nodes()) {
    if (v < result && !isBlank(v)) result = v;
  }
  return result;
}

double maximum(const Grid& grid) {
  double result = -kMinMaxStart;
  for (const double v : grid.nodes()) {
    if (v > result && !isBlank(v)) result = v;
  }
  return result;
}

Grid filled(const Grid& grid, double value) {
  return Lattice::of(grid).holding(NodeVector(grid.nodeCount(), value), Range{value, value},
                                   grid.georeference, grid.mode());
}

}  // namespace vellumar::grid
