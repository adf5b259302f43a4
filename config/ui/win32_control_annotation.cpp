// The GUIDs of oleacc.h are defined here: mingw-w64's oleacc import library offers
// IID_IAccessible as a function, not as the GUID, and its uuid library clashes with it.
#include <initguid.h>
// after initguid.h
#include "config/ui/win32_control_annotation.h"

#include <string>

namespace orvel::ui {
namespace {

// A string of the table as it is stored, UTF-16: a Japanese name survives whatever
// the system's code page is.
std::wstring LoadWideText(HINSTANCE instance, unsigned id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text ? std::wstring(text, static_cast<std::size_t>(length)) : L"";
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return L"";
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) return L"";
  std::wstring converted(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, converted.data(), wide);
  return converted;
}

}  // namespace

// Made once, on the first annotation: the dialogs' thread has joined its apartment.
IAccPropServices* Win32ControlAnnotation::Services() {
  if (!created_) {
    created_ = true;
    CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                     reinterpret_cast<void**>(services_.ReleaseAndGetAddressOf()));
  }
  return services_.Get();
}

bool Win32ControlAnnotation::Annotate(std::uintptr_t window, int element, Property property,
                                      unsigned text, const std::string& detail) {
  IAccPropServices* services = Services();
  if (!services) return false;
  std::wstring value = LoadWideText(instance_, text);
  if (value.empty()) return false;
  if (const std::size_t at = value.find(L"%s"); at != std::wstring::npos)
    value.replace(at, 2, Widen(detail));
  const MSAAPROPID id = property == Property::kName ? PROPID_ACC_NAME : PROPID_ACC_DESCRIPTION;
  return SUCCEEDED(services->SetHwndPropStr(reinterpret_cast<HWND>(window), OBJID_CLIENT,
                                            static_cast<DWORD>(element), id, value.c_str()));
}

void Win32ControlAnnotation::Clear(std::uintptr_t window, int element) {
  IAccPropServices* services = Services();
  if (!services) return;
  MSAAPROPID properties[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
  services->ClearHwndProps(reinterpret_cast<HWND>(window), OBJID_CLIENT,
                           static_cast<DWORD>(element), properties, 2);
}

}  // namespace orvel::ui
