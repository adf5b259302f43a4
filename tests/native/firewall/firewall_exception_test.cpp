#include "firewall/firewall_exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "tests/doubles/firewall_fakes.h"

namespace orvel {
namespace {

using fakes::FakeEntry;
using fakes::FakeFirewallWorld;
using fakes::FakeVersionResource;

constexpr FirewallProfileType kDomain = FirewallProfileType::kDomain;
constexpr FirewallProfileType kStandard = FirewallProfileType::kStandard;

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
  // The same list in both profiles.
  void SetLists(const std::vector<FakeEntry>& entries) {
    for (FirewallProfileType type : kExceptionProfiles) world.authorized[Index(type)] = entries;
  }
  static std::size_t Index(FirewallProfileType type) { return FakeFirewallWorld::Index(type); }
};

const char* Name(FirewallProfileType type) { return type == kDomain ? " domain" : " standard"; }

void ExpectList(const std::vector<FakeEntry>& list, const std::vector<FakeEntry>& expected,
                const std::string& what) {
  ASSERT_EQ(list.size(), expected.size()) << what;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list[i].path, expected[i].path) << what;
    EXPECT_EQ(list[i].name, expected[i].name) << what;
    EXPECT_EQ(list[i].enabled, expected[i].enabled) << what;
  }
}

// Both profiles hold the expected list.
void ExpectLists(const Harness& h, const std::vector<FakeEntry>& expected,
                 const std::string& what) {
  for (FirewallProfileType type : kExceptionProfiles) {
    ExpectList(h.world.authorized[Harness::Index(type)], expected, what + Name(type));
  }
}

// The policy and its profiles, and with them the apartment, let go before the
// operation returns.
void ExpectClean(const Harness& h, const std::string& what) {
  EXPECT_EQ(h.world.liveProfiles, 0) << what;
  EXPECT_EQ(h.world.livePolicies, 0) << what;
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
        h.SetLists({{kServerPath, kProductName, true}});
      }
      const bool result = registering ? h.Register() : h.Disable();
      ExpectClean(h, what);
      EXPECT_EQ(result, c.way != Way::kNothing) << what;
      // An empty moniker: the manager created in-process.
      const std::vector<WideString> opens[] = {{}, {u""}, {kMoniker}};
      EXPECT_EQ(h.world.opens, opens[static_cast<int>(c.way)]) << what;
      EXPECT_FALSE(h.Called("IsElevated")) << what;
      if (c.way == Way::kNothing) {
        EXPECT_FALSE(h.Called("GetSystemFolderPath")) << what;
        ExpectLists(h,
                    registering ? std::vector<FakeEntry>{}
                                : std::vector<FakeEntry>{{kServerPath, kProductName, true}},
                    what);
      } else {
        ExpectLists(h, {{kServerPath, kProductName, registering}}, what);
      }
    }
  }
}

// The moniker binds only classes registered for elevation; an elevated process still
// reaches the manager, in-process.
TEST(FirewallException, RefusedMonikerFallsBackInProcessOnlyWhenElevated) {
  const HResult refused = static_cast<HResult>(0x80080017);  // CO_E_ELEVATION_DISABLED
  struct Case {
    const char* what;
    OsVersionInfo version;
    std::optional<bool> elevated;
    HResult elevatedResult;
    HResult inProcessResult;
    std::vector<WideString> opens;
    bool result;
  };
  const Case cases[] = {
      {"refused, elevated: in-process", Nt(10, 0), true, refused, kSOk, {kMoniker, u""}, true},
      {"refused, not elevated", Nt(10, 0), false, refused, kSOk, {kMoniker}, false},
      {"refused, elevation unreadable", Nt(10, 0), std::nullopt, refused, kSOk, {kMoniker}, false},
      {"refused, in-process refused too",
       Nt(10, 0),
       true,
       refused,
       static_cast<HResult>(0x80070005),
       {kMoniker, u""},
       false},
      {"XP, apartment of another mode",
       Nt(5, 1),
       true,
       kSOk,
       static_cast<HResult>(0x80010106),
       {u""},
       false},
  };
  for (const Case& c : cases) {
    for (bool registering : {true, false}) {
      const std::string what = std::string(c.what) + (registering ? " register" : " disable");
      Harness h;
      h.world.version = c.version;
      h.token.elevated = c.elevated;
      h.world.elevatedResult = c.elevatedResult;
      h.world.inProcessResult = c.inProcessResult;
      h.SetLists({{kServerPath, kProductName, !registering}});
      EXPECT_EQ(registering ? h.Register() : h.Disable(), c.result) << what;
      EXPECT_EQ(h.world.opens, c.opens) << what;
      ExpectLists(h, {{kServerPath, kProductName, c.result ? registering : !registering}}, what);
      ExpectClean(h, what);
    }
  }
}

