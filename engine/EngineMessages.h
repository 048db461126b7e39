#pragma once

#include <cstdint>
#include <string>

#include "common/Language.h"
#include "engine/Operand.h"

namespace vellumar::engine {

// Messages of argument and parse errors (sink code 2), by number.
enum class ArgumentMessage {
  OpenParenthesisExpected = 0,
  CloseParenthesisExpected = 1,
  CommaExpected = 2,
  CommaOrCloseExpected = 3,
  UnknownExpression = 4,
  InvalidCombination = 5,
  InvalidType = 6,
  InvalidValue = 7,
  NoCoordinates = 8,
  EmptyColumn = 9,
  OutsidePolygonOrRectangle = 10,
  DifferentLengths = 11,
  ExecutionError = 12,
  NestedTooDeeply = 13,
};

const MessageText& argumentMessage(ArgumentMessage message);
// The message of a function's argument as the calculator words it: "Cut: ... 2"; position 0
// names no argument.
std::string argumentMessageOf(const std::string& function, ArgumentMessage message,
                              std::uint32_t position, Language language);

// Texts of the complete messages of sink code 1 and of the calculator itself.
namespace text {
extern const MessageText kInvalidSymbol;  // followed by the character and "'"
extern const MessageText kOverflow;       // follows the number text
extern const MessageText kUnknownName;    // framed by blanks and double quotes around the name
extern const MessageText kIntegration;
extern const MessageText kCancelled;
extern const MessageText kOutOfMemory;
extern const MessageText kBadMemoryLimit;  // the text of VELLUMAR_MEMORY_LIMIT
extern const MessageText kBadThreadCount;  // the text of VELLUMAR_THREADS
// The place of a fault in a file, appended to a load's message: takes the 1-based line or record
// number as its %lld.
extern const MessageText kAtLine;
extern const MessageText kAtValueFileLine;
extern const MessageText kAtRecord;
extern const MessageText kInMemory;  // identifier list entry of a computed value
extern const MessageText kCoordinateSystemsDiffer;
extern const MessageText kOperandSystemsDiffer;  // operands of several kinds
extern const MessageText kMeasuredInDegrees;     // a length or area of geographic coordinates
extern const MessageText kRecordsOverlap;        // the numbers of the two records
extern const MessageText kNoGridValues;          // Mean over a polygon that covers no grid values
extern const MessageText kNotALayer;             // a record-by-record evaluation: the name given
extern const MessageText kNotANumber;            // a record's result is not a number
extern const MessageText kNumberInTextField;
// Follows the save message of a format of several files or written with seeking (line files,
// shapefiles, rasters) saved to standard output, a pipe or a device.
extern const MessageText kFormatNeedsFiles;
extern const MessageText kCannotOpenDisplayFile;
extern const MessageText kResultGrid;
extern const MessageText kResultDataReady;
extern const MessageText kResultDataEmpty;
extern const MessageText kResultPolygon;
extern const MessageText kResultLines;
extern const MessageText kSumming;  // dispatcher names
extern const MessageText kSubtraction;
extern const MessageText kMultiplying;
extern const MessageText kDivision;
extern const MessageText kOverlayingPolygons;  // progress caption of every overlay
extern const MessageText kCheckingPolygons;    // progress caption of the union of a layer
extern const MessageText kSelectingByPolygon;  // progress captions of the polygon functions
extern const MessageText kIntegrating;
extern const MessageText kComputingGrid;  // progress captions of the grid and data kernels
extern const MessageText kComputingData;
}  // namespace text

// The text of a kernel code (101-104, 201-203); empty for other codes.
const char* kernelMessage(int code, Language language);
// The message of a function's own, as the calculator words it: "Mean: ...".
std::string functionMessageOf(const std::string& function, const MessageText& message,
                              Language language);
// The message of a kernel code recorded in a function, as the calculator words it: "Cut: ...".
std::string kernelMessageOf(const std::string& function, int code, Language language);

// Reads a display file (common/DisplayFile.h) into contents: null when it was read, else the
// message of its failure, the out-of-memory message for a file too large to hold. contents is left
// as it was on failure.
const MessageText* readDisplayText(const std::string& path, std::string& contents);

// Applies the settings of the environment (VELLUMAR_THREADS) and returns the warnings about those
// set to no usable value (also VELLUMAR_MEMORY_LIMIT), one per line; empty when all are unset or
// valid.
std::string environmentWarnings(Language language);

// The name of an operand kind as the identifier-values window shows it ("Число", "Грид", ...).
const char* kindName(Kind kind, Language language);

}  // namespace vellumar::engine
