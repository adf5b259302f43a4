#include "firewall/firewall_exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/doubles/firewall_fakes.h"

namespace orvel {
namespace {

using fakes::FakeEntry;
using fakes::FakeFirewallWorld;
using fakes::FakeVersionResource;

const WideString kSystemFolder = u"C:\\WINDOWS\\system32";
const WideString kServerPath = u"C:\\WINDOWS\\system32\\Quorin Network Driver.exe";
const WideString kProductName = u"Quorin Network Driver";
const WideString kEnglishQuery = u"\\StringFileInfo\\040904b0\\ProductName";
const WideString kMoniker = u"Elevation:Administrator!new:{304CE942-6E39-40D8-943A-B913C40C9CD4}";

FakeVersionResource EnglishResource(const WideString& name) {
  FakeVersionResource resource;
  resource.translation = FakeVersionResource::Translations({{0x0409, 0x04B0}});
  resource.strings[kEnglishQuery] = name;
  return resource;
}

OsVersionInfo Nt(std::uint32_t major, std::uint32_t minor) {
  return OsVersionInfo{kVerPlatformWin32Nt, major, minor};
}

// One world, platform and token per case, with the server program installed.
struct Harness {
  FakeFirewallWorld world;
  fakes::FakeFirewallPlatform platform{world};
  fakes::FakeProcessToken token{world};

