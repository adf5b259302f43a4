// The firewall exception over the real Windows calls. Wine's firewall objects answer
// but keep nothing, its policy hands out no profile by type, and its elevation moniker
// does not parse, so the tests over them check the calls that run and their results. What the
// adapter does with the firewall objects (which string goes where, what is released, every failure
// path) is seen through objects of the test's own, registered in-process under the real classes.

#include <windows.h>

#include <netfw.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firewall/admin_group.h"
#include "firewall/firewall_exception.h"
#include "firewall/win32_firewall_platform.h"
#include "tests/wine/support/todo_wine.h"
#ifdef ORVEL_INSTALLER_FIREWALL
#include "installer/win32_system_firewall.h"
#endif

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
  bool IsWow64Process(bool* wow64) override {
    const bool ok = Win32FirewallPlatform::IsWow64Process(wow64);
    log.push_back(Line({"IsWow64Process", std::to_string(ok), std::to_string(ok && *wow64)}));
    return ok;
  }
  HResult GetSystemFolderPath(WideString* path) override {
    const HResult result = Win32FirewallPlatform::GetSystemFolderPath(path);
    log.push_back(Line({"GetSystemFolderPath", Hex(result)}));
    return result;
  }
  bool GetSystemWindowsDirectory(WideString* path) override {
    const bool ok = Win32FirewallPlatform::GetSystemWindowsDirectory(path);
    log.push_back(Line({"GetSystemWindowsDirectory", std::to_string(ok)}));
    return ok;
  }
  bool GetSystemWow64Directory(WideString* path) override {
    const bool ok = Win32FirewallPlatform::GetSystemWow64Directory(path);
    log.push_back(Line({"GetSystemWow64Directory", std::to_string(ok)}));
    return ok;
  }
  bool FileExists(const WideString& path) override {
    const bool ok = Win32FirewallPlatform::FileExists(path);
    log.push_back(Line({"FileExists", Narrow(path.c_str()), std::to_string(ok)}));
    return ok;
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
  HResult OpenPolicyInProcess(std::unique_ptr<FirewallPolicy>* policy) override {
    const HResult result = Win32FirewallPlatform::OpenPolicyInProcess(policy);
    log.push_back(Line({"OpenPolicyInProcess", Hex(result)}));
    return result;
  }
  HResult OpenPolicyElevated(const WideString& moniker,
                             std::unique_ptr<FirewallPolicy>* policy) override {
    const HResult result = Win32FirewallPlatform::OpenPolicyElevated(moniker, policy);
    log.push_back(Line({"OpenPolicyElevated", Narrow(moniker.c_str()), Hex(result)}));
    return result;
  }

  WideString firstTranslation;

 private:
  const WideChar* Redirect(const WideChar* path) {
    return versionFile ? versionFile->c_str() : path;
  }
};

// The real token, logging its elevation into a platform's log.
class RecordingToken final : public ProcessToken {
 public:
  explicit RecordingToken(std::vector<std::string>& log) : log_(log) {}
  std::optional<std::vector<TokenGroup>> ReadGroups() override { return real_.ReadGroups(); }
  std::optional<bool> IsElevated() override {
    const std::optional<bool> elevated = real_.IsElevated();
    log_.push_back(Line({"IsElevated", elevated ? std::to_string(*elevated) : "unknown"}));
    return elevated;
  }

 private:
  Win32ProcessToken real_;
  std::vector<std::string>& log_;
};

const std::string kMoniker = "Elevation:Administrator!new:{304CE942-6E39-40D8-943A-B913C40C9CD4}";

bool UnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// A folder from one of the Get*Directory calls.
template <class Call>
WideString Folder(Call call) {
  wchar_t buffer[MAX_PATH] = {};
  const UINT length = call(buffer, MAX_PATH);
  return WideString(reinterpret_cast<const WideChar*>(buffer), length < MAX_PATH ? length : 0);
}

// Where the exception names a server that is not in the native system folder: the
// system folder, or under WOW64 the 32-bit one.
WideString ServerPathWithoutNativeServer() {
  return (UnderWow64() ? Folder(GetSystemWow64DirectoryW) : SystemDirectory()) +
         u"\\Quorin Network Driver.exe";
}

