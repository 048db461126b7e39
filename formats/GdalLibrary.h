#pragma once

#include <string>

// What every file of this folder needs from GDAL beyond its own calls: the drivers registered
// once, and GDAL's messages caught instead of printed. Only this folder includes it.
namespace vellumar::formats::detail {

// Registers GDAL's drivers on first use and bounds GDAL's block cache, so that a whole raster
// never sits in the cache beside the grid it was read into (unless the user set GDAL_CACHEMAX).
void ensureRegistered();

// GDAL's errors on this thread while it lives: kept, not printed; message() gives the last
// failure's text, for the second line of a load or save message.
class ErrorCapture {
 public:
  ErrorCapture();
  ~ErrorCapture();
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;

  const std::string& message() const { return message_; }
  bool failed() const { return failed_; }
  void note(bool failure, const char* message);

 private:
  std::string message_;
  bool failed_ = false;
};

// Sets a GDAL configuration option for this thread while it lives, then restores it.
class ThreadOption {
 public:
  ThreadOption(const char* key, const char* value);
  ~ThreadOption();
  ThreadOption(const ThreadOption&) = delete;
  ThreadOption& operator=(const ThreadOption&) = delete;

 private:
  const char* key_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace vellumar::formats::detail
