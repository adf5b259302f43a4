// Runs a path once to learn the platform calls it makes, then again once per call with
// that call failing, and hands each run's world, result and failed call to a check.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/doubles/installer_fakes.h"

namespace orvel::installer {

template <class Setup, class Run, class Check>
void FailEachCallInTurn(Setup setup, Run run, Check check) {
  std::size_t count = 0;
  {
    fakes::FakeWorld probe;
    setup(probe);
    probe.plan.calls.clear();
    run(probe);
    count = probe.plan.calls.size();
  }
  ASSERT_GT(count, 0u);
  for (std::size_t i = 0; i < count; ++i) {
    fakes::FakeWorld w;
    setup(w);
    w.plan.calls.clear();
    w.plan.failAt = i;
    const std::uint32_t result = run(w);
    const std::string failed = i < w.plan.calls.size() ? w.plan.calls[i] : std::string();
    SCOPED_TRACE("call " + std::to_string(i) + " " + failed);
    check(w, result, failed);
    EXPECT_EQ(w.OpenHandles(), 0u) << "left open after failing " << failed;
  }
}

}  // namespace orvel::installer
