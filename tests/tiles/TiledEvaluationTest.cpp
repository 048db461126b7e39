#include "tiles/TiledEvaluation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../common/TestSupport.h"
#include "../formats/RasterFixtures.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "formats/RasterFile.h"
#include "formats/RasterWindows.h"
#include "geometry/Geometry.h"
#include "grid/Blank.h"
#include "grid/Lattice.h"
#include "grid/Surface.h"
#include "tiles/TiledRun.h"

namespace vellumar::tiles {
namespace {

// A grid of nx x ny nodes over the rectangle {left, right, bottom, top} (by default [0, nx - 1] x
// [10, 10 + 2 (ny - 1)]), smooth or rough (random node values), with every node that blank() picks
// blank.
grid::Grid makeGrid(int nx, int ny, bool rough, bool (*blank)(int, int) = nullptr,
                    std::optional<std::array<double, 4>> sides = std::nullopt) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-50.0, 50.0);
  grid::NodeVector values;  // row by row from the bottom
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      const double v =
          rough ? noise(random) : 100.0 * std::sin(i / 9.0) * std::cos(j / 6.0) + 3.0 * i;
      values.push_back(blank != nullptr && blank(i, j) ? grid::kBlankValue : v);
    }
  }
  grid::Grid shape;
  shape.rectangleFlag = 1;
  std::tie(shape.left, shape.right, shape.bottom, shape.top) =
      std::tuple_cat(sides.value_or(std::array{0.0, nx - 1.0, 10.0, 10.0 + 2.0 * (ny - 1)}));
  return grid::Grid(nx, ny, shape, std::move(values));
}

bool holes(int i, int j) {
  return (i - 40) * (i - 40) + (j - 30) * (j - 30) < 60 || (i == 17 && j > 5);
}

// Blank nodes scattered over the whole grid, so that many nodes of a finer lattice lie on the
// edge between a cell with a blank corner and one without.
bool scattered(int i, int j) {
  return (i * 7 + j * 13) % 5 == 0;
}

class TiledEvaluationTest : public testing::FolderTest {
 protected:
  // Writes the grids as GeoTIFFs named G1.tif, G2.tif, ... and opens them for windows.
  void useRasters(const std::vector<grid::Grid>& grids) {
    for (std::size_t k = 0; k < grids.size(); ++k) {
      const std::string name = "G" + std::to_string(k + 1);
      ASSERT_TRUE(formats::writeRaster(grids[k], path(name + ".tif")));
      auto reader = std::make_shared<formats::RasterWindowReader>();
      ASSERT_TRUE(reader->open(path(name + ".tif"), 1));
      inputs_.push_back({name, TileInput::ofRaster(reader), {}});
      auto whole = std::make_shared<grid::Grid>();
      ASSERT_TRUE(formats::readRaster(path(name + ".tif"), 1, *whole));
      calc_.registry().findOrCreate(name).value = engine::Operand::grid(whole);
    }
  }

  // Holds the grid whole, as an input read through its surface.
  void useGrid(const std::string& name, grid::Grid grid) {
    const auto shared = std::make_shared<const grid::Grid>(std::move(grid));
    inputs_.push_back({name, TileInput::ofGrid(shared), {}});
    calc_.registry().findOrCreate(name).value = engine::Operand::grid(shared);
  }

  // The result of the text evaluated over the whole grids, which must succeed.
  engine::Operand wholeResult(const std::string& text) {
    engine::S_Calculator calc(calc_);
    const engine::TextEvaluation evaluation = engine::evaluateText(calc, text);
    EXPECT_TRUE(evaluation.ok) << evaluation.message;
    return calc.result();
  }

  // The text evaluated by tiles of the size into out.tif, read back.
  grid::Grid tiledResult(const std::string& text, int size) {
    const TiledEvaluation evaluation(calc_, inputs_, size, text);
    EXPECT_EQ(evaluation.refusal(), "");
    const TiledRunOutcome outcome = runTiles(evaluation, path("out.tif"), {});
    EXPECT_TRUE(outcome.ok()) << outcome.message;
    grid::Grid read;
    EXPECT_TRUE(formats::readRaster(path("out.tif"), 1, read));
    return read;
  }

