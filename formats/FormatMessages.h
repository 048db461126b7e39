#pragma once

#include "common/Language.h"

namespace vellumar::formats {

// Texts of the raster formats: load failures and warnings shown in message boxes and on standard
// error. Each takes the file's path first where it has a %s.
namespace text {
inline constexpr MessageText kInFile{", файл %s", ", file %s"};
inline constexpr MessageText kNoSuchBand{"В файле %s нет канала %d!",
                                         "The file %s has no band %d!"};
inline constexpr MessageText kRotated{
    "Растр %s повёрнут или скошен: такой растр не читается как грид!",
    "The raster %s is rotated or sheared: it cannot be read as a grid!"};
inline constexpr MessageText kSeveralGrids{"в файле несколько гридов, укажите один из них: %s",
                                           "the file holds several grids, name one of them: %s"};
inline constexpr MessageText kNoGeotransform{
    "у растра %s нет географической привязки: узлы по X 0 … %d, по Y 0 … %d",
    "the raster %s has no geotransform: its nodes are 0 … %d along X and 0 … %d along Y"};
inline constexpr MessageText kNoDataOutOfType{
    "значение «нет данных» %s растра %s не умещается в его тип %s и не учтено",
    "the no-data value %s of the raster %s does not fit its type %s and is ignored"};
inline constexpr MessageText kBandQuestion{"В файле %s каналов: %d. Какой прочитать?",
                                           "The file %s has %d bands. Which one is to be read?"};
// Vector layers: the second line of a load message, after the kind's format message and the file.
inline constexpr MessageText kNoSuchLayer{"в файле нет слоя «%s»; слои файла: %s",
                                          "the file has no layer \"%s\"; its layers: %s"};
inline constexpr MessageText kNoLayers{"в файле нет слоёв", "the file holds no layers"};
inline constexpr MessageText kWrongGeometry{"объект %lld слоя «%s» — %s",
                                            "feature %lld of the layer \"%s\" is a %s"};
// A value field the layer does not have: the layer, the field asked for, then the layer's fields.
inline constexpr MessageText kUnknownLayerField{
    "В слое «%s» нет поля \"%s\". Поля слоя: %s.",
    "The layer \"%s\" has no field \"%s\". Its fields: %s."};
inline constexpr MessageText kNoFeaturesWithoutGeometry{
    "в этом формате нет объектов без координат: сохраните значения в GeoPackage или GeoJSON",
    "this format holds no features without coordinates: save the values as GeoPackage or GeoJSON"};
inline constexpr MessageText kLayerQuestion{"В файле %s слоёв: %d. Какой прочитать?",
                                            "The file %s has %d layers. Which one is to be read?"};
}  // namespace text

}  // namespace vellumar::formats
