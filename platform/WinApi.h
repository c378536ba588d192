// The one header through which the project reaches the Windows API.
//
// On Windows it includes the SDK and nothing else. On every other system it
// declares the project's own subset of the same names, with the layouts and
// behaviour that the code above relies on; platform/posix implements them.
// Code above this header is written once, against the Windows names.
//
// What the stand-in provides, entry by entry (each says what it returns,
// whether it blocks, who owns what and on which thread anything runs):
//
//   Records
//     HIDP_CAPS, HIDD_ATTRIBUTES   the HID parser's capability record and a
//                                  device's identity, laid out as on Windows.
//   Text
//     GetConsoleOutputCP           the narrow character set of the console.
//     WideCharToMultiByte          UTF-16 to that narrow set.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// hidsdi.h relies on the types of windows.h; hidpi.h declares HIDP_CAPS.
#include <hidpi.h>
#include <hidsdi.h>

// A UTF-16 string literal of the kind WCHAR strings are made of.
#define WIDE_TEXT(s) L##s

#else  // !_WIN32

#include <cstdint>

// Integer types with their Windows widths. ULONG and LONG are 32-bit on
// Windows, 32- and 64-bit alike, so they are not the C 'long'.
using BYTE = std::uint8_t;
using UCHAR = std::uint8_t;
using BOOLEAN = std::uint8_t;
using CHAR = char;
using USHORT = std::uint16_t;
using USAGE = USHORT;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;

// Wide characters are UTF-16 code units, as on Windows; the C library's
// wchar_t is 32-bit here and is not used for them.
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPCWCH = const WCHAR*;
using LPSTR = CHAR*;
using LPCCH = const CHAR*;
using LPBOOL = BOOL*;

#define WIDE_TEXT(s) u##s

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// ---- HID records ----------------------------------------------------------

struct HIDP_CAPS {
  USAGE Usage;
  USAGE UsagePage;
  USHORT InputReportByteLength;  // the report-ID byte included
  USHORT OutputReportByteLength;
  USHORT FeatureReportByteLength;
  USHORT Reserved[17];
  USHORT NumberLinkCollectionNodes;
  USHORT NumberInputButtonCaps;
  USHORT NumberInputValueCaps;
  USHORT NumberInputDataIndices;
  USHORT NumberOutputButtonCaps;
  USHORT NumberOutputValueCaps;
  USHORT NumberOutputDataIndices;
  USHORT NumberFeatureButtonCaps;
  USHORT NumberFeatureValueCaps;
  USHORT NumberFeatureDataIndices;
};
using PHIDP_CAPS = HIDP_CAPS*;

struct HIDD_ATTRIBUTES {
  ULONG Size;  // sizeof(HIDD_ATTRIBUTES), set by the caller
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};
using PHIDD_ATTRIBUTES = HIDD_ATTRIBUTES*;

// ---- Text -----------------------------------------------------------------

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

// Returns the code page of the console's output. Here that is always CP_ACP,
// which stands for the C library's current LC_CTYPE locale (as set by
// setlocale). Does not block.
UINT GetConsoleOutputCP();

// Converts cchWideChar UTF-16 units of lpWideCharStr (-1: up to and including
// the terminating NUL) to the narrow set of CodePage: CP_UTF8 is UTF-8, in
// which an unpaired surrogate becomes U+FFFD; CP_ACP and CP_OEMCP are the
// current locale, in which a character it cannot show becomes
// lpDefaultChar[0] ('?' when null) and sets *lpUsedDefaultChar when given.
// dwFlags is accepted and ignored (no best-fit mapping is ever made).
// With cbMultiByte 0 returns the bytes needed and writes nothing; otherwise
// writes into the caller's lpMultiByteStr and returns the bytes written, or
// 0 when they do not fit. The caller owns both buffers. Does not block.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

#endif  // _WIN32

// The records cross the HID library's boundary by value and must have the
// sizes Windows gives them.
static_assert(sizeof(HIDP_CAPS) == 64, "HIDP_CAPS is 64 bytes");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "HIDD_ATTRIBUTES is 12 bytes");
static_assert(sizeof(WCHAR) == 2, "wide characters are UTF-16 code units");
