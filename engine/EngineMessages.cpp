#include "engine/EngineMessages.h"

#include <array>
#include <new>

#include "common/CFormat.h"
#include "common/DisplayFile.h"
#include "common/ErrorSink.h"
#include "common/Memory.h"
#include "common/Parallel.h"
#include "data/DataMessages.h"
#include "grid/GridMessages.h"

namespace vellumar::engine {
namespace {

constexpr std::array<MessageText, 14> kArgumentMessages = {{
    {"пропущена '('!", "'(' expected!"},
    {"пропущена ')'!", "')' expected!"},
    {"пропущена ','!", "',' expected!"},
    {"пропущена ',' или ')'!", "',' or ')' expected!"},
    {"неизвестное выражение!", "unknown expression!"},
    {"неверное сочетание аргументов!", "invalid combination of arguments!"},
    {"недопустимый тип аргумента", "invalid type of argument"},
    {"недопустимое значение аргумента", "invalid value of argument"},
    {"не указаны столбцы координат для аргумента", "coordinate columns are not set for argument"},
    {"пустая колонка аргумента", "empty column for argument"},
    {"вне полигона или прямоугольника аргумент", "is out of the polygon or rectangle argument"},
    {"разная длина колонок!", "columns have different length!"},
    {"ошибка исполнения функции!", "error while executing the function!"},
    {"слишком глубокая вложенность выражения!", "expression is nested too deeply!"},
}};

constexpr std::array<MessageText, 5> kKindNames = {{
    {"Число", "Number"},
    {"Грид", "Grid"},
    {"Данные", "Data"},
    {"Полигон", "Polygon"},
    {"Линии", "Lines"},
}};

}  // namespace

namespace text {
const MessageText kInvalidSymbol = {"Неверный символ '", "Invalid symbol '"};
const MessageText kOverflow = {" - переполнение разрядности числа!", " - overfolw!"};
const MessageText kUnknownName = {"неизвестное имя", "unknown name"};
const MessageText kIntegration = {"функции интегрирования !", "function of integrating !"};
const MessageText kCancelled = {"Вычисление прервано", "Calculation cancelled"};
const MessageText kOutOfMemory = {"недостаточно памяти для вычисления!",
                                  "not enough memory for the calculation!"};
const MessageText kBadMemoryLimit = {
    "недопустимый предел памяти VELLUMAR_MEMORY_LIMIT=\"%s\": используется автоматический предел",
    "invalid memory limit VELLUMAR_MEMORY_LIMIT=\"%s\": the automatic limit is used"};
const MessageText kBadThreadCount = {
    "недопустимое число потоков VELLUMAR_THREADS=\"%s\": используются все доступные ядра",
    "invalid thread count VELLUMAR_THREADS=\"%s\": every usable core is used"};
const MessageText kAtLine = {", строка %lld", ", line %lld"};
const MessageText kAtValueFileLine = {", строка %lld файла значений",
                                      ", line %lld of the value file"};
const MessageText kAtRecord = {", запись %lld", ", record %lld"};
const MessageText kInMemory = {"[В памяти Vellumar]", "[In Vellumar memory]"};
const MessageText kCoordinateSystemsDiffer = {"системы координат гридов различны",
                                              "the grids have different coordinate systems"};
const MessageText kMeasuredInDegrees = {"координаты в градусах: длины и площади в градусах",
                                        "coordinates are in degrees: lengths and areas are in "
                                        "degrees"};
const MessageText kOperandSystemsDiffer = {"системы координат операндов различны",
                                           "the operands have different coordinate systems"};
const MessageText kRecordsOverlap = {"объекты %d и %d перекрываются", "records %d and %d overlap"};
const MessageText kNoGridValues = {"в полигоне нет значений грида",
                                   "the polygon covers no grid values"};
const MessageText kNotALayer = {"%s - не слой полигонов или линий",
                                "%s is no layer of polygons or lines"};
const MessageText kNotANumber = {"результат - не число", "the result is not a number"};
const MessageText kNumberInTextField = {"Результат - число - в текстовом поле",
                                        "Result - number - in the text field"};
const MessageText kFormatNeedsFiles = {
    "этот формат пишется только в файлы, не в стандартный вывод, канал или устройство",
    "this format is written to files only, not to standard output, a pipe or a device"};
const MessageText kCannotOpenDisplayFile = {"Нельзя открыть файл содержимого табло!",
                                            "Cannot open the display file!"};
const MessageText kResultGrid = {"Результат - карта - готов !", "Result - map - ready !"};
const MessageText kResultDataReady = {"Результат - данные - готов !", "Result - data - ready !"};
const MessageText kResultDataEmpty = {"Результат - данные - пустой !", "Result - data - empty !"};
const MessageText kResultPolygon = {"Результат - полигон - готов !", "Result - polygon - ready !"};
const MessageText kResultLines = {"Результат - линии - готов !", "Result - lines - ready !"};
const MessageText kSumming = {"Сложение", "Summing"};
const MessageText kSubtraction = {"Вычитание", "Subtraction"};
const MessageText kMultiplying = {"Умножение", "Multiplying"};
const MessageText kDivision = {"Деление", "Division"};
const MessageText kOverlayingPolygons = {"Наложение полигонов...", "Overlaying polygons..."};
const MessageText kCheckingPolygons = {"Объединение объектов слоя...",
                                       "Uniting the records of a layer..."};
const MessageText kSelectingByPolygon = {"Выборка по полигону", "Selecting by the polygon"};
const MessageText kIntegrating = {"Интегрирование по полигону", "Integrating over the polygon"};
const MessageText kComputingGrid = {"Расчет грида...", "Computing the grid..."};
const MessageText kComputingData = {"Расчет данных...", "Computing the data..."};
}  // namespace text

const MessageText& argumentMessage(ArgumentMessage message) {
  return kArgumentMessages[static_cast<std::size_t>(message)];
}

const char* kernelMessage(int code, Language language) {
  if (const MessageText* message = data::kernelMessage(code)) return message->in(language);
  if (const MessageText* message = grid::kernelMessage(code)) return message->in(language);
  return "";
}

const MessageText* readDisplayText(const std::string& path, std::string& contents) {
  try {
    if (readDisplayFile(path, contents) == FileError::None) return nullptr;
  } catch (const std::bad_alloc&) {
    return &text::kOutOfMemory;
  }
  return &text::kCannotOpenDisplayFile;
}

std::string environmentWarnings(Language language) {
  std::string warnings;
  if (const std::optional<std::string> bad = memory::badLimitSetting()) {
    warnings = cformat(text::kBadMemoryLimit.in(language), bad->c_str());
  }
  if (const std::optional<std::string> bad = parallel::applyThreadSetting()) {
    if (!warnings.empty()) warnings += '\n';
    warnings += cformat(text::kBadThreadCount.in(language), bad->c_str());
  }
  return warnings;
}

const char* kindName(Kind kind, Language language) {
  return kKindNames[static_cast<std::size_t>(kind)].in(language);
}

std::string argumentMessageOf(const std::string& function, ArgumentMessage message,
                              std::uint32_t position, Language language) {
  std::string composed = function + ": " + argumentMessage(message).in(language);
  if (position > 0) composed += cformat(" %u", position);
  return composed;
}

std::string functionMessageOf(const std::string& function, const MessageText& message,
                              Language language) {
  return function + ": " + message.in(language);
}

std::string kernelMessageOf(const std::string& function, int code, Language language) {
  return function + ": " + kernelMessage(code, language);
}

}  // namespace vellumar::engine
