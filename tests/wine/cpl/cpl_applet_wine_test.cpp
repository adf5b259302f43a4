// The built applet library under Wine: every message through its exported CPlApplet, its
// resources, and opening it with the configuration program present in, and missing from,
// the 32-bit system folder of the test prefix.
#include <windows.h>
//
#include <cpl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr wchar_t kTitle[] = L"Quorin Network Driver";

// A path of the build tree, as Wine sees it through drive Z:.
std::wstring HostPath(const char* path) {
  std::wstring out = L"Z:";
  for (const char* p = path; *p != '\0'; ++p) out += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return out;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring ProcessImage(DWORD processId) {
  std::unique_ptr<void, decltype(&CloseHandle)> process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId), &CloseHandle);
  if (!process) return {};
  wchar_t image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) return {};
  return image;
}

struct Module {
  std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> handle{nullptr,
                                                                                 &FreeLibrary};
  APPLET_PROC entry = nullptr;
};

class Applet : public ::testing::Test {
 protected:
  void SetUp() override {
    module_.handle.reset(LoadLibraryW(HostPath(ORVEL_CPL_FILE).c_str()));
    ASSERT_NE(module_.handle, nullptr) << "error " << GetLastError();
    // Through void (*)(), the type-erased function pointer, to the entry point's real type.
    module_.entry = reinterpret_cast<APPLET_PROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_.handle.get(), "CPlApplet")));
    ASSERT_NE(module_.entry, nullptr);
  }

  LONG Call(UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0) {
    return module_.entry(nullptr, message, lParam1, lParam2);
  }

  Module module_;
};

// The configuration program placed in the 32-bit system folder for one test, and removed
// again with the folder when the test made it.
class ProgramInSystemFolder {
 public:
  ProgramInSystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_SYSTEMX86 | CSIDL_FLAG_DONT_VERIFY, nullptr,
                                SHGFP_TYPE_CURRENT, folder))) {
      return;
    }
    folder_ = folder;
    program_ = folder_ + L"\\Orvelcfg.exe";
    madeFolder_ = GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES;
  }
  ProgramInSystemFolder(const ProgramInSystemFolder&) = delete;
  ProgramInSystemFolder& operator=(const ProgramInSystemFolder&) = delete;

  ~ProgramInSystemFolder() {
    // The program may still be ending when the wait is over; its file is busy until then.
    if (placed_) {
      for (int attempt = 0; attempt < 100 && !DeleteFileW(program_.c_str()); ++attempt) {
        Sleep(50);
      }
    }
    if (madeFolder_) RemoveDirectoryW(folder_.c_str());
    if (removedFolder_) CreateDirectoryW(folder_.c_str(), nullptr);
  }

  const std::wstring& folder() const { return folder_; }
  const std::wstring& program() const { return program_; }
  bool folderExists() const {
    return GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool RemoveEmptyFolder() {
    if (madeFolder_ || !folderExists()) return !folderExists();
    removedFolder_ = RemoveDirectoryW(folder_.c_str()) != FALSE;
    return removedFolder_;
  }

  bool MakeFolder() { return folderExists() || CreateDirectoryW(folder_.c_str(), nullptr); }

  bool Place(const std::wstring& source) {
    if (!MakeFolder()) return false;
    placed_ = CopyFileW(source.c_str(), program_.c_str(), FALSE) != FALSE;
    return placed_;
  }

 private:
  std::wstring folder_, program_;
  bool madeFolder_ = false;     // not there before the test: remove it after
  bool removedFolder_ = false;  // taken away by the test: put it back after
  bool placed_ = false;
};

// The configuration program makes its settings folder when it starts; the folders that were
// not there before the test are taken away again (only when empty, so no file is lost).
class SettingsFolderAsFound {
 public:
  SettingsFolderAsFound() {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
      return;
    }
    const std::wstring vendor = std::wstring(common) + L"\\VANTOR";
    for (const std::wstring& folder : {vendor + L"\\ORVELDRIVER", vendor}) {
      if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) absent_.push_back(folder);
    }
  }
  SettingsFolderAsFound(const SettingsFolderAsFound&) = delete;
  SettingsFolderAsFound& operator=(const SettingsFolderAsFound&) = delete;
  ~SettingsFolderAsFound() {
    for (const std::wstring& folder : absent_) RemoveDirectoryW(folder.c_str());
  }

 private:
  std::vector<std::wstring> absent_;  // innermost first
};

