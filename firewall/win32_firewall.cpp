#include <windows.h>

#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <winver.h>
#include <wrl/client.h>

#include <atomic>
#include <cwchar>
#include <new>

#include "firewall/firewall_exception.h"
#include "firewall/win32_firewall_platform.h"

namespace orvel {
namespace {

using Microsoft::WRL::ComPtr;

static_assert(sizeof(WideChar) == sizeof(OLECHAR), "BSTRs are UTF-16");
static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query expects the 148-byte structure");

GUID ToGuid(const Guid& guid) {
  GUID result;
  result.Data1 = guid.data1;
  result.Data2 = guid.data2;
  result.Data3 = guid.data3;
  for (int i = 0; i < 8; ++i) {
    result.Data4[i] = guid.data4[i];
  }
  return result;
}

const wchar_t* ToWide(const WideChar* text) { return reinterpret_cast<const wchar_t*>(text); }
BSTR ToBstr(Bstr text) { return reinterpret_cast<BSTR>(text); }

// Each wrapper holds one reference to the real object and counts its own.
template <class Interface, class Real>
class Wrapper : public Interface {
 public:
  explicit Wrapper(ComPtr<Real> real) : real_(std::move(real)) {}
  std::uint32_t AddRef() override { return ++references_; }
  std::uint32_t Release() override {
    const std::uint32_t left = --references_;
    if (left == 0) {
      delete this;
    }
    return left;
  }
  Real* Native() const { return real_.Get(); }

 protected:
  virtual ~Wrapper() = default;
  ComPtr<Real> real_;

