#pragma once
// An editor over the view double and the fake server, opened the way the main
// dialog opens it.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "config/editor/device_list_editor.h"
#include "tests/doubles/editor_view_double.h"
#include "tests/doubles/fake_server_channel.h"

namespace orvel::testing {

// A unit as the stored table holds it when the dialog opens.
struct StoredUnit {
  std::string name;
  std::uint32_t address;
  std::string macText = "00";
  std::uint8_t port = 0;
};

inline std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

class EditorTest : public ::testing::Test {
 protected:
  EditorTest() { Reset(); }

  // A fresh dialog, for table-driven cases; the server's units are kept.
  void Reset() {
    view = FakeEditorView();
    server.messages.clear();
    editor = std::make_unique<DeviceListEditor>(view, server);
    view.editor = editor.get();
  }

  void Open(std::initializer_list<StoredUnit> units) {
    std::array<DeviceEntry, kSlotCount> entries;
    for (int slot = 0; slot < kSlotCount; ++slot) entries[slot] = DefaultDeviceEntry(slot);
    int slot = 0;
    for (const StoredUnit& unit : units) {
      entries[slot].deviceName = unit.name;
      entries[slot].ipAddress = unit.address;
      entries[slot].macText = unit.macText;
      entries[slot].portIndex = unit.port;
      ++slot;
    }
    OpenEntries(entries);
  }
  void OpenEntries(const std::array<DeviceEntry, kSlotCount>& entries) {
    Reset();
    server.Find();
    editor->Load(entries);
    editor->SetActiveAddresses(server.active);
    editor->PresentFirstEntry();
    editor->FinishOpening();
    server.messages.clear();
  }
  // Units "U0", "U1", ... at 10.0.0.1, 10.0.0.2, ... with distinct MACs.
  void OpenNumbered(int count) {
    std::array<DeviceEntry, kSlotCount> entries;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      entries[slot] = DefaultDeviceEntry(slot);
      if (slot >= count) continue;
      entries[slot].deviceName = "U" + std::to_string(slot);
      entries[slot].ipAddress = Ip(10, 0, slot / 200, slot % 200 + 1);
      char mac[13];
      std::snprintf(mac, sizeof(mac), "0000000000%02X", slot);
      entries[slot].macText = mac;
    }
    OpenEntries(entries);
  }
  void ClickOctet1AndType(const std::string& keys) {
    view.Click(IDC_OCTET1);
    view.SelectEditText(IDC_OCTET1, 0, -1);
    view.Type(keys);
  }
  int MacQueries() const {
    int count = 0;
    for (const auto& m : server.messages)
      count += m.message == SRVM_GET_MAC_ADDRESS && m.wParam == 0;
    return count;
  }

  FakeEditorView view;
  FakeServerChannel server;
  std::unique_ptr<DeviceListEditor> editor;
};

}  // namespace orvel::testing
