#include "config/core/ini_file_store.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvel
