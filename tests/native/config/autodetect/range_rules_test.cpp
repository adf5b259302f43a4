#include "config/autodetect/range_rules.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/doubles/autodetect_range_view.h"

namespace orvel::autodetect {
namespace {

using testing::FakeRangeFields;
using F = RangeField;

constexpr std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

class RangeFixture {
 public:
  RangeFixture() { fields.Attach(rules); }

  void Fill(std::uint32_t start, std::int32_t stop) {
    rules.FillRangeFields(start, stop);
    fields.TabTo(F::kStart1);  // the dialog puts the focus into the first field
  }
  void TypeInto(F field, const std::string& keys) {
    fields.TabTo(field);
    fields.TypeText(keys);
  }
  std::array<std::string, 5> Texts() {
    return {fields.FieldText(F::kStart1), fields.FieldText(F::kStart2),
            fields.FieldText(F::kStart3), fields.FieldText(F::kStart4), fields.FieldText(F::kStop)};
  }
  // What must hold after every rule: the packed start equals the four fields, the
  // mirrors show the first three, and each value is in range.
  void ExpectConsistent() {
    std::uint32_t packed = 0;
    for (int i = 0; i < 4; ++i) {
      EXPECT_GE(rules.octet(i), 0);
      EXPECT_LE(rules.octet(i), i == 0 ? 223 : 255);
      packed = packed << 8 | static_cast<std::uint32_t>(rules.octet(i));
    }
    EXPECT_EQ(rules.rangeStart(), packed);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(fields.mirrors[static_cast<std::size_t>(i)], fields.FieldText(static_cast<F>(i)));
    EXPECT_GE(rules.scanStopOctet(), 0);
    EXPECT_LE(rules.scanStopOctet(), 255);
  }

