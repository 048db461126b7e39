#include "data/ShapeIo.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "common/CFormat.h"
#include "common/CommitJournal.h"
#include "common/FileIo.h"
#include "common/MemoryGuard.h"

namespace vellumar::data::detail {
namespace {

// Prefix of the names of files that exist only in memory: shapelib writes an export under such
// a name, and the export saves the bytes to the real targets through the safe save. No path a
// user can give starts with a control character.
constexpr std::string_view kMemoryPrefix = "\x01vellumar-memory/";

// The memory files of this thread's exports, and the files read ahead of a shapelib open.
thread_local std::map<std::string, std::string> tMemoryFiles;
thread_local std::map<std::string, std::string> tPreloaded;
// The sizes an export expects its memory files to reach.
thread_local std::map<std::string, std::size_t> tExpectedSizes;

bool isMemoryName(std::string_view name) {
  return name.substr(0, kMemoryPrefix.size()) == kMemoryPrefix;
}

// A file as shapelib sees it: the whole content in memory. shapelib seeks before every record it
// reads or writes; on a C stream each of those seeks costs a system call. Files on disk are only
// read; memory files are kept in tMemoryFiles between an open and the next.
struct MemoryFile {
  std::string path;
  std::string bytes;
  std::size_t position = 0;
  bool inMemory = false;
  std::size_t expected = 0;  // the size the export expects, reserved when the bytes first grow
};

MemoryFile* memoryFile(SAFile file) {
  return reinterpret_cast<MemoryFile*>(file);
}

// The hooks are called from shapelib's C code, which no exception may cross: running out of
// memory in them is a failed open or write, which shapelib reports.
SAFile hookOpen(const char* name, const char* access) try {
  const std::string_view mode(access);
  const bool writing = mode.find_first_of("wa+") != std::string_view::npos;
  auto file = std::make_unique<MemoryFile>();
  file->path = name;
  file->inMemory = isMemoryName(name);
  if (file->inMemory) {
    if (const auto size = tExpectedSizes.find(file->path); size != tExpectedSizes.end()) {
      file->expected = size->second;
    }
    const auto found = tMemoryFiles.find(file->path);
    if (mode.find('w') == std::string_view::npos) {
      if (found == tMemoryFiles.end()) return nullptr;
      file->bytes = std::move(found->second);
    }
  } else if (writing) {
    return nullptr;  // files on disk are written only through the safe save
  } else if (const auto preloaded = tPreloaded.find(file->path); preloaded != tPreloaded.end()) {
    file->bytes = std::move(preloaded->second);
    tPreloaded.erase(preloaded);
  } else if (readFile(file->path, file->bytes) != FileError::None) {
    return nullptr;
  }
  return reinterpret_cast<SAFile>(file.release());
} catch (const std::bad_alloc&) {
  return nullptr;
}

SAOffset hookRead(void* buffer, SAOffset size, SAOffset count, SAFile handle) {
  MemoryFile& file = *memoryFile(handle);
  if (size == 0 || file.position >= file.bytes.size()) return 0;
  const SAOffset items = std::min<SAOffset>(count, (file.bytes.size() - file.position) / size);
  std::memcpy(buffer, file.bytes.data() + file.position, items * size);
  file.position += items * size;
  return items;
}

SAOffset hookWrite(void* buffer, SAOffset size, SAOffset count, SAFile handle) try {
  MemoryFile& file = *memoryFile(handle);
  if (!file.inMemory) return 0;
  const std::size_t length = size * count;
  if (length == 0) return count;  // shapelib writes empty records with a null buffer
  // Grown to the expected size at once, the file is never copied to a buffer twice its size.
  if (file.position + length > file.bytes.capacity() && file.expected > file.bytes.capacity()) {
    file.bytes.reserve(file.expected);
  }
  // A write after a seek past the end leaves zeros between; bytes written at the end are
  // appended, without filling them with zeros first.
  if (file.position > file.bytes.size()) file.bytes.resize(file.position);
  const std::size_t overwritten = std::min(length, file.bytes.size() - file.position);
  file.bytes.replace(file.position, overwritten, static_cast<const char*>(buffer), length);
  file.position += length;
  return count;
} catch (const std::bad_alloc&) {
  return 0;
}

SAOffset hookSeek(SAFile handle, SAOffset offset, int whence) {
  MemoryFile& file = *memoryFile(handle);
  const SAOffset base = whence == SEEK_CUR   ? file.position
                        : whence == SEEK_END ? file.bytes.size()
                                             : 0;
  // Offsets are unsigned: a move back from the end or the current position wraps around.
  const SAOffset target = base + offset;
  if (target > (SAOffset(1) << 40)) return SAOffset(-1);
  file.position = target;
  return 0;
}

SAOffset hookTell(SAFile handle) {
  return memoryFile(handle)->position;
}

int hookFlush(SAFile) {
  return 0;
}

int hookClose(SAFile handle) try {
  const std::unique_ptr<MemoryFile> file(memoryFile(handle));
  if (file->inMemory) tMemoryFiles[file->path] = std::move(file->bytes);
  return 0;
} catch (const std::bad_alloc&) {
  return -1;  // the export then finds its file missing and fails
}

// shapelib removes stale companion files of what it creates; only memory files go.
int hookRemove(const char* name) {
  return isMemoryName(name) && tMemoryFiles.erase(name) > 0 ? 0 : -1;
}

void hookError(const char*) {}

double hookAtof(const char* text) {
  return cstrtod(text, nullptr);
}

SAHooks makeHooks() {
  SAHooks hooks{};
  hooks.FOpen = hookOpen;
  hooks.FRead = hookRead;
  hooks.FWrite = hookWrite;
  hooks.FSeek = hookSeek;
  hooks.FTell = hookTell;
  hooks.FFlush = hookFlush;
  hooks.FClose = hookClose;
  hooks.Remove = hookRemove;
  hooks.Error = hookError;
  hooks.Atof = hookAtof;
  return hooks;
}

// Position of the extension's dot in the file name part of path, or npos.
std::size_t extensionDot(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  const std::size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return std::string::npos;
  }
  return dot;
}

constexpr const char* kLowerExtensions[] = {".shp", ".shx", ".dbf"};
constexpr const char* kUpperExtensions[] = {".SHP", ".SHX", ".DBF"};
// Order of the renames of an export: the index first and the shapes last, so that a save cut
// short between them leaves an index that disagrees with the shapes it lies beside, which the
// reader refuses (see indexMatchesShapes).
constexpr int kOrder[] = {1, 2, 0};

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// The first of base + extension in lower and in upper case that exists, with its size.
std::optional<std::pair<std::string, std::uint64_t>> existing(const std::string& base, int file) {
  for (const char* const* extensions : {kLowerExtensions, kUpperExtensions}) {
    const std::string name = base + extensions[file];
    struct stat info {};
    if (stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      return std::make_pair(name, static_cast<std::uint64_t>(info.st_size));
    }
  }
  return std::nullopt;
}

// shapelib sizes its index from the .shx header and its record buffer from each index entry
// before reading anything, so a damaged index could make it allocate gigabytes: the index must
// lie within the .shx and every record it lists within the .shp. The two files must also belong
// together, as a save cut short could leave a new index beside old shapes: their headers agree
// after the file length (shape type and bounds), and each record's length in the .shp is the
// length the index gives it.
bool indexMatchesShapes(const std::string& shp, const std::string& shx) {
  if (shx.size() < 100 || shp.size() < 100) return false;
  const std::uint64_t length = std::uint64_t(bigEndian32(shx, 24)) * 2;
  if (length < 100 || length > shx.size()) return false;
  if (shp.compare(28, 72, shx, 28, 72) != 0) return false;
  for (std::size_t at = 100; at + 8 <= length; at += 8) {
    const std::uint64_t offset = std::uint64_t(bigEndian32(shx, at)) * 2;
    const std::uint64_t size = std::uint64_t(bigEndian32(shx, at + 4)) * 2;
    if (offset + 8 + size > shp.size()) return false;
    if (std::uint64_t(bigEndian32(shp, static_cast<std::size_t>(offset) + 4)) * 2 != size) {
      return false;
    }
  }
  return true;
}

// Reads the .shp and .shx of path and checks them against each other; on success they wait in
// tPreloaded for shapelib's open. Missing files are left for shapelib to refuse.
bool preloadShapes(const std::string& path) {
  const std::string base = path.substr(0, extensionDot(path));
  const auto shp = existing(base, 0);
  const auto shx = existing(base, 1);
  if (!shp || !shx) return true;
  std::string shapes;
  std::string index;
  if (readFile(shp->first, shapes) != FileError::None ||
      readFile(shx->first, index) != FileError::None || !indexMatchesShapes(shapes, index)) {
    return false;
  }
  tPreloaded[shp->first] = std::move(shapes);
  tPreloaded[shx->first] = std::move(index);
  return true;
}

}  // namespace