struct Closer {
  std::wstring program;  // the image whose windows titled kTitle are closed
  int programWindows = 0;
  int ownDialogs = 0;
  bool wrongImage = false;
  bool holdOpen = false;  // only count the program's windows, close none yet
};

BOOL CALLBACK CloseWindowsOf(HWND window, LPARAM parameter) {
  auto& closer = *reinterpret_cast<Closer*>(parameter);
  if (!IsWindowVisible(window)) return TRUE;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  wchar_t title[128] = {};
  GetWindowTextW(window, title, 128);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (processId == GetCurrentProcessId()) {
    // The shell's own error box about a program it could not start.
    if (std::wstring(className) == L"#32770") {
      PostMessageW(window, WM_COMMAND, IDOK, 0);
      ++closer.ownDialogs;
    }
    return TRUE;
  }
  if (std::wstring(title) != kTitle) return TRUE;
  if (!SamePath(ProcessImage(processId), closer.program)) {
    closer.wrongImage = true;
    return TRUE;
  }
  if (!closer.holdOpen) PostMessageW(window, WM_CLOSE, 0, 0);
  ++closer.programWindows;
  return TRUE;
}

// Ends every process started from `image`, so that a test that went wrong still returns.
void EndProcessesOf(const std::wstring& image) {
  std::unique_ptr<void, decltype(&CloseHandle)> snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), &CloseHandle);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (!SamePath(ProcessImage(entry.th32ProcessID), image)) continue;
    std::unique_ptr<void, decltype(&CloseHandle)> process(
        OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID), &CloseHandle);
    if (process) TerminateProcess(process.get(), 3);
  }
}

// A window of the thread that opens the applet, as the Control Panel's own: it answers
// kProbe with kProbeAnswer.
constexpr UINT kProbe = WM_APP + 7;
constexpr LRESULT kProbeAnswer = 0x5A17;

LRESULT CALLBACK HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kProbe) return kProbeAnswer;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateHostWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = HostProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"OrvelTestControlPanelHost";
  RegisterClassW(&windowClass);  // already there from an earlier test: fine
  return CreateWindowExW(0, windowClass.lpszClassName, L"host", WS_OVERLAPPED, 0, 0, 10, 10,
                         nullptr, nullptr, windowClass.hInstance, nullptr);
}

// Opens the applet on a thread of its own that owns a window, as the Control Panel's
// blocking call, and closes what appears until the call returns. With `probe`, once the
// program's window is there (the applet waits for it then), the thread's window is sent
// kProbe first, and *probe tells whether it answered.
LONG OpenAndCloseWindows(APPLET_PROC entry, Closer& closer, bool* probe = nullptr) {
  std::promise<HWND> hostMade;
  auto host = hostMade.get_future();
  auto result = std::async(std::launch::async, [entry, &hostMade] {
    HWND window = CreateHostWindow();
    hostMade.set_value(window);
    const LONG answer = entry(window, CPL_DBLCLK, 0, 0);
    DestroyWindow(window);
    return answer;
  });
  const HWND hostWindow = host.get();
  closer.holdOpen = probe != nullptr;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (result.wait_for(100ms) != std::future_status::ready) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the applet did not return within 60 s";
      EndProcessesOf(closer.program);
      break;
    }
    EnumWindows(CloseWindowsOf, reinterpret_cast<LPARAM>(&closer));
    if (closer.holdOpen && closer.programWindows > 0) {
      DWORD_PTR answer = 0;
      *probe =
          hostWindow != nullptr &&
          SendMessageTimeoutW(hostWindow, kProbe, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) != 0 &&
          answer == static_cast<DWORD_PTR>(kProbeAnswer);
      closer.holdOpen = false;
      closer.programWindows = 0;
    }
  }
  return result.get();
}

