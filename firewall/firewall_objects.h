#pragma once

// The Windows Firewall objects as the exception rules see them: COM-shaped, so that
// the rules keep the reference counting and string ownership of the real calls, and
// so that the Windows adapter is a pass-through.

#include <cstdint>
#include <string>

namespace orvel {

using HResult = std::int32_t;
using WideChar = char16_t;  // UTF-16 code unit, as OLECHAR on Windows
using WideString = std::u16string;
using Bstr = WideChar*;  // a string from FirewallPlatform::SysAllocString

constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;
constexpr HResult kMissingArgument = -1;
constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000E);
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057);
constexpr HResult kEInsufficientBuffer = static_cast<HResult>(0x8007007A);
constexpr HResult kENoInterface = static_cast<HResult>(0x80004002);
constexpr HResult kEFail = static_cast<HResult>(0x80004005);
constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106);
constexpr HResult kMkESyntax = static_cast<HResult>(0x800401EA);
// What INetFwAuthorizedApplications::Item answers for a path it does not hold:
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
constexpr HResult kItemNotFound = static_cast<HResult>(0x80070002);

constexpr bool Failed(HResult result) { return result < 0; }

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];

  bool operator==(const Guid&) const = default;
};

constexpr Guid kClsidNetFwMgr{
    0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};
constexpr Guid kIidINetFwMgr{
    0xF7898AF5, 0xCAC4, 0x4632, {0xA2, 0xEC, 0xDA, 0x06, 0xE5, 0x11, 0x1A, 0xF2}};
constexpr Guid kClsidNetFwAuthorizedApplication{
    0xEC9846B3, 0x2762, 0x4A6B, {0xA2, 0x14, 0x6A, 0xCB, 0x60, 0x34, 0x62, 0xD2}};
constexpr Guid kIidINetFwAuthorizedApplication{
    0xB5E64FFA, 0xC2C5, 0x444E, {0xA3, 0x01, 0xFB, 0x5E, 0x00, 0x01, 0x80, 0x50}};

class FwUnknown {
 public:
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~FwUnknown() = default;  // objects end through Release
};

class FwAuthorizedApplication : public FwUnknown {
 public:
  virtual HResult get_Enabled(bool* enabled) = 0;
  virtual HResult put_Enabled(bool enabled) = 0;
  virtual HResult put_ProcessImageFileName(Bstr path) = 0;
  virtual HResult put_Name(Bstr name) = 0;

 protected:
  ~FwAuthorizedApplication() = default;
};

class FwAuthorizedApplications : public FwUnknown {
 public:
  virtual HResult Item(Bstr path, FwAuthorizedApplication** application) = 0;
  virtual HResult Add(FwAuthorizedApplication* application) = 0;

 protected:
  ~FwAuthorizedApplications() = default;
};

class FwProfile : public FwUnknown {
 public:
  virtual HResult get_AuthorizedApplications(FwAuthorizedApplications** applications) = 0;

 protected:
  ~FwProfile() = default;
};

class FwPolicy : public FwUnknown {
 public:
  virtual HResult get_CurrentProfile(FwProfile** profile) = 0;

 protected:
  ~FwPolicy() = default;
};

class FwManager : public FwUnknown {
 public:
  virtual HResult get_LocalPolicy(FwPolicy** policy) = 0;

 protected:
  ~FwManager() = default;
};

// Owns one reference; releases it when it goes, so that every path lets go of what it
// acquired, the last acquired first when declared in the order of acquisition.
template <class T>
class FwPtr {
 public:
  FwPtr() = default;
  FwPtr(const FwPtr&) = delete;
  FwPtr& operator=(const FwPtr&) = delete;
  ~FwPtr() { Reset(); }

  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Out parameter for a call that hands over a new reference.
  T** Receive() {
    Reset();
    return &object_;
  }
  // Hands the reference to the caller.
  T* Detach() {
    T* object = object_;
    object_ = nullptr;
    return object;
  }
  void Reset() {
    if (object_ != nullptr) {
      T* object = object_;
      object_ = nullptr;
      object->Release();
    }
  }

 private:
  T* object_ = nullptr;
};

}  // namespace orvel
