// The INI store against the kernel32 profile functions: the same random reads and
// writes on the same starting files, compared read by read and byte by byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/core/device_table.h"
#include "config/core/ini_document.h"
#include "config/core/ini_file_store.h"
#include "config/core/win32_ansi_codec.h"
#include "config/core/win32_file_access.h"
#include "config/core/win32_kernel32_profile_store.h"
#include "tests/wine/support/process_util.h"

namespace orvel {
namespace {

using test::TempFolder;

using namespace std::string_literals;

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  EXPECT_EQ(written, bytes.size());
  CloseHandle(file);
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  Win32FileAccess files;
  EXPECT_NE(files.ReadWholeFile(path, bytes), FileReadStatus::kError) << path;
  return bytes;
}

// The profile functions keep a parsed copy of recent files and may answer from it
// instead of the file. Dropping it after each write makes every call see the file
// as it is on disk, as the store is compared with what the file says.
void DropProfileCache(const std::string& path) {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

// The profile functions here rewrite the whole file on every write, in their own
// form: blank lines dropped, blanks around names and values trimmed, every line in
// CRLF. Windows keeps lines it does not write, as the store does. Where the bytes
// differ for that reason alone, both sides are brought into that form by letting
// the profile functions rewrite each file (one key added and its section removed
// again), and the results compared.
std::string NormalForm(const TempFolder& folder, const std::string& bytes) {
  const std::string path = folder.File("normal-form.ini");
  WriteBytes(path, bytes);
  DropProfileCache(path);
  EXPECT_TRUE(WritePrivateProfileStringA("orvel normal form", "k", "1", path.c_str()));
  WritePrivateProfileStringA("orvel normal form", nullptr, nullptr, path.c_str());
  DropProfileCache(path);
  std::string normal = ReadBytes(path);
  DeleteFileA(path.c_str());
  return normal;
}

std::string Utf16Le(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

// Equal bytes, or where they first differ, shortly.
::testing::AssertionResult SameBytes(const std::string& ours, const std::string& theirs) {
  if (ours == theirs) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at]) ++at;
  auto show = [&](const std::string& bytes) {
    std::string shown;
    const std::size_t from = at > 40 ? at - 40 : 0;
    for (char c : bytes.substr(from, 80)) {
      if (c == '\r')
        shown += "\\r";
      else if (c == '\n')
        shown += "\\n";
      else if (static_cast<unsigned char>(c) < 32)
        shown += "\\x" + std::to_string(c);
      else
        shown += c;
    }
    return shown;
  };
  return ::testing::AssertionFailure()
         << "bytes differ at " << at << " (sizes " << ours.size() << ", " << theirs.size()
         << ")\n  ours:     " << show(ours) << "\n  kernel32: " << show(theirs);
}

struct StartFile {
  const char* name;
  bool exists;
  std::string bytes;
  bool normalForm;  // already as the profile functions would write it
};

std::string FullTableFile() {
  Latin1Codec codec;
  IniDocument document(codec);
  struct DocumentStore : ProfileStore {
    explicit DocumentStore(IniDocument& d) : document(d) {}
    std::string GetString(const std::string& s, const std::string& k,
                          const std::string& d) override {
      return document.GetString(s, k, d);
    }
    std::int32_t GetInt(const std::string& s, const std::string& k, std::int32_t d) override {
      return document.GetInt(s, k, d);
    }
    bool WriteString(const std::string& s, const std::string& k, const std::string& v) override {
      document.WriteString(s, k, v);
      return true;
    }
    IniDocument& document;
  } store(document);
  DeviceTable table = LoadDeviceTable(store);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    table.entries[slot].ipAddress = 0xC0A80000u + static_cast<std::uint32_t>(slot);
    table.entries[slot].portIndex = static_cast<std::uint8_t>(slot % 16);
  }
  StoreDeviceTable(table, kSlotCount, store);
  return document.Serialize();
}