  // The message of the text evaluated over the whole grids, which must fail.
  std::string wholeFailure(const std::string& text) {
    engine::S_Calculator calc(calc_);
    const engine::TextEvaluation evaluation = engine::evaluateText(calc, text);
    EXPECT_FALSE(evaluation.ok) << text;
    return evaluation.message;
  }

  // Why the text does not tile; empty when it does.
  std::string refusal(const std::string& text) {
    return TiledEvaluation(calc_, inputs_, 8, text).refusal();
  }

  engine::S_Calculator calc_;
  std::vector<TiledEvaluation::Input> inputs_;
};

// Blank where the whole result is blank, and elsewhere within 1e-10 of its largest value.
void expectAgrees(const grid::Grid& tiled, const grid::Grid& whole) {
  ASSERT_EQ(std::pair(tiled.nx(), tiled.ny()), std::pair(whole.nx(), whole.ny()));
  ASSERT_TRUE(tiled.sameLattice(whole));
  double scale = 0.0, worst = 0.0;
  for (std::size_t k = 0; k < whole.nodeCount(); ++k) {
    const double a = tiled.nodes()[k], b = whole.nodes()[k];
    ASSERT_EQ(grid::isBlank(a), grid::isBlank(b)) << "node " << k;
    if (!grid::isBlank(b)) {
      scale = std::max(scale, std::abs(b));
      worst = std::max(worst, std::abs(a - b));
    }
  }
  ASSERT_GT(scale, 0.0);
  EXPECT_LE(worst, 1e-10 * scale);
}

TEST_F(TiledEvaluationTest, TilesAgreeWithTheWholeGridForEverySizeAndSurface) {
  // 131 x 97 nodes: no tile size below divides either count. G3 lies on the same rectangle with
  // coarser steps, G4 over a rectangle that overlaps theirs, with steps of its own; G5 and G6
  // likewise over a rectangle whose nodes meet the coarser ones only within rounding. Blanks lie
  // in the grids read through their surfaces too.
  for (const auto& [rough, blanks] : {std::pair{false, false}, {true, false}, {false, true}}) {
    SCOPED_TRACE(::testing::Message() << "rough " << rough << " blanks " << blanks);
    inputs_.clear();
    const auto blank = blanks ? holes : nullptr;
    useRasters({makeGrid(131, 97, rough, blank), makeGrid(131, 97, !rough),
                makeGrid(53, 41, rough, blank, {{0.0, 130.0, 10.0, 202.0}}),
                makeGrid(97, 71, !rough, blank, {{20.3, 170.1, -5.0, 150.0}}),
                makeGrid(131, 97, !rough, blank, {{0.1, 13.1, -0.3, 9.3}}),
                makeGrid(53, 41, rough, blanks ? scattered : nullptr, {{0.1, 13.1, -0.3, 9.3}})});
    // A coarse grid held whole in bilinear mode, read through its bilinear surface.
    grid::Grid bilinear = makeGrid(53, 41, !rough, blank, {{0.0, 130.0, 10.0, 202.0}});
    bilinear.setMode(grid::Interpolation::Bilinear);
    useGrid("G7", std::move(bilinear));
    for (const char* text :
         {"Spec(G1, 1) * 100", "Dx(G1) + Dyy(G2) * G1", "x = Sqrt(Abs(G1)); Great(G1, G2) + x",
          "Cut(G1, 10, 120, 5, 90) * 2 + Cut(G2, 10, 120, 5, 90)", "Spec(Dense(G1, 2.5), 3)",
          "Dx(Dense(Cut(G2, 3.5, 100.2, 20, 150, 1), 0.5)) * Dense(Cut(G1, 3.5, 100.2, 20, 150, "
          "1), 0.5)",
          "Dense(G1, 1) - G2", "G1 * 2 + G3", "(G1 + G2) * G3 - Spec(G1, 1)", "G3 - Dense(G1, 2)",
          "max(G1, G4)", "Mul_SP(G4, Dense(G2, 0.5)) + 1", "G5 - G6",
          // Intermediate results read onto another lattice.
          "Spec(G3, 1) * 10 + G1", "(G3 + 200) ^ (G1 / 300)", "Dx(G4) * 100 - G1",
          "Spec(G1 + G7, 1)"}) {
      SCOPED_TRACE(text);
      const engine::Operand whole = wholeResult(text);
      ASSERT_NE(whole.gridValue(), nullptr);
      for (const int size : {7, 64, 1000}) {
        SCOPED_TRACE(size);
        expectAgrees(tiledResult(text, size), *whole.gridValue());
      }
    }
  }
}

