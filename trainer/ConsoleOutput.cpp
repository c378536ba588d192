#include "trainer/ConsoleOutput.h"

#include <climits>
#include <cstdarg>
#include <cstdio>

void WriteMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  // clang-tidy 14's analyzer does not see the va_start above.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int needed = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed <= 0) {
    return;
  }
  std::string line(static_cast<size_t>(needed) + 1, '\0');
  va_start(args, format);
  (void)vsnprintf(line.data(), line.size(), format, args);
  va_end(args);
  (void)std::fwrite(line.data(), 1, static_cast<size_t>(needed), stdout);
  (void)std::fflush(stdout);
}

std::string ConsoleText(const MaruvelHID::WideString& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
    return {};
  }
  UINT codePage = GetConsoleOutputCP();
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char* unknown = "?";
  if (codePage == CP_UTF8) {
    // UTF-8 takes neither flags nor a default character: it can show all.
    flags = 0;
    unknown = nullptr;
  }
  const int units = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(codePage, flags, text.data(), units, nullptr, 0, unknown, nullptr);
  if (needed <= 0) {
    return std::string(text.size(), '?');
  }
  std::string narrow(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(codePage, flags, text.data(), units, narrow.data(), needed, unknown, nullptr);
  return narrow;
}
