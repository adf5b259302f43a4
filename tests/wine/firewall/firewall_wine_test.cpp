// The firewall exception over the real Windows calls. Wine's firewall objects answer
// but keep nothing, and its elevation moniker does not parse, so these tests check
// the calls that run and their results; what the list holds afterwards belongs to the
// native tests over the double.

#include <windows.h>

#include <netfw.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firewall/admin_group.h"
#include "firewall/firewall_exception.h"
#include "firewall/win32_firewall_platform.h"

namespace orvel {
namespace {

std::string Hex(HResult result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

std::string Narrow(const WideChar* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(*text < 128 ? static_cast<char>(*text) : '?');
  return out;
}

// Joins the parts of one log line with spaces (built by appending: GCC 12 for i686
// warns falsely about operator+ on a literal and a string).
std::string Line(std::initializer_list<std::string> parts) {
  std::string line;
  for (const std::string& part : parts) {
    if (!line.empty()) line += ' ';
    line += part;
  }
  return line;
}

WideString SystemDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  return WideString(reinterpret_cast<const WideChar*>(buffer), length);
}

bool SameText(const WideString& a, const WideString& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// The real platform, logging each call with its result; it can also pretend to be
// another Windows version and read the version resource of another file, so that the
// in-process branch and the firewall objects run too.
class RecordingPlatform final : public Win32FirewallPlatform {
 public:
  std::vector<std::string> log;
  std::optional<OsVersionInfo> pretendVersion;
  std::optional<WideString> versionFile;
  int liveStrings = 0;

  bool GetVersionExA(OsVersionInfo* info) override {
    bool ok = true;
    if (pretendVersion) {
      *info = *pretendVersion;
    } else {
      ok = Win32FirewallPlatform::GetVersionExA(info);
    }
    log.push_back(Line({"GetVersionExA", std::to_string(ok)}));
    return ok;
  }
  HResult GetSystemFolderPath(WideString* path) override {
    const HResult result = Win32FirewallPlatform::GetSystemFolderPath(path);
    log.push_back(Line({"GetSystemFolderPath", Hex(result)}));
    return result;
  }
  std::uint32_t GetFileVersionInfoSizeW(const WideChar* path) override {
    const std::uint32_t size = Win32FirewallPlatform::GetFileVersionInfoSizeW(Redirect(path));
    log.push_back(Line({"GetFileVersionInfoSizeW", size != 0 ? "some" : "0"}));
    return size;
  }
  bool GetFileVersionInfoW(const WideChar* path, std::uint32_t size, void* block) override {
    const bool ok = Win32FirewallPlatform::GetFileVersionInfoW(Redirect(path), size, block);
    log.push_back(Line({"GetFileVersionInfoW", std::to_string(ok)}));
    return ok;
  }
  bool VerQueryValueA(const void* block, const char* subBlock, const void** value,
                      std::uint32_t* length) override {
    const bool ok = Win32FirewallPlatform::VerQueryValueA(block, subBlock, value, length);
    log.push_back(Line({"VerQueryValueA", subBlock, std::to_string(ok)}));
    if (ok && *length >= 4) {
      std::uint16_t entry[2];
      std::memcpy(entry, *value, sizeof entry);
      firstTranslation = VersionStringQuery(entry[0], entry[1], u"ProductName");
    }
    return ok;
  }
  bool VerQueryValueW(const void* block, const WideChar* subBlock, const void** value,
                      std::uint32_t* length) override {
    const bool ok = Win32FirewallPlatform::VerQueryValueW(block, subBlock, value, length);
    log.push_back(Line({"VerQueryValueW", Narrow(subBlock), std::to_string(ok)}));
    return ok;
  }
  HResult CoInitializeEx(std::uint32_t flags) override {
    const HResult result = Win32FirewallPlatform::CoInitializeEx(flags);
    log.push_back(Line({"CoInitializeEx", std::to_string(flags), Hex(result)}));
    return result;
  }
  void CoUninitialize() override {
    Win32FirewallPlatform::CoUninitialize();
    log.push_back("CoUninitialize");
  }
  HResult CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                           void** object) override {
    const HResult result = Win32FirewallPlatform::CoCreateInstance(clsid, context, iid, object);
    log.push_back(Line({"CoCreateInstance", Narrow(GuidToRegistryString(clsid).c_str()),
                        std::to_string(context), Hex(result)}));
    return result;
  }
  HResult CoGetObject(const WideChar* name, const ElevationBindOptions& options, const Guid& iid,
                      void** object) override {
    const HResult result = Win32FirewallPlatform::CoGetObject(name, options, iid, object);
    log.push_back(
        Line({"CoGetObject", Narrow(name), std::to_string(options.classContext), Hex(result)}));
    return result;
  }
  Bstr SysAllocString(const WideChar* text) override {
    Bstr result = Win32FirewallPlatform::SysAllocString(text);
    if (result != nullptr) ++liveStrings;
    return result;
  }
  void SysFreeString(Bstr text) override {
    if (text != nullptr) --liveStrings;
    Win32FirewallPlatform::SysFreeString(text);
  }

  WideString firstTranslation;

 private:
  const WideChar* Redirect(const WideChar* path) {
    return versionFile ? versionFile->c_str() : path;
  }
};

const std::string kMoniker = "Elevation:Administrator!new:{304CE942-6E39-40D8-943A-B913C40C9CD4}";
const std::string kManager = "{304CE942-6E39-40D8-943A-B913C40C9CD4}";
const std::string kApplication = "{EC9846B3-2762-4A6B-A214-6ACB603462D2}";

bool CheckAdministratorsIndependently() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  const BOOL ok = CheckTokenMembership(nullptr, administrators, &member);
  FreeSid(administrators);
  return ok && member;
}

TEST(WineFirewall, AdministratorsGroupAnswers) {
  EXPECT_TRUE(IsUserInAdministratorsGroup());
  EXPECT_EQ(IsUserInAdministratorsGroup(), CheckAdministratorsIndependently());
  Win32ProcessToken token;
  const auto groups = token.ReadGroups();
  ASSERT_TRUE(groups.has_value());
  EXPECT_FALSE(groups->empty());
}

TEST(WineFirewall, VersionAndPaths) {
  RecordingPlatform platform;
  OsVersionInfo info;
  ASSERT_TRUE(platform.GetVersionExA(&info));
  EXPECT_EQ(info.platformId, kVerPlatformWin32Nt);
  EXPECT_GE(info.majorVersion, 6u);  // the default prefix says Windows 7
  EXPECT_TRUE(IsFirewallCapableWindows(platform));
  EXPECT_TRUE(IsWindowsVistaOrLater(platform));

  WideString path;
  ASSERT_TRUE(GetServerProgramPath(platform, &path));
  EXPECT_TRUE(SameText(path, SystemDirectory() + u"\\Quorin Network Driver.exe"))
      << Narrow(path.c_str());
}

TEST(WineFirewall, ProductNameOfARealFile) {
  RecordingPlatform platform;
  WideString name;
  EXPECT_TRUE(GetServerProductName(platform, SystemDirectory() + u"\\kernel32.dll", &name));
  EXPECT_FALSE(name.empty());
  ASSERT_FALSE(platform.firstTranslation.empty());
  EXPECT_EQ(platform.log.back(),
            Line({"VerQueryValueW", Narrow(platform.firstTranslation.c_str()), "1"}));

  RecordingPlatform missing;
  EXPECT_FALSE(GetServerProductName(missing, SystemDirectory() + u"\\no such program.exe", &name));
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(missing.log, std::vector<std::string>{"GetFileVersionInfoSizeW 0"});
}

TEST(WineFirewall, ServerProgramIsNotInstalledSoRegisterStopsBeforeCom) {
  EXPECT_FALSE(RegisterFirewallException());
  RecordingPlatform platform;
  Win32ProcessToken token;
  EXPECT_FALSE(RegisterFirewallException(platform, token));
  const std::vector<std::string> expected = {"GetVersionExA 1", "GetSystemFolderPath 0x00000000",
                                             "GetFileVersionInfoSizeW 0"};
  EXPECT_EQ(platform.log, expected);
}

TEST(WineFirewall, ElevationMonikerIsRefused) {
  EXPECT_FALSE(DisableFirewallException());
  RecordingPlatform platform;
  Win32ProcessToken token;
  EXPECT_FALSE(DisableFirewallException(platform, token));
  const std::vector<std::string> expected = {
      "GetVersionExA 1",
      "GetSystemFolderPath 0x00000000",
      "CoInitializeEx 6 0x00000000",
      "GetVersionExA 1",
      Line({"CoGetObject", kMoniker, "4", "0x800401EA"}),
      "CoUninitialize",
  };
  EXPECT_EQ(platform.log, expected);
  EXPECT_EQ(platform.liveStrings, 0);
}

TEST(WineFirewall, InProcessManagerRunsTheWholeChain) {
  for (bool registering : {true, false}) {
    RecordingPlatform platform;
    platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 1};
    platform.versionFile = SystemDirectory() + u"\\kernel32.dll";
    Win32ProcessToken token;
    const bool result = registering ? RegisterFirewallException(platform, token)
                                    : DisableFirewallException(platform, token);
    EXPECT_TRUE(result) << registering;
    EXPECT_EQ(platform.liveStrings, 0);
    std::vector<std::string> com;
    for (const std::string& line : platform.log) {
      if (line.rfind("Co", 0) == 0) com.push_back(line);
    }
    std::vector<std::string> expected = {"CoInitializeEx 6 0x00000000",
                                         Line({"CoCreateInstance", kManager, "1", "0x00000000"})};
    // Wine's Item finds every path and reports it disabled, so register adds anew.
    if (registering)
      expected.push_back(Line({"CoCreateInstance", kApplication, "1", "0x00000000"}));
    expected.push_back("CoUninitialize");
    EXPECT_EQ(com, expected) << registering;
  }
}

