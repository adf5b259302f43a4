#include <windows.h>

#include "config/core/server_messages.h"
#include "tests/wine/support/substitute_server.h"
#include "tools/substitute_server/control_messages.h"

#ifndef ORVEL_SUBSTITUTE_SERVER_EXE
#error "ORVEL_SUBSTITUTE_SERVER_EXE must name the built substitute_server.exe"
#endif

namespace orvel::test {

std::string SubstituteServerPath() { return WindowsPath(ORVEL_SUBSTITUTE_SERVER_EXE); }

SubstituteServer::SubstituteServer(const std::string& unitsText)
    : SubstituteServer(unitsText, Options{}) {}

SubstituteServer::SubstituteServer(const std::string& unitsText, Options options) {
  if (!folder_.Ok()) {
    error_ = "cannot create a temporary folder";
    return;
  }
  unitsPath_ = folder_.File("units.txt");
  logPath_ = folder_.File("server.log");
  if (!WriteFileText(unitsPath_, unitsText)) {
    error_ = "cannot write ";
    error_.append(unitsPath_);
    return;
  }
  // Another server's window would take our messages; tests must not share one.
  if (FindWindowA(kServerWindowClass, kServerWindowTitle) != nullptr) {
    error_ = "another server window exists already";
    return;
  }
  const std::string delay = std::to_string(options.probeDelayMs);
  const std::string commandLine =
      options.probeDelayMs > 0
          ? CommandLine({SubstituteServerPath(), "--probe-delay", delay, unitsPath_, logPath_})
          : CommandLine({SubstituteServerPath(), unitsPath_, logPath_});
  if (!process_.Start(commandLine)) {
    error_ = "cannot start ";
    error_.append(commandLine).append(" (error ");
    error_.append(std::to_string(process_.LastError())).push_back(')');
    return;
  }
  // Wait for the window, but not for a server that has already given up.
  const ULONGLONG deadline = GetTickCount64() + options.startTimeoutMs;
  for (;;) {
    window_ = FindProcessWindow(process_.Id(), kServerWindowClass, kServerWindowTitle, 0);
    if (window_ != nullptr) return;
    if (const auto code = process_.Wait(0)) {
      error_ = "the server ended at start with exit code ";
      error_.append(std::to_string(*code));
      return;
    }
    if (GetTickCount64() >= deadline) {
      error_ = "the server window did not appear";
      process_.Terminate();
      return;
    }
    Sleep(20);
  }
}

SubstituteServer::~SubstituteServer() {
  Stop();
  process_.Terminate();  // in case it was never found running
}

std::vector<ServerLogRecord> SubstituteServer::Log() const {
  const auto text = ReadFileText(logPath_);
  return text ? substitute::ParseLog(*text) : std::vector<ServerLogRecord>{};
}

std::vector<ServerLogRecord> SubstituteServer::Received() const {
  std::vector<ServerLogRecord> received;
  for (const ServerLogRecord& record : Log()) {
    if (record.direction == Direction::kReceived) received.push_back(record);
  }
  return received;
}

bool SubstituteServer::Control(std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (window_ == nullptr) return false;
  DWORD_PTR result = 0;
  // Longer than the server's own wait for a notified window.
  const DWORD timeout = substitute::kNotifyTimeoutMs + 5000;
  if (!SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_NORMAL, timeout, &result)) {
    return false;
  }
  return result != 0;
}

bool SubstituteServer::ReplaceUnits(const std::string& unitsText) {
  return WriteFileText(unitsPath_, unitsText) && Control(substitute::kControlReloadUnits, 0, 0);
}

bool SubstituteServer::SetInUse(bool inUse) {
  return Control(substitute::kControlSetInUse, inUse ? 1 : 0, 0);
}

bool SubstituteServer::SendUseStateChanged(std::uint32_t lParam) {
  return Control(substitute::kControlSendUseStateChanged, 0, static_cast<LPARAM>(lParam));
}

bool SubstituteServer::SendRecheckDevices() {
  return Control(substitute::kControlSendRecheckDevices, 0, 0);
}

bool SubstituteServer::StopAnswering(DWORD milliseconds) {
  stoppedAnswering_ = Control(substitute::kControlStopAnswering, milliseconds, 0);
  return stoppedAnswering_;
}

bool SubstituteServer::Stop(DWORD timeoutMs) {
  if (!process_.Started()) return false;
  if (stoppedAnswering_) {
    window_ = nullptr;
    process_.Terminate();
    return false;
  }
  if (window_ != nullptr) {
    PostMessageA(window_, WM_CLOSE, 0, 0);
    window_ = nullptr;
  }
  const auto code = process_.Wait(timeoutMs);
  if (!code) {
    process_.Terminate();
    return false;
  }
  return *code == 0;
}

}  // namespace orvel::test
