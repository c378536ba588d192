// Text conversion of the Windows stand-in: UTF-16 to the narrow character
// set, the way WideCharToMultiByte does it on Windows.
#include <algorithm>
#include <climits>
#include <clocale>
#include <cwchar>
#include <string>

#include "platform/WinApi.h"

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;  // an unpaired surrogate

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes the code point at text[i], advancing i past it; kInvalid for an
// unpaired surrogate.
char32_t NextCodePoint(const WCHAR* text, size_t count, size_t& i) {
  const char32_t unit = text[i++];
  if (IsHighSurrogate(unit)) {
    if (i < count && IsLowSurrogate(text[i])) {
      const char32_t low = text[i++];
      return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return kInvalid;
  }
  return IsLowSurrogate(unit) ? kInvalid : unit;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c == kInvalid) {
    c = 0xFFFD;
  }
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Appends c in the current locale's multibyte set; false when the locale
// cannot show it.
bool AppendLocale(std::string& out, char32_t c) {
  if (c == kInvalid) {
    return false;
  }
  char bytes[MB_LEN_MAX];
  std::mbstate_t state{};
  // glibc's wchar_t holds a whole code point (UCS-4).
  const size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(c), &state);
  if (n == static_cast<size_t>(-1)) {
    return false;
  }
  out.append(bytes, n);
  return true;
}

}  // namespace

UINT GetConsoleOutputCP() { return CP_ACP; }

int WideCharToMultiByte(UINT CodePage, DWORD /*dwFlags*/, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0) {
    return 0;
  }
  size_t count = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[count] != 0) {
      ++count;
    }
    ++count;  // the terminating NUL is converted too
  } else {
    count = static_cast<size_t>(cchWideChar);
  }

  std::string out;
  const char fallback = lpDefaultChar != nullptr ? lpDefaultChar[0] : '?';
  bool usedDefault = false;
  for (size_t i = 0; i < count;) {
    const char32_t c = NextCodePoint(lpWideCharStr, count, i);
    if (CodePage == CP_UTF8) {
      AppendUtf8(out, c);
    } else if (!AppendLocale(out, c)) {
      out += fallback;
      usedDefault = true;
    }
  }
  if (lpUsedDefaultChar != nullptr) {
    *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  }
  if (out.size() > static_cast<size_t>(INT_MAX)) {
    return 0;
  }
  const int needed = static_cast<int>(out.size());
  if (cbMultiByte == 0) {
    return needed;
  }
  if (lpMultiByteStr == nullptr || needed > cbMultiByte) {
    return 0;
  }
  std::copy(out.begin(), out.end(), lpMultiByteStr);
  return needed;
}
