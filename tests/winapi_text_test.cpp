// The stand-in's WideCharToMultiByte: the calling conventions callers rely
// on, as on Windows.
#include <gtest/gtest.h>

#include <string>

#include "platform/WinApi.h"

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

}  // namespace
