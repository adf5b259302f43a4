#include "installer/midi_slot.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "installer/common.h"
#include "installer/utilities.h"

namespace orvel::installer {
namespace {

// "Orveldrv.dll" is 12 characters: 24 bytes without and 26 with the terminator. The slot
// buffer holds the whole entry, and an entry written without its terminator is ours too.
constexpr std::uint32_t kSlotBytes = 26;

// "Orveldrv.dll" with its terminator, as REG_SZ data.
std::vector<std::uint8_t> LibraryEntry() {
  Text name(kMidiLibraryName);
  std::vector<std::uint8_t> bytes((name.size() + 1) * sizeof(char16_t), 0);
  std::memcpy(bytes.data(), name.data(), name.size() * sizeof(char16_t));
  return bytes;
}

std::uint32_t WriteLibraryEntry(Registry& registry, TextView path, int slot) {
  Key key = OpenKey(registry, path, RegView::kDefault, RegAccess::kReadWrite);
  if (!key) return kResultFailure;
  const auto entry = LibraryEntry();
  if (registry.SetValue(key.get(), MidiSlotName(slot), kRegSz, entry.data(),
                        static_cast<std::uint32_t>(entry.size())) != kErrorSuccess) {
    return kResultFailure;
  }
  return kResultSuccess;
}

void DeleteFirstOwnSlot(Registry& registry, TextView path) {
  Key key = OpenKey(registry, path, RegView::kDefault, RegAccess::kReadWrite);
  if (!key) return;
  for (int slot = 0; slot < kMidiSlotCount; ++slot) {
    if (ReadMidiSlot(registry, key.get(), slot) == SlotState::kOwn) {
      registry.DeleteValue(key.get(), MidiSlotName(slot));
      return;
    }
  }
}

}  // namespace

Text MidiSlotName(int slot) {
  Text name = u"midi";
  if (slot > 0) name += static_cast<char16_t>(u'0' + slot);
  return name;
}

SlotState ReadMidiSlot(Registry& registry, KeyHandle key, int slot) {
  std::uint8_t data[kSlotBytes] = {};
  std::uint32_t size = kSlotBytes;
  std::uint32_t type = 0;
  const auto status = registry.QueryValue(key, MidiSlotName(slot), &type, data, &size);
  if (status == kErrorFileNotFound) return SlotState::kFree;
  if (status != kErrorSuccess) return SlotState::kOther;
  if (size == 0) return SlotState::kFree;
  const auto entry = LibraryEntry();
  const bool whole = size == entry.size();
  const bool unterminated = size == entry.size() - sizeof(char16_t);
  if ((whole || unterminated) && std::equal(data, data + size, entry.begin())) {
    return SlotState::kOwn;
  }
  return SlotState::kOther;
}

bool Is64BitWindows(Platform& platform) {
  const auto architecture = platform.system.NativeProcessorArchitecture();
  return architecture == kProcessorArchitectureAmd64 || architecture == kProcessorArchitectureIa64;
}

int FindMidiSlot(Platform& platform) {
  Registry& registry = platform.registry;
  Key native = OpenKey(registry, kDrivers32Key, RegView::kDefault, RegAccess::kRead);
  if (!native) return -1;
  std::vector<int> freeSlots;
  int ownSlot = -1;
  for (int slot = 0; slot < kMidiSlotCount; ++slot) {
    switch (ReadMidiSlot(registry, native.get(), slot)) {
      case SlotState::kFree:
        freeSlots.push_back(slot);
        break;
      case SlotState::kOwn:
        ownSlot = slot;
        break;
      case SlotState::kOther:
        break;
    }
  }
  native.reset();
  if (!Is64BitWindows(platform)) {
    if (ownSlot >= 0) return ownSlot;
    return freeSlots.empty() ? -1 : freeSlots.front();
  }
  Key wow = OpenKey(registry, kDrivers32Wow64Key, RegView::kDefault, RegAccess::kRead);
  if (!wow) return -1;
  const auto usable = [&](int slot) {
    return ReadMidiSlot(registry, wow.get(), slot) != SlotState::kOther;
  };
  if (ownSlot >= 0 && usable(ownSlot)) return ownSlot;
  for (int slot : freeSlots) {
    if (usable(slot)) return slot;
  }
  return -1;
}

std::uint32_t RegSetMIDIDeviceNum(Platform& platform) {
  const int slot = FindMidiSlot(platform);
  if (slot < 0) {
    Log(platform.session, u"RegSetMIDIDeviceNum: no free MIDI driver slot; 1603");
    return kResultFailure;
  }
  const Text name = slot == 0 ? Text(u"midi") : u"midi" + Decimal(static_cast<std::uint32_t>(slot));
  if (WriteLibraryEntry(platform.registry, kDrivers32Key, slot) != kResultSuccess) {
    Log(platform.session, u"RegSetMIDIDeviceNum: writing " + name + u" failed; 1603");
    return kResultFailure;
  }
  if (Is64BitWindows(platform) &&
      WriteLibraryEntry(platform.registry, kDrivers32Wow64Key, slot) != kResultSuccess) {
    Log(platform.session,
        u"RegSetMIDIDeviceNum: writing " + name + u" of the 32-bit view failed; 1603");
    return kResultFailure;
  }
  Log(platform.session, u"RegSetMIDIDeviceNum: Orveldrv.dll in " + name);
  return kResultSuccess;
}

std::uint32_t RegDelMIDIDeviceNum(Platform& platform) {
  DeleteFirstOwnSlot(platform.registry, kDrivers32Key);
  const bool wow64 = Is64BitWindows(platform);
  if (wow64) DeleteFirstOwnSlot(platform.registry, kDrivers32Wow64Key);
  Log(platform.session, wow64 ? u"RegDelMIDIDeviceNum: the library's first slot removed in both "
                                u"Drivers32 keys"
                              : u"RegDelMIDIDeviceNum: the library's first slot removed");
  return kResultSuccess;
}

std::uint32_t setSystemComponent(Platform& platform) {
  Registry& registry = platform.registry;
  Key uninstall = OpenKey(registry, kUninstallKey, RegView::k64, RegAccess::kRead);
  if (!uninstall) return kResultSuccess;
  std::uint32_t subKeys = 0;
  std::uint32_t longest = 0;
  if (const auto status = registry.QueryInfoKey(uninstall.get(), &subKeys, &longest);
      status != kErrorSuccess) {
    Log(platform.session,
        u"setSystemComponent: RegQueryInfoKeyW failed with error " + Decimal(status));
    return kResultSuccess;
  }
  constexpr std::uint32_t kValueBytes = 400;
  const Text publisher(kProductPublisher);
  for (std::uint32_t index = 0; index < subKeys; ++index) {
    std::vector<char16_t> name(static_cast<std::size_t>(longest) + 1, u'\0');
    if (registry.EnumKey(uninstall.get(), index, name.data(), longest + 1) != kErrorSuccess) {
      continue;
    }
    Text path(kUninstallKey);
    path += u'\\';
    path += TextFromUnits(name.data(), name.size());
    Key entry = OpenKey(registry, path, RegView::k64, RegAccess::kReadWrite);
    if (!entry) continue;

    // Both reads go into zero-filled buffers, so a short value never matches by accident.
    char16_t value[kValueBytes / sizeof(char16_t)] = {};
    std::uint32_t size = kValueBytes;
    if (registry.QueryValue(entry.get(), u"Publisher", nullptr,
                            reinterpret_cast<std::uint8_t*>(value), &size) != kErrorSuccess) {
      continue;
    }
    if (!std::equal(publisher.c_str(), publisher.c_str() + publisher.size() + 1, value)) continue;

    char16_t display[kValueBytes / sizeof(char16_t)] = {};
    size = kValueBytes;
    if (registry.QueryValue(entry.get(), u"DisplayName", nullptr,
                            reinterpret_cast<std::uint8_t*>(display), &size) != kErrorSuccess) {
      continue;
    }
    if (TextView(display, 7) != u"Windows") continue;
    const auto status = WriteDword(registry, entry.get(), u"SystemComponent", 1);
    Log(platform.session, u"setSystemComponent: " + TextFromUnits(name.data(), name.size()) +
                              (status == kErrorSuccess ? Text(u" hidden")
                                                       : u" not hidden, error " + Decimal(status)));
  }
  return kResultSuccess;
}

}  // namespace orvel::installer
