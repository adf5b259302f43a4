#include "installer/midi_slot.h"

#include <gtest/gtest.h>

#include "tests/doubles/installer_fakes.h"
#include "tests/native/installer/fault_injection.h"

namespace orvel::installer {
namespace {

using fakes::FakeWorld;

// One slot's content in the test tables: "" missing, "-" empty data, "own" the library,
// "long" data over 24 bytes, anything else another driver's name.
using Slots = std::vector<std::string>;

void Fill(FakeWorld& w, RegView view, const Slots& slots) {
  w.registry.SetString(kDrivers32Key, u"aux", u"wdmaud.drv", view);
  for (int i = 0; i < static_cast<int>(slots.size()); ++i) {
    const std::string& s = slots[i];
    if (s.empty()) continue;
    if (s == "-") {
      w.registry.SetRaw(kDrivers32Key, MidiSlotName(i), {kRegSz, {}}, view);
    } else if (s == "own") {
      w.registry.SetString(kDrivers32Key, MidiSlotName(i), u"Orveldrv.dll", view);
    } else if (s == "short") {
      w.registry.SetRaw(kDrivers32Key, MidiSlotName(i),
                        {kRegSz, fakes::Bytes(u"Orveldrv.dll", false)}, view);
    } else if (s == "long") {
      w.registry.SetString(kDrivers32Key, MidiSlotName(i), u"Orveldrv.dll.a-much-longer-name",
                           view);
    } else {
      w.registry.SetString(kDrivers32Key, MidiSlotName(i), Text(s.begin(), s.end()), view);
    }
  }
}

std::string Read(const FakeWorld& w, RegView view, int slot) {
  const auto v = w.registry.Get(kDrivers32Key, MidiSlotName(slot), view);
  if (!v) return "";
  if (v->data.empty()) return "-";
  const Text t = fakes::FromBytes(v->data);
  if (t == u"Orveldrv.dll" && v->data.size() == 26) return "own";
  if (t == u"Orveldrv.dll.a-much-longer-name") return "long";
  if (t == u"Orveldrv.dll" && v->data.size() == 24) return "short";
  return std::string(t.begin(), t.end());
}

TEST(FindMidiSlot, ChoosesAFreeOrOwnSlotInBothViews) {
  struct Case {
    const char* name;
    std::uint16_t architecture;
    Slots native;
    Slots wow;
    int slot;
  };
  const Case cases[] = {
      {"32-bit system skips taken slots", 0, {"a.drv", "b.drv"}, {}, 2},
      {"64-bit, midi2 missing in both", 9, {"a.drv", "b.drv"}, {"a.drv", "b.drv"}, 2},
      {"64-bit, midi2 empty in the 32-bit view", 9, {"a.drv", "b.drv"}, {"a", "b", "-"}, 2},
      {"64-bit, midi2 own in the 32-bit view", 9, {"a.drv", "b.drv"}, {"a", "b", "own"}, 2},
      {"64-bit, midi2 taken in the 32-bit view", 9, {"a", "b"}, {"a", "b", "c.drv"}, 3},
      {"IA64 counts as 64-bit", 6, {"a", "b"}, {"a", "b", "c.drv"}, 3},
      {"own slot again", 9, {"", "", "", "", "own"}, {"", "", "", "", "own"}, 4},
      {"own slot again on 32-bit", 0, {"", "", "", "", "own"}, {}, 4},
      {"last own slot counts", 0, {"own", "", "own"}, {}, 2},
      {"own natively, another in 32-bit view",
       9,
       {"x", "", "", "", "own"},
       {"x", "y", "", "", "z"},
       2},
      {"all ten taken", 9, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, {}, -1},
      {"all ten taken on 32-bit", 0, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, {}, -1},
      {"data longer than the entry is another driver's", 0, {"long", "-"}, {}, 1},
      {"an unterminated entry is still ours", 0, {"a", "", "short"}, {}, 2},
      {"free natively but none usable in 32-bit view",
       9,
       {"a", ""},
       {"a", "long", "c", "d", "e", "f", "g", "h", "i", "j"},
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    w.system.architecture = c.architecture;
    Fill(w, RegView::k64, c.native);
    Fill(w, RegView::k32, c.wow);
    EXPECT_EQ(FindMidiSlot(w.platform), c.slot);
    const auto before64 = w.registry.ValueCount(kDrivers32Key);
    const std::uint32_t result = RegSetMIDIDeviceNum(w.platform);
    EXPECT_EQ(result, c.slot < 0 ? 1603u : 0u);
    if (c.slot >= 0) {
      EXPECT_EQ(Read(w, RegView::k64, c.slot), "own");
      if (c.architecture != 0) EXPECT_EQ(Read(w, RegView::k32, c.slot), "own");
    } else {
      EXPECT_EQ(w.registry.ValueCount(kDrivers32Key), before64);
    }
    // Other drivers' entries are never touched.
    for (int i = 0; i < static_cast<int>(c.native.size()); ++i) {
      if (i != c.slot) EXPECT_EQ(Read(w, RegView::k64, i), c.native[i]) << i;
    }
    for (int i = 0; i < static_cast<int>(c.wow.size()); ++i) {
      if (i != c.slot) EXPECT_EQ(Read(w, RegView::k32, i), c.wow[i]) << i;
    }
    EXPECT_EQ(w.OpenHandles(), 0u);
  }
}

TEST(FindMidiSlot, MissingKeysGiveNoSlot) {
  FakeWorld w;
  EXPECT_EQ(FindMidiSlot(w.platform), -1);
  EXPECT_EQ(RegSetMIDIDeviceNum(w.platform), 1603u);
  Fill(w, RegView::k64, {});
  EXPECT_EQ(FindMidiSlot(w.platform), -1);  // 32-bit view key missing on 64-bit Windows
  w.system.architecture = 0;
  EXPECT_EQ(FindMidiSlot(w.platform), 0);
}

TEST(RegSetMIDIDeviceNum, EveryFailedCallGives1603OrLeavesBothViewsWritten) {
  FailEachCallInTurn(
      [](FakeWorld& w) {
        Fill(w, RegView::k64, {"a", "b"});
        Fill(w, RegView::k32, {"a", "b"});
      },
      [](FakeWorld& w) { return RegSetMIDIDeviceNum(w.platform); },
      [](FakeWorld& w, std::uint32_t result, const std::string& failed) {
        int ownInBoth = 0;
        for (int i = 0; i < kMidiSlotCount; ++i) {
          ownInBoth += Read(w, RegView::k64, i) == "own" && Read(w, RegView::k32, i) == "own";
        }
        // Success means one slot written in both views; a failure leaves none complete.
        EXPECT_EQ(ownInBoth, result == 0 ? 1 : 0);
        if (result != 0) EXPECT_EQ(result, 1603u);
        // A failed read during the search makes a slot look taken, never free.
        EXPECT_EQ(Read(w, RegView::k64, 0), "a");
        EXPECT_EQ(Read(w, RegView::k64, 1), "b");
        (void)failed;
      });
}

TEST(RegDelMIDIDeviceNum, DeletesOnlyTheFirstOwnSlotInEachView) {
  FakeWorld w;
  Fill(w, RegView::k64, {"a", "", "own", "", "", "own"});
  Fill(w, RegView::k32, {"own", "", "", "own"});
  EXPECT_EQ(RegDelMIDIDeviceNum(w.platform), 0u);
  EXPECT_EQ(Read(w, RegView::k64, 2), "");
  EXPECT_EQ(Read(w, RegView::k64, 5), "own");
  EXPECT_EQ(Read(w, RegView::k64, 0), "a");
  EXPECT_EQ(Read(w, RegView::k32, 0), "");
  EXPECT_EQ(Read(w, RegView::k32, 3), "own");

  FakeWorld none;  // no keys at all
  EXPECT_EQ(RegDelMIDIDeviceNum(none.platform), 0u);
  FailEachCallInTurn(
      [](FakeWorld& f) {
        Fill(f, RegView::k64, {"own"});
        Fill(f, RegView::k32, {"own"});
      },
      [](FakeWorld& f) { return RegDelMIDIDeviceNum(f.platform); },
      [](FakeWorld&, std::uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); });
}

TEST(SetSystemComponent, MarksOnlyThePublishersWindowsEntries) {
  struct Entry {
    const char16_t* key;
    const char16_t* publisher;
    const char16_t* displayName;
    bool marked;
  };
  const Entry entries[] = {
      {u"{A}", u"Vantor Corporation.", u"Windows Driver Package - Vantor", true},
      {u"{B}", u"Vantor Corporation", u"Windows Driver Package", false},
      {u"{C}", u"Vantor Corporation.x", u"Windows Driver Package", false},
      {u"{D}", u"Vantor Corporation.", u"windows driver package", false},
      {u"{E}", u"Vantor Corporation.", u"Quorin Network Driver", false},
      {u"{F}", u"Other Corp.", u"Windows Thing", false},
      {u"{G}", u"Vantor Corporation.", u"Windows", true},
      {u"{H}", u"Vantor Corporation.", u"Win", false},
      {u"AVeryLongSubkeyNameThatIsTheLongestOfAll", u"Vantor Corporation.", u"Windows X", true},
  };
  FakeWorld w;
  for (const auto& e : entries) {
    const Text path = Text(kUninstallKey) + u"\\" + e.key;
    w.registry.SetString(path, u"Publisher", e.publisher);
    w.registry.SetString(path, u"DisplayName", e.displayName);
  }
  // Only in the 32-bit view: not looked at.
  w.registry.SetString(Text(kUninstallKey) + u"\\{W}", u"Publisher", u"Vantor Corporation.",
                       RegView::k32);
  w.registry.SetString(Text(kUninstallKey) + u"\\{W}", u"DisplayName", u"Windows", RegView::k32);
  EXPECT_EQ(setSystemComponent(w.platform), 0u);
  for (const auto& e : entries) {
    const Text path = Text(kUninstallKey) + u"\\" + e.key;
    const auto v = w.registry.GetDword(path, u"SystemComponent");
    EXPECT_EQ(v.has_value(), e.marked) << std::string(e.key, e.key + 3);
    if (e.marked) EXPECT_EQ(*v, 1u);
  }
  EXPECT_FALSE(w.registry.Get(Text(kUninstallKey) + u"\\{W}", u"SystemComponent", RegView::k32));
  EXPECT_EQ(w.OpenHandles(), 0u);

  FailEachCallInTurn(
      [](FakeWorld& f) {
        const Text path = Text(kUninstallKey) + u"\\{A}";
        f.registry.SetString(path, u"Publisher", u"Vantor Corporation.");
        f.registry.SetString(path, u"DisplayName", u"Windows Driver Package");
      },
      [](FakeWorld& f) { return setSystemComponent(f.platform); },
      [](FakeWorld&, std::uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); });
}

}  // namespace
}  // namespace orvel::installer