std::vector<StartFile> StartFiles() {
  return {
      {"missing", false, "", true},
      {"empty", true, "", true},
      {"normal", true,
       "[Device Name]\r\n0=UNIT1\r\n1=Other\r\n[IP Address]\r\n0=-1062731774\r\n[Tcp]\r\n0=1\r\n",
       true},
      {"full table", true, FullTableFile(), true},
      {"no final line break", true, "[A]\r\nk=1\r\n[B]\r\nx=y", false},
      {"blank lines", true, "\r\n\r\n[A]\r\n\r\nk=1\r\n\r\n\r\n[B]\r\nj=2\r\n\r\n", false},
      {"comments", true, "; header\r\n[A]\r\n; note=with equals\r\nk=1\r\n;k=hidden\r\n", true},
      {"duplicates", true, "[A]\r\nk=1\r\nK=2\r\n[a]\r\nk=3\r\nj=4\r\n[B]\r\n[A]\r\nk=5\r\n", true},
      {"blanks around", true, "  [ A ]  \r\n  k  =  v  \r\n\tj\t=\t2\t\r\n[  B]\r\n x = y \r\n",
       false},
      {"LF lines", true, "[A]\nk=1\nj=2\n[B]\nx=y\n", false},
      {"CR and mixed lines", true, "[A]\rk=1\r\nj=2\n\r[B]\r\r\nx=y", false},
      {"quotes", true, "[A]\r\nq=\"quoted\"\r\ns='single'\r\nh=\"half\r\n", true},
      // No "[]" line here: the profile functions on this system drop it when they rewrite
      // the file, so that its keys join the section before. Windows keeps the line, and
      // so does the store.
      {"odd lines", true,
       "top=1\r\nnovalue\r\n=empty\r\n=dropped\r\n[broken\r\n[A] junk\r\nk=1\r\nj\r\n", false},
      {"UTF-16LE", true, Utf16Le("[A]\r\nk=1\r\n[Device Name]\r\n0=UNIT1\r\n"), true},
      {"UTF-16LE LF", true, Utf16Le("[A]\nk=1\n\n[B]\nj = 2"), false},
      {"UTF-16LE odd", true, Utf16Le("; c\r\n[a]\r\nK=1\r\n[A]\r\nk=2\r\n  x = \"q\" \r\n[B]"),
       false},
      {"UTF-8 mark", true, "\xEF\xBB\xBF[A]\r\nk=1\r\n[B]\r\nj=2\r\n", true},
  };
}

// Random reads and writes over names that partly exist in the files.
class Sequence {
 public:
  Sequence(unsigned seed, bool blanksAfterNames) : random_(seed), trailing_(blanksAfterNames) {}

  enum class Kind { kGetString, kGetInt, kWrite };
  struct Op {
    Kind kind;
    std::string section, key, text;  // text: the default or the value
    int defaultInt = 0;
    std::string Describe() const {
      std::ostringstream out;
      out << (kind == Kind::kWrite    ? "write"
              : kind == Kind::kGetInt ? "int"
                                      : "read")
          << " [" << section << "] [" << key << "] ["
          << (text.size() > 40 ? text.substr(0, 40) + "..." : text) << "] (" << text.size() << ")";
      return out.str();
    }
  };

  Op Next() {
    Op op;
    const int roll = Pick(10);
    op.kind = roll < 4 ? Kind::kWrite : roll < 8 ? Kind::kGetString : Kind::kGetInt;
    // Letters beyond ASCII where the code page has them as Latin-1 does.
    const char* other = latin1_ ? "Caf\xE9 \xC9t\xE9" : "Other Part";
    op.section = Name({"A", "B", "Device Name", "IP Address", "Tcp", "Net Address", "New", other,
                       "Device ID", ""});
    op.key = Name({"k", "j", "x", "0", "1", "5", "q", "s", "h", "top", "novalue", "z", "Value",
                   "new key", "k2", ""});
    // Reads go mostly to keys written before, in another spelling.
    if (op.kind != Kind::kWrite && !written_.empty() && Pick(3) != 0) {
      const auto& [section, key] = written_[Pick(static_cast<int>(written_.size()))];
      op.section = Respell(section);
      op.key = Respell(key);
    }
    if (op.kind == Kind::kWrite) {
      op.text = Value();
      written_.emplace_back(op.section, op.key);
    } else {
      static const char* const defaults[] = {"", "def", "d  ", "\"q\"", "  ", "0"};
      op.text = defaults[Pick(6)];
      op.defaultInt = Pick(3) == 0 ? -5 : Pick(1000);
    }
    return op;
  }

 private:
  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

  // The last name of a pool, the empty one, comes up rarely.
  std::string Name(std::initializer_list<const char*> pool) {
    return Respell(pool.begin()[Pick(static_cast<int>(pool.size()) - (Pick(8) ? 1 : 0))]);
  }