TEST(FirewallException, RegisterKeepsTheListInLineWithWhatIsThere) {
  struct Case {
    const char* what;
    std::vector<FakeEntry> before;
    int adds;  // per profile
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
    h.SetLists(c.before);
    EXPECT_TRUE(h.Register()) << c.what;
    ExpectClean(h, c.what);
    EXPECT_EQ(h.world.adds, 2 * c.adds) << c.what;
    ExpectLists(h, c.after, c.what);
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
    h.SetLists(c.before);
    if (c.itemFailure != kSOk) {
      h.world.itemAnswer = c.itemFailure;
    }
    EXPECT_EQ(h.Disable(), c.result) << c.what;
    ExpectClean(h, c.what);
    EXPECT_EQ(h.world.adds, 0) << c.what;
    ExpectLists(h, c.after, c.what);
  }
}

// Whichever profile cannot be reached or updated, the other one is, and the result
// says that not all were.
TEST(FirewallException, EachProfileIsUpdatedWhenTheOtherFails) {
  for (bool registering : {true, false}) {
    const std::vector<std::string> failures =
        registering
            ? std::vector<std::string>{"GetProfileByType", "no profile", "FindEntry", "AddEntry"}
            : std::vector<std::string>{"GetProfileByType", "no profile", "DisableEntry"};
    for (FirewallProfileType failing : kExceptionProfiles) {
      for (const std::string& failure : failures) {
        const std::string what =
            (registering ? "register, " : "disable, ") + failure + " fails in" + Name(failing);
        Harness h;
        h.SetLists({{kServerPath, u"Old", !registering}});
        h.world.profileFailures[failing] = failure;
        EXPECT_FALSE(registering ? h.Register() : h.Disable()) << what;
        const FirewallProfileType other = failing == kDomain ? kStandard : kDomain;
        ExpectList(h.world.authorized[Harness::Index(failing)],
                   {{kServerPath, u"Old", !registering}}, what + ", failing profile");
        ExpectList(h.world.authorized[Harness::Index(other)],
                   {{kServerPath, registering ? kProductName : u"Old", registering}},
                   what + ", other profile");
        ExpectClean(h, what);
      }
    }
  }
}

TEST(FirewallException, DisableDoesNotNeedTheServerProgram) {
  Harness h;
  h.world.files.clear();
  h.SetLists({{kServerPath, kProductName, true}});
  EXPECT_TRUE(h.Disable());
  ExpectLists(h, {{kServerPath, kProductName, false}}, "disable without version resource");
  EXPECT_FALSE(h.Called("GetFileVersionInfoSizeW"));
  ExpectClean(h, "disable without version resource");
}

