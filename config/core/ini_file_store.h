#pragma once
// The profile store the program uses: the file is read once, every write goes to
// the copy in memory, and Commit replaces the file in one step, so that a crash
// or a full disk never leaves a half-written file behind.

#include <string>

#include "config/core/file_access.h"
#include "config/core/ini_document.h"
#include "config/core/profile_store.h"
#include "config/core/text_codec.h"

namespace orvel {

// A file larger than maxBytes, or with more than maxLines lines that hold a
// section or key, is not read and counts as unreadable; 0 sets no limit.
struct IniReadLimits {
  std::size_t maxBytes = 0;
  std::size_t maxLines = 0;
};

class IniFileStore final : public ProfileStore {
 public:
  // Never throws on the file: one that cannot be read or held in memory leaves
  // the store unreadable.
  IniFileStore(FileAccess& files, const TextCodec& codec, std::string path,
               IniReadLimits limits = {});

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override;
  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t defaultValue) override;
  // False when the file exists but could not be read: then nothing may replace it.
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;

  // Replaces the file when a write changed it. False when the new content could
  // not be written, and the old file is then as it was; true when the file now
  // holds every write, including when nothing needed writing.
  bool Commit();

  bool Readable() const { return status_ != FileReadStatus::kError; }
  const IniDocument& Document() const { return document_; }

 private:
  FileAccess& files_;
  std::string path_;
  FileReadStatus status_;
  IniDocument document_;
};

}  // namespace orvel
