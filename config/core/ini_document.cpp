#include "config/core/ini_document.h"

#include <algorithm>
#include <utility>

namespace orvel {
namespace {

constexpr std::size_t kIntBufferSize = 30;  // GetPrivateProfileIntA reads through this many

bool IsBlank(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }
bool IsBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

std::u16string_view TrimLeft(std::u16string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return text.substr(start);
}

std::u16string_view TrimRight(std::u16string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return text.substr(0, end);
}

std::u16string_view Trim(std::u16string_view text) { return TrimRight(TrimLeft(text)); }

// The platform functions take C strings, and stored names and values are used
// as C strings too.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }
std::u16string_view UpToNul(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

// Names compare without case for ASCII letters only, as in the profile code this
// store follows (checked: there "CAF\xC9" does not find "Caf\xE9"). Windows may fold more
// letters; the program's own names are ASCII, so only files written by hand differ.
char16_t FoldUnit(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
}

std::u16string Fold(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) c = FoldUnit(c);
  return folded;
}

// PROFILE_CopyEntry: one pair of matching quotes around the value is dropped,
// the rest is cut to what a buffer of `size` characters holds. The closing quote
// is dropped by position, so a value cut short loses a character instead.
std::u16string CopyEntry(std::u16string_view value, std::size_t size) {
  char16_t quote = 0;
  if (!value.empty() && (value[0] == u'\'' || value[0] == u'"') && value.size() > 1 &&
      value.back() == value[0]) {
    quote = value[0];
    value.remove_prefix(1);
  }
  std::u16string copy(value.substr(0, size - 1));
  if (quote && size >= value.size() && !copy.empty()) copy.pop_back();
  return copy;
}

// RtlUnicodeStringToInteger with base 0: leading characters up to the space,
// a sign, "0b", "0o" or "0x", then digits as far as they go; the low 32 bits.
std::int32_t ParseInteger(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] <= u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == u'0') {
    if (text[i + 1] == u'b') base = 2;
    if (text[i + 1] == u'o') base = 8;
    if (text[i + 1] == u'x') base = 16;
    if (base != 10) i += 2;
  }
  std::uint32_t total = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    std::uint32_t digit = 36;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'A' && c <= u'Z') digit = c - u'A' + 10;
    if (c >= u'a' && c <= u'z') digit = c - u'a' + 10;
    if (digit >= base) break;
    total = total * base + digit;
  }
  if (negative) total = 0u - total;
  return static_cast<std::int32_t>(total);
}

// MultiByteToWideChar(CP_UTF8): malformed bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t point = 0, minimum = 0;
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, point = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, point = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, point = lead & 0x07, minimum = 0x10000;
    }
    std::size_t used = 1;
    while (length && used < length && i + used < bytes.size() &&
           (static_cast<unsigned char>(bytes[i + used]) & 0xC0) == 0x80) {
      point = (point << 6) | (static_cast<unsigned char>(bytes[i + used]) & 0x3F);
      ++used;
    }
    if (!length || used < length || point < minimum || point > 0x10FFFF ||
        (point >= 0xD800 && point <= 0xDFFF)) {
      out.push_back(0xFFFD);
      i += used;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(point));
    }
    i += used;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t point = text[i];
    if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      point = 0xFFFD;
    }
    if (point < 0x80) {
      out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (point >> 6)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (point >> 12)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (point >> 18)));
      out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
  }
  return out;
}

}  // namespace

struct IniDocument::ParsedLine {
  enum class Kind { kBlank, kSection, kKey } kind = Kind::kBlank;
  bool hasValue = false;
  std::u16string name;
  std::u16string value;

