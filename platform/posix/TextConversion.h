// Text conversions the stand-in needs apart from the Windows calls.
#pragma once

#include <string>
#include <string_view>

#include "platform/WinApi.h"

namespace standin {

// UTF-8 to UTF-16. Never fails: each byte sequence that is not valid UTF-8
// (a stray or missing continuation byte, an overlong form, an encoded
// surrogate, a value past U+10FFFF) becomes one U+FFFD, and decoding goes on
// after it.
std::basic_string<WCHAR> Utf16FromUtf8(std::string_view text);

}  // namespace standin