  // Letters in random case, sometimes with blanks around.
  std::string Respell(std::string name) {
    while (!name.empty() && (name[0] == ' ' || name[0] == '\t')) name.erase(0, 1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    for (char& c : name) {
      if (Pick(4) != 0) continue;
      const auto u = static_cast<unsigned char>(c);
      if (latin1_ && u >= 0xC0 && u <= 0xDE && u != 0xD7) {
        c = static_cast<char>(u + 0x20);
      } else if (latin1_ && u >= 0xE0 && u <= 0xFE && u != 0xF7) {
        c = static_cast<char>(u - 0x20);
      } else if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
      else if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    }
    if (Pick(4) == 0) name = std::string(Pick(3) ? " " : "\t ") + name;
    if (trailing_ && Pick(4) == 0) name += Pick(2) ? " " : " \t";
    return name;
  }

  std::string Value() {
    std::string value;
    switch (Pick(12)) {
      case 0:
        value = "";
        break;
      case 1:
        value = std::to_string(Pick(100000) - 50000);
        break;
      case 2:
        value = "-1062731774";
        break;
      case 3:
        value = "0x1F";
        break;
      case 4:
        value = "\"quoted value\"";
        break;
      case 5:
        value = "'single'";
        break;
      case 6:
        value = "\"";
        break;
      case 7:
        value = std::string(4090 + Pick(12), static_cast<char>('a' + Pick(26)));
        break;
      case 8:
        value = "a=b ; c";
        break;
      case 9:
        value = "\"" + std::string(4093 + Pick(4), 'q') + "\"";
        break;
      case 10:
        value = "UNIT" + std::to_string(Pick(300));
        break;
      default:
        value = "Mixed Case Words";
        break;
    }
    if (Pick(4) == 0) value = std::string(Pick(2) ? " " : "\t") + value;
    if (trailing_ && Pick(4) == 0) value += "  ";
    return value;
  }

  std::mt19937 random_;
  bool trailing_;
  bool latin1_ = GetACP() == 1252;
  std::vector<std::pair<std::string, std::string>> written_;
};

struct Run {
  const StartFile& start;
  unsigned seed;
  bool blanksAfterNames;
};

void RunSequence(const Run& run) {
  SCOPED_TRACE(std::string(run.start.name) + ", seed " + std::to_string(run.seed) +
               (run.blanksAfterNames ? ", blanks after names" : ""));
  TempFolder folder;
  const std::string oursPath = folder.File("ours.ini");
  const std::string theirsPath = folder.File("kernel32.ini");
  if (run.start.exists) {
    WriteBytes(oursPath, run.start.bytes);
    WriteBytes(theirsPath, run.start.bytes);
  }
  DropProfileCache(theirsPath);

  Win32FileAccess files;
  AnsiCodePageCodec codec;
  IniFileStore ours(files, codec, oursPath);
  Kernel32ProfileStore theirs(theirsPath);
  Sequence sequence(run.seed, run.blanksAfterNames);
  for (int step = 0; step < 80; ++step) {
    const Sequence::Op op = sequence.Next();
    SCOPED_TRACE("step " + std::to_string(step) + ": " + op.Describe());
    switch (op.kind) {
      case Sequence::Kind::kGetString:
        ASSERT_EQ(ours.GetString(op.section, op.key, op.text),
                  theirs.GetString(op.section, op.key, op.text));
        break;
      case Sequence::Kind::kGetInt:
        ASSERT_EQ(ours.GetInt(op.section, op.key, op.defaultInt),
                  theirs.GetInt(op.section, op.key, op.defaultInt));
        break;
      case Sequence::Kind::kWrite:
        ASSERT_EQ(ours.WriteString(op.section, op.key, op.text),
                  theirs.WriteString(op.section, op.key, op.text));
        DropProfileCache(theirsPath);
        break;
    }
  }
  ASSERT_TRUE(ours.Commit());
  const std::string oursBytes = ReadBytes(oursPath);
  const std::string theirsBytes = ReadBytes(theirsPath);
  if (run.start.normalForm && !run.blanksAfterNames) {
    EXPECT_TRUE(SameBytes(oursBytes, theirsBytes));
  } else if (oursBytes != theirsBytes) {
    EXPECT_TRUE(SameBytes(NormalForm(folder, oursBytes), NormalForm(folder, theirsBytes)));
  }
  // Reading our bytes afresh gives what the store answered from memory.
  IniFileStore reread(files, codec, oursPath);
  EXPECT_TRUE(SameBytes(reread.Document().Serialize(), oursBytes));
}

TEST(IniDifferential, RandomSequencesMatchTheProfileFunctions) {
  const std::vector<StartFile> starts = StartFiles();
  for (const StartFile& start : starts) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      RunSequence({start, seed, false});
      RunSequence({start, seed + 100, true});
    }
  }
}