TEST_F(Applet, MessagesWithoutWorkAnswerTheirFixedResults) {
  struct Case {
    UINT message;
    LONG result;
  };
  const Case cases[] = {
      {CPL_INIT, 1}, {CPL_GETCOUNT, 1}, {CPL_SELECT, 0}, {CPL_STOP, 0}, {CPL_EXIT, 0}, {0, 0},
      {9, 0},        {WM_USER, 0},      {0xFFFF, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Call(c.message), c.result);
  }

  // CPL_NEWINQUIRE is left unanswered, so the Control Panel falls back to CPL_INQUIRE.
  NEWCPLINFOW newInfo;
  FillMemory(&newInfo, sizeof(newInfo), 0x5A);
  EXPECT_EQ(Call(CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&newInfo)), 0);
  EXPECT_EQ(newInfo.dwSize, 0x5A5A5A5Au);
}

TEST_F(Applet, InquireNamesTheIconAndStringOfTheLibrary) {
  CPLINFO info;
  FillMemory(&info, sizeof(info), 0x5A);
  EXPECT_EQ(Call(CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
  EXPECT_EQ(info.idIcon, 105);
  EXPECT_EQ(info.idName, 1);
  EXPECT_EQ(info.idInfo, 1);
  EXPECT_EQ(info.lData, 0);
  EXPECT_EQ(Call(CPL_INQUIRE, 0, 0), 1);

  // What the Control Panel then loads from the library with those numbers.
  HMODULE library = module_.handle.get();
  wchar_t name[64] = {};
  EXPECT_EQ(LoadStringW(library, info.idName, name, 64), 21);
  EXPECT_STREQ(name, kTitle);
  for (int size : {16, 32}) {
    SCOPED_TRACE(size);
    HICON icon = static_cast<HICON>(
        LoadImageW(library, MAKEINTRESOURCEW(info.idIcon), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO iconInfo{};
    ASSERT_TRUE(GetIconInfo(icon, &iconInfo));
    BITMAP bitmap{};
    GetObjectW(iconInfo.hbmColor, sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    DeleteObject(iconInfo.hbmColor);
    DeleteObject(iconInfo.hbmMask);
    DestroyIcon(icon);
  }

  HRSRC manifest = FindResourceW(library, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(library, manifest)));
  const std::string xml(text, SizeofResource(library, manifest));
  EXPECT_NE(xml.find(R"(name="Quorin Network Driver Control Panel Launcher")"), std::string::npos);
  EXPECT_NE(xml.find(R"(version="1.2.3.1")"), std::string::npos);
  EXPECT_NE(xml.find(R"(processorArchitecture="amd64")"), std::string::npos);
  EXPECT_NE(xml.find(R"(level="asInvoker")"), std::string::npos);
}

TEST_F(Applet, OpeningStartsTheProgramFromThe32BitSystemFolderAndAnswersZeroWhenItEnds) {
  SettingsFolderAsFound settings;
  ProgramInSystemFolder system;
  ASSERT_FALSE(system.folder().empty());
  ASSERT_TRUE(system.Place(HostPath(ORVEL_CPL_PROGRAM_FILE))) << "error " << GetLastError();

  Closer closer{system.program()};
  bool answered = false;
  EXPECT_EQ(OpenAndCloseWindows(module_.entry, closer, &answered), 0);
  EXPECT_GE(closer.programWindows, 1) << "no window of the started program was seen";
  EXPECT_FALSE(closer.wrongImage) << "a window with the program's title came from elsewhere";
  EXPECT_TRUE(answered) << "the thread's window did not answer while the applet waited";
}

TEST_F(Applet, OpeningWithTheProgramMissingAnswersOne) {
  ProgramInSystemFolder system;
  ASSERT_FALSE(system.folder().empty());
  ASSERT_EQ(GetFileAttributesW(system.program().c_str()), INVALID_FILE_ATTRIBUTES);

  // With no folder at all: an empty folder is taken away for the moment and put back after.
  if (system.RemoveEmptyFolder()) {
    Closer closer{system.program()};
    EXPECT_EQ(OpenAndCloseWindows(module_.entry, closer), 1);
    EXPECT_EQ(closer.programWindows, 0);
  }
  // With the folder there and the program not in it.
  ASSERT_TRUE(system.MakeFolder());
  Closer closer{system.program()};
  EXPECT_EQ(OpenAndCloseWindows(module_.entry, closer), 1);
  EXPECT_EQ(closer.programWindows, 0);
}

}  // namespace
