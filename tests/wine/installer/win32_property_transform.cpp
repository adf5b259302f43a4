// The layout follows what Windows Installer reads from a transform file: a compound file of
// the transform class whose table streams have packed names, a string pool in two streams, one
// stream per changed table, and the summary information property set.
#include <windows.h>
// after windows.h
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/wine/installer/property_transform.h"

namespace orvel::test {
namespace {

using Microsoft::WRL::ComPtr;

constexpr CLSID kMsiTransformClass = {0x000c1082, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr std::size_t kMaxText = 1024;

class MsiHandle {
 public:
  MsiHandle() = default;
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;
  ~MsiHandle() {
    if (value_ != 0) MsiCloseHandle(value_);
  }
  MSIHANDLE* Out() { return &value_; }
  MSIHANDLE Get() const { return value_; }

 private:
  MSIHANDLE value_ = 0;
};

// Printable ASCII only: the same bytes in any code page, so the pool can stay neutral.
bool IsText(const std::wstring& text) {
  if (text.empty() || text.size() > kMaxText) return false;
  for (const wchar_t c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A value of the package's Property table; empty when it has none or it is too long.
std::wstring PackageProperty(MSIHANDLE database, const wchar_t* name) {
  MsiHandle view, query, row;
  wchar_t value[kMaxText + 1] = {};
  DWORD length = kMaxText + 1;
  *query.Out() = MsiCreateRecord(1);
  if (MsiRecordSetStringW(query.Get(), 1, name) != ERROR_SUCCESS ||
      MsiDatabaseOpenViewW(database, L"SELECT `Value` FROM `Property` WHERE `Property` = ?",
                           view.Out()) != ERROR_SUCCESS ||
      MsiViewExecute(view.Get(), query.Get()) != ERROR_SUCCESS ||
      MsiViewFetch(view.Get(), row.Out()) != ERROR_SUCCESS ||
      MsiRecordGetStringW(row.Get(), 1, value, &length) != ERROR_SUCCESS) {
    return {};
  }
  return value;
}

// Letters, digits, '.' and '_' go two to one unit in a table's stream name; -1 for others.
int Packed(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
  if (c >= L'a' && c <= L'z') return c - L'a' + 36;
  if (c == L'.') return 62;
  if (c == L'_') return 63;
  return -1;
}

std::wstring TableStreamName(const std::wstring& table) {
  std::wstring name(1, wchar_t{0x4840});
  for (std::size_t i = 0; i < table.size(); ++i) {
    const int first = Packed(table[i]);
    const int second = i + 1 < table.size() ? Packed(table[i + 1]) : -1;
    if (first < 0) {
      name += table[i];
    } else if (second < 0) {
      name += static_cast<wchar_t>(0x4800 + first);
    } else {
      name += static_cast<wchar_t>(0x3800 + first + (second << 6));
      ++i;
    }
  }
  return name;
}

bool WriteStream(IStorage* storage, const std::wstring& name, const void* bytes, std::size_t size) {
  ComPtr<IStream> stream;
  ULONG written = 0;
  return SUCCEEDED(storage->CreateStream(
             name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream)) &&
         SUCCEEDED(stream->Write(bytes, static_cast<ULONG>(size), &written)) && written == size;
}

struct Target {
  std::string productCode, version, upgradeCode, platform;
  LONG installerVersion = 0;
};

void Put32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>(value >> shift & 0xff);
}

std::string Number(VARTYPE type, std::uint32_t value) {
  std::string out;
  Put32(out, type);
  Put32(out, value);
  return out;
}

std::string Text(const std::string& text) {
  std::string out;
  Put32(out, VT_LPSTR);
  Put32(out, static_cast<std::uint32_t>(text.size() + 1));
  out += text;
  out.append((text.size() + 4) / 4 * 4 - text.size(), '\0');
  return out;
}

// What CreateTransformSummaryInfo writes: the package the transform was made from and for (the
// same one here), and in the upper word of the character count the checks to make before
// applying it. Written as the bytes of a one-section property set (Wine 8's property storage
// ends the stream before the last value's padding, and its msi then reads no property).
std::string SummaryStream(const Target& target) {
  const std::string product = target.productCode + target.version;
  const std::pair<PROPID, std::string> properties[] = {
      {PID_CODEPAGE, Number(VT_I2, 1252)},
      {PID_TITLE, Text("Transform")},
      {PID_TEMPLATE, Text(target.platform)},
      {PID_LASTAUTHOR, Text(target.platform)},
      {PID_REVNUMBER, Text(product + ";" + product + ";" + target.upgradeCode)},
      {PID_PAGECOUNT, Number(VT_I4, static_cast<std::uint32_t>(target.installerVersion))},
      {PID_CHARCOUNT, Number(VT_I4, MSITRANSFORM_VALIDATE_UPGRADECODE << 16)}};
  const std::size_t count = sizeof properties / sizeof properties[0];
  std::string offsets, values;
  for (const auto& [id, value] : properties) {
    Put32(offsets, id);
    Put32(offsets, static_cast<std::uint32_t>(8 + 8 * count + values.size()));
    values += value;
  }
  std::string stream;
  Put32(stream, 0xfffe);      // byte order mark, format 0
  Put32(stream, 0x00020005);  // the system that wrote it
  stream.append(16, '\0');    // no class
  Put32(stream, 1);           // one section
  stream.append(reinterpret_cast<const char*>(&FMTID_SummaryInformation), 16);
  Put32(stream, 48);  // where the section starts
  Put32(stream, static_cast<std::uint32_t>(8 + offsets.size() + values.size()));
  Put32(stream, static_cast<std::uint32_t>(count));
  return stream + offsets + values;
}

bool ReadTarget(const std::wstring& package, Target& target) {
  MsiHandle database, info;
  wchar_t platform[64] = {};
  DWORD platformLength = 64;
  UINT type = 0;
  INT installerVersion = 0, unusedNumber = 0;
  FILETIME unusedTime{};
  wchar_t unusedText[4] = {};
  DWORD unusedLength = 4;
  if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.Out()) != ERROR_SUCCESS ||
      MsiGetSummaryInformationW(database.Get(), nullptr, 0, info.Out()) != ERROR_SUCCESS ||
      MsiSummaryInfoGetPropertyW(info.Get(), PID_TEMPLATE, &type, &unusedNumber, &unusedTime,
                                 platform, &platformLength) != ERROR_SUCCESS ||
      MsiSummaryInfoGetPropertyW(info.Get(), PID_PAGECOUNT, &type, &installerVersion, &unusedTime,
                                 unusedText, &unusedLength) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring texts[] = {PackageProperty(database.Get(), L"ProductCode"),
                                PackageProperty(database.Get(), L"ProductVersion"),
                                PackageProperty(database.Get(), L"UpgradeCode"), platform};
  for (const std::wstring& text : texts) {
    if (!IsText(text)) return false;
  }
  target = {Narrow(texts[0]), Narrow(texts[1]), Narrow(texts[2]), Narrow(texts[3]),
            installerVersion};
  return true;
}

}  // namespace

bool WritePropertyTransform(const std::wstring& package, const std::wstring& transform,
                            const std::wstring& name, const std::wstring& value) {
  Target target;
  if (!IsText(name) || !IsText(value) || !ReadTarget(package, target)) return false;
  // The pool: its code page (neutral), then each string's byte length and use count; a string's
  // id is its place, from 1.
  const std::string nameBytes = Narrow(name), valueBytes = Narrow(value);
  const std::vector<std::uint16_t> pool = {0,
                                           0,
                                           static_cast<std::uint16_t>(nameBytes.size()),
                                           1,
                                           static_cast<std::uint16_t>(valueBytes.size()),
                                           1};
  const std::string data = nameBytes + valueBytes;
  // A row of the Property table: a mask with the low bit set says that the first (high byte)
  // columns follow in full, here both; then the pool ids of the key and the value.
  const std::uint16_t row[] = {0x0201, 1, 2};
  const std::string summary = SummaryStream(target);

  ComPtr<IStorage> storage;
  const bool written =
      SUCCEEDED(StgCreateDocfile(transform.c_str(),
                                 STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT,
                                 0, &storage)) &&
      SUCCEEDED(storage->SetClass(kMsiTransformClass)) &&
      WriteStream(storage.Get(), TableStreamName(L"_StringPool"), pool.data(),
                  pool.size() * sizeof pool[0]) &&
      WriteStream(storage.Get(), TableStreamName(L"_StringData"), data.data(), data.size()) &&
      WriteStream(storage.Get(), TableStreamName(L"Property"), row, sizeof row) &&
      WriteStream(storage.Get(), L"\005SummaryInformation", summary.data(), summary.size()) &&
      SUCCEEDED(storage->Commit(STGC_DEFAULT));
  storage.Reset();
  if (!written) DeleteFileW(transform.c_str());
  return written;
}

}  // namespace orvel::test