// The calls that find the server's path when it is in neither system folder.
std::vector<std::string> PathLookupWithoutNativeServer() {
  if (!UnderWow64()) {
    const WideString native = SystemDirectory() + u"\\Quorin Network Driver.exe";
    const WideString x86 = Folder(GetSystemWow64DirectoryW) + u"\\Quorin Network Driver.exe";
    return {"IsWow64Process 1 0", "GetSystemFolderPath 0x00000000",
            Line({"FileExists", Narrow(native.c_str()), "0"}), "GetSystemWow64Directory 1",
            Line({"FileExists", Narrow(x86.c_str()), "0"})};
  }
  const WideString throughAlias =
      Folder(GetSystemWindowsDirectoryW) + u"\\Sysnative\\Quorin Network Driver.exe";
  return {"IsWow64Process 1 1", "GetSystemWindowsDirectory 1",
          Line({"FileExists", Narrow(throughAlias.c_str()), "0"}), "GetSystemWow64Directory 1"};
}

template <class... Lists>
std::vector<std::string> Join(const Lists&... lists) {
  std::vector<std::string> out;
  (out.insert(out.end(), lists.begin(), lists.end()), ...);
  return out;
}

// True when the thread holds no apartment: every CoInitializeEx of ours was paired.
bool ApartmentLeft() {
  const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(result)) ::CoUninitialize();
  return result == S_OK;
}

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

  ServerProgramPath server;
  ASSERT_TRUE(GetServerProgramPath(platform, &server));
  EXPECT_TRUE(SameText(server.path, ServerPathWithoutNativeServer()))
      << Narrow(server.path.c_str());
  EXPECT_EQ(server.versionPath, server.path);
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
  EXPECT_EQ(platform.log,
            Join(std::vector<std::string>{"GetVersionExA 1"}, PathLookupWithoutNativeServer(),
                 std::vector<std::string>{"GetFileVersionInfoSizeW 0"}));
}

// Wine answers the moniker with MK_E_SYNTAX, as Windows does for a class not registered
// for elevation: an elevated process then reaches the manager in-process.
TEST(WineFirewall, RefusedMonikerFallsBackInProcessWhenElevated) {
  RecordingPlatform platform;
  RecordingToken token(platform.log);
  const std::optional<bool> elevated = Win32ProcessToken().IsElevated();
  ASSERT_TRUE(elevated.has_value());
  const bool result = DisableFirewallException(platform, token);
  std::vector<std::string> expected =
      Join(std::vector<std::string>{"GetVersionExA 1"}, PathLookupWithoutNativeServer(),
           std::vector<std::string>{"GetVersionExA 1",
                                    Line({"OpenPolicyElevated", kMoniker, "0x800401EA"}),
                                    Line({"IsElevated", std::to_string(*elevated)})});
  if (*elevated) expected.push_back("OpenPolicyInProcess 0x00000000");
  EXPECT_EQ(platform.log, expected);
  // Wine's policy answers GetProfileByType with E_NOTIMPL.
  if (*elevated) TODO_WINE_EXPECT_TRUE(result);
  EXPECT_TRUE(*elevated || !result);
  EXPECT_TRUE(ApartmentLeft());
}

TEST(WineFirewall, InProcessManagerRunsTheWholeChain) {
  for (bool registering : {true, false}) {
    RecordingPlatform platform;
    platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 1};
    platform.versionFile = SystemDirectory() + u"\\kernel32.dll";
    Win32ProcessToken token;
    const bool result = registering ? RegisterFirewallException(platform, token)
                                    : DisableFirewallException(platform, token);
    // Wine's policy answers GetProfileByType with E_NOTIMPL; were it to hand out its
    // profiles, its Item would find every path disabled, so register would add anew.
    TODO_WINE_EXPECT_TRUE(result);
    EXPECT_EQ(platform.log.back(), "OpenPolicyInProcess 0x00000000") << registering;
    EXPECT_TRUE(ApartmentLeft()) << registering;
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
  EXPECT_EQ(log.back(), "OpenPolicyInProcess 0x80010106");
}