 private:
  std::atomic<std::uint32_t> references_{1};
};

// Wraps the reference that a successful call handed over; the wrapper owns it.
template <class WrapperType, class Interface, class Real>
HResult Wrap(HRESULT result, Real* raw, Interface** out) {
  *out = nullptr;
  if (FAILED(result)) {
    return result;
  }
  // Takes over the reference the call handed out. Not Attach: mingw-w64's Attach
  // adds a reference of its own, and every wrapped object would then outlive us.
  ComPtr<Real> real;
  *real.ReleaseAndGetAddressOf() = raw;
  if (!real) {
    return E_POINTER;
  }
  WrapperType* wrapper = new (std::nothrow) WrapperType(std::move(real));
  if (wrapper == nullptr) {
    return E_OUTOFMEMORY;
  }
  *out = wrapper;
  return result;
}

class Win32AuthorizedApplication final
    : public Wrapper<FwAuthorizedApplication, INetFwAuthorizedApplication> {
 public:
  using Wrapper::Wrapper;
  HResult get_Enabled(bool* enabled) override {
    VARIANT_BOOL value = VARIANT_FALSE;
    const HRESULT result = real_->get_Enabled(&value);
    if (SUCCEEDED(result)) {
      *enabled = value != VARIANT_FALSE;
    }
    return result;
  }
  HResult put_Enabled(bool enabled) override {
    return real_->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
  }
  HResult put_ProcessImageFileName(Bstr path) override {
    return real_->put_ProcessImageFileName(ToBstr(path));
  }
  HResult put_Name(Bstr name) override { return real_->put_Name(ToBstr(name)); }
};

class Win32AuthorizedApplications final
    : public Wrapper<FwAuthorizedApplications, INetFwAuthorizedApplications> {
 public:
  using Wrapper::Wrapper;
  HResult Item(Bstr path, FwAuthorizedApplication** application) override {
    INetFwAuthorizedApplication* raw = nullptr;
    const HRESULT result = real_->Item(ToBstr(path), &raw);
    return Wrap<Win32AuthorizedApplication>(result, raw, application);
  }
  HResult Add(FwAuthorizedApplication* application) override {
    auto* ours = dynamic_cast<Win32AuthorizedApplication*>(application);
    if (ours == nullptr) {
      return E_INVALIDARG;
    }
    return real_->Add(ours->Native());
  }
};

class Win32Profile final : public Wrapper<FwProfile, INetFwProfile> {
 public:
  using Wrapper::Wrapper;
  HResult get_AuthorizedApplications(FwAuthorizedApplications** applications) override {
    INetFwAuthorizedApplications* raw = nullptr;
    const HRESULT result = real_->get_AuthorizedApplications(&raw);
    return Wrap<Win32AuthorizedApplications>(result, raw, applications);
  }
};

class Win32Policy final : public Wrapper<FwPolicy, INetFwPolicy> {
 public:
  using Wrapper::Wrapper;
  HResult get_CurrentProfile(FwProfile** profile) override {
    INetFwProfile* raw = nullptr;
    const HRESULT result = real_->get_CurrentProfile(&raw);
    return Wrap<Win32Profile>(result, raw, profile);
  }
};

class Win32Manager final : public Wrapper<FwManager, INetFwMgr> {
 public:
  using Wrapper::Wrapper;
  HResult get_LocalPolicy(FwPolicy** policy) override {
    INetFwPolicy* raw = nullptr;
    const HRESULT result = real_->get_LocalPolicy(&raw);
    return Wrap<Win32Policy>(result, raw, policy);
  }
};

// Turns what CoCreateInstance or CoGetObject returned for iid into its wrapper.
HResult WrapCreated(HRESULT result, const Guid& iid, void* raw, void** object) {
  if (iid == kIidINetFwMgr) {
    FwManager* manager = nullptr;
    result = Wrap<Win32Manager>(result, static_cast<INetFwMgr*>(raw), &manager);
    *object = manager;
    return result;
  }
  FwAuthorizedApplication* application = nullptr;
  result = Wrap<Win32AuthorizedApplication>(result, static_cast<INetFwAuthorizedApplication*>(raw),
                                            &application);
  *object = application;
  return result;
}

bool KnownInterface(const Guid& iid) {
  return iid == kIidINetFwMgr || iid == kIidINetFwAuthorizedApplication;
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

HResult Win32FirewallPlatform::CoInitializeEx(std::uint32_t flags) {
  return ::CoInitializeEx(nullptr, flags);
}

void Win32FirewallPlatform::CoUninitialize() { ::CoUninitialize(); }

HResult Win32FirewallPlatform::CoCreateInstance(const Guid& clsid, std::uint32_t context,
                                                const Guid& iid, void** object) {
  *object = nullptr;
  if (!KnownInterface(iid)) {
    return E_NOINTERFACE;
  }
  void* raw = nullptr;
  const HRESULT result = ::CoCreateInstance(ToGuid(clsid), nullptr, context, ToGuid(iid), &raw);
  return WrapCreated(result, iid, raw, object);
}

HResult Win32FirewallPlatform::CoGetObject(const WideChar* name,
                                           const ElevationBindOptions& options, const Guid& iid,
                                           void** object) {
  *object = nullptr;
  if (!KnownInterface(iid)) {
    return E_NOINTERFACE;
  }
  BIND_OPTS3 bind{};
  bind.cbStruct = sizeof bind;
  bind.dwClassContext = options.classContext;
  bind.hwnd = reinterpret_cast<HWND>(options.ownerWindow);
  const GUID interfaceId = ToGuid(iid);
  void* raw = nullptr;
  const HRESULT result = ::CoGetObject(ToWide(name), &bind, interfaceId, &raw);
  return WrapCreated(result, iid, raw, object);
}

Bstr Win32FirewallPlatform::SysAllocString(const WideChar* text) {
  return reinterpret_cast<Bstr>(::SysAllocString(ToWide(text)));
}

void Win32FirewallPlatform::SysFreeString(Bstr text) { ::SysFreeString(ToBstr(text)); }

std::uint32_t Win32FirewallPlatform::SysStringLen(Bstr text) {
  return ::SysStringLen(ToBstr(text));
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