TEST(WineFirewall, ApartmentOfAnotherModeLeavesTheFirewallAlone) {
  std::vector<std::string> log;
  bool result = true;
  std::thread worker([&] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    RecordingPlatform platform;
    platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 1};
    platform.versionFile = SystemDirectory() + u"\\kernel32.dll";
    Win32ProcessToken token;
    result = RegisterFirewallException(platform, token);
    log = platform.log;
    ::CoUninitialize();
  });
  worker.join();
  EXPECT_FALSE(result);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "CoInitializeEx 6 0x80010106");
}

TEST(WineFirewall, ApartmentOfTheSameModeIsJoined) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  RecordingPlatform platform;
  platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 2};
  Win32ProcessToken token;
  EXPECT_TRUE(DisableFirewallException(platform, token));
  EXPECT_NE(std::find(platform.log.begin(), platform.log.end(), "CoInitializeEx 6 0x00000001"),
            platform.log.end());
  // Our own apartment outlives the call.
  EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  ::CoUninitialize();
  ::CoUninitialize();
}

// Firewall objects of the test's own, registered in-process under the real class
// identifiers, so that the adapter's mapping onto the Windows interfaces (which
// string goes to which property, which way a flag points) is what is seen.
struct FirewallState {
  struct Entry {
    std::wstring path;
    std::wstring name;
    VARIANT_BOOL enabled = VARIANT_TRUE;
  };
  std::vector<Entry> entries;
  HRESULT itemFailure = S_OK;  // what Item answers instead of looking
  std::vector<std::wstring> lookups;
  std::vector<VARIANT_BOOL> enabledWrites;
  std::vector<Entry> added;
  std::vector<INetFwAuthorizedApplication*> created;
  int live = 0;  // objects not yet released for the last time
};

