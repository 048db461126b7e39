#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace vellumar {

// printf-style formatting and strtod-style parsing that always use the "C" numeric conventions,
// whatever locale the desktop runs in: a Russian locale must never turn "0.5" into "0,5".

// Formats like snprintf under the "C" locale.
std::string cformat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vcformat(const char* format, va_list args);

// strtod under the "C" locale: same accepted syntax (leading white space, sign, hex, inf, nan),
// same end pointer and HUGE_VAL on overflow.
double cstrtod(const char* text, char** end);

// True when the whole of text (no more, no less) is read by strtod under the "C" locale; value
// receives the result (exactly strtod's, also for out-of-range and hex forms). The one test of
// "this token is a number" of every reader.
[[nodiscard]] bool parseWholeDouble(std::string_view text, double& value);

// Appends value to out in the shortest "%.*g" form with the given significant digits
// (the default general format of a C++ stream with that precision).
void appendGeneral(std::string& out, double value, int significantDigits);

}  // namespace vellumar
