// Product names outside the narrow character set, through the whole line
// they appear in. The console's set is UTF-8 when the environment's locale
// says so (the program itself never calls setlocale), else the C library's
// locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "tests/TestDevices.h"
#include "trainer/ConsoleOutput.h"
#include "trainer/DeviceTrainer.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct NameCase {
  const char* what;
  const char* environment;  // LC_ALL, which outranks LC_CTYPE and LANG
  const char* locale;       // the C library's LC_CTYPE
  const WCHAR* name;
  std::string printedName;
};

std::ostream& operator<<(std::ostream& out, const NameCase& c) { return out << c.what; }

class ProductName : public testing::TestWithParam<NameCase> {
 protected:
  void SetUp() override {
    const char* all = std::getenv("LC_ALL");
    hadAll = all != nullptr;
    savedAll = hadAll ? all : "";
    ASSERT_EQ(setenv("LC_ALL", GetParam().environment, 1), 0);
    saved = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, GetParam().locale), nullptr) << GetParam().locale;
  }
  void TearDown() override {
    (void)std::setlocale(LC_CTYPE, saved.c_str());
    if (hadAll) {
      (void)setenv("LC_ALL", savedAll.c_str(), 1);
    } else {
      (void)unsetenv("LC_ALL");
    }
  }

 private:
  std::string saved;
  bool hadAll = false;
  std::string savedAll;
};

TEST_P(ProductName, WholeLinePrintsInTheConsolesCharacterSet) {
  auto device = testdevices::MakeDevice({0x054C, 0x09CC, 0x0100, 1, 5, 2, GetParam().name});
  CaptureStdout();
  {
    DeviceTrainer trainer(device.get());
    const testdevices::Bytes first{0x01, 0x00};
    const testdevices::Bytes second{0x01, 0x08};
    const testdevices::Bytes shortReport{0x01};
    for (const auto* bytes : {&first, &second, &shortReport}) {
      const MaruvelHID::InputReport report = testdevices::ReportOver(*bytes);
      trainer.OnReport(&report);
    }
  }
  const std::string& name = GetParam().printedName;
  EXPECT_EQ(GetCapturedStdout(), "054C-09CC v100 (1,5,2)(" + name + "): Button 1 at bit 11\n" +
                                     name + ": 1 bytes read != 2\n~DeviceTrainer()\n");
}

const NameCase kNames[] = {
    {"Utf8TerminalAccent", "C.UTF-8", "C", WIDE_TEXT("Manette \u00e9"), "Manette \xC3\xA9"},
    {"Utf8TerminalOutsideTheBasicPlane", "en_US.UTF-8", "C", WIDE_TEXT("Pad \U0001F3AE!"),
     "Pad \xF0\x9F\x8E\xAE!"},
    {"Utf8TerminalUnpairedSurrogate", "C.UTF-8", "C",
     u"A\xD800"
     u"B",
     "A\xEF\xBF\xBD"
     "B"},
    {"LibraryUtf8Accent", "C", "C.UTF-8", WIDE_TEXT("Manette \u00e9"), "Manette \xC3\xA9"},
    {"LibraryUtf8UnpairedSurrogate", "C", "C.UTF-8",
     u"A\xD800"
     u"B",
     "A?B"},
    {"AsciiAccent", "C", "C", WIDE_TEXT("Manette \u00e9"), "Manette ?"},
    {"AsciiOutsideTheBasicPlaneIsOneMark", "POSIX", "C", WIDE_TEXT("Pad \U0001F3AE!"), "Pad ?!"},
};

INSTANTIATE_TEST_SUITE_P(Locales, ProductName, testing::ValuesIn(kNames),
                         testdevices::CaseName<NameCase>);

}  // namespace
