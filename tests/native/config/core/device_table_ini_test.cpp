// The device table over the INI store, with the file's bytes in view.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "config/core/device_table.h"
#include "config/core/ini_file_store.h"
#include "tests/doubles/memory_file_access.h"

namespace orvel {
namespace {

using namespace std::string_literals;

const Latin1Codec kCodec;
constexpr char kPath[] = "orveld.ini";

DeviceTable DefaultTable() {
  DeviceTable table;
  for (int slot = 0; slot < kSlotCount; ++slot) table.entries[slot] = DefaultDeviceEntry(slot);
  table.scanStartAddress = kDefaultScanStartAddress;
  table.scanStopOctet = kDefaultScanStopOctet;
  return table;
}

DeviceTable LoadFrom(const std::string& bytes) {
  testing::MemoryFileAccess files;
  files.files[kPath] = bytes;
  IniFileStore store(files, kCodec, kPath);
  return LoadDeviceTable(store);
}

std::string StoreInto(const std::string* bytes, const DeviceTable& table, int slotCount) {
  testing::MemoryFileAccess files;
  if (bytes) files.files[kPath] = *bytes;
  IniFileStore store(files, kCodec, kPath);
  StoreDeviceTable(table, slotCount, store);
  EXPECT_TRUE(store.Commit());
  return files.files[kPath];
}

TEST(DeviceTableIni, NoFileGivesTheDefaults) {
  testing::MemoryFileAccess files;
  IniFileStore store(files, kCodec, kPath);
  EXPECT_EQ(LoadDeviceTable(store), DefaultTable());
}

TEST(DeviceTableIni, ValuesAsTheFileHoldsThem) {
  const DeviceTable table = LoadFrom(
      "[Device Name]\r\n5=\r\n0=First\r\n"
      "[IP Address]\r\n0=-1062731774\r\n1=abc\r\n"
      "[Protect No]\r\n0=\r\n1=00A0DE000001\r\n"
      "[Device ID]\r\n0=300\r\n1=15\r\n"
      "[Tcp]\r\n0=0\r\n");
  EXPECT_EQ(table.entries[5].deviceName, "UNIT6");
  EXPECT_EQ(table.entries[0].deviceName, "First");
  EXPECT_EQ(table.entries[0].ipAddress, 0xC0A80002u);
  EXPECT_EQ(table.entries[1].ipAddress, 0u);
  EXPECT_EQ(table.entries[0].macText, "00");
  EXPECT_EQ(table.entries[1].macText, "00A0DE000001");
  EXPECT_EQ(table.entries[0].portIndex, 44);
  EXPECT_EQ(table.entries[1].portIndex, 15);
  EXPECT_EQ(table.entries[0].tcpFlag, 0);
  EXPECT_EQ(table.entries[1].tcpFlag, 1);
  EXPECT_EQ(table.scanStartAddress, kDefaultScanStartAddress);
  EXPECT_EQ(table.scanStopOctet, kDefaultScanStopOctet);
}

TEST(DeviceTableIni, EveryStoredAddressReadsBackEqual) {
  DeviceTable table = DefaultTable();
  const std::uint32_t addresses[] = {0xC0A80002u, 0x7FFFFFFFu, 0x80000000u,
                                     0xFFFFFFFFu, 0x0A000001u, 0xE0000001u};
  for (int i = 0; i < 6; ++i) table.entries[i].ipAddress = addresses[i];
  table.scanStartAddress = 0xFE000001u;
  table.scanStopOctet = -7;
  const std::string bytes = StoreInto(nullptr, table, 6);
  EXPECT_EQ(LoadFrom(bytes), table);
}

TEST(DeviceTableIni, SlotCountZeroWritesOnlyTheScanRange) {
  EXPECT_EQ(StoreInto(nullptr, DefaultTable(), 0),
            "[Net Address]\r\nValue=-1062731774\r\n[Stop Address Field3]\r\nValue=2\r\n");
}

TEST(DeviceTableIni, FreshOneSlotFile) {
  DeviceTable table = DefaultTable();
  table.entries[0].ipAddress = 0xC0A80002u;
  table.entries[0].macText = "000000000000";
  EXPECT_EQ(StoreInto(nullptr, table, 1),
            "[Device Name]\r\n0=UNIT1\r\n"
            "[IP Address]\r\n0=-1062731774\r\n"
            "[Protect No]\r\n0=000000000000\r\n"
            "[Device ID]\r\n0=0\r\n"
            "[Tcp]\r\n0=1\r\n"
            "[Net Address]\r\nValue=-1062731774\r\n"
            "[Stop Address Field3]\r\nValue=2\r\n");
}

TEST(DeviceTableIni, StoringThreeAfterFiveEmptiesTheVacatedSlots) {
  DeviceTable five = DefaultTable();
  for (int i = 0; i < 5; ++i) five.entries[i].ipAddress = 0x0A000001u + i;
  std::string bytes = StoreInto(nullptr, five, 5);
  bytes += "[Device Name]\r\n7=Kept\r\n";  // a duplicate section that nothing reads
  const std::string withSlot7 = "[IP Address]\r\n7=167772167\r\n";
  bytes.insert(bytes.find("[Protect No]"), "7=167772167\r\n");

  DeviceTable table = LoadFrom(bytes);
  ASSERT_EQ(CountUsedSlots(table), 6);
  table.entries[3] = DefaultDeviceEntry(3);
  table.entries[4] = DefaultDeviceEntry(4);
  const std::string stored = StoreInto(&bytes, table, 5);
  const DeviceTable reloaded = LoadFrom(stored);
  EXPECT_EQ(reloaded.entries[2].ipAddress, 0x0A000003u);
  EXPECT_EQ(reloaded.entries[3].ipAddress, 0u);
  EXPECT_EQ(reloaded.entries[4].ipAddress, 0u);
  EXPECT_EQ(reloaded.entries[7].ipAddress, 167772167u);
  EXPECT_NE(stored.find("7=167772167\r\n"), std::string::npos);
  EXPECT_NE(stored.find("[Device Name]\r\n7=Kept\r\n"), std::string::npos);
}

TEST(DeviceTableIni, SlotsPastAGapKeepTheirLines) {
  const std::string bytes =
      "[Device Name]\r\n0=A\r\n5=F\r\n"
      "[IP Address]\r\n0=167772161\r\n1=0\r\n5=167772166\r\n";
  DeviceTable table = LoadFrom(bytes);
  EXPECT_TRUE(table.entries[0].Used());
  EXPECT_FALSE(table.entries[1].Used());
  EXPECT_TRUE(table.entries[5].Used());
  table.entries[0].deviceName = "B";
  const std::string stored = StoreInto(&bytes, table, 1);
  EXPECT_NE(stored.find("[Device Name]\r\n0=B\r\n5=F\r\n"), std::string::npos);
  EXPECT_NE(stored.find("5=167772166\r\n"), std::string::npos);
}

TEST(DeviceTableIni, BadInputLoadsWithDefaults) {
  std::mt19937 random(20261207);
  std::string junk(1 << 16, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  std::string tenMegabytes;
  while (tenMegabytes.size() < 10u * 1024 * 1024) {
    tenMegabytes += "line " + std::to_string(tenMegabytes.size()) + " = some text of a log\r\n";
  }
  tenMegabytes += "[Tcp]\r\n0=7\r\n";
  const std::string longName(100000, 'n');

  struct Case {
    const char* what;
    std::string file;
    DeviceTable expected;
  };
  std::vector<Case> cases;
  cases.push_back({"binary junk", junk, DefaultTable()});
  cases.push_back({"NUL bytes", std::string(4096, '\0'), DefaultTable()});
  {
    DeviceTable expected = DefaultTable();
    expected.entries[0].deviceName = "AB";
    cases.push_back({"NUL inside a value", "\0\0\r\n[Device Name]\r\n0=AB\0CD\r\n"s, expected});
  }
  {
    DeviceTable expected = DefaultTable();
    expected.entries[0].deviceName = std::string(4095, 'n');
    expected.entries[1].deviceName = "after";
    cases.push_back({"a line of 100,000 characters",
                     "[Device Name]\r\n0=" + longName + "\r\n1=after\r\n", expected});
  }
  {
    DeviceTable expected = DefaultTable();
    expected.entries[0].tcpFlag = 7;
    cases.push_back({"10 MB of text", tenMegabytes, expected});
  }
  {
    DeviceTable expected = DefaultTable();
    expected.entries[0].ipAddress = 1215752191u;
    expected.entries[1].ipAddress = 0u - 1215752191u;
    expected.entries[0].portIndex = 44;
    expected.scanStopOctet = 1215752191;
    cases.push_back({"numbers beyond 32 bits",
                     "[IP Address]\r\n0=99999999999\r\n1=-99999999999\r\n"
                     "[Device ID]\r\n0=4294967340\r\n"
                     "[Stop Address Field3]\r\nValue=99999999999\r\n",
                     expected});
  }
  {
    DeviceTable expected = DefaultTable();
    expected.entries[0].deviceName = "Only";
    cases.push_back({"missing sections", "[Device Name]\r\n0=Only\r\n", expected});
  }
  for (const Case& c : cases) {
    EXPECT_TRUE(LoadFrom(c.file) == c.expected) << c.what;
  }
}

TEST(DeviceTableIni, JunkFileStillTakesAStore) {
  std::string junk = "\x01[\x02=\r\r\n[Tcp\n=\n==\n\x1a\x1a]\n["s + std::string(100, '\0');
  DeviceTable table = DefaultTable();
  table.entries[0].ipAddress = 0x0A000001u;
  const std::string stored = StoreInto(&junk, table, 1);
  EXPECT_EQ(stored.substr(0, junk.size()), junk);
  EXPECT_EQ(LoadFrom(stored).entries[0].ipAddress, 0x0A000001u);
}

}  // namespace
}  // namespace orvel