  FakeRangeFields fields;
  RangeRules rules{fields};
};

TEST(RangeFill, ZeroStartAndStopGiveTheFirstHostOfBlockOne) {
  RangeFixture f;
  f.Fill(0, 0);
  EXPECT_EQ(f.Texts(), (std::array<std::string, 5>{"1", "0", "0", "1", "1"}));
  EXPECT_EQ(f.rules.rangeStart(), Ip(1, 0, 0, 1));
  EXPECT_EQ(f.rules.scanStopOctet(), 1);
  f.ExpectConsistent();
  // The host fix ran inside the first field's rule, which ran inside the write.
  EXPECT_GE(f.fields.maxDepth, 3);
}

TEST(RangeFill, StoredValuesAndOutOfRangeStops) {
  struct Case {
    std::uint32_t start;
    std::int32_t stop;
    std::array<std::string, 5> texts;
    std::uint32_t rangeStart;
    std::int32_t stopOctet;
  };
  const std::vector<Case> cases = {
      {Ip(192, 168, 0, 2), 2, {"192", "168", "0", "2", "2"}, Ip(192, 168, 0, 2), 2},
      {Ip(10, 1, 2, 3), 200, {"10", "1", "2", "3", "200"}, Ip(10, 1, 2, 3), 200},
      // The stop never stays below the fourth octet after a fill.
      {Ip(192, 168, 0, 20), 10, {"192", "168", "0", "20", "20"}, Ip(192, 168, 0, 20), 20},
      // A first octet above 223 (the file held -1) is held at 223; 255 in the
      // fourth octet of class C becomes 254.
      {0xFFFFFFFFu, 255, {"223", "255", "255", "254", "255"}, Ip(223, 255, 255, 254), 255},
      // Stops outside 0..255 from a setup file stay inside the block.
      {Ip(192, 168, 0, 2), -5, {"192", "168", "0", "2", "2"}, Ip(192, 168, 0, 2), 2},
      {Ip(192, 168, 0, 2), 100000, {"192", "168", "0", "2", "255"}, Ip(192, 168, 0, 2), 255},
      {Ip(10, 1, 2, 0), INT32_MIN, {"10", "1", "2", "0", "0"}, Ip(10, 1, 2, 0), 0},
      // The third field's rule sees the file's 300, not 255, and keeps its 255.
      {Ip(150, 1, 255, 20), 300, {"150", "1", "255", "20", "255"}, Ip(150, 1, 255, 20), 255},
      {Ip(200, 1, 2, 0), 0, {"200", "1", "2", "1", "1"}, Ip(200, 1, 2, 1), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + " stop " + std::to_string(c.stop));
    RangeFixture f;
    f.Fill(c.start, c.stop);
    EXPECT_EQ(f.Texts(), c.texts);
    EXPECT_EQ(f.rules.rangeStart(), c.rangeStart);
    EXPECT_EQ(f.rules.scanStopOctet(), c.stopOctet);
    f.ExpectConsistent();
  }
}

struct Step {
  F field;
  std::string keys;
};

struct TypingCase {
  const char* name;
  std::uint32_t start;
  std::int32_t stop;
  std::vector<Step> steps;
  std::array<std::string, 5> texts;
};

// Every cell of the class adjustment table, with a neighbour that must not adjust.
// States the typing rules never let the user reach are made by a fill, whose writes
// run the same typing rules.
TEST(RangeTyping, ClassAdjustments) {
  const std::vector<TypingCase> cases = {
      // First field.
      {"A 127, o2 o3 zero",
       Ip(10, 0, 0, 5),
       20,
       {{F::kStart1, "127"}},
       {"126", "0", "0", "5", "20"}},
      {"A 127, o3 set", Ip(10, 0, 7, 5), 20, {{F::kStart1, "127"}}, {"127", "0", "7", "5", "20"}},
      {"A other, host zero", Ip(10, 0, 0, 0), 0, {}, {"10", "0", "0", "1", "1"}},
      {"B, o3 o4 zero",
       Ip(10, 5, 7, 9),
       9,
       {{F::kStart4, "0"}, {F::kStart3, "0"}, {F::kStart1, "150"}},
       {"150", "5", "0", "1", "9"}},
      {"C, o4 zero, stop zero",
       Ip(150, 5, 7, 9),
       9,
       {{F::kStart4, "0"}, {F::kStop, "0"}, {F::kStart1, "200"}},
       {"200", "5", "7", "1", "1"}},
      {"C, o4 set", Ip(10, 5, 7, 9), 9, {{F::kStart1, "200"}}, {"200", "5", "7", "9", "9"}},
      // Second field.
      {"A 127 second", Ip(127, 5, 0, 9), 9, {{F::kStart2, "0"}}, {"127", "1", "0", "9", "9"}},
      {"A other second zero",
       Ip(10, 5, 0, 9),
       9,
       {{F::kStart4, "0"}, {F::kStart2, "0"}},
       {"10", "1", "0", "0", "9"}},
      {"A other second ones",
       Ip(10, 5, 255, 255),
       255,
       {{F::kStart2, "255"}},
       {"10", "254", "255", "255", "255"}},
      {"B second none", Ip(150, 5, 7, 9), 9, {{F::kStart2, "0"}}, {"150", "0", "7", "9", "9"}},
      {"C second none",
       Ip(200, 5, 255, 254),
       255,
       {{F::kStart2, "255"}},
       {"200", "255", "255", "254", "255"}},
      // Third field.
      {"A 127 third", Ip(127, 0, 5, 9), 9, {{F::kStart3, "0"}}, {"127", "0", "1", "9", "9"}},
      {"A other third zero", Ip(10, 0, 5, 0), 5, {{F::kStart3, "0"}}, {"10", "0", "1", "0", "5"}},
      {"A other third ones",
       Ip(10, 255, 5, 255),
       255,
       {{F::kStart3, "255"}},
       {"10", "255", "254", "255", "255"}},
      {"B third zero", Ip(150, 5, 7, 0), 5, {{F::kStart3, "0"}}, {"150", "5", "1", "0", "5"}},
      {"B third ones, stop 255",
       Ip(150, 5, 7, 20),
       255,
       {{F::kStart3, "255"}},
       {"150", "5", "254", "20", "255"}},
      {"B third 255 otherwise",
       Ip(150, 5, 7, 20),
       200,
       {{F::kStart3, "255"}},
       {"150", "5", "255", "20", "200"}},
      {"C third none", Ip(200, 5, 7, 9), 9, {{F::kStart3, "0"}}, {"200", "5", "0", "9", "9"}},
      // Fourth field.
      {"A 127 fourth ones",
       Ip(127, 255, 255, 9),
       255,
       {{F::kStart4, "255"}},
       {"127", "255", "255", "254", "254"}},
      {"A other fourth zero",
       Ip(10, 0, 0, 5),
       20,
       {{F::kStart4, "0"}},
       {"10", "0", "0", "1", "20"}},
      {"A other fourth ones, stop raised",
       Ip(10, 255, 255, 9),
       100,
       {{F::kStart4, "255"}},
       {"10", "255", "255", "254", "254"}},
      {"A other fourth ones, stop 255",
       Ip(10, 255, 255, 9),
       255,
       {{F::kStart4, "255"}},
       {"10", "255", "255", "254", "254"}},
      {"A other fourth zero allowed",
       Ip(10, 5, 0, 9),
       9,
       {{F::kStart4, "0"}},
       {"10", "5", "0", "0", "9"}},
      {"B fourth zero", Ip(150, 5, 0, 9), 9, {{F::kStart4, "0"}}, {"150", "5", "0", "1", "9"}},
      {"B fourth zero allowed",
       Ip(150, 5, 7, 9),
       9,
       {{F::kStart4, "0"}},
       {"150", "5", "7", "0", "9"}},
      {"C fourth zero", Ip(192, 168, 0, 2), 2, {{F::kStart4, "0"}}, {"192", "168", "0", "1", "2"}},
      {"C fourth ones",
       Ip(192, 168, 0, 2),
       2,
       {{F::kStart4, "255"}},
       {"192", "168", "0", "254", "254"}},
      {"fourth raises the stop",
       Ip(192, 168, 0, 2),
       20,
       {{F::kStart4, "50"}},
       {"192", "168", "0", "50", "50"}},
      {"the stop field does not compare",
       Ip(192, 168, 0, 50),
       60,
       {{F::kStop, "20"}},
       {"192", "168", "0", "50", "20"}},
      // Limits and filters.
      {"300 in the second field",
       Ip(192, 168, 0, 2),
       2,
       {{F::kStart2, "300"}},
       {"192", "255", "0", "2", "2"}},
      {"224 in the first field",
       Ip(192, 168, 0, 2),
       2,
       {{F::kStart1, "224"}},
       {"223", "168", "0", "2", "2"}},
      {"999 in the stop field",
       Ip(192, 168, 0, 2),
       2,
       {{F::kStop, "999"}},
       {"192", "168", "0", "2", "255"}},
      {"letter after 19",
       Ip(192, 168, 0, 2),
       2,
       {{F::kStart1, "19x"}},
       {"19", "168", "0", "2", "2"}},
      {"letter in the fourth field",
       Ip(192, 168, 0, 2),
       2,
       {{F::kStart4, "7-"}},
       {"192", "168", "0", "7", "7"}},
  };
  for (const TypingCase& c : cases) {
    SCOPED_TRACE(c.name);
    RangeFixture f;
    f.Fill(c.start, c.stop);
    for (const Step& step : c.steps) f.TypeInto(step.field, step.keys);
    EXPECT_EQ(f.Texts(), c.texts);
    f.ExpectConsistent();
    // The rules settle: running the last rule again changes no text.
    if (!c.steps.empty()) {
      const auto before = f.Texts();
      f.rules.OnTextChanged(c.steps.back().field);
      EXPECT_EQ(f.Texts(), before);
    }
  }
}

TEST(RangeTyping, CaretAndFocusMoves) {
  RangeFixture f;
  f.Fill(Ip(192, 168, 0, 2), 2);

  // A letter after "19" is removed and the caret stays at the end.
  f.TypeInto(F::kStart1, "19");
  f.fields.Type('q');
  EXPECT_EQ(f.fields.FieldText(F::kStart1), "19");
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart1));
  EXPECT_EQ(f.fields.edit(F::kStart1).selStart, 2);
  EXPECT_EQ(f.fields.edit(F::kStart1).selEnd, 2);