// A 32-bit process on 64-bit Windows reaches the native system folder only through
// "Sysnative", or with file-system redirection off, but the firewall matches the path
// the server runs from. A 64-bit process (the installer's actions) finds a server in
// the 32-bit folder as Orvelcfg does.
TEST(FirewallException, ServerPathIsWhereTheProgramRuns) {
  const WideString native = u"C:\\WINDOWS\\System32\\Quorin Network Driver.exe";
  const WideString throughAlias = u"C:\\WINDOWS\\Sysnative\\Quorin Network Driver.exe";
  const WideString wow = u"C:\\WINDOWS\\SysWOW64\\Quorin Network Driver.exe";
  constexpr Redirection kUsual = Redirection::kAsUsual;
  constexpr Redirection kOff = Redirection::kOff;
  struct Case {
    const char* what;
    std::optional<bool> wow64;
    std::vector<WideString> present;  // as this process names them
    WideString path;                  // what the exception names; empty: no path at all
    WideString versionPath;
    Redirection redirection;  // for the firewall calls that take the path
    bool withoutWow64Folder = false;
  };
  const Case cases[] = {
      {"no WOW64", false, {kServerPath}, kServerPath, kServerPath, kUsual},
      {"no WOW64, server missing", false, {}, kServerPath, kServerPath, kUsual},
      {"no WOW64, 32-bit server", false, {wow}, wow, wow, kUsual},
      {"WOW64, 64-bit server", true, {throughAlias}, native, throughAlias, kOff},
      {"WOW64, 32-bit server", true, {wow}, wow, wow, kUsual},
      {"WOW64, both: the native one runs", true, {throughAlias, wow}, native, throughAlias, kOff},
      {"WOW64, server missing", true, {}, wow, wow, kUsual},
      {"WOW64 unknown", std::nullopt, {throughAlias}, u"", u"", kUsual},
      {"WOW64, 32-bit folder unknown", true, {wow}, u"", u"", kUsual, true},
  };
  for (const Case& c : cases) {
    for (bool registering : {true, false}) {
      const std::string what = std::string(c.what) + (registering ? " register" : " disable");
      Harness h;
      h.world.wow64 = c.wow64;
      if (c.withoutWow64Folder) h.world.wow64Folder.reset();
      h.world.files.clear();
      for (const WideString& file : c.present) {
        h.world.files[file] = EnglishResource(file == wow ? u"Server x86" : u"Server x64");
      }
      ServerProgramPath server;
      EXPECT_EQ(GetServerProgramPath(h.platform, &server), !c.path.empty()) << what;
      EXPECT_EQ(server.path, c.path) << what;
      EXPECT_EQ(server.versionPath, c.versionPath) << what;
      EXPECT_EQ(server.redirection, c.redirection) << what;

      // An enabled entry for every place the server could be; only the chosen one
      // is registered or switched off.
      std::vector<FakeEntry> before;
      for (const WideString& path : {kServerPath, native, wow}) {
        before.push_back({path, u"Old", !registering});
      }
      h.SetLists(before);
      const bool known = h.world.files.count(c.versionPath) != 0;
      EXPECT_EQ(registering ? h.Register() : h.Disable(),
                !c.path.empty() && (known || !registering))
          << what;
      std::vector<FakeEntry> after = before;
      for (FakeEntry& entry : after) {
        if (entry.path == c.path && (known || !registering)) {
          entry.enabled = registering;
          if (registering) entry.name = c.path == wow ? u"Server x86" : u"Server x64";
        }
      }
      ExpectLists(h, after, what);
      ExpectClean(h, what);
      // Every firewall call that took the path, and only those, with redirection as
      // the path needs it.
      const bool reached = !c.path.empty() && (known || !registering);
      EXPECT_EQ(h.world.redirections.empty(), !reached) << what;
      for (Redirection redirection : h.world.redirections) {
        EXPECT_EQ(redirection, c.redirection) << what;
      }
    }
  }
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
    ExpectLists(h,
                c.registered ? std::vector<FakeEntry>{{kServerPath, c.name, true}}
                             : std::vector<FakeEntry>{},
                c.what);
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
      {"WOW64 unknown", [](Harness& h) { h.world.wow64.reset(); }},
      {"system folder unavailable", [](Harness& h) { h.world.failCall = "GetSystemFolderPath"; }},
      {"path would not fit in 260 units",
       [](Harness& h) {
         h.world.systemFolder = u"C:\\" + WideString(230, u'd');  // 233 + 1 + 25 = 259 fits
         h.world.systemFolder += u"e";                            // 260 does not
       }},
  };
  for (const Case& c : cases) {
    for (bool registering : {true, false}) {
      Harness h;
      h.SetLists({{kServerPath, kProductName, true}});
      c.change(h);
      EXPECT_FALSE(registering ? h.Register() : h.Disable()) << c.what;
      EXPECT_TRUE(h.world.opens.empty()) << c.what;
      ExpectLists(h, {{kServerPath, kProductName, true}}, c.what);
      ExpectClean(h, c.what);
    }
  }
}

TEST(FirewallException, ServerPathAtTheLimit) {
  Harness h;
  h.world.systemFolder = u"C:\\" + WideString(230, u'd');
  ServerProgramPath server;
  ASSERT_TRUE(GetServerProgramPath(h.platform, &server));
  EXPECT_EQ(server.path.size(), 259u);
  EXPECT_EQ(server.path, h.world.systemFolder + u"\\Quorin Network Driver.exe");
  EXPECT_EQ(server.versionPath, server.path);
}

