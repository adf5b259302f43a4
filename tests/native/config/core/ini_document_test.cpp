#include "config/core/ini_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvel {
namespace {

using namespace std::string_literals;

const Latin1Codec kCodec;

TEST(IniDocumentRead, StringValuesAsTheProfileFunctionsReadThem) {
  struct Case {
    const char* what;
    std::string file, section, key, defaultValue, expected;
  };
  const std::string x4094(4094, 'x'), x4095(4095, 'x'), x4096(4096, 'x');
  const Case cases[] = {
      {"plain", "[A]\r\nk=1\r\n", "A", "k", "d", "1"},
      {"names without case", "[Sec]\r\nKey=v\r\n", "sEC", "kEY", "d", "v"},
      {"blanks around everything", "  [ A ]  \r\n \t k \x0b = \x1a v v \t\r\n", " A ", "\tk ", "d",
       "v v"},
      {"missing key", "[A]\r\nk=1\r\n", "A", "j", "def", "def"},
      {"missing section", "[A]\r\nk=1\r\n", "B", "k", "def", "def"},
      {"no file content", "", "A", "k", "def", "def"},
      {"key without '='", "[A]\r\nk\r\n", "A", "k", "d", "d"},
      {"empty value is not missing", "[A]\r\nk=\r\n", "A", "k", "d", ""},
      {"first '=' splits", "[A]\r\nk = a = b\r\n", "A", "k", "d", "a = b"},
      {"double quotes", "[A]\r\nk=\" q v \"\r\n", "A", "k", "d", " q v "},
      {"single quotes", "[A]\r\nk='x'\r\n", "A", "k", "d", "x"},
      {"unmatched quotes", "[A]\r\nk=\"x'\r\n", "A", "k", "d", "\"x'"},
      {"a lone quote", "[A]\r\nk=\"\r\n", "A", "k", "d", "\""},
      {"empty quotes", "[A]\r\nk=\"\"\r\n", "A", "k", "d", ""},
      {"inner quotes stay", "[A]\r\nk=a\"b\"\r\n", "A", "k", "d", "a\"b\""},
      {"first of duplicate keys", "[A]\r\nk=1\r\nK=2\r\n", "A", "k", "d", "1"},
      {"only the first duplicate section", "[A]\r\nk=1\r\n[a]\r\nj=2\r\n", "A", "j", "d", "d"},
      {"comment lines are keys", "[A]\r\n;c=5\r\n", "A", ";c", "d", "5"},
      {"LF lines", "[A]\nk=1\nj=2\n", "A", "j", "d", "2"},
      {"CR lines", "[A]\rk=1\rj=2", "A", "j", "d", "2"},
      {"mixed and blank lines", "\n\r\n[A]\r\r\n\n k=1 \n\n\nj=2", "A", "j", "d", "2"},
      {"no final line break", "[A]\r\nk=last", "A", "k", "d", "last"},
      {"keys before any header", "k=top\r\n[A]\r\n", "", "k", "d", "top"},
      {"[] after content is a second nameless section", "x=1\r\n[]\r\nk=2\r\n", "", "k", "d", "d"},
      {"'[' without ']' is a key", "[abc\r\n[A]\r\n", "", "[abc", "d", "d"},
      {"text after ']' is ignored", "[A] junk\r\nk=1\r\n", "A", "k", "d", "1"},
      {"the last ']' closes", "[A]x]\r\nk=1\r\n", "A]x", "k", "d", "1"},
      {"NUL ends a value", "[A]\r\nk=ab\0cd\r\n"s, "A", "k", "d", "ab"},
      {"NUL ends a name", "[A]\r\nk\0x=1\r\n"s, "A", "k", "d", "1"},
      {"second empty name skipped", "[A]\r\n=1\r\n=2\r\n", "A", "", "d", "1"},
      {"case folds ASCII letters only", "[\xC9T\xC9]\r\nk=1\r\n", "\xE9t\xE9", "K", "d", "d"},
      {"Latin-1 letters match themselves", "[\xC9T\xC9]\r\nk=1\r\n", "\xC9t\xC9", "K", "d", "1"},
      {"default loses trailing spaces", "", "A", "k", "d  ", "d"},
      {"default keeps one character", "", "A", "k", "   ", " "},
      {"default loses its quotes", "", "A", "k", "\"q \"", "q "},
      {"default ends at NUL", "", "A", "k", "ab\0c"s, "ab"},
      {"long value cut at 4095", "[A]\r\nk=" + x4096 + "yz\r\n", "A", "k", "d", x4095},
      {"quoted 4095 loses its closing quote", "[A]\r\nk=\"" + x4094 + "\"\r\n", "A", "k", "d",
       x4094},
      {"quoted 4095 that fills the buffer", "[A]\r\nk=\"" + x4095 + "\"\r\n", "A", "k", "d", x4094},
      {"quoted and longer than the buffer", "[A]\r\nk=\"" + x4096 + "\"\r\n", "A", "k", "d", x4095},
      {"UTF-16LE", "\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0\xE9\0\r\0\n\0"s, "A", "k", "d", "\xE9"},
      {"UTF-16BE", "\xFE\xFF\0[\0A\0]\0\n\0k\0=\0v"s, "A", "k", "d", "v"},
      {"UTF-8 with mark", "\xEF\xBB\xBF[A]\r\nk=\xC3\xA9\r\n", "A", "k", "d", "\xE9"},
      {"UTF-8 mark before a key", "\xEF\xBB\xBFk=1\r\n", "", "k", "d", "1"},
  };
  for (const Case& c : cases) {
    const IniDocument document(c.file, kCodec);
    EXPECT_EQ(document.GetString(c.section, c.key, c.defaultValue), c.expected) << c.what;
  }
}

TEST(IniDocumentRead, IntegersAsTheProfileFunctionsReadThem) {
  struct Case {
    std::string line;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"k=42", 42},
      {"k=-12x", -12},
      {"k=+7", 7},
      {"k=0x1F", 31},
      {"k=0X1F", 0},  // only a lower-case prefix counts
      {"k=0b101", 5},
      {"k=0o17", 15},
      {"k=0x", 0},
      {"k=08", 8},
      {"k=abc", 0},
      {"k=", -5},  // empty reads as missing
      {"k", -5},
      {"j=1", -5},
      {"k=1 2", 1},
      {"k='7'", 7},
      {"k=\" 12\"", 12},
      {"k=300", 300},
      {"k=-1062731774", -1062731774},
      {"k=3232235522", -1062731774},  // low 32 bits
      {"k=4294967297", 1},
      {"k=99999999999", 1215752191},
      {"k=-99999999999", -1215752191},
      // Read through a buffer of 30: only 29 digits count.
      {"k=" + std::string(29, '1') + "999", 1729917383},
  };
  for (const Case& c : cases) {
    const IniDocument document("[A]\r\n" + c.line + "\r\n", kCodec);
    EXPECT_EQ(document.GetInt("A", "k", -5), c.expected) << c.line;
  }
}