  // Three digits move on with the next field's text selected.
  f.fields.Type('2');
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart2));
  EXPECT_EQ(f.fields.Selected(F::kStart2), "168");
  EXPECT_EQ(f.fields.mirrors[0], "192");

  // Pasting 192.168 into the empty first field keeps 192, drops 168, moves on.
  f.fields.TabTo(F::kStart2);
  f.fields.TypeText("77");
  f.fields.TabTo(F::kStart1);
  f.fields.Type('\b');
  f.fields.Paste("192.168");
  EXPECT_EQ(f.fields.FieldText(F::kStart1), "192");
  EXPECT_EQ(f.rules.octet(0), 192);
  EXPECT_EQ(f.fields.FieldText(F::kStart2), "77");
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart2));

  // "." over the selected second field, reached by Tab, puts its octet back and moves on.
  f.fields.TabTo(F::kStart2);
  f.fields.Type('.');
  EXPECT_EQ(f.fields.FieldText(F::kStart2), "77");
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart3));

  // Emptied first, the field holds 0, which is what "." then restores.
  f.fields.TabTo(F::kStart2);
  f.fields.Type('\b');
  f.fields.Type('.');
  EXPECT_EQ(f.fields.FieldText(F::kStart2), "0");
  EXPECT_EQ(f.rules.rangeStart() >> 16 & 0xFF, 0u);
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart3));

  // The fourth field and the stop field only keep the caret at the end.
  f.TypeInto(F::kStart4, "123");
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart4));
  EXPECT_EQ(f.fields.edit(F::kStart4).selStart, 3);
  f.ExpectConsistent();
}