template <class Interface>
class TestObject : public Interface {
 public:
  explicit TestObject(FirewallState& state) : state_(state) { ++state_.live; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(Interface)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

 protected:
  virtual ~TestObject() { --state_.live; }
  FirewallState& state_;

 private:
  ULONG references_ = 1;
};

// A new application (its own fields) or one found by Item (a view of an entry).
class TestApplication final : public TestObject<INetFwAuthorizedApplication> {
 public:
  TestApplication(FirewallState& state, int entry) : TestObject(state), entry_(entry) {}
  FirewallState::Entry& Fields() { return entry_ < 0 ? own_ : state_.entries[entry_]; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
    Fields().name = name;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProcessImageFileName(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR path) override {
    Fields().path = path;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IpVersion(NET_FW_IP_VERSION*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Scope(NET_FW_SCOPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) override {
    *enabled = Fields().enabled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override {
    state_.enabledWrites.push_back(enabled);
    Fields().enabled = enabled;
    return S_OK;
  }

 private:
  int entry_;
  FirewallState::Entry own_;
};

class TestApplications final : public TestObject<INetFwAuthorizedApplications> {
 public:
  using TestObject::TestObject;
  HRESULT STDMETHODCALLTYPE get_Count(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* application) override {
    for (INetFwAuthorizedApplication* ours : state_.created) {
      if (ours == application) {
        state_.added.push_back(static_cast<TestApplication*>(ours)->Fields());
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication** application) override {
    *application = nullptr;
    state_.lookups.push_back(path);
    if (FAILED(state_.itemFailure)) return state_.itemFailure;
    for (std::size_t i = 0; i < state_.entries.size(); ++i) {
      if (state_.entries[i].path == path) {
        *application = new TestApplication(state_, static_cast<int>(i));
        return S_OK;
      }
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
};

class TestProfile final : public TestObject<INetFwProfile> {
 public:
  using TestObject::TestObject;
  HRESULT STDMETHODCALLTYPE get_Type(NET_FW_PROFILE_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_FirewallEnabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ExceptionsNotAllowed(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ExceptionsNotAllowed(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE
  get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_RemoteAdminSettings(INetFwRemoteAdminSettings**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_IcmpSettings(INetFwIcmpSettings**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_GloballyOpenPorts(INetFwOpenPorts**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Services(INetFwServices**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE
  get_AuthorizedApplications(INetFwAuthorizedApplications** applications) override {
    *applications = new TestApplications(state_);
    return S_OK;
  }
};

class TestPolicy final : public TestObject<INetFwPolicy> {
 public:
  using TestObject::TestObject;
  HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** profile) override {
    *profile = new TestProfile(state_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProfileByType(NET_FW_PROFILE_TYPE, INetFwProfile**) override {
    return E_NOTIMPL;
  }
};

class TestManager final : public TestObject<INetFwMgr> {
 public:
  using TestObject::TestObject;
  HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** policy) override {
    *policy = new TestPolicy(state_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CurrentProfileType(NET_FW_PROFILE_TYPE*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RestoreDefaults() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPortAllowed(BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL,
                                          VARIANT*, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsIcmpTypeAllowed(NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*,
                                              VARIANT*) override {
    return E_NOTIMPL;
  }
};

// Serves one of the two classes; lives on the test's stack while registered.
class TestFactory final : public IClassFactory {
 public:
  TestFactory(FirewallState& state, bool manager) : state_(state), manager_(manager) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    if (manager_) {
      object = new TestManager(state_);
    } else {
      auto* application = new TestApplication(state_, -1);
      state_.created.push_back(application);
      object = application;
    }
    const HRESULT result = object->QueryInterface(iid, out);
    object->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  FirewallState& state_;
  bool manager_;
};

constexpr GUID kManagerClass = {
    0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};
constexpr GUID kApplicationClass = {
    0xEC9846B3, 0x2762, 0x4A6B, {0xA2, 0x14, 0x6A, 0xCB, 0x60, 0x34, 0x62, 0xD2}};

TEST(WineFirewall, AdapterWiresTheCallsToTheFirewallObjects) {
  const std::wstring server = reinterpret_cast<const wchar_t*>(SystemDirectory().c_str()) +
                              std::wstring(L"\\Quorin Network Driver.exe");
  const VARIANT_BOOL on = VARIANT_TRUE;
  const VARIANT_BOOL off = VARIANT_FALSE;
  struct Case {
    const char* what;
    bool registering;
    std::vector<FirewallState::Entry> before;
    HRESULT itemFailure;
    bool result;
    int adds;                           // new applications added
    std::vector<VARIANT_BOOL> enabled;  // values written to Enabled
  };
  const Case cases[] = {
      {"register, none there", true, {}, S_OK, true, 1, {}},
      {"register, enabled one there", true, {{server, L"Old", on}}, S_OK, true, 0, {}},
      {"register, disabled one there", true, {{server, L"Old", off}}, S_OK, true, 1, {}},
      {"disable, enabled one there", false, {{server, L"Old", on}}, S_OK, true, 0, {off}},
      {"disable, none there", false, {}, S_OK, true, 0, {}},
      {"disable, lookup denied", false, {{server, L"Old", on}}, E_ACCESSDENIED, false, 0, {}},
  };
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  for (const Case& c : cases) {
    FirewallState state;
    state.entries = c.before;
    state.itemFailure = c.itemFailure;
    TestFactory managers(state, true);
    TestFactory applications(state, false);
    DWORD managerCookie = 0;
    DWORD applicationCookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kManagerClass, &managers, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &managerCookie),
              S_OK);
    ASSERT_EQ(CoRegisterClassObject(kApplicationClass, &applications, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &applicationCookie),
              S_OK);
    RecordingPlatform platform;
    platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 1};  // in-process manager
    platform.versionFile = SystemDirectory() + u"\\kernel32.dll";
    Win32ProcessToken token;
    const bool result = c.registering ? RegisterFirewallException(platform, token)
                                      : DisableFirewallException(platform, token);
    CoRevokeClassObject(applicationCookie);
    CoRevokeClassObject(managerCookie);

    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(state.lookups, std::vector<std::wstring>{server}) << c.what;
    EXPECT_EQ(static_cast<int>(state.added.size()), c.adds) << c.what;
    if (c.adds == 1 && state.added.size() == 1) {
      WideString name;
      ASSERT_TRUE(GetServerProductName(platform, platform.versionFile.value(), &name));
      EXPECT_EQ(state.added[0].path, server) << c.what;
      EXPECT_EQ(state.added[0].name, reinterpret_cast<const wchar_t*>(name.c_str())) << c.what;
      EXPECT_NE(state.added[0].name, server) << c.what;
    }
    EXPECT_EQ(state.enabledWrites, c.enabled) << c.what;
    EXPECT_EQ(state.live, 0) << c.what << ": objects not released";
    EXPECT_EQ(platform.liveStrings, 0) << c.what;
  }
  ::CoUninitialize();
}

}  // namespace
}  // namespace orvel