  static ParsedLine Of(std::u16string_view content) {
    ParsedLine parsed;
    const std::u16string_view text = Trim(content);
    if (text.empty()) return parsed;
    if (text[0] == u'[') {
      const std::size_t close = text.rfind(u']');
      if (close != std::u16string_view::npos) {
        parsed.kind = Kind::kSection;
        parsed.name = Trim(text.substr(1, close - 1));
        return parsed;
      }
    }
    parsed.kind = Kind::kKey;
    const std::size_t equals = text.find(u'=');
    if (equals == std::u16string_view::npos) {
      parsed.name = text;
    } else {
      parsed.hasValue = true;
      parsed.name = TrimRight(text.substr(0, equals));
      parsed.value = TrimLeft(text.substr(equals + 1));
    }
    return parsed;
  }
};

IniDocument::IniDocument(const TextCodec& codec) : codec_(&codec) { sections_.emplace_back(); }

IniDocument::IniDocument(std::string_view bytes, const TextCodec& codec, std::size_t maxLines)
    : codec_(&codec) {
  Parse(bytes, maxLines);
}

void IniDocument::Parse(std::string_view bytes, std::size_t maxLines) {
  sections_.clear();
  tooManyLines_ = false;
  sectionIndex_.clear();
  leadingBlanks_.clear();
  byteOrderMark_.clear();
  sections_.emplace_back();
  lastKeyInSection_ = lastKeyNameEmpty_ = false;
  // Any content, even blanks only, makes the part before the first header a
  // section without a name that comes before any "[]".
  hasContent_ = !bytes.empty();
  if (hasContent_) sectionIndex_.emplace(std::u16string(), 0);

  encoding_ = IniEncoding::kAnsi;
  unitSize_ = 1;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    encoding_ = IniEncoding::kUtf8;
    byteOrderMark_ = bytes.substr(0, 3);
  } else if (bytes.size() >= 2 &&
             (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
    encoding_ = bytes[0] == '\xFF' ? IniEncoding::kUtf16Le : IniEncoding::kUtf16Be;
    byteOrderMark_ = bytes.substr(0, 2);
    unitSize_ = 2;
  }
  std::string_view body = bytes.substr(byteOrderMark_.size());
  if (unitSize_ == 2 && body.size() % 2) body.remove_suffix(1);

  const bool littleEndian = encoding_ != IniEncoding::kUtf16Be;
  auto unitAt = [&](std::size_t offset) -> char16_t {
    if (unitSize_ == 1) return static_cast<unsigned char>(body[offset]);
    const auto first = static_cast<unsigned char>(body[offset]);
    const auto second = static_cast<unsigned char>(body[offset + 1]);
    return static_cast<char16_t>(littleEndian ? first | (second << 8) : (first << 8) | second);
  };

  std::size_t records = 0;
  std::size_t position = 0;
  while (position < body.size()) {
    const std::size_t start = position;
    while (position < body.size() && !IsBreak(unitAt(position))) position += unitSize_;
    const std::size_t contentEnd = position;
    if (position < body.size()) {
      const bool carriageReturn = unitAt(position) == u'\r';
      position += unitSize_;
      if (carriageReturn && position < body.size() && unitAt(position) == u'\n') {
        position += unitSize_;
      }
    }
    const std::string_view content = body.substr(start, contentEnd - start);
    ParsedLine parsed = ParsedLine::Of(Decode(content));
    if (parsed.kind != ParsedLine::Kind::kBlank && maxLines != 0 && ++records > maxLines) {
      tooManyLines_ = true;
      return;
    }
    AddLine(body.substr(start, position - start), content.size(), position - contentEnd,
            std::move(parsed));
  }
}

