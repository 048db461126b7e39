#pragma once

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "common/Pointwise.h"
#include "data/DataColumnChoice.h"
#include "data/DataFileWriter.h"
#include "data/M_Data.h"

namespace vellumar::data {

// Every text the data subsystem's callers show, in Russian and English. File messages go to
// message boxes; the kernel texts complete the error sink's codes 101-104.
namespace text {

inline constexpr MessageText kAlreadyLoaded{"Такой файл уже загружен!",
                                            "This file is already loaded!"};
// Takes the path as its one %s.
inline constexpr MessageText kCannotOpen{"Нельзя открыть файл %s !", "Cannot open the file %s !"};
inline constexpr MessageText kBadDelimiter{"Недопустимый разделитель!", "Invalid delimiter!"};
inline constexpr MessageText kBadFormat{"Недопустимый формат файла данных!",
                                        "Invalid data file format!"};
inline constexpr MessageText kNoData{"Отсутствуют данные!", "No data!"};
inline constexpr MessageText kBadCoordinateColumns{"Недопустимые столбцы координат X и Y!",
                                                   "Invalid X and Y coordinate columns!"};
inline constexpr MessageText kInitFailed{"Ошибка инициализации данных!",
                                         "Data initialisation error!"};
inline constexpr MessageText kLoadedShapefile{"Не допускается сохранение в загруженном shp-файле!",
                                              "Saving into a loaded shp file is not allowed!"};
inline constexpr MessageText kLoadedLayer{"Не допускается сохранение в загруженном файле слоя!",
                                          "Saving into a loaded layer file is not allowed!"};
inline constexpr MessageText kBufferFailed{"Ошибка создания буферного файла!",
                                           "Cannot create the buffer file!"};
inline constexpr MessageText kSizeMismatch{"Несовпадение размерности данных!",
                                           "Data sizes do not match!"};
inline constexpr MessageText kCoordinateMismatch{"Несовпадение координат данных!",
                                                 "Data coordinates do not match!"};
inline constexpr MessageText kSaveFailed{"Ошибка сохранения данных!", "Data saving error!"};
inline constexpr MessageText kDataChanged{"файл данных изменён после загрузки",
                                          "the data file changed after it was loaded"};

inline constexpr MessageText kDataLength{"разная длина колонок!", "columns have not equal length!"};
inline constexpr MessageText kDataNoCoordinates{"не указаны координатные колонки!",
                                                "columns of coordinates are not defined!"};

}  // namespace text

// The text of a kernel code 101-104; nullptr for any other code.
inline const MessageText* kernelMessage(int code) {
  switch (code) {
    case sink_code::kDataLength:
      return &text::kDataLength;
    case sink_code::kDataNoCoordinates:
      return &text::kDataNoCoordinates;
    case sink_code::kDivisionByZero:
      return &vellumar::text::kDivisionByZero;
    case sink_code::kDataDomain:
      return &vellumar::text::kOutOfDomain;
    default:
      return nullptr;
  }
}

// The message of a failed read (kCannotOpen takes the path); nullptr for Ok and Cancelled.
inline const MessageText* readMessage(ReadStatus status) {
  switch (status) {
    case ReadStatus::Ok:
      return nullptr;
    case ReadStatus::CannotOpen:
      return &text::kCannotOpen;
    case ReadStatus::InvalidFormat:
      return &text::kBadFormat;
    case ReadStatus::Cancelled:
      return nullptr;  // the face reports a cancel with its own text
  }
  return nullptr;
}

// The message of a failed save; nullptr for Ok.
inline const MessageText* saveMessage(SaveStatus status) {
  switch (status) {
    case SaveStatus::Ok:
      return nullptr;
    case SaveStatus::LoadedShapefile:
      return &text::kLoadedShapefile;
    case SaveStatus::BufferFailed:
      return &text::kBufferFailed;
    case SaveStatus::SizeMismatch:
      return &text::kSizeMismatch;
    case SaveStatus::CoordinateMismatch:
      return &text::kCoordinateMismatch;
    case SaveStatus::SaveFailed:
      return &text::kSaveFailed;
    case SaveStatus::DataChanged:
      return &text::kDataChanged;
  }
  return nullptr;
}

// The message of a refused column choice; nullptr for Ok.
inline const MessageText* choiceMessage(ChoiceStatus status) {
  switch (status) {
    case ChoiceStatus::Ok:
      return nullptr;
    case ChoiceStatus::NoData:
      return &text::kNoData;
    case ChoiceStatus::BadCoordinateColumns:
      return &text::kBadCoordinateColumns;
    case ChoiceStatus::OutOfMemory:
      return &text::kInitFailed;
  }
  return nullptr;
}

}  // namespace vellumar::data
