#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ErrorSink.h"
#include "grid/Grid.h"
#include "isolines/TracedLines.h"

namespace vellumar::isolines {

// Traces the isolines of a lattice map, marching-squares style, for a whole series of levels at
// once.
//
// Contract: traceLevels() empties the output, chooses the levels from the lowest level, the
// highest level and the step, and appends one piece per isoline piece with its level: its points
// are the crossings of the lattice edges, closed pieces repeat their first point at the end and
// start on their lowest-numbered edge, and every piece runs with the higher node values on its
// right. A level crosses an edge whose lower end value lo and upper end value hi
// satisfy lo <= level < hi (lower-end flag 1) or lo < level <= hi (flag 0). A saddle cell keeps its
// two high corners apart. Pieces come out in the order of their first crossing (edge index, then
// level). On failure or cancel the output is left empty. Blank nodes (grid/Blank.h) have no
// value: no level crosses an edge with a blank end, and a cell with a blank corner is outside, as
// the cells past the border are, so isolines end at the edge of the valid area as open lines.
//
// Lattice numbering: horizontal edge (i, j)-(i+1, j) is j*(nx-1) + i, bottom row first; vertical
// edge (i, j)-(i, j+1) is H + j*nx + i with H = (nx-1)*ny; the cell with lower-left node (i, j) is
// j*(nx-1) + i; cell sides and corners count counter-clockwise from the bottom (lower-left).
//
// Work and memory are proportional to the lattice nodes plus the crossings. Every node value is
// ranked once against the levels (the number of levels below it, stored in 8, 16 or 32 bits as
// the number of levels needs), so the levels crossing an edge are read from the ranks of its two
// nodes, never by comparing with every level. Each crossing has one visited bit: the bits of an
// edge sit in a slot as wide as the most crossings any edge has, or, when that is wider than 32
// bits, behind a 32-bit offset per edge. The output arrays are sized once, when the crossings have
// been counted (every crossing gives at most one point, and a closed piece of at least four
// crossings one more). The computer reads node values only; it never evaluates a surface.
//
// On a large lattice and several threads, the pieces are traced in three steps whose output is the
// serial scan's, bit for bit: bands of rows, on all threads, walk the pieces they meet, recording
// each walk as one byte per cell; the pieces are put in the scan's order, which gives each its
// place in the output; then the recorded walks are replayed, on all threads, each piece's points
// written straight into their place. A walk chooses its way by the side it entered through, never
// by the visited bits, so that it goes the same way while other threads mark theirs.
class S_IsolineComputer {
 public:
  // A traced point and the lattice edge it lies on (-1 when unset).
  struct GridPoint {
    double x = 0.0;
    double y = 0.0;
    std::int32_t edge = -1;
    bool onNode = false;  // placed exactly on one of the edge's nodes
  };

  // progress: the sink whose progress hook shows the trace and may cancel it; null for none.
  S_IsolineComputer(TracedLines& output, ErrorSink* progress, std::string_view caption);
  virtual ~S_IsolineComputer() = default;
  S_IsolineComputer(const S_IsolineComputer&) = delete;
  S_IsolineComputer& operator=(const S_IsolineComputer&) = delete;

  // Traces every chosen level of the lattice map (at least 2 x 2 nodes). False when no level can
  // be chosen (lowest > highest, or more levels or crossings than 32-bit counts hold) or when the
  // user cancelled; the output is then empty. Memory running out throws std::bad_alloc, the output
  // left empty as well.
  bool traceLevels(const grid::Grid& lattice, double lowest, double highest, double step,
                   int lowerEnd = 1);

