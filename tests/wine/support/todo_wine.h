// A check whose Windows result Wine does not give, marked the way Wine's own tests mark
// one (todo_wine): on Windows it counts like any other; under Wine its failure is only
// reported, and its success fails the test, so that a Wine that has caught up is noticed.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace orvel::test {

inline bool OnWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline void TodoWine(bool held, const char* check, const char* file, int line) {
  if (!OnWine()) {
    if (!held) ADD_FAILURE_AT(file, line) << check;
  } else if (held) {
    ADD_FAILURE_AT(file, line) << "todo_wine succeeded under Wine: " << check;
  } else {
    std::printf("%s:%d: todo_wine: %s\n", file, line, check);
  }
}

}  // namespace orvel::test

#define TODO_WINE_EXPECT_TRUE(condition) \
  ::orvel::test::TodoWine(static_cast<bool>(condition), #condition, __FILE__, __LINE__)