// A polygon across many tiles and beyond the grids' left and top edges, with a hole.
engine::Operand crossingPolygon() {
  geometry::Cover cover;
  cover.appendLine(
      geometry::Line({{-10, 50}, {40, 230}, {100, 180}, {125, 120}, {80, 20}, {-10, 50}}));
  cover.appendLine(geometry::Line({{50, 90}, {70, 90}, {70, 110}, {50, 110}, {50, 90}}));
  return engine::packCover(cover, engine::Kind::Polygon, true);
}

TEST_F(TiledEvaluationTest, ReductionsOfTheTilesAreThoseOfTheWholeGrid) {
  useRasters({makeGrid(131, 97, false, holes), makeGrid(131, 97, true)});
  calc_.registry().findOrCreate("P1").value = crossingPolygon();
  for (const char* text :
       {"MIN(Spec(G1, 1) * 100)", " MAX (Dx(G1) - G1) ", "Integral(G2 * 2 + Dx(G2), P1)",
        "Mean(Spec(G1, 1), P1)", "Integral(Dense(G2, 2), P1)", "Mean(G1, P1)",
        "Integral(G2, P1 * G_P(EG(20, 90, 40, 160, 1, 1)))"}) {
    SCOPED_TRACE(text);
    const engine::Operand whole = wholeResult(text);
    ASSERT_TRUE(whole.isNumber());
    const double expected = whole.numberValue();
    for (const int size : {7, 64, 1000}) {
      SCOPED_TRACE(size);
      const TiledEvaluation tiled(calc_, inputs_, size, text);
      ASSERT_EQ(tiled.refusal(), "");
      std::vector<TileShare> shares;
      ASSERT_TRUE(reduceTiles(tiled, shares).ok());
      ASSERT_EQ(shares.size(), static_cast<std::size_t>(tiled.plan().count()));
      // A combination that gives no value fails the comparison.
      EXPECT_NEAR(tiled.reduction()->combine(shares).value_or(NAN), expected,
                  1e-10 * std::abs(expected));
    }
  }
  // The polygon covers blank nodes: every tile's failure is the whole evaluation's.
  std::vector<TileShare> shares;
  const TiledRunOutcome failed =
      reduceTiles(TiledEvaluation(calc_, inputs_, 64, "Integral(G1, P1)"), shares);
  EXPECT_EQ(std::tuple(failed.failure, failed.message),
            std::tuple(1, wholeFailure("Integral(G1, P1)")));
}

TEST_F(TiledEvaluationTest, OnlyAReductionOfOneExpressionAsTheWholeTextReduces) {
  for (const char* other : {"MIN(G1) + 1", "MIN(G1, P1)", "MIN(G1); 2", "MINI(G1)", "(MIN(G1))",
                            "Integral(G1)", "Integral(G1, )", "Mean(G1, P1, 2)"}) {
    EXPECT_FALSE(TiledReduction::of(other).has_value()) << other;
  }
  EXPECT_EQ(TiledReduction::of("MAX((G1 + 1) * 2)")->inner(), "(G1 + 1) * 2");
  const std::optional<TiledReduction> mean = TiledReduction::of("Mean(Dx(G1, 2), P1 * (P2 + P3))");
  ASSERT_TRUE(mean.has_value());
  EXPECT_EQ(std::tuple(mean->inner(), mean->polygon()), std::tuple("Dx(G1, 2)", "P1 * (P2 + P3)"));
  // A Mean over no values says what the whole evaluation says.
  EXPECT_FALSE(mean->combine({TileShare{}, TileShare{}}).has_value());
  EXPECT_EQ(mean->noValues(Language::English), "Mean: the polygon covers no grid values");
}