TEST(IniDocumentWrite, BytesAfterWrites) {
  struct Write {
    std::string section, key, value;
  };
  struct Case {
    const char* what;
    std::string file;
    std::vector<Write> writes;
    std::string expected;
  };
  const Case cases[] = {
      {"new file", "", {{"A", "k", "v"}}, "[A]\r\nk=v\r\n"},
      {"replaced in place",
       "[A]\r\n  k = old  \r\nj=2\r\n",
       {{"A", "K", "new"}},
       "[A]\r\nk=new\r\nj=2\r\n"},
      {"new key before the blank line that ends its section",
       "[A]\r\nk=1\r\n\r\n[B]\r\nq=1\r\n",
       {{"a", "n", "2"}},
       "[A]\r\nk=1\r\nn=2\r\n\r\n[B]\r\nq=1\r\n"},
      {"new section after a last line without break",
       "[A]\r\nk=1",
       {{"B", "x", "y"}},
       "[A]\r\nk=1\r\n[B]\r\nx=y\r\n"},
      {"new key after a last line without break",
       "[A]\r\nk=1",
       {{"A", "n", "2"}},
       "[A]\r\nk=1\r\nn=2\r\n"},
      {"LF lines stay LF", "[A]\nk=1\nj=2\n", {{"A", "k", "9"}}, "[A]\nk=9\r\nj=2\n"},
      {"same value changes nothing",
       "[A]\r\nk = v \r\n",
       {{"A", "k", "v"}, {"A", "k", "  v"}},
       "[A]\r\nk = v \r\n"},
      {"blanks in written names and value",
       "[A]\r\nk=1\r\n",
       {{"  A  ", "  n  ", "  v  "}},
       "[A]\r\nk=1\r\nn  =v  \r\n"},
      {"a new section with trailing blanks is found again",
       "",
       {{"S  ", "a", "1"}, {"S", "b", "2"}},
       "[S  ]\r\na=1\r\nb=2\r\n"},
      {"first of duplicate sections",
       "[A]\r\nk=1\r\n[A]\r\nj=2\r\n",
       {{"A", "j", "3"}},
       "[A]\r\nk=1\r\nj=3\r\n[A]\r\nj=2\r\n"},
      {"first of duplicate keys",
       "[A]\r\nk=1\r\nk=2\r\n",
       {{"A", "k", "3"}},
       "[A]\r\nk=3\r\nk=2\r\n"},
      {"comments kept",
       "; top\r\n[A]\r\n; note\r\nk=1\r\n",
       {{"A", "n", "2"}},
       "; top\r\n[A]\r\n; note\r\nk=1\r\nn=2\r\n"},
      {"nameless section goes first", "[A]\r\nk=1\r\n", {{"", "z", "9"}}, "z=9\r\n[A]\r\nk=1\r\n"},
      {"key without value gets one", "[A]\r\nflag\r\n", {{"A", "flag", "1"}}, "[A]\r\nflag=1\r\n"},
      {"empty key name", "[A]\r\nk=1\r\n", {{"A", "", "v"}}, "[A]\r\nk=1\r\n=v\r\n"},
      {"blank last line without break",
       "[A]\r\nk=1\r\n  ",
       {{"A", "n", "2"}, {"B", "x", "1"}},
       "[A]\r\nk=1\r\nn=2\r\n  \r\n[B]\r\nx=1\r\n"},
      {"blank lines kept",
       "\r\n[A]\r\n\r\nk=1\r\n\r\n",
       {{"A", "k", "2"}},
       "\r\n[A]\r\n\r\nk=2\r\n\r\n"},
      {"UTF-16LE stays UTF-16LE",
       "\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0"
       "1\0\r\0\n\0"s,
       {{"A", "n", "\xE9"}},
       "\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0"
       "1\0\r\0\n\0n\0=\0\xE9\0\r\0\n\0"s},
      {"UTF-16BE stays UTF-16BE",
       "\xFE\xFF\0[\0A\0]"s,
       {{"A", "k", "1"}},
       "\xFE\xFF\0[\0A\0]\0\r\0\n\0k\0=\0"
       "1\0\r\0\n"s},
      {"UTF-8 stays UTF-8",
       "\xEF\xBB\xBF[A]\r\nk=1\r\n",
       {{"A", "n", "\xE9"}},
       "\xEF\xBB\xBF[A]\r\nk=1\r\nn=\xC3\xA9\r\n"},
      {"a value with line breaks makes lines",
       "",
       {{"A", "k", "a\r\n[B]\r\nx=1"}, {"B", "y", "2"}},
       "[A]\r\nk=a\r\n[B]\r\nx=1\r\ny=2\r\n"},
      {"values end at NUL", "", {{"A", "k", "ab\0cd"s}}, "[A]\r\nk=ab\r\n"},
  };
  for (const Case& c : cases) {
    IniDocument document(c.file, kCodec);
    for (const Write& w : c.writes) document.WriteString(w.section, w.key, w.value);
    EXPECT_EQ(document.Serialize(), c.expected) << c.what;
    EXPECT_EQ(document.Changed(), c.expected != c.file) << c.what;
  }
}