SAHooks* shapeHooks() {
  static SAHooks hooks = makeHooks();
  return &hooks;
}

// A save of the shapefile's files that died half-way is rolled back before any is read; its
// journal is named after the .shp file, in either case.
void recoverShapefileSave(const std::string& path) {
  const std::string base = path.substr(0, extensionDot(path));
  recoverInterruptedSave(base + ".shp");
  recoverInterruptedSave(base + ".SHP");
}

ShpFile openShp(const std::string& path) {
  recoverShapefileSave(path);
  if (!preloadShapes(path)) {
    memory::throwIfRefused();  // the hooks cannot pass the refusal through shapelib
    return nullptr;
  }
  ShpFile shp(SHPOpenLL(path.c_str(), "rb", shapeHooks()));
  tPreloaded.clear();
  if (!shp) memory::throwIfRefused();
  return shp;
}

DbfFile openDbf(const std::string& path, const char* mode) {
  if (std::string_view(mode) == "rb") recoverShapefileSave(path);
  DbfFile dbf(DBFOpenLL(path.c_str(), mode, shapeHooks()));
  if (!dbf) memory::throwIfRefused();  // the hooks cannot pass the refusal through shapelib
  return dbf;
}

bool wellFormed(const SHPObject& shape) {
  if (shape.nVertices < 0 || shape.nParts < 0) return false;
  if (shape.nVertices > 0 && (shape.padfX == nullptr || shape.padfY == nullptr)) return false;
  if (shape.nParts > 0 && shape.panPartStart == nullptr) return false;
  int previous = 0;
  for (int k = 0; k < shape.nParts; ++k) {
    const int start = shape.panPartStart[k];
    if (start < previous || start > shape.nVertices) return false;
    previous = start;
  }
  return true;
}

