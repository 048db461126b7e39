#pragma once

#include "common/Language.h"

namespace vellumar::tiles::text {

// Messages of the evaluation by tiles; the engine's and the readers' messages come from their own
// tables.
inline constexpr MessageText kNotTileable{"--tiles: функция %s не вычисляется по плиткам",
                                          "--tiles: %s cannot be evaluated tile by tile"};
inline constexpr MessageText kOfGridNameOnly{
    "--tiles: функция %s вычисляется по плиткам только от имени грида и чисел",
    "--tiles: %s is evaluated tile by tile only of a grid's name and numbers"};
inline constexpr MessageText kNumbersKnownFirst{
    "--tiles: аргументы %s после грида - числа, не зависящие от гридов",
    "--tiles: the arguments of %s after the grid must be numbers that use no grid"};
inline constexpr MessageText kPolygonUsesGrid{
    "--tiles: полигон функции %s не должен зависеть от гридов",
    "--tiles: the polygon of %s must use no grid"};
inline constexpr MessageText kNotAGrid{"--tiles: операнд %s - не грид",
                                       "--tiles: the operand %s is not a grid"};
inline constexpr MessageText kLatticesDiffer{
    "--tiles: гриды %s и %s лежат на разных решетках",
    "--tiles: the grids %s and %s lie on different lattices"};
inline constexpr MessageText kIntermediateOnOtherLattice{
    "--tiles: %s читается через поверхность на другой решетке, но зависит от имен, которым "
    "текст присваивает значения",
    "--tiles: %s would be read through its surface on another lattice, but it depends on names "
    "the text assigns"};
inline constexpr MessageText kNoGrid{"--tiles: не загружен ни один грид",
                                     "--tiles: no grid is loaded"};
inline constexpr MessageText kResultNotGrid{
    "--tiles: результат - не грид на решетке исходных гридов",
    "--tiles: the result is not a grid over the lattice of the grids read"};
inline constexpr MessageText kWindowReadFailed{"--tiles: ошибка чтения грида %s",
                                               "--tiles: cannot read the grid %s"};
inline constexpr MessageText kWritesGeoTiff{
    "--tiles: результат записывается в GeoTIFF: -o ФАЙЛ.tif",
    "--tiles: the result is written as a GeoTIFF: -o FILE.tif"};
inline constexpr MessageText kOneExpression{"--tiles: по плиткам вычисляется одно выражение",
                                            "--tiles: one expression is evaluated tile by tile"};
inline constexpr MessageText kTilesHandedOut{"--tiles: роздано %d%% плиток",
                                             "--tiles: %d%% of the tiles handed out"};
inline constexpr MessageText kTilesDone{"--tiles: готово %d%% плиток",
                                        "--tiles: %d%% of the tiles done"};
inline constexpr MessageText kNoMpi{
    "--tiles: vellumar-calc собран без MPI и не делит плитки между процессами mpirun",
    "--tiles: this vellumar-calc was built without MPI and cannot share tiles between the "
    "processes of mpirun"};

}  // namespace vellumar::tiles::text
