#include "common/CFormat.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vellumar {
namespace {

locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

// Switches the calling thread to the "C" locale for the lifetime of the object.
class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(cLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

std::string vcformat(const char* format, va_list args) {
  CLocaleScope scope;
  char buffer[256];
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (length < 0) return {};
  if (static_cast<std::size_t>(length) < sizeof buffer) return std::string(buffer, length);
  std::string result(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(result.data(), result.size(), format, args);
  result.resize(length);
  return result;
}

std::string cformat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = vcformat(format, args);
  va_end(args);
  return result;
}

double cstrtod(const char* text, char** end) {
  return strtod_l(text, end, cLocale());
}

bool parseWholeDouble(std::string_view text, double& value) {
  if (text.empty()) return false;
  // from_chars decides the plain decimal forms at full speed; what it cannot read whole (leading
  // white space or '+', hex, out of range) goes to strtod itself, so the syntax stays strtod's.
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec == std::errc() && result.ptr == end) return true;
  thread_local std::string scratch;  // strtod needs a terminated string
  scratch.assign(text);
  char* stop = nullptr;
  value = cstrtod(scratch.c_str(), &stop);
  return stop == scratch.c_str() + scratch.size();
}

void appendGeneral(std::string& out, double value, int significantDigits) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::general, significantDigits);
  out.append(buffer, result.ptr);
}

}  // namespace vellumar