 private:
  enum class Walk { Border, Closed, Abandoned };
  // What a walk does with the crossings it passes: the serial scan marks them visited and keeps
  // their points; the parallel planning marks them (beside other threads), counts them and
  // records the walk's steps.
  enum class Pass { Trace, Plan };
  // The crossings of one walk: their points, or, when planning, their numbers and lowest edge.
  struct Trail {
    std::vector<GridPoint> forward;
    std::vector<GridPoint> backward;
    std::size_t forwardCount = 0;
    std::size_t backwardCount = 0;
    std::int32_t lowestEdge = 0;
    std::vector<std::uint8_t>* steps = nullptr;  // where planning records the exits
    void clear();
  };
  // A piece found by a band of rows: its first crossing in the serial scan (edge, level), and its
  // walk as recorded from where the band met the piece: the exit side of every cell, forward
  // from that start edge, then backward when the forward walk met the border.
  struct Piece {
    std::int32_t edge;
    std::uint32_t level;
    std::int32_t start;
    std::uint32_t forwardSteps;
    std::uint32_t backwardSteps;
    bool closed;
    std::uint64_t stepsAt;     // in the band's steps
    std::uint64_t firstPoint;  // in the output
    std::size_t points() const { return std::size_t{1} + forwardSteps + backwardSteps; }
  };
  // What one band of rows found.
  struct FoundPieces {
    std::vector<Piece> pieces;
    std::vector<std::uint8_t> steps;
  };
  static constexpr std::uint64_t kNotPlaced = ~std::uint64_t{0};
  // Whether p's first crossing comes before q's in the serial scan (edge, then level).
  static bool startsBefore(const Piece& p, const Piece& q);
  // A cell of a walk and the side it was entered through; inside is false past the border.
  struct Cell {
    int i;
    int j;
    int entry;
    bool inside;
  };
  struct EdgeNodes {
    bool horizontal;
    int i;  // column of the left (lower) node
    int j;  // row of the left (lower) node
  };
  // The levels crossing one lattice edge: first ... first + count - 1.
  struct Crossings {
    std::int32_t edge;
    std::uint32_t first;
    std::uint32_t count;
  };

  bool chooseLevels(double lowest, double highest, double step);
  double level(std::uint32_t k) const;
  std::uint32_t rank(double v) const;
  // The steps below that read node ranks take the rank type: the narrowest unsigned type that
  // holds every rank and the blank mark, chosen once per trace (see traceWithRanks).
  template <class Rank>
  bool traceWithRanks();
  template <class Rank>
  std::vector<Rank>& rankStore();
  template <class Rank>
  const Rank* ranks() const;
  template <class Rank>
  bool rankNodes();
  // The levels between the ranks of nodes a and b, which cross their edge (none at a blank end).
  template <class Rank>
  std::uint32_t rankSpan(std::size_t a, std::size_t b) const;
  // Counts the crossings of every edge, in parallel blocks of rows, reporting progress: their
  // total and the most on one edge. False on cancel or when the total passes 32 bits.
  template <class Rank>
  bool countCrossings(std::uint64_t& total, std::uint32_t& widest);
  // Gives every edge its slot of visited bits: as wide as the widest edge's crossings, or, when
  // 32-bit offsets take less room, just its own crossings.
  template <class Rank>
  void layOutVisitedBits(std::uint64_t total, std::uint32_t widest);
  void reserveOutput(std::uint64_t total);
  // Rows of edges: the ny rows of horizontal edges, bottom first, then the ny - 1 of vertical ones.
  std::size_t edgeRows() const;
  // Calls onEdge(edge, a, b) for every edge of the rows [rowBegin, rowEnd) that some level crosses
  // (its node indices a, b), in edge order, and onRow(edges passed) after every row; stops when
  // onRow says false.
  template <class Rank, class OnEdge, class OnRow>
  bool forEachCrossedEdge(std::size_t rowBegin, std::size_t rowEnd, OnEdge&& onEdge,
                          OnRow&& onRow) const;
  template <class Rank>
  bool scan();
  // The three parallel steps; false on cancel.
  template <class Rank>
  bool scanInParallel();
  template <class Rank>
  bool planPieces(std::size_t bandRows, std::vector<FoundPieces>& bands);
  template <class Rank>
  void planPiece(const Crossings& start, std::uint32_t k, Trail& trail, FoundPieces& found);
  void placePieces(std::vector<FoundPieces>& found);
  bool writePieces(const std::vector<FoundPieces>& found);
  void replayWalk(const Piece& piece, const std::vector<std::uint8_t>& steps,
                  std::vector<std::int32_t>& chain) const;
  void writePiece(const Piece& piece, const std::vector<std::int32_t>& chain,
                  std::vector<std::size_t>& nodePoints);
  template <class Rank, Pass P>
  Walk walkPiece(const Crossings& start, std::uint32_t k, Trail& trail);
  template <class Rank, Pass P>
  Walk walkForward(const Crossings& start, std::uint32_t k, Trail& trail);
  template <class Rank, Pass P>
  bool walkBackward(const Crossings& start, std::uint32_t k, Trail& trail);
  template <Pass P>
  void keep(const EdgeNodes& nodes, std::int32_t edge, double levelValue,
            std::vector<GridPoint>& points, std::size_t& count) const;
  template <Pass P>
  void mark(const Crossings& edge, std::uint32_t k, Trail& trail);
  void emit(std::uint32_t k, const Trail& trail);