TEST(IniDifferential, DeviceTableLoadAndStoreMatch) {
  for (const StartFile& start : StartFiles()) {
    SCOPED_TRACE(start.name);
    TempFolder folder;
    const std::string oursPath = folder.File("ours.ini");
    const std::string theirsPath = folder.File("kernel32.ini");
    if (start.exists) {
      WriteBytes(oursPath, start.bytes);
      WriteBytes(theirsPath, start.bytes);
    }
    DropProfileCache(theirsPath);
    Win32FileAccess files;
    AnsiCodePageCodec codec;
    IniFileStore ours(files, codec, oursPath);
    Kernel32ProfileStore theirs(theirsPath);
    DeviceTable table = LoadDeviceTable(ours);
    ASSERT_TRUE(table == LoadDeviceTable(theirs));
    table.entries[0].deviceName = "Renamed";
    table.entries[1].ipAddress = 0xC0A8000Au;
    StoreDeviceTable(table, 3, ours);
    StoreDeviceTable(table, 3, theirs);
    ASSERT_TRUE(ours.Commit());
    DropProfileCache(theirsPath);
    const std::string oursBytes = ReadBytes(oursPath);
    const std::string theirsBytes = ReadBytes(theirsPath);
    if (start.normalForm) {
      EXPECT_TRUE(SameBytes(oursBytes, theirsBytes));
    } else {
      EXPECT_TRUE(SameBytes(NormalForm(folder, oursBytes), NormalForm(folder, theirsBytes)));
    }
  }
}

TEST(IniFileStoreOnWindows, CommitReplacesTheFileAndLeavesNothingElse) {
  TempFolder folder;
  const std::string path = folder.File("orveld.ini");
  WriteBytes(path, "[A]\r\nk=1\r\n");
  Win32FileAccess files;
  AnsiCodePageCodec codec;
  IniFileStore store(files, codec, path);
  store.WriteString("A", "k", "2");
  ASSERT_TRUE(store.Commit());
  EXPECT_EQ(ReadBytes(path), "[A]\r\nk=2\r\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"orveld.ini"});
}

TEST(IniFileStoreOnWindows, CommitOnAReadOnlyFileFailsAndKeepsIt) {
  TempFolder folder;
  const std::string path = folder.File("orveld.ini");
  WriteBytes(path, "[A]\r\nk=1\r\n");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  Win32FileAccess files;
  AnsiCodePageCodec codec;
  IniFileStore store(files, codec, path);
  store.WriteString("A", "k", "2");
  EXPECT_FALSE(store.Commit());
  EXPECT_EQ(ReadBytes(path), "[A]\r\nk=1\r\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"orveld.ini"});
}

TEST(IniFileStoreOnWindows, CommitInAMissingFolderFails) {
  TempFolder folder;
  const std::string missing = folder.File("missing");
  const std::string path = missing + "\\orveld.ini";
  Win32FileAccess files;
  AnsiCodePageCodec codec;
  IniFileStore store(files, codec, path);
  EXPECT_TRUE(store.Readable());
  store.WriteString("A", "k", "2");
  EXPECT_FALSE(store.Commit());
  EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(folder.Names().empty());
}

TEST(IniFileStoreOnWindows, LockedFileIsNotReadableAndNotReplaced) {
  TempFolder folder;
  const std::string path = folder.File("orveld.ini");
  WriteBytes(path, "[A]\r\nk=1\r\n");
  HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  Win32FileAccess files;
  AnsiCodePageCodec codec;
  IniFileStore store(files, codec, path);
  EXPECT_FALSE(store.Readable());
  EXPECT_FALSE(store.WriteString("A", "k", "2"));
  EXPECT_FALSE(store.Commit());
  CloseHandle(lock);
  EXPECT_EQ(ReadBytes(path), "[A]\r\nk=1\r\n");
}

}  // namespace
}  // namespace orvel