TEST(IniDocumentWrite, ReadsSeeEveryWrite) {
  IniDocument document("[A]\r\nk=1\r\n[B]\r\n", kCodec);
  document.WriteString("a", "K", "  two  ");
  document.WriteString(" b ", " new ", "\"q\"");
  document.WriteString("C", "x", "0x10");
  document.WriteString("A", "k\r\n[D]\r\nz",
                       "3");  // a name with line breaks, as the file would read
  document.WriteString("", "top", "t");
  EXPECT_EQ(document.GetString("A", "k", "d"), "two");
  EXPECT_EQ(document.GetString("B", "NEW", "d"), "q");
  EXPECT_EQ(document.GetInt("c", "X", 0), 16);
  EXPECT_EQ(document.GetString("D", "z", "d"), "3");
  EXPECT_EQ(document.GetString("", "top", "d"), "t");

  // What is read equals what the written bytes read as.
  const IniDocument reread(document.Serialize(), kCodec);
  for (const char* section : {"A", "B", "C", "D", ""}) {
    for (const char* key : {"k", "new", "x", "z", "top"}) {
      EXPECT_EQ(reread.GetString(section, key, "-"), document.GetString(section, key, "-"))
          << section << "/" << key;
    }
  }
}

TEST(IniDocumentWrite, SavedDocumentIsUnchangedUntilTheNextWrite) {
  IniDocument document(kCodec);
  EXPECT_FALSE(document.Changed());
  document.WriteString("A", "k", "1");
  EXPECT_TRUE(document.Changed());
  document.MarkSaved();
  document.WriteString("A", "k", "1");
  EXPECT_FALSE(document.Changed());
  document.WriteString("A", "k", "2");
  EXPECT_TRUE(document.Changed());
}

TEST(IniDocumentEncoding, DetectedFromTheByteOrderMark) {
  EXPECT_EQ(IniDocument("[A]", kCodec).Encoding(), IniEncoding::kAnsi);
  EXPECT_EQ(IniDocument("\xEF\xBB\xBF[A]", kCodec).Encoding(), IniEncoding::kUtf8);
  EXPECT_EQ(IniDocument("\xFF\xFE", kCodec).Encoding(), IniEncoding::kUtf16Le);
  EXPECT_EQ(IniDocument("\xFE\xFF", kCodec).Encoding(), IniEncoding::kUtf16Be);
  EXPECT_EQ(IniDocument("\xFF", kCodec).Encoding(), IniEncoding::kAnsi);
}

}  // namespace
}  // namespace orvel
