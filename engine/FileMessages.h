#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "common/ErrorSink.h"
#include "common/MemoryGuard.h"
#include "engine/Calculator.h"
#include "engine/FileStatus.h"
#include "formats/VectorFile.h"

namespace vellumar::engine {

// What every load and save says and how it runs: the messages composed in the calculator's
// language (a load message naming its file, the place of a fault, the cancel, out of memory), the
// progress of a file's rows, and the guard that turns memory running out into its message. The
// loaders and the saver share one, so a fault of one kind reads like a fault of another.
class FileMessages {
 public:
  explicit FileMessages(S_Calculator& calc) : calc_(calc) {}

  const char* text(const MessageText& message) const { return message.in(calc_.language()); }
  Language language() const { return calc_.language(); }

  // The load message of a kind naming the file, and on a line of its own why (when known).
  FileStatus fileFault(const MessageText& message, const std::string& file,
                       const std::string& reason) const;
  // "Нельзя открыть файл ... !" for a path that names no file.
  FileStatus cannotOpen(const std::string& path) const;
  FileStatus alreadyLoaded() const;
  FileStatus cancelled() const;
  FileStatus outOfMemory() const;
  // The save message of a kind for a target that is a stream, where the format needs files.
  FileStatus needsFiles(const MessageText& saveMessage) const;
  // message followed by the place of its fault (place with number), when number is known (> 0).
  std::string placed(const char* message, const MessageText& place, std::int64_t number) const;
  // Names in a message: "a, b, c", or "none".
  std::string nameList(const std::vector<std::string>& names) const;
  // The message of a failed vector read: the kind's format message naming the file, and on a
  // line of its own what was wrong.
  FileStatus vectorFault(const formats::VectorRead& read, const MessageText& formatMessage,
                         const std::string& path, const std::string& valueField) const;
  // The success of a vector read: the notice that Z or M values were left out, when they were.
  FileStatus vectorRead(const formats::VectorRead& read) const;

  // The calculator's sink, to which a file reader or writer reports its rows and which carries
  // the cancel (see ProgressPacer::opening).
  ErrorSink* fileProgress() const { return &calc_.sink(); }
  // Whether the last writer stopped because the user cancelled it.
  bool cancelledInSink() const { return calc_.sink().code() == sink_code::kCancelled; }
  // Closes the progress a file's rows opened, when one was shown.
  void closeProgress() const { calc_.sink().progressClose(); }

  // Runs a command; memory running out in it (or a thread that cannot be started) gives the
  // out-of-memory message. Closes the progress its file's rows opened.
  template <class Command>
  FileStatus guarded(Command&& command) const {
    FileStatus status = outOfMemory();
    const memory::Guard guard;
    try {
      status = command();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    } catch (const std::system_error&) {
    }
    closeProgress();
    return status;
  }

 private:
  S_Calculator& calc_;
};

// A path that names no file at all: its load failed for that, not for what the file holds.
bool isMissing(const std::string& path);

}  // namespace vellumar::engine
