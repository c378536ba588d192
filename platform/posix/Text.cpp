// Text conversion of the Windows stand-in: UTF-16 to the narrow character
// set, the way WideCharToMultiByte does it on Windows.
#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>

#include "platform/WinApi.h"
#include "platform/posix/TextConversion.h"

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

// The locale the environment names for character types, as POSIX ranks the
// variables: LC_ALL, then LC_CTYPE, then LANG; empty ones do not count.
std::string EnvironmentCharacterLocale() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return {};
}

// Whether a locale name's codeset ("language_TERRITORY.codeset@modifier")
// is UTF-8, however it is spelt ("UTF-8", "utf8").
bool NamesUtf8Codeset(const std::string& locale) {
  const size_t dot = locale.find('.');
  if (dot == std::string::npos) {
    return false;
  }
  std::string codeset;
  for (size_t i = dot + 1; i < locale.size() && locale[i] != '@'; ++i) {
    const char c = locale[i];
    if (c != '-') {
      codeset += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
  }
  return codeset == "utf8";
}

// Whether the byte at text[i] continues a UTF-8 sequence.
bool IsContinuation(std::string_view text, size_t i) {
  return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
}

}  // namespace

namespace standin {

std::basic_string<WCHAR> Utf16FromUtf8(std::string_view text) {
  std::basic_string<WCHAR> out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    int extra = -1;  // continuation bytes after the lead; -1: it cannot lead
    char32_t least = 0;  // the smallest value its length may carry
    if (lead < 0x80) {
      extra = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      least = 0x10000;
    }
    char32_t code = extra > 0 ? lead & (0x3FU >> extra) : lead;
    bool valid = extra >= 0;
    // Only real continuation bytes are taken: a stray byte starts the next
    // sequence.
    for (int k = 0; valid && k < extra; ++k) {
      valid = IsContinuation(text, i);
      if (valid) {
        code = (code << 6) | (static_cast<unsigned char>(text[i++]) & 0x3FU);
      }
    }
    if (!valid || code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      out += static_cast<WCHAR>(0xFFFD);
    } else if (code >= 0x10000) {
      out += static_cast<WCHAR>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<WCHAR>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<WCHAR>(code);
    }
  }
  return out;
}

}  // namespace standin

// The console here is the terminal, whose encoding the environment's locale
// names; the C library's own locale stays "C" unless the program sets it.
UINT GetConsoleOutputCP() {
  return NamesUtf8Codeset(EnvironmentCharacterLocale()) ? CP_UTF8 : CP_ACP;
}

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