void IniDocument::AddLine(std::string_view raw, std::size_t contentSize, std::size_t breakSize,
                          ParsedLine parsed) {
  if (parsed.kind == ParsedLine::Kind::kBlank) {
    std::string* last = &leadingBlanks_;
    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
      if (!it->lines.empty()) {
        last = &it->lines.back().raw;
        break;
      }
    }
    last->append(raw);
    return;
  }

  Line line;
  line.raw = raw;
  line.contentSize = contentSize;
  line.breakSize = breakSize;
  line.hasValue = parsed.hasValue;
  line.name = std::move(parsed.name);
  line.value = std::move(parsed.value);

  if (parsed.kind == ParsedLine::Kind::kSection) {
    line.kind = LineKind::kSection;
    sectionIndex_.emplace(Fold(UpToNul(line.name)), sections_.size());
    sections_.emplace_back().lines.push_back(std::move(line));
    lastKeyInSection_ = lastKeyNameEmpty_ = false;
    return;
  }

  Section& section = sections_.back();
  // A second key line in a row with an empty name is skipped by the platform's
  // parser; it stays in the file but never reads.
  if (line.name.empty() && lastKeyInSection_ && lastKeyNameEmpty_) {
    line.kind = LineKind::kIgnored;
  } else {
    line.kind = LineKind::kKey;
    const std::u16string_view name = UpToNul(line.name);
    section.keys.emplace(Fold(name), section.lines.size());
    lastKeyInSection_ = true;
    lastKeyNameEmpty_ = name.empty();
  }
  section.lines.push_back(std::move(line));
}

std::u16string IniDocument::Decode(std::string_view bytes) const {
  switch (encoding_) {
    case IniEncoding::kUtf8:
      return Utf8ToUtf16(bytes);
    case IniEncoding::kUtf16Le:
    case IniEncoding::kUtf16Be: {
      std::u16string text(bytes.size() / 2, u'\0');
      const bool little = encoding_ == IniEncoding::kUtf16Le;
      for (std::size_t i = 0; i < text.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = static_cast<char16_t>(little ? first | (second << 8) : (first << 8) | second);
      }
      return text;
    }
    case IniEncoding::kAnsi:
      break;
  }
  return codec_->ToWide(bytes);
}

std::string IniDocument::Encode(std::u16string_view text) const {
  switch (encoding_) {
    case IniEncoding::kUtf8:
      return Utf16ToUtf8(text);
    case IniEncoding::kUtf16Le:
    case IniEncoding::kUtf16Be: {
      std::string bytes;
      bytes.reserve(text.size() * 2);
      const bool little = encoding_ == IniEncoding::kUtf16Le;
      for (char16_t c : text) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        bytes.push_back(little ? low : high);
        bytes.push_back(little ? high : low);
      }
      return bytes;
    }
    case IniEncoding::kAnsi:
      break;
  }
  return codec_->ToNarrow(text);
}

const IniDocument::Line* IniDocument::FindKey(std::u16string_view section,
                                              std::u16string_view key) const {
  const auto found = sectionIndex_.find(Fold(Trim(section)));
  if (found == sectionIndex_.end()) return nullptr;
  const Section& owner = sections_[found->second];
  const auto line = owner.keys.find(Fold(Trim(key)));
  return line == owner.keys.end() ? nullptr : &owner.lines[line->second];
}

std::string IniDocument::GetString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const {
  std::u16string fallback = codec_->ToWide(UpToNul(defaultValue));
  // Trailing spaces of the default go, but never its first character.
  std::size_t keep = fallback.size();
  while (keep > 1 && fallback[keep - 1] == u' ') --keep;
  fallback.resize(keep);

  const Line* line = FindKey(codec_->ToWide(UpToNul(section)), codec_->ToWide(UpToNul(key)));
  const std::u16string_view source =
      line && line->hasValue ? UpToNul(std::u16string_view(line->value)) : fallback;
  std::string text = codec_->ToNarrow(CopyEntry(source, kValueBufferSize));
  if (text.size() >= kValueBufferSize) text.resize(kValueBufferSize - 1);
  return text;
}

std::int32_t IniDocument::GetInt(std::string_view section, std::string_view key,
                                 std::int32_t defaultValue) const {
  const Line* line = FindKey(codec_->ToWide(UpToNul(section)), codec_->ToWide(UpToNul(key)));
  if (!line || !line->hasValue) return defaultValue;
  const std::u16string text = CopyEntry(UpToNul(std::u16string_view(line->value)), kIntBufferSize);
  if (text.empty()) return defaultValue;
  return ParseInteger(text);
}