TEST(RangeLeave, StartAndStopFields) {
  struct Case {
    const char* name;
    std::uint32_t start;
    std::int32_t stop;
    F field;
    std::string keys;  // typed into `field` after selecting it, before leaving it
    std::array<std::string, 5> texts;
  };
  const std::vector<Case> cases = {
      {"empty first field", Ip(192, 168, 0, 2), 2, F::kStart1, "\b", {"1", "168", "0", "2", "2"}},
      {"empty second field", Ip(192, 168, 0, 2), 2, F::kStart2, "\b", {"192", "0", "0", "2", "2"}},
      {"empty fourth field",
       Ip(150, 168, 7, 2),
       2,
       F::kStart4,
       "\b",
       {"150", "168", "7", "0", "2"}},
      {"05 stays as typed",
       Ip(192, 168, 0, 2),
       2,
       F::kStart3,
       "05",
       {"192", "168", "05", "2", "2"}},
      {"empty stop copies the fourth",
       Ip(192, 168, 0, 5),
       9,
       F::kStop,
       "\b",
       {"192", "168", "0", "5", "5"}},
      {"stop below the fourth is raised",
       Ip(192, 168, 0, 50),
       60,
       F::kStop,
       "20",
       {"192", "168", "0", "50", "50"}},
      {"band 0-126, o2 o3 t 255",
       Ip(126, 255, 255, 9),
       255,
       F::kStop,
       "255",
       {"126", "255", "255", "9", "254"}},
      {"band 0-126, o3 not 255",
       Ip(126, 255, 17, 9),
       255,
       F::kStop,
       "255",
       {"126", "255", "17", "9", "255"}},
      {"band 127-190 takes 127",
       Ip(127, 5, 255, 9),
       255,
       F::kStop,
       "255",
       {"127", "5", "255", "9", "254"}},
      {"band 127-190, 190",
       Ip(190, 5, 255, 9),
       100,
       F::kStop,
       "255",
       {"190", "5", "255", "9", "254"}},
      {"band 127-190, o3 not 255",
       Ip(150, 5, 7, 9),
       255,
       F::kStop,
       "255",
       {"150", "5", "7", "9", "255"}},
      {"band 191-223 takes 191",
       Ip(191, 5, 7, 9),
       255,
       F::kStop,
       "255",
       {"191", "5", "7", "9", "254"}},
      {"band 191-223 raises first",
       Ip(200, 5, 7, 50),
       60,
       F::kStop,
       "20",
       {"200", "5", "7", "50", "50"}},
      {"band 191-223 keeps 200",
       Ip(200, 5, 7, 50),
       60,
       F::kStop,
       "200",
       {"200", "5", "7", "50", "200"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RangeFixture f;
    f.Fill(c.start, c.stop);
    f.TypeInto(c.field, c.keys);
    f.fields.FocusElsewhere();
    EXPECT_EQ(f.Texts(), c.texts);
    f.ExpectConsistent();
    // Leaving clears the selection.
    EXPECT_EQ(f.fields.Selected(c.field), "");
  }
}

TEST(RangeLeave, EmptiedFirstFieldMakesTheFirstOctetOne) {
  RangeFixture f;
  f.Fill(Ip(192, 168, 0, 2), 2);
  f.TypeInto(F::kStart1, "\b");
  EXPECT_EQ(f.rules.rangeStart() >> 24, 0u);
  f.fields.Click(F::kStart3);
  EXPECT_EQ(f.fields.FieldText(F::kStart1), "1");
  EXPECT_EQ(f.rules.rangeStart() >> 24, 1u);
  f.ExpectConsistent();
}

// Typing an address the way everybody types one, dots included, into the first field.
TEST(RangeTyping, AddressesWithTheirDots) {
  struct Case {
    std::string keys;
    std::uint32_t address;
    std::array<std::string, 4> texts;
  };
  const std::vector<Case> cases = {
      {"192.168.0.10", Ip(192, 168, 0, 10), {"192", "168", "0", "10"}},
      {"10.0.0.25", Ip(10, 0, 0, 25), {"10", "0", "0", "25"}},
      {"172.16.254.1", Ip(172, 16, 254, 1), {"172", "16", "254", "1"}},
      {"1.2.3.4", Ip(1, 2, 3, 4), {"1", "2", "3", "4"}},
  };
  RangeFixture sequential;
  sequential.Fill(Ip(192, 168, 0, 2), 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    RangeFixture fresh;
    fresh.Fill(Ip(192, 168, 0, 2), 2);
    for (RangeFixture* f : {&fresh, &sequential}) {
      f->fields.TabTo(F::kStart1);
      f->fields.TypeText(c.keys);
      EXPECT_EQ(f->rules.rangeStart(), c.address);
      const auto texts = f->Texts();
      EXPECT_EQ((std::array<std::string, 4>{texts[0], texts[1], texts[2], texts[3]}), c.texts);
      f->ExpectConsistent();
    }
  }
}

TEST(RangeTyping, DotAfterAnAutomaticMove) {
  struct Case {
    const char* name;
    // What happens between "192" moving the focus on and the ".".
    void (*between)(FakeRangeFields&);
    bool swallowed;
  };
  const std::vector<Case> cases = {
      {"right after the move", [](FakeRangeFields&) {}, true},
      {"after an arrow key", [](FakeRangeFields& v) { v.PressArrowKey(); }, false},
      {"after a click into it", [](FakeRangeFields& v) { v.Click(F::kStart2); }, false},
      {"after Tab away and back",
       [](FakeRangeFields& v) {
         v.TabTo(F::kStart3);
         v.TabTo(F::kStart2);
       },
       false},
      {"after the focus left the fields",
       [](FakeRangeFields& v) {
         v.FocusElsewhere();
         v.TabTo(F::kStart2);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RangeFixture f;
    f.Fill(Ip(192, 168, 0, 2), 2);
    f.fields.TypeText("192");
    ASSERT_EQ(f.fields.focus, static_cast<int>(F::kStart2));
    c.between(f.fields);
    const std::uint32_t before = f.rules.rangeStart();
    const int writes = f.fields.writes;
    f.fields.Type('.');
    EXPECT_EQ(f.fields.FieldText(F::kStart2), "168");
    EXPECT_EQ(f.rules.rangeStart(), before);
    if (c.swallowed) {
      EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart2));
      EXPECT_EQ(f.fields.Selected(F::kStart2), "168");
      EXPECT_EQ(f.fields.writes, writes);
      // Only the first key: a second "." acts as always.
      f.fields.Type('.');
    }
    // A "." over the selected text puts the octet back and moves on.
    EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart3));
    EXPECT_EQ(f.fields.FieldText(F::kStart2), "168");
    f.ExpectConsistent();
  }
}

