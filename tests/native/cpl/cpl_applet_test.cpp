#include "cpl/applet.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/doubles/cpl_shell_calls.h"

namespace orvel::cpl {
namespace {

using testing::FakeShellCalls;

constexpr AppletInfo kUntouched{-7, -7, -7, -7};

bool Same(const AppletInfo& a, const AppletInfo& b) {
  return a.idIcon == b.idIcon && a.idName == b.idName && a.idInfo == b.idInfo && a.lData == b.lData;
}

TEST(CplApplet, MessagesWithoutWorkAnswerTheirFixedResultAndTouchNothing) {
  struct Case {
    unsigned message;
    std::int32_t result;
  };
  const Case cases[] = {
      {kCplInit, 1}, {kCplGetCount, 1},   {kCplSelect, 0}, {kCplStop, 0},
      {kCplExit, 0}, {kCplNewInquire, 0}, {0, 0},          {9, 0},
      {0x0400, 0},   {0xFFFFFFFFu, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FakeShellCalls shell;
    AppletInfo info = kUntouched;
    EXPECT_EQ(AppletMessage(shell, c.message, &info), c.result);
    EXPECT_TRUE(Same(info, kUntouched));
    EXPECT_TRUE(shell.foldersAsked.empty());
    EXPECT_TRUE(shell.executed.empty());
  }
}

TEST(CplApplet, InquireReportsIconAndNameStringForNameAndDescription) {
  FakeShellCalls shell;
  AppletInfo info = kUntouched;
  EXPECT_EQ(AppletMessage(shell, kCplInquire, &info), 0);
  EXPECT_TRUE(Same(info, (AppletInfo{105, 1, 1, 0})));
  EXPECT_TRUE(shell.executed.empty());

  // Nowhere to report to is a failed inquiry, not a write through null.
  EXPECT_EQ(AppletMessage(shell, kCplInquire, nullptr), 1);
}

TEST(CplApplet, OpeningStartsTheProgramFromThe32BitSystemFolderAndWaitsForIt) {
  FakeShellCalls shell;
  EXPECT_EQ(AppletMessage(shell, kCplDblclk, nullptr), 0);

  ASSERT_EQ(shell.foldersAsked, std::vector<int>{0x29});
  ASSERT_EQ(shell.executed.size(), 1u);
  const auto& [request, file] = shell.executed[0];
  EXPECT_EQ(file, L"C:\\Windows\\SysWOW64\\Orvelcfg.exe");
  EXPECT_EQ(request.mask, 0x40u);
  EXPECT_EQ(request.owner, shell.foreground);
  EXPECT_EQ(request.verb, nullptr);
  EXPECT_EQ(request.parameters, nullptr);
  EXPECT_EQ(request.directory, nullptr);
  EXPECT_EQ(request.show, 1);

  ASSERT_EQ(shell.waited.size(), 1u);
  EXPECT_EQ(shell.closed, shell.waited);
  EXPECT_TRUE(shell.open.empty());
}

TEST(CplApplet, EveryOutcomeOfTheWaitCountsAsStartedAndReleasesTheProcess) {
  for (std::uint32_t outcome : {kWaitObject0, kWaitAbandoned, kWaitTimeout, kWaitFailed, 0x7u}) {
    SCOPED_TRACE(outcome);
    FakeShellCalls shell;
    shell.waitResult = outcome;
    shell.lastError = 6;
    EXPECT_EQ(AppletMessage(shell, kCplDblclk, nullptr), 0);
    EXPECT_EQ(shell.waited.size(), 1u);
    EXPECT_TRUE(shell.open.empty());
  }
}

// The Control Panel calls on the thread that owns its windows: while the program
// runs, what arrives for them is dispatched, and a quit ends the wait and is left for
// the host's own loop.
TEST(CplApplet, WaitingDispatchesTheThreadsMessagesUntilTheProgramEnds) {
  constexpr std::uint32_t kSettingChange = 0x001A;
  constexpr std::uint32_t kPaint = 0x000F;
  struct Case {
    const char* name;
    std::vector<std::vector<QueuedMessage>> batches;
    std::uint32_t ending;
    std::size_t waits;
    std::vector<std::uint32_t> dispatched;
    std::vector<int> reposted;
  };
  const Case cases[] = {
      {"nothing arrives", {}, kWaitObject0, 1, {}, {}},
      {"two batches",
       {{{kSettingChange, 0}, {kPaint, 0}}, {{kSettingChange, 1}}},
       kWaitObject0,
       3,
       {kSettingChange, kPaint, kSettingChange},
       {}},
      {"a wake-up with nothing queued", {{}}, kWaitObject0, 2, {}, {}},
      {"quit ends the wait",
       {{{kPaint, 0}, {kWmQuit, 7}, {kSettingChange, 0}}},
       kWaitObject0,
       1,
       {kPaint},
       {7}},
      {"failure after messages", {{{kPaint, 0}}}, kWaitFailed, 2, {kPaint}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeShellCalls shell;
    shell.messageBatches = c.batches;
    shell.waitResult = c.ending;
    EXPECT_EQ(AppletMessage(shell, kCplDblclk, nullptr), 0);
    EXPECT_EQ(shell.waited.size(), c.waits);
    EXPECT_EQ(shell.dispatched, c.dispatched);
    EXPECT_EQ(shell.reposted, c.reposted);
    EXPECT_TRUE(shell.open.empty());
  }
}

TEST(CplApplet, ProgramThatCannotBeStartedAnswersOneAndLeaksNoHandle) {
  struct Case {
    const char* name;
    std::int32_t folderResult;
    bool executeResult;
    std::intptr_t instApp;
    bool returnsProcess;
    std::int32_t result;
    std::size_t executions;
  };
  const Case cases[] = {
      {"folder unknown", static_cast<std::int32_t>(0x80004005u), true, 42, true, 1, 0},
      {"folder missing", static_cast<std::int32_t>(0x80070003u), true, 42, true, 1, 0},
      {"folder found with S_FALSE", 1, true, 42, true, 0, 1},
      {"program missing", 0, false, 2, false, 1, 1},
      {"shell reports failure", 0, false, 42, false, 1, 1},
      {"instance value 32", 0, true, 32, false, 1, 1},
      {"instance value 32 with a process", 0, true, 32, true, 1, 1},
      {"failure with a process", 0, false, 5, true, 1, 1},
      {"instance value 33", 0, true, 33, true, 0, 1},
      {"negative instance value", 0, true, -1, true, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeShellCalls shell;
    shell.folderResult = c.folderResult;
    shell.executeResult = c.executeResult;
    shell.instApp = c.instApp;
    shell.returnsProcess = c.returnsProcess;
    EXPECT_EQ(AppletMessage(shell, kCplDblclk, nullptr), c.result);
    EXPECT_EQ(shell.executed.size(), c.executions);
    if (c.result == 1) EXPECT_TRUE(shell.waited.empty());
    EXPECT_TRUE(shell.open.empty());
  }
}

TEST(CplApplet, StartedWithoutAProcessHandleAnswersZeroWithoutWaiting) {
  FakeShellCalls shell;
  shell.returnsProcess = false;
  EXPECT_EQ(AppletMessage(shell, kCplDblclk, nullptr), 0);
  EXPECT_EQ(shell.executed.size(), 1u);
  EXPECT_TRUE(shell.waited.empty());
  EXPECT_TRUE(shell.closed.empty());
}

TEST(CplApplet, ProgramPathMustFitThePathBufferWhole) {
  const std::size_t suffix = std::wstring(L"\\Orvelcfg.exe").size();
  const std::size_t longestFolder = kPathUnits - 1 - suffix;
  struct Case {
    const char* name;
    std::wstring folder;
    wchar_t fill;
    bool fits;
  };
  const Case cases[] = {
      {"longest folder that fits", std::wstring(longestFolder, L'a'), L'\0', true},
      {"one unit too long", std::wstring(longestFolder + 1, L'a'), L'\0', false},
      {"folder filling the buffer", std::wstring(kPathUnits - 1, L'a'), L'\0', false},
      {"no terminator", L"", L'a', false},
      {"empty folder", L"", L'\0', false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeShellCalls shell;
    shell.folder = c.folder;
    shell.folderFill = c.fill;
    ProgramPath path;
    path.fill(L'x');
    ASSERT_EQ(BuildProgramPath(shell, path), c.fits);
    if (c.fits) {
      const std::wstring built(path.data());
      EXPECT_EQ(built.size(), kPathUnits - 1);
      EXPECT_EQ(built, c.folder + L"\\Orvelcfg.exe");
    } else {
      EXPECT_EQ(path[0], L'\0');
      EXPECT_EQ(AppletMessage(shell, kCplDblclk, nullptr), 1);
      EXPECT_TRUE(shell.executed.empty());
    }
  }
}

}  // namespace
}  // namespace orvel::cpl