bool IniDocument::EndsWithBreak(std::string_view bytes) const {
  if (bytes.size() < unitSize_) return false;
  const std::string_view last = bytes.substr(bytes.size() - unitSize_);
  if (unitSize_ == 1) return last[0] == '\r' || last[0] == '\n';
  const std::size_t low = encoding_ == IniEncoding::kUtf16Le ? 0 : 1;
  return last[1 - low] == '\0' && (last[low] == '\r' || last[low] == '\n');
}

void IniDocument::EnsureFinalBreak() {
  Line* lastLine = nullptr;
  for (auto it = sections_.rbegin(); it != sections_.rend() && !lastLine; ++it) {
    if (!it->lines.empty()) lastLine = &it->lines.back();
  }
  std::string& last = lastLine ? lastLine->raw : leadingBlanks_;
  if (last.empty() || EndsWithBreak(last)) return;
  const bool onlyContent =
      lastLine && lastLine->breakSize == 0 && lastLine->raw.size() == lastLine->contentSize;
  const std::string lineBreak = Encode(u"\r\n");
  last += lineBreak;
  if (onlyContent) lastLine->breakSize = lineBreak.size();
}

// Puts the line after the section's last line, which hands it the blank lines
// that followed, and returns its index.
std::size_t IniDocument::AppendLineToSection(std::size_t sectionIndex, std::u16string_view text) {
  Section& section = sections_[sectionIndex];
  const std::string lineBreak = Encode(u"\r\n");
  Line line;
  line.raw = Encode(text);
  line.contentSize = line.raw.size();
  line.raw += lineBreak;
  line.breakSize = lineBreak.size();
  if (!section.lines.empty()) {
    Line& previous = section.lines.back();
    if (previous.breakSize == 0 && previous.raw.size() == previous.contentSize) {
      previous.raw += lineBreak;
      previous.breakSize = lineBreak.size();
    }
    const std::size_t own = previous.contentSize + previous.breakSize;
    line.raw += previous.raw.substr(own);
    previous.raw.resize(own);
  } else if (sectionIndex == 0 && !leadingBlanks_.empty() && !EndsWithBreak(leadingBlanks_)) {
    leadingBlanks_ += lineBreak;
  }
  section.lines.push_back(std::move(line));
  return section.lines.size() - 1;
}

void IniDocument::Reparse() {
  const std::string bytes = Serialize();
  Parse(bytes);
}