TEST(RangeTyping, OnlyThreeDigitMovesMakeTheDotSwallowable) {
  RangeFixture f;
  f.Fill(Ip(192, 168, 0, 2), 2);
  // A dot move: the "." that follows still restores and moves on.
  f.fields.TypeText("10.");
  ASSERT_EQ(f.fields.focus, static_cast<int>(F::kStart2));
  EXPECT_FALSE(f.rules.autoMovedTo());
  f.fields.Type('.');
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart3));

  // A digit ends the state; a later "." after one digit moves on as before.
  f.fields.TabTo(F::kStart1);
  f.fields.TypeText("172");
  EXPECT_EQ(f.rules.autoMovedTo(), F::kStart2);
  f.fields.Type('1');
  EXPECT_FALSE(f.rules.autoMovedTo());
  f.fields.Type('.');
  EXPECT_EQ(f.fields.FieldText(F::kStart2), "1");
  EXPECT_EQ(f.fields.focus, static_cast<int>(F::kStart3));

  // The fourth field swallows it too, keeping its text.
  f.fields.TypeText("254");
  ASSERT_EQ(f.fields.focus, static_cast<int>(F::kStart4));
  const std::string fourth = f.fields.FieldText(F::kStart4);
  f.fields.Type('.');
  EXPECT_EQ(f.fields.FieldText(F::kStart4), fourth);
  EXPECT_EQ(f.fields.Selected(F::kStart4), fourth);

  // A fill never leaves the state behind.
  f.rules.FillRangeFields(Ip(192, 168, 0, 2), 2);
  EXPECT_FALSE(f.rules.autoMovedTo());
}

}  // namespace
}  // namespace orvel::autodetect