TEST(WineFirewall, ApartmentOfTheSameModeIsJoined) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  RecordingPlatform platform;
  platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 2};
  Win32ProcessToken token;
  TODO_WINE_EXPECT_TRUE(DisableFirewallException(platform, token));
  EXPECT_EQ(platform.log.back(), "OpenPolicyInProcess 0x00000000");
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
  // Each profile's list, by NET_FW_PROFILE_TYPE; Lists() starts both with the same.
  std::map<int, std::vector<Entry>> lists;
  std::vector<NET_FW_PROFILE_TYPE> profilesAsked;
  void Lists(const std::vector<Entry>& entries) {
    lists[NET_FW_PROFILE_DOMAIN] = entries;
    lists[NET_FW_PROFILE_STANDARD] = entries;
  }
  HRESULT itemFailure = S_OK;  // what Item answers instead of looking
  // Item, put_ProcessImageFileName and Add look for the program from this process, as
  // the firewall's own objects may: whether each found it, in order. The path is then
  // refused when it names no program there, as the interface documents.
  bool lookForPrograms = false;
  std::vector<std::pair<std::string, bool>> found;
  bool LookFor(const char* call, const std::wstring& path) {
    const bool there = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (lookForPrograms) found.emplace_back(call, there);
    return there || !lookForPrograms;
  }
  std::vector<std::wstring> lookups;
  std::vector<VARIANT_BOOL> enabledWrites;
  std::vector<Entry> added;
  std::vector<INetFwAuthorizedApplication*> created;
  int live = 0;                       // objects not yet released for the last time
  std::vector<std::string> released;  // their kinds, in the order of their last release
  // The call with this index in `calls` fails: with E_FAIL, or, for a call that hands
  // back an object, with S_OK and no object when handsBackNothing is set.
  int failAt = -1;
  bool handsBackNothing = false;
  std::vector<std::string> calls;

  bool Fail(const char* call) {
    calls.push_back(call);
    return static_cast<int>(calls.size()) - 1 == failAt;
  }
  HRESULT FailureOf(bool handsBack) const { return handsBack && handsBackNothing ? S_OK : E_FAIL; }
};

const char* Kind(INetFwMgr*) { return "manager"; }
const char* Kind(INetFwPolicy*) { return "policy"; }
const char* Kind(INetFwProfile*) { return "profile"; }
const char* Kind(INetFwAuthorizedApplications*) { return "applications"; }
const char* Kind(INetFwAuthorizedApplication*) { return "application"; }

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
  virtual ~TestObject() {
    --state_.live;
    state_.released.push_back(Kind(static_cast<Interface*>(nullptr)));
  }
  FirewallState& state_;

 private:
  ULONG references_ = 1;
};