bool readProjection(const std::string& path, std::string& bytes) {
  const std::string base = path.substr(0, extensionDot(path));
  for (const char* extension : {".prj", ".PRJ"}) {
    const std::string name = base + extension;
    struct stat info {};
    if (stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      return readFile(name, bytes) == FileError::None;
    }
  }
  return false;
}

ExportFiles::ExportFiles(const std::string& path, std::string projection)
    : projection_(std::move(projection)) {
  thread_local unsigned counter = 0;
  const std::size_t dot = extensionDot(path);
  const std::string targetBase = path.substr(0, dot);
  const bool upperCase =
      dot != std::string::npos && path.compare(dot, std::string::npos, ".SHP") == 0;
  memoryBase_ = std::string(kMemoryPrefix) + std::to_string(counter++) + "/export";
  for (int k = 0; k < 3; ++k) {
    const int file = kOrder[k];
    // The projection goes in before the shapes, which are renamed last.
    if (file == 0 && !projection_.empty()) {
      projectionTarget_ = &files_.add(targetBase + (upperCase ? ".PRJ" : ".prj"));
    }
    targets_[file] =
        &files_.add(targetBase + (upperCase ? kUpperExtensions : kLowerExtensions)[file]);
  }
}

ExportFiles::~ExportFiles() {
  for (const char* extension : kLowerExtensions) {
    tMemoryFiles.erase(memoryBase_ + extension);
    tExpectedSizes.erase(memoryBase_ + extension);
  }
}

void ExportFiles::expectShapeBytes(std::size_t bytes) {
  tExpectedSizes[memoryBase_ + kLowerExtensions[0]] = bytes;
}

bool ExportFiles::open() {
  return files_.open();
}

bool ExportFiles::commit() {
  for (int file = 0; file < 3; ++file) {
    const auto written = tMemoryFiles.find(memoryBase_ + kLowerExtensions[file]);
    if (written == tMemoryFiles.end() || !targets_[file]->write(written->second)) return false;
    tMemoryFiles.erase(written);
  }
  if (projectionTarget_ != nullptr && !projectionTarget_->write(projection_)) return false;
  return files_.commit();
}

}  // namespace vellumar::data::detail
