// The stand-in's text calls: WideCharToMultiByte's calling conventions, as
// on Windows, the console's code page, and the UTF-8 decoding of device names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/WinApi.h"
#include "platform/posix/TextConversion.h"

namespace {

TEST(WideCharToMultiByte, MinusOneConvertsUpToAndIncludingTheNul) {
  char out[8] = "xxxxxxx";
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ab", -1, nullptr, 0, nullptr, nullptr), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ab", -1, out, sizeof out, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(out, 4), std::string("ab\0x", 4));
}

TEST(WideCharToMultiByte, TooSmallBufferFailsAndReportsNothingWritten) {
  char out[2] = {'x', 'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9", 1, out, 1, nullptr, nullptr), 0);
  EXPECT_EQ(out[0], 'x');
}

TEST(WideCharToMultiByte, Utf8ReplacesUnpairedSurrogates) {
  char out[8] = {};
  const WCHAR lone[] = {0xDC00, 'a'};
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 2, out, sizeof out, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(out, 4),
            "\xEF\xBF\xBD"
            "a");
}

TEST(WideCharToMultiByte, LocaleSetUsesTheCallersDefaultCharacter) {
  // The test runs in the "C" locale, which shows ASCII only.
  char out[4] = {};
  BOOL usedDefault = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u00e9", 2, out, sizeof out, "#", &usedDefault), 2);
  EXPECT_EQ(std::string(out, 2), "a#");
  EXPECT_TRUE(usedDefault);
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab", 2, out, sizeof out, "#", &usedDefault), 2);
  EXPECT_FALSE(usedDefault);
}

TEST(WideCharToMultiByte, RefusesEmptyAndMalformedArguments) {
  char out[4] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, nullptr, 1, out, sizeof out, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 0, out, sizeof out, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -2, out, sizeof out, nullptr, nullptr), 0);
}

// Sets the three locale variables for the life of the object and puts the
// old values back.
class LocaleEnvironment {
 public:
  LocaleEnvironment(const char* all, const char* ctype, const char* lang) {
    const char* values[] = {all, ctype, lang};
    for (size_t i = 0; i < 3; ++i) {
      const char* old = std::getenv(kNames[i]);
      saved[i] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
      Set(kNames[i], values[i]);
    }
  }
  ~LocaleEnvironment() {
    for (size_t i = 0; i < 3; ++i) {
      Set(kNames[i], saved[i] ? saved[i]->c_str() : nullptr);
    }
  }
  LocaleEnvironment(const LocaleEnvironment&) = delete;
  LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;
  LocaleEnvironment(LocaleEnvironment&&) = delete;
  LocaleEnvironment& operator=(LocaleEnvironment&&) = delete;

 private:
  static void Set(const char* name, const char* value) {
    if (value == nullptr) {
      (void)unsetenv(name);
    } else {
      (void)setenv(name, value, 1);
    }
  }
  static constexpr const char* kNames[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::optional<std::string> saved[3];
};

struct ConsoleCase {
  const char* all;
  const char* ctype;
  const char* lang;
  UINT codePage;
};

TEST(GetConsoleOutputCP, FollowsTheEnvironmentsCharacterLocale) {
  const ConsoleCase cases[] = {
      {nullptr, nullptr, nullptr, CP_ACP},
      {nullptr, nullptr, "C.UTF-8", CP_UTF8},
      {nullptr, nullptr, "de_DE.utf8@euro", CP_UTF8},
      {nullptr, nullptr, "en_US.ISO-8859-1", CP_ACP},
      {nullptr, nullptr, "POSIX", CP_ACP},
      {nullptr, nullptr, "UTF-8", CP_ACP},  // a codeset needs its dot
      {nullptr, "fr_FR.UTF-8", "C", CP_UTF8},
      {"C", "fr_FR.UTF-8", "C.UTF-8", CP_ACP},
      {"", "C", "C.UTF-8", CP_ACP},  // an empty LC_ALL does not count
      {"", "", "en_GB.UTF8", CP_UTF8},
  };
  for (const ConsoleCase& c : cases) {
    const LocaleEnvironment environment(c.all, c.ctype, c.lang);
    EXPECT_EQ(GetConsoleOutputCP(), c.codePage)
        << "LC_ALL=" << (c.all ? c.all : "(unset)") << " LC_CTYPE=" << (c.ctype ? c.ctype : "(unset)")
        << " LANG=" << (c.lang ? c.lang : "(unset)");
  }
}

struct Utf8Case {
  const char* what;
  std::string utf8;
  std::u16string utf16;
};

TEST(Utf16FromUtf8, DecodesValidTextAndReplacesEachMalformedSequence) {
  const Utf8Case cases[] = {
      {"ascii", "Pad 1", u"Pad 1"},
      {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAE", u"\u00e9\u20ac\U0001F3AE"},
      {"stray continuation byte", "a\x80z", u"a\uFFFDz"},
      {"lead cut short by an ASCII byte", "\xC3z", u"\uFFFDz"},
      {"lead cut short at the end", "ab\xE2\x82", u"ab\uFFFD"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD"},
      {"overlong three-byte NUL", "\xE0\x80\x80", u"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
      {"byte that never leads", "\xFFok", u"\uFFFDok"},
      {"Latin-1, not UTF-8", "Manette \xE9", u"Manette \uFFFD"},
      {"embedded NUL kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Utf8Case& c : cases) {
    const std::basic_string<WCHAR> decoded = standin::Utf16FromUtf8(c.utf8);
    EXPECT_EQ(std::u16string(decoded.begin(), decoded.end()), c.utf16) << c.what;
  }
}

}  // namespace
