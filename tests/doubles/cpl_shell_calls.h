#pragma once
// Shell calls of the Control Panel applet, answered from settings and recorded, with a
// process table that knows which handles are open, for tests of the applet's rules.

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "cpl/shell_calls.h"

namespace orvel::testing {

class FakeShellCalls : public cpl::ShellCalls {
 public:
  // What SHGetFolderPathW answers. With `folderFill` set, the whole buffer is filled with
  // that unit and no terminator, as a broken implementation would.
  std::int32_t folderResult = 0;
  std::wstring folder = L"C:\\Windows\\SysWOW64";
  wchar_t folderFill = L'\0';

  cpl::WindowHandle foreground = reinterpret_cast<cpl::WindowHandle>(0x1234);

  // What ShellExecuteExW answers; a started process gets the next handle value.
  bool executeResult = true;
  std::intptr_t instApp = 42;
  bool returnsProcess = true;

  // How the wait ends once every batch of messages has arrived: each batch wakes the
  // wait once and is queued for the thread.
  std::vector<std::vector<cpl::QueuedMessage>> messageBatches;
  std::uint32_t waitResult = cpl::kWaitObject0;
  std::uint32_t lastError = 0;

  // Recorded calls.
  std::vector<int> foldersAsked;
  struct Executed {
    cpl::ExecuteRequest request;
    std::wstring file;  // a copy, the request's pointer dies with the caller's buffer
  };
  std::vector<Executed> executed;
  std::vector<cpl::ProcessHandle> waited;
  std::vector<std::uint32_t> dispatched;  // messages, in the order dispatched
  std::vector<int> reposted;              // quit codes posted again
  std::vector<cpl::ProcessHandle> closed;
  std::set<cpl::ProcessHandle> open;  // process handles handed out and not yet closed

  std::int32_t FolderPath(int folder, wchar_t* path) override {
    foldersAsked.push_back(folder);
    if (folderResult < 0) return folderResult;
    if (folderFill != L'\0') {
      std::fill(path, path + cpl::kPathUnits, folderFill);
      return folderResult;
    }
    const std::size_t n = std::min(this->folder.size(), cpl::kPathUnits - 1);
    std::copy(this->folder.begin(), this->folder.begin() + static_cast<std::ptrdiff_t>(n), path);
    path[n] = L'\0';
    return folderResult;
  }

  cpl::WindowHandle ForegroundWindow() override { return foreground; }

  bool Execute(cpl::ExecuteRequest& request) override {
    executed.push_back({request, request.file != nullptr ? request.file : L""});
    request.instApp = instApp;
    request.process = nullptr;
    if (returnsProcess) {
      request.process = reinterpret_cast<cpl::ProcessHandle>(nextHandle_++);
      open.insert(request.process);
    }
    return executeResult;
  }

  std::uint32_t WaitForProcessOrMessage(cpl::ProcessHandle process) override {
    waited.push_back(process);
    if (open.count(process) == 0) return cpl::kWaitFailed;
    if (nextBatch_ < messageBatches.size()) {
      const auto& batch = messageBatches[nextBatch_++];
      queue_.insert(queue_.end(), batch.begin(), batch.end());
      return cpl::kWaitMessage;
    }
    return waitResult;
  }

  bool TakeMessage(cpl::QueuedMessage* message) override {
    if (queue_.empty()) return false;
    taken_ = queue_.front();
    queue_.erase(queue_.begin());
    *message = taken_;
    return true;
  }

  void DispatchTaken() override { dispatched.push_back(taken_.message); }

  void RepostQuit(int code) override { reposted.push_back(code); }

  std::uint32_t LastError() override { return lastError; }

  void Close(cpl::ProcessHandle process) override {
    closed.push_back(process);
    open.erase(process);
  }

 private:
  std::uintptr_t nextHandle_ = 0x100;
  std::size_t nextBatch_ = 0;
  std::vector<cpl::QueuedMessage> queue_;
  cpl::QueuedMessage taken_;
};

}  // namespace orvel::testing
