#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/AttributeTable.h"
#include "data/DATA.h"

namespace vellumar::grid {
class Grid;
struct Georeference;
}  // namespace vellumar::grid

namespace vellumar::engine {

struct CheckedRegion;

// Kind codes of operands, as stored in their records and shown in the identifier list.
enum class Kind : std::uint32_t { Number = 0, Grid = 1, Data = 2, Polygon = 3, Lines = 4 };

// Every quantity the calculator handles: a number, a grid, a data column, a polygon or a set of
// lines. Lines and polygons are packed into a points table (one entry per vertex, line after line,
// each vertex carrying its line's value) and a parts table (the vertex count of each line or ring),
// optionally with the id of each line or ring: rings that share an id form one feature (the parts
// of one shapefile record), which the polygon exports keep together.
//
// Contents are immutable once made and shared between copies, so copying an operand (a name
// looked up, a result kept by the window) never copies a grid or a column: an operand is observably
// an independent value, because every operation builds new contents instead of changing them. The
// one exception is a temporary of the evaluation whose contents nobody else holds: an operator
// may take them over (takeGrid, takePoints) and build its result in their place.
class Operand {
 public:
  using GridPtr = std::shared_ptr<const grid::Grid>;
  using DataPtr = std::shared_ptr<const data::DATA>;
  using PartsPtr = std::shared_ptr<const std::vector<std::int32_t>>;
  using AttributesPtr = std::shared_ptr<const data::AttributeTable>;

  Operand() = default;
  static Operand number(double value);
  static Operand grid(GridPtr grid);
  // A grid operand holding a grid just built, which takeGrid() may later hand over.
  static Operand newGrid(grid::Grid value);
  static Operand data(DataPtr points);
  // A polygon (Kind::Polygon) or lines (Kind::Lines) operand from packed tables; ids, when given,
  // holds one id per part, and attributes, kept only with ids, the attribute row of each id (the
  // record number of a shapefile layer).
  static Operand lines(Kind kind, DataPtr points, PartsPtr parts, PartsPtr ids = nullptr,
                       AttributesPtr attributes = nullptr);

  Kind kind() const { return kind_; }
  bool isNumber() const { return kind_ == Kind::Number; }
  bool isLineKind() const { return kind_ == Kind::Polygon || kind_ == Kind::Lines; }

  double numberValue() const { return number_; }
  // The grid of a grid operand; null for other kinds.
  const grid::Grid* gridValue() const { return grid_.get(); }
  const GridPtr& sharedGrid() const { return grid_; }
  // The points table of data, polygon and lines operands (never null).
  const data::DATA& points() const;
  const DataPtr& sharedPoints() const { return points_; }
  // Vertex counts of the lines or rings of polygon and lines operands.
  const std::vector<std::int32_t>& parts() const;
  const PartsPtr& sharedParts() const { return parts_; }
  // The ids of the lines or rings, one per part; empty when the operand carries none.
  const std::vector<std::int32_t>& ids() const;
  const PartsPtr& sharedIds() const { return ids_; }
  // The attributes of the records the ids name (a layer loaded from a shapefile, or a result that
  // keeps its records); null when the operand carries none.
  const AttributesPtr& attributes() const { return attributes_; }

  // Contents for a kernel that builds its result over them, leaving this operand without them.
  // When this operand is a temporary that alone holds contents it made (newGrid; a data column
  // nobody else shares), they are handed over, and the kernel writes in place; otherwise the
  // kernel gets a copy (for data, sharing the columns, so the kernel writes a fresh one). A named
  // value, or any contents another operand holds, is never changed.
  grid::Grid takeGrid();
  data::DATA takePoints();
  // Gives a grid this operand alone holds, built without a coordinate system, the georeference
  // of the grid it was computed from; any other grid keeps its own.
  void adoptGeoreference(const grid::Georeference& georeference);
  // The coordinate system the operand lies in, as WKT (or the ESRI text of a shapefile's .prj):
  // a grid's georeference, or the layer's system of lines, polygons and data; empty when it has
  // none (numbers, DSAA grids, line and data text files).
  const std::string& coordinateSystem() const;
  // Its short name for lists ("EPSG:32632"); empty when it has none or none is known.
  const std::string& coordinateSystemName() const;
  // Gives lines, polygons and data the coordinate system of their layer, with its short name;
  // grids keep their georeference's.
  void setCoordinateSystem(std::string wkt, std::string shortName = {});

  const std::string& sourcePath() const { return sourcePath_; }
  void setSourcePath(std::string path) { sourcePath_ = std::move(path); }
  std::uint32_t argumentPosition() const { return argumentPosition_; }
  void setArgumentPosition(std::uint32_t position) { argumentPosition_ = position; }

  // The checked region of the contents of a polygon or lines operand, shared by its copies (see
  // CheckedRegion); null for other kinds.
  const std::shared_ptr<CheckedRegion>& checkedRegion() const { return checked_; }

  // Takes the kind and content of source and drops every content of other kinds; this operand's
  // source path and argument position stay.
  void assign(const Operand& source);
  // Changes the kind tag between polygon and lines, which share their packed contents.
  void setKind(Kind kind);

 private:
  std::string sourcePath_;
  Kind kind_ = Kind::Number;
  double number_ = 0.0;
  GridPtr grid_;
  bool gridIsNew_ = false;  // grid_ was made by newGrid (not a const object): it may be moved from
  DataPtr points_;
  PartsPtr parts_;
  PartsPtr ids_;
  AttributesPtr attributes_;
  std::shared_ptr<CheckedRegion> checked_;  // with the line contents, shared as they are
  struct Placement {
    std::string wkt;
    std::string shortName;
  };
  std::shared_ptr<const Placement> system_;  // shared, as copies of operands are many
  std::uint32_t argumentPosition_ = 0;
};

}  // namespace vellumar::engine