// The tiler's own refusals, and the failures of texts, which say what the whole evaluation says,
// all come before any tile is evaluated.
TEST_F(TiledEvaluationTest, TextsThatDoNotTileOrCannotShareOneLatticeAreRefusedBeforeAnyWork) {
  useRasters({makeGrid(20, 10, false), makeGrid(21, 10, false)});
  calc_.registry().findOrCreate("P1").value = engine::Operand::number(0);
  calc_.registry().findOrCreate("kept").value = engine::Operand::newGrid(makeGrid(20, 10, true));
  for (const Language language : {Language::Russian, Language::English}) {
    calc_.setLanguage(language);
    for (const char* text :
         {"Dense(G1, 0)", "Dense(G1, kept)", "Dense(G1, 1e12)", "Cut(G1, 3, 3, 1, 3)",
          "Cut(G1, 100, 200, 300, 400, 0)", "Spec(Cut(G1, 1, 5, 1, nosuch), 1)",
          // Syntax errors, and the comparisons, which need one lattice.
          "Dense(G1", "Spec(G1, 1) + (G2", "MAX(G1 + )", "G1 *", "Great(G1, G2)",
          "Sqrt(Or(G1, G2 * 2))", "Mean(G1, nosuch)"}) {
      EXPECT_EQ(refusal(text), wholeFailure(text)) << text;
    }
  }
  EXPECT_EQ(refusal("Spec(G1, 3) + G1 * 2 - Pi"), "");
  EXPECT_EQ(refusal("G1 - MIN(G1)"), "--tiles: MIN cannot be evaluated tile by tile");
  EXPECT_EQ(refusal("1 + Integral(G1, P1)"), "--tiles: Integral cannot be evaluated tile by tile");
  // P1 is a number: the whole evaluation's own message.
  EXPECT_EQ(refusal("Integral(G1, P1)"), "Integral: invalid type of argument 2");
  // The polygon is evaluated before any tile, so it may not use a grid that tiles.
  EXPECT_EQ(refusal("Mean(Spec(G1, 1), G_P(G1))"), "--tiles: the polygon of Mean must use no grid");
  EXPECT_EQ(refusal("G1 + kept"), "--tiles: the operand kept is not a grid");
  EXPECT_EQ(refusal("Dense(Spec(G1, 1), 2)"),
            "--tiles: Dense is evaluated tile by tile only of a grid's name and numbers");
  EXPECT_EQ(refusal("Cut(G1, 1, MAX(G1), 1, 5)"),
            "--tiles: the arguments of Cut after the grid must be numbers that use no grid");

  // What tiles cannot bring onto the result's lattice.
  EXPECT_EQ(refusal("G1 + Dense(Cut(G2, 1, 20, 1, 10), 2)"), "");
  // An intermediate result is evaluated over windows of its own to be read onto another
  // lattice, but not one whose value only the whole text's evaluation has.
  EXPECT_EQ(refusal("Dx(G1) + 1 - G2"), "");
  EXPECT_EQ(refusal("x = Dx(G1); (x + 1) - G2"),
            "--tiles: (x + 1) would be read through its surface on another lattice, but it "
            "depends on names the text assigns");
  // A grid the text does not use may lie anywhere, but IF's other branch is read too. A call
  // made an input is named by its own text.
  EXPECT_EQ(refusal("Spec(G1, 1)"), "");
  EXPECT_EQ(refusal("IF(1, G1, Dense(Cut(G2, 1, 20, 1, 10), 2))"),
            "--tiles: the grids G1 and Dense(Cut(G2, 1, 20, 1, 10), 2) lie on different lattices");
  // Fine steps along both axes over the intersection: a lattice too large to build.
  useGrid("G3", makeGrid(100001, 2, false, nullptr, {{0.0, 1000.0, 0.0, 1000.0}}));
  useGrid("G4", makeGrid(2, 100001, false, nullptr, {{0.0, 999.0, 0.0, 1000.0}}));
  EXPECT_EQ(refusal("Sqrt(G3 + G4)"), wholeFailure("Sqrt(G3 + G4)"));

  const TileOutcome outcome = TiledEvaluation(calc_, inputs_, 8, "5").evaluate(0);
  EXPECT_EQ(
      std::tuple(outcome.ok, outcome.failure, outcome.message),
      std::tuple(false, 1, "--tiles: the result is not a grid over the lattice of the grids read"));
  EXPECT_FALSE(std::filesystem::exists(path("out.tif")));
}