void IniDocument::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  const std::u16string sectionText = codec_->ToWide(UpToNul(section));
  const std::u16string keyText = codec_->ToWide(UpToNul(key));
  const std::u16string valueText = codec_->ToWide(UpToNul(value));
  // The platform drops leading blanks of new names and of the value, and keeps
  // trailing ones in the line it writes; reading the line back trims them.
  const std::u16string_view newSection = TrimLeft(sectionText);
  const std::u16string_view newKey = TrimLeft(keyText);
  const std::u16string_view newValue = TrimLeft(valueText);
  const std::u16string_view sectionName = TrimRight(newSection);
  const std::u16string_view keyName = TrimRight(newKey);

  // Whether the written line reads back as exactly the key meant; anything else
  // (line breaks in the text, an '=' in the name, an empty name, a name that
  // makes a section header) is settled by parsing the new bytes again.
  auto readsBackAsKey = [&](std::u16string_view text, ParsedLine& parsed) {
    if (std::any_of(text.begin(), text.end(), IsBreak) || keyName.empty()) return false;
    parsed = ParsedLine::Of(text);
    return parsed.kind == ParsedLine::Kind::kKey && parsed.name == keyName;
  };

  const bool hadContent = hasContent_;
  const bool wasChanged = changed_;
  changed_ = hasContent_ = true;
  const auto foundSection = sectionIndex_.find(Fold(sectionName));
  if (foundSection != sectionIndex_.end()) {
    const std::size_t sectionIndex = foundSection->second;
    Section& owner = sections_[sectionIndex];
    const auto foundKey = owner.keys.find(Fold(keyName));
    ParsedLine parsed;
    if (foundKey != owner.keys.end()) {
      Line& line = owner.lines[foundKey->second];
      if (line.hasValue && UpToNul(std::u16string_view(line.value)) == newValue) {
        changed_ = wasChanged;
        return;
      }
      std::u16string text = line.name + u"=" + std::u16string(newValue);
      const std::string lineBreak = Encode(u"\r\n");
      const std::string blanksAfter = line.raw.substr(line.contentSize + line.breakSize);
      line.raw = Encode(text);
      line.contentSize = line.raw.size();
      line.raw += lineBreak + blanksAfter;
      line.breakSize = lineBreak.size();
      parsed = ParsedLine::Of(text);
      if (sectionIndex != 0 && std::none_of(text.begin(), text.end(), IsBreak) &&
          parsed.kind == ParsedLine::Kind::kKey && parsed.name == line.name && !line.name.empty()) {
        line.value = std::move(parsed.value);
        line.hasValue = true;
      } else {
        Reparse();
      }
      return;
    }
    const std::u16string text = std::u16string(newKey) + u"=" + std::u16string(newValue);
    const std::size_t index = AppendLineToSection(sectionIndex, text);
    // Lines before the first header may come first in the file, where their bytes
    // could read as a byte-order mark; they are rare enough to parse again.
    if (sectionIndex == 0 || !readsBackAsKey(text, parsed)) return Reparse();
    Line& line = owner.lines[index];
    line.kind = LineKind::kKey;
    line.hasValue = true;
    line.name = std::move(parsed.name);
    line.value = std::move(parsed.value);
    owner.keys.emplace(Fold(keyName), index);
    return;
  }

  // A new section goes at the end of the file.
  EnsureFinalBreak();
  const std::u16string header = u"[" + std::u16string(newSection) + u"]";
  const std::u16string text = std::u16string(newKey) + u"=" + std::u16string(newValue);
  const std::size_t sectionIndex = sections_.size();
  sections_.emplace_back();
  ParsedLine parsedHeader = ParsedLine::Of(header);
  ParsedLine parsed;
  const bool headerReadsBack =
      !sectionName.empty() && std::none_of(header.begin(), header.end(), IsBreak) &&
      parsedHeader.kind == ParsedLine::Kind::kSection && parsedHeader.name == sectionName;
  if (!sectionName.empty()) AppendLineToSection(sectionIndex, header);
  const std::size_t keyIndex = AppendLineToSection(sectionIndex, text);
  if (!headerReadsBack || !readsBackAsKey(text, parsed)) return Reparse();
  Section& owner = sections_[sectionIndex];
  owner.lines[0].kind = LineKind::kSection;
  owner.lines[0].name = std::move(parsedHeader.name);
  Line& line = owner.lines[keyIndex];
  line.hasValue = true;
  line.name = std::move(parsed.name);
  line.value = std::move(parsed.value);
  owner.keys.emplace(Fold(keyName), keyIndex);
  sectionIndex_.emplace(Fold(sectionName), sectionIndex);
  // Once the file has content, the part before the first header reads as the
  // section without a name.
  if (!hadContent) sectionIndex_.emplace(std::u16string(), 0);
}

std::string IniDocument::Serialize() const {
  std::size_t size = byteOrderMark_.size() + leadingBlanks_.size();
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) size += line.raw.size();
  }
  std::string bytes;
  bytes.reserve(size);
  bytes += byteOrderMark_;
  bytes += leadingBlanks_;
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) bytes += line.raw;
  }
  return bytes;
}

}  // namespace orvel
