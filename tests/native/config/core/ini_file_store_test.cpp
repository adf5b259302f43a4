#include "config/core/ini_file_store.h"

#include <gtest/gtest.h>

#include "config/core/device_table.h"
#include "tests/doubles/memory_file_access.h"

namespace orvel {
namespace {

const Latin1Codec kCodec;
constexpr char kPath[] = "C:\\data\\orveld.ini";

TEST(IniFileStore, ReadsTheFileOnceAndWritesOnlyOnCommit) {
  testing::MemoryFileAccess files;
  files.files[kPath] = "[A]\nk=1\n";
  IniFileStore store(files, kCodec, kPath);
  EXPECT_EQ(store.GetInt("A", "k", 0), 1);
  EXPECT_TRUE(store.WriteString("A", "k", "2"));
  EXPECT_EQ(store.GetString("a", "K", ""), "2");
  EXPECT_EQ(files.files[kPath], "[A]\nk=1\n");
  EXPECT_EQ(files.reads, 1);
  EXPECT_EQ(files.replacements, 0);

  EXPECT_TRUE(store.Commit());
  EXPECT_EQ(files.files[kPath], "[A]\nk=2\r\n");
  EXPECT_TRUE(store.Commit());  // nothing new to write
  EXPECT_EQ(files.replacements, 1);
}

TEST(IniFileStore, CommitWithoutChangeLeavesTheFileAlone) {
  testing::MemoryFileAccess files;
  files.files[kPath] = "[A]\r\nk=1";
  IniFileStore store(files, kCodec, kPath);
  store.WriteString("A", "k", "1");
  EXPECT_TRUE(store.Commit());
  EXPECT_EQ(files.replacements, 0);

  IniFileStore missing(files, kCodec, "C:\\data\\none.ini");
  EXPECT_TRUE(missing.Commit());
  EXPECT_EQ(files.files.count("C:\\data\\none.ini"), 0u);
}

TEST(IniFileStore, MissingFileIsCreatedOnCommit) {
  testing::MemoryFileAccess files;
  IniFileStore store(files, kCodec, kPath);
  EXPECT_EQ(store.GetString("A", "k", "def"), "def");
  store.WriteString("A", "k", "v");
  ASSERT_TRUE(store.Commit());
  EXPECT_EQ(files.files[kPath], "[A]\r\nk=v\r\n");
}

TEST(IniFileStore, FailedReplacementKeepsTheOldFileAndCanBeRetried) {
  testing::MemoryFileAccess files;
  files.files[kPath] = "[A]\r\nk=1\r\n";
  IniFileStore store(files, kCodec, kPath);
  store.WriteString("A", "k", "2");
  files.failReplace = true;
  EXPECT_FALSE(store.Commit());
  EXPECT_EQ(files.files[kPath], "[A]\r\nk=1\r\n");
  EXPECT_EQ(store.GetInt("A", "k", 0), 2);  // the edit is not lost

  files.failReplace = false;
  EXPECT_TRUE(store.Commit());
  EXPECT_EQ(files.files[kPath], "[A]\r\nk=2\r\n");
}

TEST(IniFileStore, UnreadableFileIsNeverOverwritten) {
  testing::MemoryFileAccess files;
  files.files[kPath] = "[A]\r\nk=1\r\n";
  files.unreadable.insert(kPath);
  IniFileStore store(files, kCodec, kPath);
  EXPECT_FALSE(store.Readable());
  EXPECT_EQ(store.GetInt("A", "k", 7), 7);
  EXPECT_FALSE(store.WriteString("A", "k", "2"));
  EXPECT_FALSE(store.Commit());
  EXPECT_EQ(files.replacements, 0);
  EXPECT_EQ(files.files[kPath], "[A]\r\nk=1\r\n");
}

// Read with the limits of a settings or setup file: what the program could have
// written reads, anything beyond it counts as unreadable and is never replaced.
TEST(IniFileStore, FilesBeyondWhatTheProgramWrites) {
  const IniReadLimits limits{kTableFileMaxBytes, kTableFileMaxLines};
  std::string largest;
  {
    DeviceTable table = DefaultDeviceTable();
    for (DeviceEntry& entry : table.entries) {
      entry.deviceName = std::string(ProfileStore::kValueBufferSize - 1, 'n');
      entry.macText = std::string(ProfileStore::kValueBufferSize - 1, 'F');
      entry.ipAddress = 0x80000000u;
    }
    testing::MemoryFileAccess files;
    IniFileStore store(files, kCodec, kPath);
    StoreDeviceTable(table, kSlotCount, store);
    ASSERT_TRUE(store.Commit());
    largest = files.files[kPath];
  }
  std::string lines;
  for (std::size_t i = 0; i < kTableFileMaxLines; ++i) lines += "k" + std::to_string(i) + "=1\n";
  std::string twoByteLines(30u * 1024 * 1024, 'x');
  for (std::size_t i = 1; i < twoByteLines.size(); i += 2) twoByteLines[i] = '\n';
  const std::string blankLines(2 * kTableFileMaxLines, '\n');

  struct Case {
    const char* what;
    std::string bytes;
    bool readable;
    bool outOfMemory = false;
  };
  const Case cases[] = {
      {"the largest table the program writes", largest, true},
      {"as many lines as a full table", "[A]\n" + lines.substr(lines.find('\n') + 1), true},
      {"one line more", "[A]\n" + lines, false},
      {"blank lines do not count", "[A]\n" + blankLines + "k=1\n", true},
      {"one byte over the largest file", "[A]\nk=1\n" + std::string(kTableFileMaxBytes - 7, ' '),
       false},
      {"30 MB of two-byte lines", twoByteLines, false},
      {"memory runs out while reading", "[A]\nk=1\n", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::MemoryFileAccess files;
    files.files[kPath] = c.bytes;
    files.failAllocation = c.outOfMemory;
    IniFileStore store(files, kCodec, kPath, limits);
    EXPECT_EQ(store.Readable(), c.readable);
    if (c.readable) continue;
    EXPECT_EQ(store.GetInt("A", "k", 7), 7);
    EXPECT_FALSE(store.WriteString("A", "k", "2"));
    EXPECT_FALSE(store.Commit());
    EXPECT_EQ(files.replacements, 0);
  }
}

}  // namespace
}  // namespace orvel
