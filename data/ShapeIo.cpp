#include "data/ShapeIo.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "common/CFormat.h"
#include "common/FileIo.h"

namespace vellumar::data::detail {
namespace {

thread_local bool tWriteFailed = false;

// A file as shapelib sees it: the whole content in memory, read from disk when opened and
// written back when closed after a change. shapelib seeks before every record it reads or
// writes; on a C stream each of those seeks costs a system call.
struct MemoryFile {
  std::string path;
  std::string bytes;
  std::size_t position = 0;
  bool changed = false;
};

MemoryFile* memoryFile(SAFile file) {
  return reinterpret_cast<MemoryFile*>(file);
}

SAFile hookOpen(const char* name, const char* access) {
  const std::string_view mode(access);
  auto file = std::make_unique<MemoryFile>();
  file->path = name;
  if (mode.find('w') != std::string_view::npos) {
    // Created (and emptied) at once, so a file that cannot be written is refused here.
    std::FILE* created = std::fopen(name, "wb");
    if (created == nullptr) return nullptr;
    if (std::fclose(created) != 0) return nullptr;
    file->changed = true;
  } else {
    std::optional<std::string> bytes = readWholeFile(name);
    if (!bytes) return nullptr;
    file->bytes = std::move(*bytes);
  }
  return reinterpret_cast<SAFile>(file.release());
}

SAOffset hookRead(void* buffer, SAOffset size, SAOffset count, SAFile handle) {
  MemoryFile& file = *memoryFile(handle);
  if (size == 0 || file.position >= file.bytes.size()) return 0;
  const SAOffset items = std::min<SAOffset>(count, (file.bytes.size() - file.position) / size);
  std::memcpy(buffer, file.bytes.data() + file.position, items * size);
  file.position += items * size;
  return items;
}

SAOffset hookWrite(void* buffer, SAOffset size, SAOffset count, SAFile handle) {
  MemoryFile& file = *memoryFile(handle);
  const std::size_t length = size * count;
  if (file.position + length > file.bytes.size()) file.bytes.resize(file.position + length);
  std::memcpy(file.bytes.data() + file.position, buffer, length);
  file.position += length;
  file.changed = true;
  return count;
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

int hookClose(SAFile handle) {
  const std::unique_ptr<MemoryFile> file(memoryFile(handle));
  if (!file->changed) return 0;
  std::FILE* out = std::fopen(file->path.c_str(), "wb");
  bool ok = out != nullptr &&
            std::fwrite(file->bytes.data(), 1, file->bytes.size(), out) == file->bytes.size();
  if (out != nullptr) ok = std::fclose(out) == 0 && ok;
  if (!ok) tWriteFailed = true;
  return ok ? 0 : -1;
}

int hookRemove(const char* name) {
  return std::remove(name);
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
// The .shp is placed last, so a reader never finds a new .shp beside an old index.
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
// lie within the .shx and every record it lists within the .shp. Missing files are left for
// shapelib to refuse.
bool indexFits(const std::string& path) {
  const std::string base = path.substr(0, extensionDot(path));
  const auto shp = existing(base, 0);
  const auto shx = existing(base, 1);
  if (!shp || !shx) return true;
  const std::optional<std::string> index = readWholeFile(shx->first, shx->second);
  if (!index || index->size() < 100) return false;
  const std::uint64_t length = std::uint64_t(bigEndian32(*index, 24)) * 2;
  if (length < 100 || length > index->size()) return false;
  for (std::size_t at = 100; at + 8 <= length; at += 8) {
    const std::uint64_t offset = std::uint64_t(bigEndian32(*index, at)) * 2;
    const std::uint64_t size = std::uint64_t(bigEndian32(*index, at + 4)) * 2;
    if (offset + 8 + size > shp->second) return false;
  }
  return true;
}

}  // namespace

SAHooks* shapeHooks() {
  static SAHooks hooks = makeHooks();
  return &hooks;
}

void resetWriteFailure() {
  tWriteFailed = false;
}

bool writeFailed() {
  return tWriteFailed;
}

ShpFile openShp(const std::string& path) {
  if (!indexFits(path)) return nullptr;
  return ShpFile(SHPOpenLL(path.c_str(), "rb", shapeHooks()));
}

DbfFile openDbf(const std::string& path, const char* mode) {
  return DbfFile(DBFOpenLL(path.c_str(), mode, shapeHooks()));
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

ExportFiles::ExportFiles(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const std::size_t dot = extensionDot(path);
  targetBase_ = path.substr(0, dot);
  upperCase_ = dot != std::string::npos && path.compare(dot, std::string::npos, ".SHP") == 0;
  temporaryBase_ = targetBase_ + ".vellumar-" + std::to_string(getpid()) + "-" +
                   std::to_string(counter.fetch_add(1)) + "-tmp";
  temporaryShp_ = temporary(0);
}

ExportFiles::~ExportFiles() {
  if (!committed_) removeTemporaries();
}

std::string ExportFiles::target(int file) const {
  return targetBase_ + (upperCase_ ? kUpperExtensions : kLowerExtensions)[file];
}

// shapelib names the files it creates with lower-case extensions.
std::string ExportFiles::temporary(int file) const {
  return temporaryBase_ + kLowerExtensions[file];
}

void ExportFiles::removeTemporaries() const {
  for (int file = 0; file < 3; ++file) std::remove(temporary(file).c_str());
}

std::string ExportFiles::backup(int file) const {
  return temporaryBase_ + kLowerExtensions[file] + ".old";
}

bool ExportFiles::commit() {
  // Earlier files are first moved aside, so a failed rename can put every one of them back.
  bool saved[3] = {false, false, false};
  int placed = 0;
  auto rollBack = [&] {
    for (int file = 0; file < placed; ++file) std::remove(target(kOrder[file]).c_str());
    for (int file = 0; file < 3; ++file) {
      if (saved[file]) std::rename(backup(file).c_str(), target(file).c_str());
    }
    removeTemporaries();
    return false;
  };
  for (int file = 0; file < 3; ++file) {
    struct stat info {};
    if (stat(target(file).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (std::rename(target(file).c_str(), backup(file).c_str()) != 0) return rollBack();
    saved[file] = true;
  }
  for (; placed < 3; ++placed) {
    const int file = kOrder[placed];
    if (std::rename(temporary(file).c_str(), target(file).c_str()) != 0) return rollBack();
  }
  for (int file = 0; file < 3; ++file) {
    if (saved[file]) std::remove(backup(file).c_str());
  }
  committed_ = true;
  return true;
}

}  // namespace vellumar::data::detail