// Fail each call of a full run in turn: whatever fails, the operation ends with false
// and lets go of the policy and its profiles, unless the call only decides a way that
// also works.
TEST(FirewallException, EveryFailureEndsWithFalse) {
  struct Scenario {
    const char* what;
    OsVersionInfo version;
    bool registering;
    bool wow64 = false;
    bool monikerRefused = false;
    std::set<std::string> tolerated = {};
  };
  // A failing version query falls back to the in-process manager, and so does a
  // failing moniker for the elevated token of the harness. Without the native folder's
  // answer the 32-bit folder is taken, where disable finds nothing to switch off.
  // A 64-bit process that does not find the server in the system folder looks in the
  // 32-bit one, and without it there keeps to the system folder.
  const std::set<std::string> inProcess = {"GetVersionExA", "FileExists"};
  const std::set<std::string> moniker = {"GetVersionExA", "OpenPolicyElevated", "FileExists"};
  const std::set<std::string> wow64Moniker = {"GetVersionExA", "OpenPolicyElevated"};
  const std::set<std::string> nativeLookup = {"GetVersionExA", "OpenPolicyElevated",
                                              "GetSystemWindowsDirectory", "FileExists"};
  const Scenario scenarios[] = {
      {"register in-process", Nt(5, 1), true, false, false, inProcess},
      {"register elevated", Nt(6, 1), true, false, false, moniker},
      {"disable in-process", Nt(5, 2), false, false, false, inProcess},
      {"disable elevated", Nt(10, 0), false, false, false, moniker},
      {"register 64-bit server under WOW64", Nt(10, 0), true, true, false, wow64Moniker},
      {"disable 64-bit server under WOW64", Nt(10, 0), false, true, false, nativeLookup},
      {"register, moniker refused", Nt(10, 0), true, false, true, moniker},
      {"disable, moniker refused", Nt(10, 0), false, false, true, moniker},
  };
  const WideString throughAlias = u"C:\\WINDOWS\\Sysnative\\Quorin Network Driver.exe";
  const WideString native = u"C:\\WINDOWS\\System32\\Quorin Network Driver.exe";
  auto prepare = [&](Harness& h, const Scenario& s) {
    h.world.version = s.version;
    h.world.wow64 = s.wow64;
    if (s.wow64) h.world.files[throughAlias] = EnglishResource(kProductName);
    if (s.monikerRefused) h.world.elevatedResult = static_cast<HResult>(0x800401EA);
    h.SetLists({{s.wow64 ? native : kServerPath, u"Old", !s.registering}});
  };
  for (const Scenario& s : scenarios) {
    std::size_t total = 0;
    std::vector<std::string> names;
    {
      Harness h;
      prepare(h, s);
      ASSERT_TRUE(s.registering ? h.Register() : h.Disable()) << s.what;
      names = h.world.calls;
      total = names.size();
    }
    ASSERT_GE(total, 8u) << s.what;
    for (std::size_t i = 0; i < total; ++i) {
      const std::string what =
          std::string(s.what) + ": fail " + names[i] + " #" + std::to_string(i);
      Harness h;
      prepare(h, s);
      h.world.failAt = i;
      const bool result = s.registering ? h.Register() : h.Disable();
      ASSERT_EQ(h.world.calls.size() > i ? h.world.calls[i] : "", names[i]) << what;
      EXPECT_EQ(result, s.tolerated.count(names[i]) != 0) << what;
      ExpectClean(h, what);
    }
  }
}

TEST(FirewallException, MissingArgumentsGiveMinusOne) {
  Harness h;
  std::unique_ptr<FirewallPolicy> policy;
  ASSERT_EQ(GetFirewallPolicy(h.platform, h.token, &policy), kSOk);
  ASSERT_TRUE(policy);
  std::unique_ptr<FirewallProfile> profile;
  ASSERT_EQ(policy->GetProfileByType(kStandard, &profile), kSOk);
  ASSERT_TRUE(profile);
  const WideChar* path = kServerPath.c_str();
  bool enabled = true;
  EXPECT_EQ(GetFirewallPolicy(h.platform, h.token, nullptr), kMissingArgument);
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
  h.world.authorized[Harness::Index(kStandard)].push_back({kServerPath, kProductName, true});
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
