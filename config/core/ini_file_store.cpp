#include "config/core/ini_file_store.h"

#include <new>
#include <utility>

namespace orvel {
namespace {

FileReadStatus ReadInto(FileAccess& files, const std::string& path, std::string& bytes) {
  const FileReadStatus status = files.ReadWholeFile(path, bytes);
  if (status != FileReadStatus::kOk) bytes.clear();
  return status;
}

}  // namespace

IniFileStore::IniFileStore(FileAccess& files, const TextCodec& codec, std::string path,
                           IniReadLimits limits)
    : files_(files), path_(std::move(path)), status_(FileReadStatus::kMissing), document_(codec) {
  try {
    std::string bytes;
    status_ = ReadInto(files_, path_, bytes);
    if (status_ != FileReadStatus::kOk) return;
    if (limits.maxBytes != 0 && bytes.size() > limits.maxBytes) {
      status_ = FileReadStatus::kError;
      return;
    }
    IniDocument document(bytes, codec, limits.maxLines);
    if (document.TooManyLines()) {
      status_ = FileReadStatus::kError;
      return;
    }
    document_ = std::move(document);
  } catch (const std::bad_alloc&) {
    // Whatever was parsed is gone with the exception; the store stays empty.
    status_ = FileReadStatus::kError;
  }
}

std::string IniFileStore::GetString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) {
  return document_.GetString(section, key, defaultValue);
}

std::int32_t IniFileStore::GetInt(const std::string& section, const std::string& key,
                                  std::int32_t defaultValue) {
  return document_.GetInt(section, key, defaultValue);
}

bool IniFileStore::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
  if (!Readable()) return false;
  document_.WriteString(section, key, value);
  return true;
}

bool IniFileStore::Commit() {
  if (!Readable()) return false;
  if (!document_.Changed()) return true;
  if (!files_.ReplaceWholeFile(path_, document_.Serialize())) return false;
  document_.MarkSaved();
  status_ = FileReadStatus::kOk;
  return true;
}

}  // namespace orvel