  // Lattice geometry and crossings.
  // The crossings of the edge joining nodes a and b (flat indices); none when a node is unusable.
  template <class Rank>
  Crossings crossingsOf(std::int32_t edge, std::size_t a, std::size_t b) const;
  static bool crosses(const Crossings& edge, std::uint32_t k) {
    return k >= edge.first && k - edge.first < edge.count;
  }
  std::size_t bitOf(const Crossings& edge, std::uint32_t k) const;
  bool visited(const Crossings& edge, std::uint32_t k) const;
  // visited() and the marking for bits that other threads mark beside this one.
  bool visitedShared(const Crossings& edge, std::uint32_t k) const;
  void markVisited(const Crossings& edge, std::uint32_t k);
  void markVisitedShared(const Crossings& edge, std::uint32_t k);
  EdgeNodes decode(std::int32_t edge) const;
  template <class Rank>
  void cellSides(const Cell& cell, Crossings (&sides)[4]) const;
  template <class Rank>
  Cell across(const Cell& cell, int side) const;
  // Whether a corner of the cell with lower-left node (i, j) is blank (has no rank).
  template <class Rank>
  bool hasBlankCorner(int i, int j) const;
  template <class Rank>
  Cell firstCell(std::int32_t edge, bool forward) const;
  // Picks the exit of the cell, entered through cell.entry, for the walk of level k: the one other
  // side the level crosses, or at a saddle the saddle rule's side; -1 when the walk cannot go on.
  template <class Rank>
  int chooseExit(const Cell& cell, const Crossings (&sides)[4], std::uint32_t k) const;
  // Nodes of side 0 ... 3 of the cell, by their left (lower) node.
  EdgeNodes sideNodes(const Cell& cell, int side) const;
  GridPoint crossingPoint(const EdgeNodes& nodes, std::int32_t edge, double levelValue) const;
  template <class Rank>
  int saddleExit(const Cell& cell, std::uint32_t k) const;
  bool highOnRight(std::int32_t from, std::int32_t to) const;
  std::int32_t sideEdge(const Cell& cell, int side) const;
  Cell neighbour(const Cell& cell, int side) const;
  double nodeValue(int i, int j) const {
    return z_[static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_) + i];
  }
  // Closes the progress of a traceLevels call, frees its state and, unless ok, empties the output.
  void endCall(bool ok) noexcept;
  // Frees the ranks, the visited bits and their offsets, which live for one scan.
  void freeScanState() noexcept;

  ErrorSink* progress_;
  TracedLines& output_;
  std::string caption_;

  // State of one traceLevels call.
  const double* z_ = nullptr;
  int nx_ = 0;
  int ny_ = 0;
  std::int64_t horizontal_ = 0;  // H, the number of horizontal edges
  std::int64_t edgeCount_ = 0;
  double xmin_ = 0.0;
  double ymin_ = 0.0;
  double hx_ = 0.0;
  double hy_ = 0.0;
  // Crossings within this fraction of an edge from its node are placed on the node.
  double nearNodeX_ = 0.0;
  double nearNodeY_ = 0.0;
  bool lowerEnd_ = true;
  std::uint32_t levelCount_ = 0;
  double lowLevel_ = 0.0;
  double highLevel_ = 0.0;
  double levelScale_ = 0.0;  // (n - 1) / (Lhigh - L0): level indices per unit of value
  // The rank of every node (the rank type's largest value for an unusable one), row by row like
  // the nodes, in the one store of the rank type chosen for the trace.
  std::vector<std::uint8_t> ranks8_;
  std::vector<std::uint16_t> ranks16_;
  std::vector<std::uint32_t> ranks32_;
  const void* rankData_ = nullptr;  // the data of the store in use
  // Visited bits: edge e's slot starts at e * slotWidth_, or at offsets_[e] when slotWidth_ is 0.
  std::uint32_t slotWidth_ = 0;
  std::vector<std::uint32_t> offsets_;
  std::vector<std::uint64_t> visited_;
  Trail trail_;  // the serial scan's
};

}  // namespace vellumar::isolines
