#include "firewall/admin_group.h"

#include <gtest/gtest.h>

#include "tests/doubles/firewall_fakes.h"

namespace orvel {
namespace {

constexpr std::uint32_t kEnabled = 0x7;    // mandatory, enabled by default, enabled
constexpr std::uint32_t kDenyOnly = 0x10;  // SE_GROUP_USE_FOR_DENY_ONLY

const SecurityId kEveryone{1, 1, {0}};
const SecurityId kUsers{1, 5, {32, 545}};
const SecurityId kDomainAdmins{1, 5, {21, 1, 2, 3, 512}};
const SecurityId kLocalAccount544{1, 5, {21, 1, 2, 3, 544}};  // a RID of 544 is not enough
const SecurityId kWrongAuthority{1, 16, {32, 544}};
const SecurityId kWrongRevision{2, 5, {32, 544}};

TEST(AdministratorsGroup, AnswersFromTheTokenGroups) {
  struct Case {
    const char* what;
    std::optional<std::vector<TokenGroup>> groups;
    bool expected;
  };
  const Case cases[] = {
      {"token unreadable", std::nullopt, false},
      {"no groups", std::vector<TokenGroup>{}, false},
      {"enabled member",
       std::vector<TokenGroup>{{kEveryone, kEnabled}, {AdministratorsSid(), kEnabled}}, true},
      {"filtered token, deny only",
       std::vector<TokenGroup>{{kUsers, kEnabled}, {AdministratorsSid(), kDenyOnly}}, true},
      {"member listed first", std::vector<TokenGroup>{{AdministratorsSid(), 0}, {kUsers, kEnabled}},
       true},
      {"only look-alikes",
       std::vector<TokenGroup>{{kUsers, kEnabled},
                               {kDomainAdmins, kEnabled},
                               {kLocalAccount544, kEnabled},
                               {kWrongAuthority, kEnabled},
                               {kWrongRevision, kEnabled},
                               {SecurityId{1, 5, {32}}, kEnabled},
                               {SecurityId{1, 5, {32, 544, 0}}, kEnabled}},
       false},
  };
  for (const Case& c : cases) {
    fakes::FakeFirewallWorld world;
    fakes::FakeProcessToken token(world);
    token.groups = c.groups;
    EXPECT_EQ(IsUserInAdministratorsGroup(token), c.expected) << c.what;
  }
}

TEST(AdministratorsGroup, FailedReadIsNotMembership) {
  fakes::FakeFirewallWorld world;
  fakes::FakeProcessToken token(world);
  world.failAt = 0;
  EXPECT_FALSE(IsUserInAdministratorsGroup(token));
}

}  // namespace
}  // namespace orvel