  Harness() { world.files[kServerPath] = EnglishResource(kProductName); }
  bool Register() { return RegisterFirewallException(platform, token); }
  bool Disable() { return DisableFirewallException(platform, token); }
  bool Called(const std::string& call) const {
    return std::find(world.calls.begin(), world.calls.end(), call) != world.calls.end();
  }
};

// The profile, and with it the apartment, let go before the operation returns.
void ExpectClean(const Harness& h, const std::string& what) {
  EXPECT_EQ(h.world.liveProfiles, 0) << what;
}

TEST(FirewallException, OsVersionDecidesWhetherAndHowTheManagerIsReached) {
  enum class Way { kNothing, kInProcess, kElevation };
  struct Case {
    const char* what;
    std::optional<OsVersionInfo> version;
    Way way;
  };
  const Case cases[] = {
      {"Windows 2000", Nt(5, 0), Way::kNothing},
      {"NT 4.0", Nt(4, 0), Way::kNothing},
      {"Windows 98", OsVersionInfo{1, 4, 10}, Way::kNothing},
      {"non-NT 6.0", OsVersionInfo{1, 6, 0}, Way::kNothing},
      {"NT 5.3 does not exist", Nt(5, 3), Way::kNothing},
      {"XP", Nt(5, 1), Way::kInProcess},
      {"Server 2003", Nt(5, 2), Way::kInProcess},
      {"Vista", Nt(6, 0), Way::kElevation},
      {"Windows 7", Nt(6, 1), Way::kElevation},
      {"Windows 10", Nt(10, 0), Way::kElevation},
      {"version query fails", std::nullopt, Way::kInProcess},
  };
  for (const Case& c : cases) {
    for (bool registering : {true, false}) {
      const std::string what = std::string(c.what) + (registering ? " register" : " disable");
      Harness h;
      h.world.version = c.version;
      if (!registering) {
        h.world.authorized.push_back({kServerPath, kProductName, true});
      }
      const bool result = registering ? h.Register() : h.Disable();
      ExpectClean(h, what);
      EXPECT_EQ(result, c.way != Way::kNothing) << what;
      // An empty moniker: the manager created in-process.
      const std::vector<WideString> opens[] = {{}, {u""}, {kMoniker}};
      EXPECT_EQ(h.world.opens, opens[static_cast<int>(c.way)]) << what;
      if (c.way == Way::kNothing) {
        EXPECT_FALSE(h.Called("GetSystemFolderPath")) << what;
      }
      if (c.way != Way::kNothing) {
        ASSERT_EQ(h.world.authorized.size(), 1u) << what;
        EXPECT_EQ(h.world.authorized[0].path, kServerPath) << what;
        EXPECT_EQ(h.world.authorized[0].enabled, registering) << what;
      } else {
        EXPECT_EQ(h.world.authorized.size(), registering ? 0u : 1u) << what;
      }
    }
  }
}

TEST(FirewallException, RegisterKeepsTheListInLineWithWhatIsThere) {
  struct Case {
    const char* what;
    std::vector<FakeEntry> before;
    int adds;
    std::vector<FakeEntry> after;
  };
  const FakeEntry other{u"C:\\Tools\\other.exe", u"Other", true};
  const Case cases[] = {
      {"no entry: added", {}, 1, {{kServerPath, kProductName, true}}},
      {"enabled entry left alone",
       {{kServerPath, u"Old name", true}},
       0,
       {{kServerPath, u"Old name", true}}},
      {"disabled entry: a new object for the same path",
       {{kServerPath, u"Old name", false}},
       1,
       {{kServerPath, kProductName, true}}},
      {"other programs untouched", {other}, 1, {other, {kServerPath, kProductName, true}}},
  };
  for (const Case& c : cases) {
    Harness h;
    h.world.authorized = c.before;
    EXPECT_TRUE(h.Register()) << c.what;
    ExpectClean(h, c.what);
    EXPECT_EQ(h.world.adds, c.adds) << c.what;
    ASSERT_EQ(h.world.authorized.size(), c.after.size()) << c.what;
    for (std::size_t i = 0; i < c.after.size(); ++i) {
      EXPECT_EQ(h.world.authorized[i].path, c.after[i].path) << c.what;
      EXPECT_EQ(h.world.authorized[i].name, c.after[i].name) << c.what;
      EXPECT_EQ(h.world.authorized[i].enabled, c.after[i].enabled) << c.what;
    }
  }
}

TEST(FirewallException, DisableSwitchesOffButNeverDeletes) {
  struct Case {
    const char* what;
    std::vector<FakeEntry> before;
    std::vector<FakeEntry> after;
    HResult itemFailure = kSOk;  // what Item answers instead of looking
    bool result = true;
  };
  const Case cases[] = {
      {"no entry: nothing changes", {}, {}},
      {"enabled entry switched off",
       {{kServerPath, kProductName, true}},
       {{kServerPath, kProductName, false}}},
      {"disabled entry stays off",
       {{kServerPath, kProductName, false}},
       {{kServerPath, kProductName, false}}},
      // Only "not found" means there is nothing to switch off.
      {"lookup denied: entry stays on, failure",
       {{kServerPath, kProductName, true}},
       {{kServerPath, kProductName, true}},
       static_cast<HResult>(0x80070005),
       false},
      {"lookup out of memory: failure", {}, {}, kEOutOfMemory, false},
      {"lookup not found: success",
       {{kServerPath, kProductName, true}},
       {{kServerPath, kProductName, true}},
       static_cast<HResult>(0x80070002),
       true},
  };
  for (const Case& c : cases) {
    Harness h;
    h.world.authorized = c.before;
    if (c.itemFailure != kSOk) {
      h.world.itemAnswer = c.itemFailure;
    }
    EXPECT_EQ(h.Disable(), c.result) << c.what;
    ExpectClean(h, c.what);
    EXPECT_EQ(h.world.adds, 0) << c.what;
    ASSERT_EQ(h.world.authorized.size(), c.after.size()) << c.what;
    for (std::size_t i = 0; i < c.after.size(); ++i) {
      EXPECT_EQ(h.world.authorized[i].enabled, c.after[i].enabled) << c.what;
    }
  }
}

TEST(FirewallException, DisableDoesNotNeedTheServerProgram) {
  Harness h;
  h.world.files.clear();
  h.world.authorized.push_back({kServerPath, kProductName, true});
  EXPECT_TRUE(h.Disable());
  EXPECT_FALSE(h.world.authorized[0].enabled);
  EXPECT_FALSE(h.Called("GetFileVersionInfoSizeW"));
  ExpectClean(h, "disable without version resource");
}

TEST(FirewallException, ProductNameComesFromTheFirstTranslation) {
  struct Case {
    const char* what;
    std::function<void(FakeVersionResource&)> change;
    bool registered;
    WideString name;
    std::vector<WideString> queries;
  };
  const WideString japaneseQuery = u"\\StringFileInfo\\041104b0\\ProductName";
  const WideString japaneseName = u"\u30af\u30a9\u30ea\u30f3 \u30c9\u30e9\u30a4\u30d0";
  const WideString longName(300, u'x');
  const Case cases[] = {
      {"English", [](FakeVersionResource&) {}, true, kProductName, {kEnglishQuery}},
      {"Japanese first, English second",
       [&](FakeVersionResource& r) {
         r.translation = FakeVersionResource::Translations({{0x0411, 0x04B0}, {0x0409, 0x04B0}});
         r.strings[japaneseQuery] = japaneseName;
       },
       true,
       japaneseName,
       {japaneseQuery}},
      {"only the first translation is tried",
       [&](FakeVersionResource& r) {
         r.translation = FakeVersionResource::Translations({{0x0411, 0x04B0}, {0x0409, 0x04B0}});
       },
       false,
       u"",
       {japaneseQuery}},
      {"no translation table",
       [](FakeVersionResource& r) { r.translation.clear(); },
       false,
       u"",
       {}},
      {"translation table too short for one entry",
       [](FakeVersionResource& r) {
         r.translation = {0x09, 0x04};
       },
       false,
       u"",
       {}},
      {"no ProductName",
       [](FakeVersionResource& r) { r.strings.clear(); },
       false,
       u"",
       {kEnglishQuery}},
      {"empty ProductName fails in the add",
       [](FakeVersionResource& r) { r.strings[kEnglishQuery] = u""; },
       false,
       u"",
       {kEnglishQuery}},
      {"length claimed past the block is bounded",
       [](FakeVersionResource& r) { r.claimedLength = 100000; },
       true,
       kProductName,
       {kEnglishQuery}},
      {"long name is cut to 259 units",
       [&](FakeVersionResource& r) { r.strings[kEnglishQuery] = longName; },
       true,
       longName.substr(0, 259),
       {kEnglishQuery}},
  };
  for (const Case& c : cases) {
    Harness h;
    c.change(h.world.files[kServerPath]);
    EXPECT_EQ(h.Register(), c.registered) << c.what;
    ExpectClean(h, c.what);
    EXPECT_EQ(h.world.stringQueries, c.queries) << c.what;
    if (c.registered) {
      ASSERT_EQ(h.world.authorized.size(), 1u) << c.what;
      EXPECT_EQ(h.world.authorized[0].name, c.name) << c.what;
    } else {
      EXPECT_TRUE(h.world.authorized.empty()) << c.what;
    }
  }
}

TEST(FirewallException, ProfileOutOfReachEndsWithFalse) {
  struct Case {
    const char* what;
    OsVersionInfo version;
    HResult open;
    bool noProfile;
  };
  const Case cases[] = {
      {"elevation refused", Nt(6, 1), static_cast<HResult>(0x800401EA), false},
      {"apartment of another mode", Nt(5, 1), static_cast<HResult>(0x80010106), false},
      {"no profile from the policy", Nt(5, 1), kSOk, true},
  };
  for (const Case& c : cases) {
    for (bool registering : {true, false}) {
      Harness h;
      h.world.version = c.version;
      h.world.openResult = c.open;
      h.world.noProfile = c.noProfile;
      h.world.authorized.push_back({kServerPath, kProductName, false});
      EXPECT_FALSE(registering ? h.Register() : h.Disable()) << c.what;
      EXPECT_EQ(h.world.opens.size(), 1u) << c.what;
      EXPECT_EQ(h.world.calls.back(), "OpenProfile") << c.what;
      EXPECT_FALSE(h.world.authorized[0].enabled) << c.what;
      ExpectClean(h, c.what);
    }
  }
}

TEST(FirewallException, RightsAndSystemFolderComeFirst) {
  struct Case {
    const char* what;
    std::function<void(Harness&)> change;
  };
  const Case cases[] = {
      {"not an administrator",
       [](Harness& h) {
         h.token.groups = std::vector<TokenGroup>{{SecurityId{1, 5, {32, 545}}, 7}};
       }},
      {"token unreadable", [](Harness& h) { h.token.groups = std::nullopt; }},
      {"system folder unavailable",
       [](Harness& h) {
         h.world.failAt = 2;  // GetVersionExA, ReadGroups, GetSystemFolderPath
       }},
      {"path would not fit in 260 units",
       [](Harness& h) {
         h.world.systemFolder = u"C:\\" + WideString(230, u'd');  // 233 + 1 + 25 = 259 fits
         h.world.systemFolder += u"e";                            // 260 does not
       }},
  };
  for (const Case& c : cases) {
    for (bool registering : {true, false}) {
      Harness h;
      h.world.authorized.push_back({kServerPath, kProductName, true});
      c.change(h);
      EXPECT_FALSE(registering ? h.Register() : h.Disable()) << c.what;
      EXPECT_TRUE(h.world.opens.empty()) << c.what;
      EXPECT_TRUE(h.world.authorized[0].enabled) << c.what;
      ExpectClean(h, c.what);
    }
  }
}

TEST(FirewallException, ServerPathAtTheLimit) {
  Harness h;
  h.world.systemFolder = u"C:\\" + WideString(230, u'd');
  WideString path;
  ASSERT_TRUE(GetServerProgramPath(h.platform, &path));
  EXPECT_EQ(path.size(), 259u);
  EXPECT_EQ(path, h.world.systemFolder + u"\\Quorin Network Driver.exe");
}

// Fail each call of a full run in turn: whatever fails, the operation ends with false
// and lets go of the profile.
TEST(FirewallException, EveryFailureEndsWithFalse) {
  struct Scenario {
    const char* what;
    OsVersionInfo version;
    bool registering;
  };
  const Scenario scenarios[] = {
      {"register in-process", Nt(5, 1), true},
      {"register elevated", Nt(6, 1), true},
      {"disable in-process", Nt(5, 2), false},
      {"disable elevated", Nt(10, 0), false},
  };
  // A failing version query falls back to the in-process manager.
  const std::string tolerated = "GetVersionExA";
  for (const Scenario& s : scenarios) {
    std::size_t total = 0;
    std::vector<std::string> names;
    {
      Harness h;
      h.world.version = s.version;
      h.world.authorized.push_back({kServerPath, u"Old", s.registering ? false : true});
      ASSERT_TRUE(s.registering ? h.Register() : h.Disable()) << s.what;
      names = h.world.calls;
      total = names.size();
    }
    ASSERT_GE(total, 6u) << s.what;
    for (std::size_t i = 0; i < total; ++i) {
      const std::string what =
          std::string(s.what) + ": fail " + names[i] + " #" + std::to_string(i);
      Harness h;
      h.world.version = s.version;
      h.world.authorized.push_back({kServerPath, u"Old", s.registering ? false : true});
      h.world.failAt = i;
      const bool result = s.registering ? h.Register() : h.Disable();
      ASSERT_EQ(h.world.calls.size() > i ? h.world.calls[i] : "", names[i]) << what;
      EXPECT_EQ(result, names[i] == tolerated) << what;
      ExpectClean(h, what);
    }
  }
}

TEST(FirewallException, MissingArgumentsGiveMinusOne) {
  Harness h;
  std::unique_ptr<FirewallProfile> profile;
  ASSERT_EQ(GetCurrentFirewallProfile(h.platform, &profile), kSOk);
  ASSERT_TRUE(profile);
  const WideChar* path = kServerPath.c_str();
  bool enabled = true;
  EXPECT_EQ(GetCurrentFirewallProfile(h.platform, nullptr), kMissingArgument);
  EXPECT_EQ(CreateElevatedFirewallManager(h.platform, nullptr), kMissingArgument);
  EXPECT_EQ(IsApplicationEnabled(profile.get(), nullptr, &enabled), kMissingArgument);
  EXPECT_EQ(IsApplicationEnabled(profile.get(), path, nullptr), kMissingArgument);
  EXPECT_EQ(IsApplicationEnabled(nullptr, path, &enabled), kMissingArgument);
  EXPECT_EQ(AddAuthorizedApplication(nullptr, path, u"n"), kMissingArgument);
  EXPECT_EQ(AddAuthorizedApplication(profile.get(), nullptr, u"n"), kMissingArgument);
  EXPECT_EQ(AddAuthorizedApplication(profile.get(), path, nullptr), kMissingArgument);
  EXPECT_EQ(DisableAuthorizedApplication(profile.get(), nullptr), kMissingArgument);
  EXPECT_EQ(DisableAuthorizedApplication(nullptr, path), kMissingArgument);
  EXPECT_EQ(AddAuthorizedApplication(profile.get(), path, u""), kEOutOfMemory);
  EXPECT_EQ(IsApplicationEnabled(profile.get(), path, &enabled), kSOk);
  EXPECT_FALSE(enabled);
  // A failed read of Enabled is passed on and never reads as enabled.
  h.world.authorized.push_back({kServerPath, kProductName, true});
  h.world.failCall = "FindEntry";
  EXPECT_EQ(IsApplicationEnabled(profile.get(), path, &enabled), fakes::kEFail);
  EXPECT_FALSE(enabled);
  EXPECT_EQ(AddAuthorizedApplication(profile.get(), path, u"n"), fakes::kEFail);
  EXPECT_EQ(h.world.adds, 0);
}

TEST(FirewallStrings, BoundedBuilding) {
  WideString out;
  EXPECT_EQ(AppendBounded(&out, 0, u"abc"), kEInvalidArg);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(AppendBounded(&out, 4, u"abc"), kSOk);
  EXPECT_EQ(out, u"abc");
  EXPECT_EQ(AppendBounded(&out, 4, u""), kSOk);
  EXPECT_EQ(AppendBounded(&out, 4, u"d"), kEInsufficientBuffer);
  EXPECT_EQ(out, u"abc");
  WideString cut;
  EXPECT_EQ(AppendBounded(&cut, 3, u"abcdef"), kEInsufficientBuffer);
  EXPECT_EQ(cut, u"ab");

  EXPECT_EQ(GuidToRegistryString(kClsidNetFwMgr), u"{304CE942-6E39-40D8-943A-B913C40C9CD4}");
  EXPECT_EQ(GuidToRegistryString(
                Guid{0xB5E64FFA, 0xC2C5, 0x444E, {0xA3, 0x01, 0xFB, 0x5E, 0x00, 0x01, 0x80, 0x50}}),
            u"{B5E64FFA-C2C5-444E-A301-FB5E00018050}");
  EXPECT_EQ(VersionStringQuery(0x0409, 0x04B0, u"ProductName"), kEnglishQuery);
  EXPECT_EQ(VersionStringQuery(0x0411, 0x04B0, u"ProductName"),
            u"\\StringFileInfo\\041104b0\\ProductName");
  EXPECT_EQ(VersionStringQuery(0xFFFF, 0x0000, u"X"), u"\\StringFileInfo\\ffff0000\\X");
}

}  // namespace
}  // namespace orvel
