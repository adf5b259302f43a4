// libFuzzer target: any bytes as a settings file. The device table loads, a few
// writes taken from the input apply, and what the store answers must equal what
// its own bytes read as afresh.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/core/device_table.h"
#include "config/core/ini_document.h"
#include "config/core/text_codec.h"

namespace {

class DocumentStore final : public orvel::ProfileStore {
 public:
  explicit DocumentStore(orvel::IniDocument& document) : document_(document) {}
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    return document_.GetString(section, key, defaultValue);
  }
  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t defaultValue) override {
    return document_.GetInt(section, key, defaultValue);
  }
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    document_.WriteString(section, key, value);
    return true;
  }

 private:
  orvel::IniDocument& document_;
};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const orvel::Latin1Codec codec;
  orvel::IniDocument document(bytes, codec);
  DocumentStore store(document);
  orvel::DeviceTable table = orvel::LoadDeviceTable(store);

  // Names and values cut from the input itself, so that they meet what the file holds.
  struct Write {
    std::string section, key, value;
  };
  Write writes[3];
  for (std::size_t i = 0; i < 3; ++i) {
    auto piece = [&](std::size_t n) {
      if (bytes.empty()) return std::string();
      const std::size_t start = (static_cast<std::size_t>(data[(i * 3 + n) % size]) * 7) % size;
      const std::size_t length = data[(i * 3 + n + 1) % size] % 24;
      return std::string(bytes.substr(start, length));
    };
    writes[i] = {piece(0), piece(1), piece(2)};
    document.WriteString(writes[i].section, writes[i].key, writes[i].value);
  }
  table.entries[0].deviceName = writes[0].value;
  table.entries[1].ipAddress = 0xC0A80002u;
  orvel::StoreDeviceTable(table, 2, store);

  const std::string written = document.Serialize();
  orvel::IniDocument reread(written, codec);
  Check(reread.Serialize() == written);
  // The slots just stored and the scan range, then the writes from the input.
  for (const char* section : {"Device Name", "IP Address", "Protect No", "Device ID", "Tcp"}) {
    for (const char* key : {"0", "1", "2"}) {
      Check(reread.GetString(section, key, "\x01") == document.GetString(section, key, "\x01"));
    }
  }
  Check(reread.GetInt("Net Address", "Value", 5) == document.GetInt("Net Address", "Value", 5));
  for (const Write& w : writes) {
    Check(reread.GetString(w.section, w.key, "\x01") ==
          document.GetString(w.section, w.key, "\x01"));
    Check(reread.GetInt(w.section, w.key, -7) == document.GetInt(w.section, w.key, -7));
  }
  return 0;
}