TEST_F(TiledEvaluationTest, AFailingTileLeavesTheOldTargetAndNoTemporaryFile) {
  useRasters({makeGrid(40, 30, false)});
  ASSERT_TRUE(writeFileAtomically(path("out.tif"), "old"));
  const std::size_t before = entryCount();
  // Ln of the grid fails in the tiles where it goes below zero, which are not the first.
  const TiledRunOutcome outcome =
      runTiles(TiledEvaluation(calc_, inputs_, 8, "Ln(G1 + 60)"), path("out.tif"), {});
  EXPECT_NE(outcome.message, "");
  EXPECT_EQ(std::tuple(outcome.failure, fileText("out.tif"), entryCount()),
            std::tuple(1, "old", before));
}

TEST_F(TiledEvaluationTest, WindowsReadTheNodesOfTheWholeRead) {
  // A top-first raster as GDAL writes them, with no-data, and one whose rows run from the bottom.
  grid::Grid source = makeGrid(30, 20, true, holes);
  source.georeference.noData = -7.0;
  ASSERT_TRUE(formats::writeRaster(source, path("top.tif")));
  formats::testing::RasterFixture bottomUp;
  bottomUp.nx = 30;
  bottomUp.ny = 20;
  bottomUp.gt[5] = 20.0;
  bottomUp.bands.emplace_back(source.nodes().begin(), source.nodes().end());
  ASSERT_TRUE(formats::testing::writeFixture(bottomUp, "GTiff", path("bottom.tif")));
  // Only the top-first raster has a no-data value; both hold the blanks of the grid.
  for (const auto& [name, noData] :
       {std::pair{"top.tif", std::optional(-7.0)}, {"bottom.tif", std::optional<double>()}}) {
    SCOPED_TRACE(name);
    grid::Grid whole;
    ASSERT_TRUE(formats::readRaster(path(name), 1, whole));
    formats::RasterWindowReader reader;
    ASSERT_TRUE(reader.open(path(name), 1));
    EXPECT_TRUE(reader.lattice().sameNodes(grid::Lattice::of(whole)));
    EXPECT_EQ(reader.georeference().noData, noData);
    for (const grid::NodeWindow window :
         {grid::NodeWindow{0, 0, 30, 20}, grid::NodeWindow{3, 11, 9, 9},
          grid::NodeWindow{29, 0, 1, 1}}) {
      grid::Grid part;
      ASSERT_TRUE(reader.read(window, part));
      const grid::Grid expected = grid::cutWindow(whole, window);
      ASSERT_EQ(part.nodeCount(), window.nodeCount());
      EXPECT_TRUE(std::equal(part.nodes().begin(), part.nodes().end(), expected.nodes().begin()));
      EXPECT_TRUE(part.sameLattice(expected));
      EXPECT_EQ(part.hasBlanks(), expected.hasBlanks());
    }
    grid::Grid untouched;
    EXPECT_FALSE(reader.read({25, 0, 6, 1}, untouched));
    EXPECT_FALSE(untouched.hasNodes());
  }
}

}  // namespace
}  // namespace vellumar::tiles
