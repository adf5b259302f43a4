#include <windows.h>

#include <comdef.h>
#include <netfw.h>
#include <objbase.h>
#include <shlobj.h>
#include <winver.h>
#include <wrl/client.h>

#include <cwchar>
#include <new>
#include <utility>

#include "firewall/firewall_exception.h"
#include "firewall/win32_firewall_platform.h"

namespace orvel {
namespace {

using Microsoft::WRL::ComPtr;

// The portable rules carry copies of these; they must stay the system's values.
static_assert(sizeof(WideChar) == sizeof(OLECHAR), "BSTRs are UTF-16");
static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query expects the 148-byte structure");
static_assert(kSOk == S_OK && kEOutOfMemory == E_OUTOFMEMORY && kEInvalidArg == E_INVALIDARG);
static_assert(kEInsufficientBuffer == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
static_assert(kItemNotFound == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
static_assert(kVerPlatformWin32Nt == VER_PLATFORM_WIN32_NT);
static_assert(kServerPathCapacity == MAX_PATH);
static_assert(static_cast<int>(FirewallProfileType::kDomain) == NET_FW_PROFILE_DOMAIN &&
              static_cast<int>(FirewallProfileType::kStandard) == NET_FW_PROFILE_STANDARD);

constexpr bool SameGuid(const Guid& ours, const GUID& theirs) {
  for (int i = 0; i < 8; ++i) {
    if (ours.data4[i] != theirs.Data4[i]) {
      return false;
    }
  }
  return ours.data1 == theirs.Data1 && ours.data2 == theirs.Data2 && ours.data3 == theirs.Data3;
}
static_assert(SameGuid(kClsidNetFwMgr, __uuidof(NetFwMgr)), "the moniker names the manager class");

const wchar_t* ToWide(const WideChar* text) { return reinterpret_cast<const wchar_t*>(text); }

// A call that succeeded without handing back its object counts as failed.
template <class T>
HRESULT Present(HRESULT result, const ComPtr<T>& object) {
  return SUCCEEDED(result) && !object ? E_POINTER : result;
}

// _bstr_t reports a failed allocation by throwing; here it is E_OUTOFMEMORY.
HRESULT MakeBstr(const WideString& text, _bstr_t* out) {
  try {
    *out = _bstr_t(ToWide(text.c_str()));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// One hold on the thread's single-threaded apartment: joined (or started) when made,
// left when it goes. Each object handed out holds one, behind its COM pointer, so
// the pointer is released first and the apartment outlives every object of it.
class ApartmentHold {
 public:
  ApartmentHold()
      : joined_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ApartmentHold(const ApartmentHold&) = delete;
  ApartmentHold& operator=(const ApartmentHold&) = delete;
  ~ApartmentHold() {
    if (SUCCEEDED(joined_)) ::CoUninitialize();
  }
  HRESULT joined() const { return joined_; }

 private:
  HRESULT joined_;
};

// WOW64 file-system redirection off for this thread while this lives, when asked for,
// and back on when it goes, whatever happened meanwhile. Loading a library while it is
// off would reach the native system folder, so it spans single calls only.
class RedirectionOff {
 public:
  explicit RedirectionOff(Redirection redirection) {
    if (redirection == Redirection::kOff) {
      off_ = ::Wow64DisableWow64FsRedirection(&previous_) != FALSE;
    }
  }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;
  ~RedirectionOff() {
    if (off_) ::Wow64RevertWow64FsRedirection(previous_);
  }

 private:
  void* previous_ = nullptr;
  bool off_ = false;
};

// One profile of the policy.
class Win32FirewallProfile final : public FirewallProfile {
 public:
  explicit Win32FirewallProfile(ComPtr<INetFwProfile> profile) : profile_(std::move(profile)) {}
  Win32FirewallProfile(const Win32FirewallProfile&) = delete;
  Win32FirewallProfile& operator=(const Win32FirewallProfile&) = delete;

  HResult FindEntry(const WideString& path, Redirection redirection, EntryLookup* lookup) override {
    *lookup = EntryLookup{};
    ComPtr<INetFwAuthorizedApplications> applications;
    ComPtr<INetFwAuthorizedApplication> application;
    const HRESULT result = Lookup(path, redirection, &applications, &application, &lookup->item);
    if (FAILED(result) || FAILED(lookup->item)) {
      return result;
    }
    VARIANT_BOOL enabled = VARIANT_FALSE;
    const HRESULT read = application->get_Enabled(&enabled);
    lookup->enabled = enabled != VARIANT_FALSE;
    return read;
  }

  HResult AddEntry(const WideString& path, Redirection redirection,
                   const WideString& name) override {
    ComPtr<INetFwAuthorizedApplications> applications;
    HRESULT result = Applications(&applications);
    if (FAILED(result)) {
      return result;
    }
    ComPtr<INetFwAuthorizedApplication> application;
    result = Present(
        ::CoCreateInstance(__uuidof(NetFwAuthorizedApplication), nullptr, CLSCTX_INPROC_SERVER,
                           IID_PPV_ARGS(application.ReleaseAndGetAddressOf())),
        application);
    if (FAILED(result)) {
      return result;
    }
    _bstr_t imagePath;
    result = MakeBstr(path, &imagePath);
    if (SUCCEEDED(result)) {
      // The object checks that the program exists, here, in this process.
      RedirectionOff off(redirection);
      result = application->put_ProcessImageFileName(imagePath);
    }
    if (FAILED(result)) {
      return result;
    }
    // An empty name and a failed allocation look the same here.
    _bstr_t displayName;
    if (FAILED(MakeBstr(name, &displayName)) || displayName.length() == 0) {
      return E_OUTOFMEMORY;
    }
    result = application->put_Name(displayName);
    if (FAILED(result)) {
      return result;
    }
    return applications->Add(application.Get());
  }

  HResult DisableEntry(const WideString& path, Redirection redirection, HResult* item) override {
    ComPtr<INetFwAuthorizedApplications> applications;
    ComPtr<INetFwAuthorizedApplication> application;
    const HRESULT result = Lookup(path, redirection, &applications, &application, item);
    if (FAILED(result) || FAILED(*item)) {
      return FAILED(result) ? result : *item;
    }
    return application->put_Enabled(VARIANT_FALSE);
  }

 private:
  HRESULT Applications(ComPtr<INetFwAuthorizedApplications>* applications) {
    return Present(profile_->get_AuthorizedApplications(applications->ReleaseAndGetAddressOf()),
                   *applications);
  }

  // The list, then Item for the path; Item's answer goes into *item. The caller's
  // pointers are declared list first, so that the entry is released first.
  HRESULT Lookup(const WideString& path, Redirection redirection,
                 ComPtr<INetFwAuthorizedApplications>* applications,
                 ComPtr<INetFwAuthorizedApplication>* application, HResult* item) {
    *item = S_OK;
    HRESULT result = Applications(applications);
    _bstr_t imagePath;
    if (SUCCEEDED(result)) {
      result = MakeBstr(path, &imagePath);
    }
    if (SUCCEEDED(result)) {
      RedirectionOff off(redirection);
      *item = Present((*applications)->Item(imagePath, application->ReleaseAndGetAddressOf()),
                      *application);
    }
    return result;
  }

  ApartmentHold apartment_;
  ComPtr<INetFwProfile> profile_;
};

// The local policy; hands out its profiles.
class Win32FirewallPolicy final : public FirewallPolicy {
 public:
  explicit Win32FirewallPolicy(ComPtr<INetFwPolicy> policy) : policy_(std::move(policy)) {}
  Win32FirewallPolicy(const Win32FirewallPolicy&) = delete;
  Win32FirewallPolicy& operator=(const Win32FirewallPolicy&) = delete;

  HResult GetProfileByType(FirewallProfileType type,
                           std::unique_ptr<FirewallProfile>* out) override {
    out->reset();
    ComPtr<INetFwProfile> profile;
    const HRESULT result =
        policy_->GetProfileByType(static_cast<NET_FW_PROFILE_TYPE>(type), &profile);
    if (FAILED(result) || !profile) {
      return result;
    }
    out->reset(new (std::nothrow) Win32FirewallProfile(std::move(profile)));
    return *out ? result : E_OUTOFMEMORY;
  }

 private:
  ApartmentHold apartment_;
  ComPtr<INetFwPolicy> policy_;
};

// Holds the apartment for as long as it takes to reach the manager with reach, then
// its local policy, which keeps a hold of its own.
template <class Reach>
HRESULT OpenPolicy(Reach reach, std::unique_ptr<FirewallPolicy>* out) {
  out->reset();
  ApartmentHold apartment;
  if (FAILED(apartment.joined())) {
    return apartment.joined();
  }
  ComPtr<INetFwPolicy> policy;
  HRESULT result;
  {
    ComPtr<INetFwMgr> manager;
    result = Present(reach(manager.ReleaseAndGetAddressOf()), manager);
    if (SUCCEEDED(result)) {
      result = Present(manager->get_LocalPolicy(&policy), policy);
    }
  }  // the manager is released
  if (SUCCEEDED(result)) {
    out->reset(new (std::nothrow) Win32FirewallPolicy(std::move(policy)));
    if (!*out) result = E_OUTOFMEMORY;
  }
  return result;
}

}  // namespace

bool Win32FirewallPlatform::GetVersionExA(OsVersionInfo* info) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(&version)) {
    return false;
  }
#pragma GCC diagnostic pop
  info->platformId = version.dwPlatformId;
  info->majorVersion = version.dwMajorVersion;
  info->minorVersion = version.dwMinorVersion;
  return true;
}

bool Win32FirewallPlatform::IsWow64Process(bool* wow64) {
  BOOL answer = FALSE;
  if (!::IsWow64Process(::GetCurrentProcess(), &answer)) {
    return false;
  }
  *wow64 = answer != FALSE;
  return true;
}

HResult Win32FirewallPlatform::GetSystemFolderPath(WideString* path) {
  wchar_t buffer[MAX_PATH] = {};
  const HRESULT result =
      ::SHGetFolderPathW(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (SUCCEEDED(result)) {
    const std::size_t length = ::wcsnlen(buffer, MAX_PATH);
    path->assign(reinterpret_cast<const WideChar*>(buffer), length);
  }
  return result;
}

namespace {

// A folder of one of the Get*Directory calls, which answer the length copied or, when
// the buffer is too small, the size it would need.
template <class Call>
bool FolderOf(Call call, WideString* path) {
  wchar_t buffer[MAX_PATH] = {};
  const UINT length = call(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return false;
  }
  path->assign(reinterpret_cast<const WideChar*>(buffer), length);
  return true;
}

}  // namespace

bool Win32FirewallPlatform::GetSystemWindowsDirectory(WideString* path) {
  return FolderOf(::GetSystemWindowsDirectoryW, path);
}

bool Win32FirewallPlatform::GetSystemWow64Directory(WideString* path) {
  return FolderOf(::GetSystemWow64DirectoryW, path);
}

bool Win32FirewallPlatform::FileExists(const WideString& path) {
  const DWORD attributes = ::GetFileAttributesW(ToWide(path.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::uint32_t Win32FirewallPlatform::GetFileVersionInfoSizeW(const WideChar* path) {
  DWORD ignored = 0;
  return ::GetFileVersionInfoSizeW(ToWide(path), &ignored);
}

bool Win32FirewallPlatform::GetFileVersionInfoW(const WideChar* path, std::uint32_t size,
                                                void* block) {
  return ::GetFileVersionInfoW(ToWide(path), 0, size, block) != FALSE;
}

bool Win32FirewallPlatform::VerQueryValueA(const void* block, const char* subBlock,
                                           const void** value, std::uint32_t* length) {
  void* found = nullptr;
  UINT size = 0;
  const BOOL ok = ::VerQueryValueA(block, subBlock, &found, &size);
  *value = found;
  *length = size;
  return ok != FALSE;
}

bool Win32FirewallPlatform::VerQueryValueW(const void* block, const WideChar* subBlock,
                                           const void** value, std::uint32_t* length) {
  void* found = nullptr;
  UINT size = 0;
  const BOOL ok = ::VerQueryValueW(block, ToWide(subBlock), &found, &size);
  *value = found;
  *length = size;
  return ok != FALSE;
}

HResult Win32FirewallPlatform::OpenPolicyInProcess(std::unique_ptr<FirewallPolicy>* policy) {
  return OpenPolicy(
      [](INetFwMgr** manager) {
        return ::CoCreateInstance(__uuidof(NetFwMgr), nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(manager));
      },
      policy);
}

HResult Win32FirewallPlatform::OpenPolicyElevated(const WideString& moniker,
                                                  std::unique_ptr<FirewallPolicy>* policy) {
  return OpenPolicy(
      [&](INetFwMgr** manager) {
        BIND_OPTS3 bind{};
        bind.cbStruct = sizeof bind;
        bind.dwClassContext = CLSCTX_LOCAL_SERVER;
        bind.hwnd = nullptr;
        return ::CoGetObject(ToWide(moniker.c_str()), &bind, IID_PPV_ARGS(manager));
      },
      policy);
}

bool RegisterFirewallException() {
  Win32FirewallPlatform platform;
  Win32ProcessToken token;
  return RegisterFirewallException(platform, token);
}

bool DisableFirewallException() {
  Win32FirewallPlatform platform;
  Win32ProcessToken token;
  return DisableFirewallException(platform, token);
}

}  // namespace orvel
