#pragma once
// An INI file held in memory, read and written the way GetPrivateProfileStringA
// (4096-character buffer), GetPrivateProfileIntA and WritePrivateProfileStringA
// treat it, while every line that is not written keeps its bytes.
//
// Parsing follows the kernel32 profile code: lines end at CR, LF or CRLF;
// blanks (tab to CR, ^Z, space) around lines, names and values do not count;
// blank lines are skipped; a line starting with '[' and holding a ']' names a
// section (up to the last ']'); other lines are keys, split at the first '='
// (a line without '=' is a key without value, which reads as missing; lines
// starting with ';' are keys like any other). Names compare without case
// (ASCII letters).
// Only the first section of a name is read or written, and in it only the
// first key of a name. A new key goes after the last line of its section, a
// new section at the end of the file. Written and replaced lines end in CRLF,
// and a file that does not end in a line break gets one before anything is
// added after its last line.
//
// Encodings, decided on purpose:
// - A file starting with FF FE is UTF-16LE (FE FF: UTF-16BE) and stays so;
//   the A functions read and write such a file as UTF-16 too.
// - A file starting with the UTF-8 byte-order mark is read as UTF-8 and stays
//   UTF-8 with its mark. Windows is said to take the mark as part of the first
//   line, which hides the first section; a settings file saved by an editor
//   that adds the mark should not lose its first section, and Wine reads it as
//   we do.
// - Anything else is 8-bit text in the codec's code page.
// A stray last byte of a UTF-16 file, which cannot be a character, is dropped.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/core/text_codec.h"

namespace orvel {

enum class IniEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

class IniDocument {
 public:
  // GetPrivateProfileStringA's buffer, terminator included.
  static constexpr std::size_t kValueBufferSize = 4096;

  // A file that does not exist yet.
  explicit IniDocument(const TextCodec& codec);
  // The file's bytes, as read. With maxLines, parsing stops after that many
  // lines that hold a section or key (blank lines hold no record of their own),
  // and TooManyLines tells.
  IniDocument(std::string_view bytes, const TextCodec& codec, std::size_t maxLines = 0);

  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view defaultValue) const;
  std::int32_t GetInt(std::string_view section, std::string_view key,
                      std::int32_t defaultValue) const;
  // Writing the value a key already has changes nothing.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  std::string Serialize() const;
  IniEncoding Encoding() const { return encoding_; }
  // Whether a write changed the bytes since the document was read or last saved.
  bool Changed() const { return changed_; }
  bool TooManyLines() const { return tooManyLines_; }
  void MarkSaved() { changed_ = false; }

 private:
  enum class LineKind : std::uint8_t { kSection, kKey, kIgnored };
  struct ParsedLine;

  struct Line {
    std::string raw;  // content, its line break, then any blank lines after it
    std::size_t contentSize = 0;
    std::size_t breakSize = 0;  // 0 only for a last line without a line break
    LineKind kind = LineKind::kKey;
    bool hasValue = false;
    std::u16string name;
    std::u16string value;
  };

  struct Section {
    std::vector<Line> lines;  // the header first, except for the part before any header
    std::unordered_map<std::u16string, std::size_t> keys;  // folded name -> first such key
  };

  void Parse(std::string_view bytes, std::size_t maxLines = 0);
  void AddLine(std::string_view raw, std::size_t contentSize, std::size_t breakSize,
               ParsedLine parsed);
  const Line* FindKey(std::u16string_view section, std::u16string_view key) const;

  std::u16string Decode(std::string_view bytes) const;
  std::string Encode(std::u16string_view text) const;
  bool EndsWithBreak(std::string_view bytes) const;
  void EnsureFinalBreak();
  std::size_t AppendLineToSection(std::size_t section, std::u16string_view text);
  void Reparse();

  const TextCodec* codec_;
  IniEncoding encoding_ = IniEncoding::kAnsi;
  std::size_t unitSize_ = 1;
  std::string byteOrderMark_;
  std::string leadingBlanks_;      // blank lines before the first line
  std::vector<Section> sections_;  // [0]: the lines before the first header
  std::unordered_map<std::u16string, std::size_t> sectionIndex_;  // folded -> first
  // While parsing: whether the section's last kept key has an empty name.
  bool lastKeyInSection_ = false;
  bool lastKeyNameEmpty_ = false;
  bool hasContent_ = false;
  bool changed_ = false;
  bool tooManyLines_ = false;
};

}  // namespace orvel