// A new application (its own fields) or one found by Item (a view of an entry).
class TestApplication final : public TestObject<INetFwAuthorizedApplication> {
 public:
  // entry: the list's entry that Item found; none for a new application.
  TestApplication(FirewallState& state, FirewallState::Entry* entry)
      : TestObject(state), entry_(entry) {}
  FirewallState::Entry& Fields() { return entry_ == nullptr ? own_ : *entry_; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
    if (state_.Fail("put_Name")) return E_FAIL;
    Fields().name = name;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProcessImageFileName(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR path) override {
    if (state_.Fail("put_ProcessImageFileName")) return E_FAIL;
    if (!state_.LookFor("put_ProcessImageFileName", path)) {
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
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
    if (state_.Fail("get_Enabled")) return E_FAIL;
    *enabled = Fields().enabled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override {
    if (state_.Fail("put_Enabled")) return E_FAIL;
    state_.enabledWrites.push_back(enabled);
    Fields().enabled = enabled;
    return S_OK;
  }

 private:
  FirewallState::Entry* entry_;
  FirewallState::Entry own_;
};

class TestApplications final : public TestObject<INetFwAuthorizedApplications> {
 public:
  TestApplications(FirewallState& state, int type) : TestObject(state), type_(type) {}
  HRESULT STDMETHODCALLTYPE get_Count(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* application) override {
    if (state_.Fail("Add")) return E_FAIL;
    for (INetFwAuthorizedApplication* ours : state_.created) {
      if (ours == application) {
        state_.LookFor("Add", static_cast<TestApplication*>(ours)->Fields().path);
        state_.added.push_back(static_cast<TestApplication*>(ours)->Fields());
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication** application) override {
    *application = nullptr;
    if (state_.Fail("Item")) return state_.FailureOf(true);
    state_.lookups.push_back(path);
    state_.LookFor("Item", path);
    if (FAILED(state_.itemFailure)) return state_.itemFailure;
    for (FirewallState::Entry& entry : state_.lists[type_]) {
      if (entry.path == path) {
        *application = new TestApplication(state_, &entry);
        return S_OK;
      }
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

 private:
  int type_;
};

class TestProfile final : public TestObject<INetFwProfile> {
 public:
  TestProfile(FirewallState& state, int type) : TestObject(state), type_(type) {}
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
    *applications = nullptr;
    if (state_.Fail("get_AuthorizedApplications")) return state_.FailureOf(true);
    *applications = new TestApplications(state_, type_);
    return S_OK;
  }

 private:
  int type_;
};

class TestPolicy final : public TestObject<INetFwPolicy> {
 public:
  using TestObject::TestObject;
  HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetProfileByType(NET_FW_PROFILE_TYPE type,
                                             INetFwProfile** profile) override {
    *profile = nullptr;
    if (state_.Fail("GetProfileByType")) return state_.FailureOf(true);
    state_.profilesAsked.push_back(type);
    *profile = new TestProfile(state_, type);
    return S_OK;
  }
};

class TestManager final : public TestObject<INetFwMgr> {
 public:
  using TestObject::TestObject;
  HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** policy) override {
    *policy = nullptr;
    if (state_.Fail("get_LocalPolicy")) return state_.FailureOf(true);
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
    if (state_.Fail(manager_ ? "CreateInstance manager" : "CreateInstance application")) {
      return E_FAIL;
    }
    IUnknown* object = nullptr;
    if (manager_) {
      object = new TestManager(state_);
    } else {
      auto* application = new TestApplication(state_, nullptr);
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

// The two classes, registered for the thread's apartment while this lives.
class TestClasses {
 public:
  explicit TestClasses(FirewallState& state) : managers_(state, true), applications_(state, false) {
    registered_ =
        SUCCEEDED(CoRegisterClassObject(kManagerClass, &managers_, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &managerCookie_)) &&
        SUCCEEDED(CoRegisterClassObject(kApplicationClass, &applications_, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &applicationCookie_));
  }
  ~TestClasses() {
    if (applicationCookie_ != 0) CoRevokeClassObject(applicationCookie_);
    if (managerCookie_ != 0) CoRevokeClassObject(managerCookie_);
  }
  bool registered() const { return registered_; }

 private:
  TestFactory managers_;
  TestFactory applications_;
  DWORD managerCookie_ = 0;
  DWORD applicationCookie_ = 0;
  bool registered_ = false;
};

// One operation over the test's objects with the in-process manager, from an
// apartment of the test's own that the adapter joins.
// The version resource is read from kernel32.dll unless the server is there itself.
bool RunOverTestObjects(FirewallState& state, bool registering, bool serverThere = false) {
  EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  bool result = false;
  {
    TestClasses classes(state);
    EXPECT_TRUE(classes.registered());
    RecordingPlatform platform;
    platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 1};
    if (!serverThere) platform.versionFile = SystemDirectory() + u"\\kernel32.dll";
    Win32ProcessToken token;
    result = registering ? RegisterFirewallException(platform, token)
                         : DisableFirewallException(platform, token);
  }
  ::CoUninitialize();
  return result;
}

std::wstring ServerPath() {
  return reinterpret_cast<const wchar_t*>(ServerPathWithoutNativeServer().c_str());
}

const std::vector<NET_FW_PROFILE_TYPE> kBothProfiles = {NET_FW_PROFILE_DOMAIN,
                                                        NET_FW_PROFILE_STANDARD};

TEST(WineFirewall, AdapterWiresTheCallsToTheFirewallObjects) {
  const std::wstring server = ServerPath();
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
  // Each profile sees the same calls.
  auto twice = [](const auto& once) {
    auto both = once;
    both.insert(both.end(), once.begin(), once.end());
    return both;
  };
  for (const Case& c : cases) {
    FirewallState state;
    state.Lists(c.before);
    state.itemFailure = c.itemFailure;
    const bool result = RunOverTestObjects(state, c.registering);
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(state.profilesAsked, kBothProfiles) << c.what;
    EXPECT_EQ(state.lookups, twice(std::vector<std::wstring>{server})) << c.what;
    EXPECT_EQ(static_cast<int>(state.added.size()), 2 * c.adds) << c.what;
    WideString name;
    RecordingPlatform platform;
    ASSERT_TRUE(GetServerProductName(platform, SystemDirectory() + u"\\kernel32.dll", &name));
    for (const FirewallState::Entry& added : state.added) {
      EXPECT_EQ(added.path, server) << c.what;
      EXPECT_EQ(added.name, reinterpret_cast<const wchar_t*>(name.c_str())) << c.what;
      EXPECT_NE(added.name, server) << c.what;
    }
    EXPECT_EQ(state.enabledWrites, twice(c.enabled)) << c.what;
    EXPECT_EQ(state.live, 0) << c.what << ": objects not released";
    EXPECT_TRUE(ApartmentLeft()) << c.what;
  }
}

// Fail each call the firewall objects see in turn, or hand back no object: whatever
// fails, every object is released and the apartment left again; only a failed Item
// lets register go on (not registered, so added anew).
TEST(WineFirewall, AdapterReleasesEverythingOnEveryPath) {
  for (bool registering : {true, false}) {
    // Register finds the entry off and adds anew; disable finds it on.
    const FirewallState::Entry entry{ServerPath(), L"Old",
                                     registering ? VARIANT_FALSE : VARIANT_TRUE};
    FirewallState clean;
    clean.Lists({entry});
    ASSERT_TRUE(RunOverTestObjects(clean, registering));
    // The manager once it has handed out the policy; then, profile by profile, the
    // last acquired first; the policy last.
    std::vector<std::string> expected = {"manager"};
    for (int profile = 0; profile < 2; ++profile) {
      expected.insert(expected.end(), {"application", "applications"});
      if (registering) expected.insert(expected.end(), {"application", "applications"});
      expected.push_back("profile");
    }
    expected.push_back("policy");
    EXPECT_EQ(clean.released, expected) << registering;
    for (bool nothing : {false, true}) {
      for (std::size_t i = 0; i < clean.calls.size(); ++i) {
        const std::string what = Line({registering ? "register" : "disable",
                                       nothing ? "no object from" : "failing", clean.calls[i]});
        FirewallState state;
        state.Lists({entry});
        state.failAt = static_cast<int>(i);
        state.handsBackNothing = nothing;
        const bool result = RunOverTestObjects(state, registering);
        EXPECT_EQ(result, registering && clean.calls[i] == "Item") << what;
        EXPECT_EQ(state.live, 0) << what;
        EXPECT_TRUE(ApartmentLeft()) << what;
        if (!registering) {
          EXPECT_TRUE(state.lists[NET_FW_PROFILE_DOMAIN][0].enabled == VARIANT_TRUE ||
                      state.lists[NET_FW_PROFILE_STANDARD][0].enabled == VARIANT_TRUE)
              << what << ": reported failed with both switched off";
        }
      }
    }
  }
}

// A server in the native system folder: a 32-bit process reads it through "Sysnative"
// and names it by its System32 path, where the firewall sees it run; a 64-bit process
// finds it there directly.
TEST(WineFirewall, ServerInTheNativeSystemFolderIsRegisteredThere) {
  const WideString windows = Folder(GetSystemWindowsDirectoryW);
  const WideString reached = windows + (UnderWow64() ? u"\\Sysnative" : u"\\System32");
  const WideString placed = reached + u"\\Quorin Network Driver.exe";
  const WideString runs = windows + u"\\System32\\Quorin Network Driver.exe";
  ASSERT_TRUE(CopyFileW(reinterpret_cast<const wchar_t*>((reached + u"\\kernel32.dll").c_str()),
                        reinterpret_cast<const wchar_t*>(placed.c_str()), TRUE))
      << GetLastError();
  struct Removal {
    const WideString& file;
    ~Removal() { DeleteFileW(reinterpret_cast<const wchar_t*>(file.c_str())); }
  } removal{placed};

  RecordingPlatform platform;
  ServerProgramPath server;
  ASSERT_TRUE(GetServerProgramPath(platform, &server));
  EXPECT_TRUE(SameText(server.path, runs)) << Narrow(server.path.c_str());
  EXPECT_TRUE(SameText(server.versionPath, placed)) << Narrow(server.versionPath.c_str());

  // The calls that take the path find the program there, a 32-bit process's only with
  // redirection off; the add that follows runs with it on again.
  EXPECT_EQ(server.redirection, UnderWow64() ? Redirection::kOff : Redirection::kAsUsual);
  FirewallState state;
  state.lookForPrograms = true;
  EXPECT_TRUE(RunOverTestObjects(state, true, true));
  ASSERT_EQ(state.added.size(), 2u);
  for (const FirewallState::Entry& added : state.added) {
    EXPECT_TRUE(SameText(WideString(reinterpret_cast<const WideChar*>(added.path.c_str())), runs));
    EXPECT_FALSE(added.name.empty());
  }
  std::vector<std::pair<std::string, bool>> found;
  for (int profile = 0; profile < 2; ++profile) {
    found.insert(found.end(),
                 {{"Item", true}, {"put_ProcessImageFileName", true}, {"Add", !UnderWow64()}});
  }
  EXPECT_EQ(state.found, found);

  // Redirection is back on whatever the calls answer.
  const auto failing =
      std::find(state.calls.begin(), state.calls.end(), "put_ProcessImageFileName");
  ASSERT_NE(failing, state.calls.end());
  FirewallState refused;
  refused.lookForPrograms = true;
  refused.failAt = static_cast<int>(failing - state.calls.begin());
  EXPECT_FALSE(RunOverTestObjects(refused, true, true));
  const bool seenAfter =
      GetFileAttributesW(reinterpret_cast<const wchar_t*>(runs.c_str())) != INVALID_FILE_ATTRIBUTES;
  EXPECT_EQ(seenAfter, !UnderWow64());
}

#ifdef ORVEL_INSTALLER_FIREWALL
// The installer's firewall step runs in a 64-bit process; with the server only in the
// 32-bit system folder, that is the program it registers and switches off.
TEST(WineFirewall, InstallersStepFindsAServerOnlyInThe32BitFolder) {
  const WideString x86 = Folder(GetSystemWow64DirectoryW);
  ASSERT_FALSE(x86.empty());
  const std::wstring placed =
      reinterpret_cast<const wchar_t*>((x86 + u"\\Quorin Network Driver.exe").c_str());
  const std::wstring native = reinterpret_cast<const wchar_t*>(
      (SystemDirectory() + u"\\Quorin Network Driver.exe").c_str());
  ASSERT_EQ(GetFileAttributesW(native.c_str()), INVALID_FILE_ATTRIBUTES)
      << "a server is in the way";
  const std::wstring kernel32 =
      reinterpret_cast<const wchar_t*>((SystemDirectory() + u"\\kernel32.dll").c_str());
  ASSERT_TRUE(CopyFileW(kernel32.c_str(), placed.c_str(), TRUE)) << GetLastError();
  struct Removal {
    const std::wstring& file;
    ~Removal() { DeleteFileW(file.c_str()); }
  } removal{placed};

  for (bool registering : {true, false}) {
    FirewallState state;
    state.lookForPrograms = true;
    state.Lists({{placed, L"Old", registering ? VARIANT_FALSE : VARIANT_TRUE}});
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    bool result = false;
    {
      TestClasses classes(state);
      EXPECT_TRUE(classes.registered());
      installer::Win32SystemFirewallUpdater step;
      result = registering ? step.RegisterFirewallException() : step.DisableFirewallException();
    }
    ::CoUninitialize();
    EXPECT_TRUE(result) << registering;
    EXPECT_EQ(state.lookups, (std::vector<std::wstring>{placed, placed})) << registering;
    ASSERT_EQ(state.added.size(), registering ? 2u : 0u);
    for (const FirewallState::Entry& added : state.added) EXPECT_EQ(added.path, placed);
    const std::vector<VARIANT_BOOL> switchedOff(registering ? 0 : 2, VARIANT_FALSE);
    EXPECT_EQ(state.enabledWrites, switchedOff);
  }
}
#endif

// SysStringLen cannot tell an empty name from a failed allocation: the path is set,
// the name and the add are not.
TEST(WineFirewall, EmptyNameSetsThePathButNeverTheName) {
  FirewallState state;
  ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  {
    TestClasses classes(state);
    ASSERT_TRUE(classes.registered());
    Win32FirewallPlatform platform;
    std::unique_ptr<FirewallPolicy> policy;
    ASSERT_EQ(platform.OpenPolicyInProcess(&policy), S_OK);
    ASSERT_TRUE(policy);
    std::unique_ptr<FirewallProfile> profile;
    ASSERT_EQ(policy->GetProfileByType(FirewallProfileType::kStandard, &profile), S_OK);
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->AddEntry(u"C:\\x.exe", Redirection::kAsUsual, u""), E_OUTOFMEMORY);
  }
  ::CoUninitialize();
  const std::vector<std::string> expected = {
      "CreateInstance manager",     "get_LocalPolicy",
      "GetProfileByType",           "get_AuthorizedApplications",
      "CreateInstance application", "put_ProcessImageFileName"};
  EXPECT_EQ(state.calls, expected);
  EXPECT_TRUE(state.added.empty());
  EXPECT_EQ(state.live, 0);
  EXPECT_TRUE(ApartmentLeft());
}

}  // namespace
}  // namespace orvel
