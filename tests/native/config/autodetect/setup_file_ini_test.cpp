// Setup files as bytes on disk, read and written through the program's INI store.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "config/autodetect/setup_file.h"
#include "config/core/ini_file_store.h"
#include "config/core/text_codec.h"
#include "tests/doubles/memory_file_access.h"

namespace orvel::autodetect {
namespace {

const Latin1Codec kCodec;
constexpr char kPath[] = "C:\\Setups\\studio.ini";

// Read as the program opens a setup file: with the limits of a table file.
std::optional<DeviceTable> ReadBytes(const std::string& bytes, bool outOfMemory = false) {
  testing::MemoryFileAccess files;
  files.files[kPath] = bytes;
  files.failAllocation = outOfMemory;
  IniFileStore store(files, kCodec, kPath, {kTableFileMaxBytes, kTableFileMaxLines});
  return ReadSetupFile(store);
}

const std::string kSlotZero =
    "[Device Name]\r\n0=Mixer\r\n[IP Address]\r\n0=-1062731774\r\n"
    "[Protect No]\r\n0=00A0DE000001\r\n[Device ID]\r\n0=3\r\n";

TEST(SetupFileOnDisk, ExportThenImportGivesTheSameTable) {
  std::array<DeviceEntry, kSlotCount> entries;
  for (int i = 0; i < kSlotCount; ++i) entries[static_cast<std::size_t>(i)] = DefaultDeviceEntry(i);
  entries[0] = {"Mixer", 0xC0A80002u, "00A0DE000001", 0, 1};
  entries[1] = {"Bühne", 0xC8010203u, "00A0DE000002", 15, 0};
  testing::MemoryFileAccess files;
  {
    IniFileStore store(files, kCodec, kPath);
    WriteSetupFile({entries, 0x0A000001u, 77}, store);
    ASSERT_TRUE(store.Commit());
  }
  const auto table = ReadBytes(files.files.at(kPath));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->entries, entries);
  EXPECT_EQ(table->scanStartAddress, 0x0A000001u);
  EXPECT_EQ(table->scanStopOctet, 77);
}

TEST(SetupFileOnDisk, BadFiles) {
  struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
    bool outOfMemory = false;
  };
  std::mt19937 random(12345);
  std::string junk(64 * 1024, '\0');
  for (char& c : junk) c = static_cast<char>(random() & 0xFF);
  std::string junkWithSections = junk + "\n" + kSlotZero + junk;
  std::string manyLines = kSlotZero;
  for (std::size_t i = 0; i < kTableFileMaxLines; ++i) manyLines += "x\n";
  const std::vector<Case> cases = {
      {"empty file", "", false},
      {"binary junk", junk, false},
      {"junk around a valid slot 0", junkWithSections, true},
      {"UTF-16 mark and junk", std::string("\xFF\xFE", 2) + junk, false},
      {"UTF-16 mark, odd length", std::string("\xFF\xFE[\0", 4) + "x", false},
      {"NUL bytes in the lines", std::string("[Device Name]\r\n0=A\0B\r\n", 22) + kSlotZero, true},
      {"missing sections", "[Device Name]\r\n0=Mixer\r\n[Protect No]\r\n0=00\r\n", false},
      {"sections without keys", "[Device Name]\r\n[IP Address]\r\n[Protect No]\r\n[Device ID]\r\n",
       false},
      {"no Tcp section, no range", kSlotZero, true},
      {"unterminated header", "[Device Name\r\n0=Mixer\r\n" + kSlotZero.substr(24), false},
      {"a single huge line", std::string(1 << 20, 'x'), false},
      // Never written by the program: not read, whatever slot 0 holds.
      {"larger than the program writes", kSlotZero + std::string(kTableFileMaxBytes, ' '), false},
      {"more lines than the program writes", manyLines, false},
      {"memory runs out", kSlotZero, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto table = ReadBytes(c.bytes, c.outOfMemory);
    EXPECT_EQ(table.has_value(), c.accepted);
    if (table) {
      for (const DeviceEntry& e : table->entries) {
        EXPECT_FALSE(e.deviceName.empty());
        EXPECT_LE(e.deviceName.size(), kSetupNameBuffer - 1);
        EXPECT_FALSE(e.macText.empty());
        EXPECT_LE(e.macText.size(), kSetupMacBuffer - 1);
      }
    }
  }
}

TEST(SetupFileOnDisk, ValuesOutOfRange) {
  const std::string longName(10000, 'N');
  const std::string bytes = "[Device Name]\r\n0=Mixer\r\n1=" + longName +
                            "\r\n[IP Address]\r\n0=5\r\n1=99999999999\r\n2=-2147483648\r\n"
                            "[Protect No]\r\n0=00\r\n1=" +
                            std::string(10000, 'F') +
                            "\r\n[Device ID]\r\n0=0\r\n1=-5\r\n2=2147483647\r\n"
                            "[Tcp]\r\n1=-1\r\n2=256\r\n"
                            "[Net Address]\r\nValue=-99999999999\r\n"
                            "[Stop Address Field3]\r\nValue=-3\r\n"
                            // A second section of a name is never read.
                            "[Device Name]\r\n3=Hidden\r\n";
  const auto table = ReadBytes(bytes);
  ASSERT_TRUE(table);
  const auto& e = table->entries;
  EXPECT_EQ(e[1].deviceName, std::string(259, 'N'));
  EXPECT_EQ(e[1].macText, std::string(255, 'F'));
  EXPECT_EQ(e[2].ipAddress, 0x80000000u);
  EXPECT_EQ(e[1].portIndex, 251);
  EXPECT_EQ(e[2].portIndex, 255);
  EXPECT_EQ(e[1].tcpFlag, 255);
  EXPECT_EQ(e[2].tcpFlag, 0);
  EXPECT_EQ(e[3].deviceName, "UNIT4");
  EXPECT_EQ(table->scanStopOctet, -3);
}

}  // namespace
}  // namespace orvel::autodetect
