// The one header through which the project reaches the Windows API.
//
// On Windows it includes the SDK and nothing else. On every other system it
// declares the project's own subset of the same names, with the layouts and
// behaviour that the code above relies on; platform/posix implements them.
// Code above this header is written once, against the Windows names.
//
// The stand-in, entry by entry. Each declaration below carries its contract:
// what it returns, whether it blocks, who owns what and on which thread its
// completions run. Failures set the calling thread's last error.
//
//   Records       HIDP_CAPS, HIDD_ATTRIBUTES, GUID, OVERLAPPED,
//                 SP_DEVICE_INTERFACE_DATA, SP_DEVICE_INTERFACE_DETAIL_DATA_W,
//                 laid out as on Windows (32- and 64-bit alike).
//   Errors        GetLastError, SetLastError                   never block
//   Locks         Initialize/Delete/Enter/TryEnter/LeaveCriticalSection
//                                                              Enter blocks
//   Time          GetTickCount                                 never blocks
//                 Sleep, SleepEx                               block
//   Threads       CreateThread, WaitForSingleObject            Wait blocks
//   Files         CreateFileW, CloseHandle                     never block
//                 ReadFileEx                                   never blocks;
//                      completes on the issuing thread inside SleepEx(.., TRUE)
//   Modules       LoadLibraryW, GetModuleHandleW, GetProcAddress  never block;
//                      they know one module, "hid.dll" (posix/HidDll.cpp)
//   SetupAPI      SetupDiGetClassDevsW, SetupDiEnumDeviceInterfaces,
//                 SetupDiGetDeviceInterfaceDetailW, SetupDiDestroyDeviceInfoList
//                                                              never block
//   hid.dll       the 14 exports, declared here only so that their types can
//                 be named; code reaches them through GetProcAddress.
//   Text          GetConsoleOutputCP, WideCharToMultiByte      never block
//
// Devices come from a device source (posix/DeviceSource.h): SetupAPI lists
// its paths, CreateFileW opens them, the hid.dll exports describe them and
// ReadFileEx reads them.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The others rely on the types of windows.h. hidsdi.h brings hidusage.h and
// hidpi.h (HIDP_CAPS) with it, in the order they need.
#include <hidsdi.h>
#include <setupapi.h>

// A UTF-16 string literal of the kind WCHAR strings are made of.
#define WIDE_TEXT(s) L##s

#else  // !_WIN32

#include <cstddef>
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
using VOID = void;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using PCHAR = CHAR*;
using LPCSTR = const CHAR*;
using PCWSTR = const WCHAR*;
using PUSHORT = USHORT*;
using PULONG = ULONG*;
using LPDWORD = DWORD*;
using PDWORD = DWORD*;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using INT_PTR = std::intptr_t;
using NTSTATUS = LONG;

// Calling conventions matter only on 32-bit Windows.
#define WINAPI
#define CALLBACK
#define NTAPI

// Handles are opaque pointers. The stand-in's handles are its own objects,
// valid from the call that returned them until CloseHandle.
using HANDLE = void*;
using HWND = void*;
using HMODULE = struct StandInModule*;
using HDEVINFO = void*;
// The value is an all-ones address, as on Windows.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
inline void* const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1));
using FARPROC = INT_PTR(WINAPI*)();

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using LPGUID = GUID*;

// ---- Errors ---------------------------------------------------------------

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_NOACCESS = 998;
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

// The calling thread's last error, as the failing call left it. Never blocks.
DWORD GetLastError();
// Sets the calling thread's last error. Never blocks.
void SetLastError(DWORD dwErrCode);

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

struct HIDP_PREPARSED_DATA;  // opaque; owned by whoever obtained it
using PHIDP_PREPARSED_DATA = HIDP_PREPARSED_DATA*;
struct HIDP_BUTTON_CAPS;
using PHIDP_BUTTON_CAPS = HIDP_BUTTON_CAPS*;
struct HIDP_VALUE_CAPS;
using PHIDP_VALUE_CAPS = HIDP_VALUE_CAPS*;
struct HIDP_DATA;
using PHIDP_DATA = HIDP_DATA*;
enum HIDP_REPORT_TYPE { HidP_Input, HidP_Output, HidP_Feature };

constexpr NTSTATUS HIDP_STATUS_SUCCESS = 0x00110000;
constexpr NTSTATUS HIDP_STATUS_INVALID_PREPARSED_DATA = static_cast<NTSTATUS>(0xC0110001U);
constexpr NTSTATUS HIDP_STATUS_NOT_IMPLEMENTED = static_cast<NTSTATUS>(0xC0110020U);

// ---- hid.dll --------------------------------------------------------------
//
// The exports of the stand-in's "hid.dll" module. Code reaches them only
// through LoadLibraryW/GetModuleHandleW/GetProcAddress, as on Windows; they
// are declared so that their types can be named. None blocks. A handle is one
// that CreateFileW returned; an unknown or closed one fails.

// Fills *HidGuid with the HID device interface class GUID.
void WINAPI HidD_GetHidGuid(LPGUID HidGuid);
// Fills *Attributes (Size included) from the open device; TRUE on success,
// FALSE (nothing written) when the device cannot tell.
BOOLEAN WINAPI HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes);
// Copies the product string into the caller's Buffer of BufferLength bytes:
// as many UTF-16 units as fit, then a NUL if there is room for it. FALSE when
// the device has none or cannot be asked.
BOOLEAN WINAPI HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
// Answers FALSE: the stand-in keeps no manufacturer string.
BOOLEAN WINAPI HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
// Answers FALSE: the stand-in keeps no serial number.
BOOLEAN WINAPI HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
// Stores the device's preparsed data in *PreparsedData and returns TRUE; the
// caller owns it and returns it with HidD_FreePreparsedData. FALSE leaves
// *PreparsedData as it was.
BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData);
// Releases preparsed data from HidD_GetPreparsedData; FALSE for anything else.
BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
// Fills *Capabilities from live preparsed data: HIDP_STATUS_SUCCESS, else
// HIDP_STATUS_INVALID_PREPARSED_DATA (null, freed or foreign data).
NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities);
// The five below answer HIDP_STATUS_NOT_IMPLEMENTED and write nothing.
NTSTATUS WINAPI HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                           USHORT LinkCollection, USAGE Usage,
                                           PHIDP_BUTTON_CAPS ButtonCaps, PUSHORT ButtonCapsLength,
                                           PHIDP_PREPARSED_DATA PreparsedData);
NTSTATUS WINAPI HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                          USHORT LinkCollection, USAGE Usage,
                                          PHIDP_VALUE_CAPS ValueCaps, PUSHORT ValueCapsLength,
                                          PHIDP_PREPARSED_DATA PreparsedData);
NTSTATUS WINAPI HidP_SetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                             PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength);
NTSTATUS WINAPI HidP_InitializeReportForID(HIDP_REPORT_TYPE ReportType, UCHAR ReportID,
                                           PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                           ULONG ReportLength);
NTSTATUS WINAPI HidP_GetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                             PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength);
// Answers FALSE: the stand-in reads input reports only through ReadFileEx.
BOOLEAN WINAPI HidD_GetInputReport(HANDLE HidDeviceObject, PVOID ReportBuffer,
                                   ULONG ReportBufferLength);

// ---- Locks ----------------------------------------------------------------

// A recursive lock: the owning thread may enter again, and the section is
// free for others once every Enter has been matched by a Leave. The storage
// it points at belongs to the stand-in between Initialize and Delete.
struct CRITICAL_SECTION {
  void* Implementation;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

// Makes the section usable. Never blocks.
void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// Releases what Initialize took; the section must not be owned. Never blocks.
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// Blocks until the calling thread owns the section (at once if it already
// does; it then owns it once more).
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// Takes the section if it is free or already the caller's: TRUE. FALSE at
// once when another thread owns it. Never blocks.
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// Gives up one ownership taken by the calling thread. Never blocks.
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// ---- Time -----------------------------------------------------------------

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_IO_COMPLETION = 0xC0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Milliseconds since the system started, in 32 bits: it wraps after 49.7
// days. Never blocks.
DWORD GetTickCount();
// Blocks the calling thread for dwMilliseconds. Runs no completion routine.
void Sleep(DWORD dwMilliseconds);
// Blocks the calling thread for up to dwMilliseconds (INFINITE: no limit).
// Not alertable: as Sleep, returns 0. Alertable: the thread waits in the
// kernel (poll) on the reads it has started and wakes as soon as one of them
// completes; it then runs the completion routines of every read that has
// completed, one after the other, on this thread, and returns
// WAIT_IO_COMPLETION. Returns 0 when the time is up with none completed.
DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);

// ---- Threads --------------------------------------------------------------

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID lpThreadParameter);

// Starts a thread running lpStartAddress(lpParameter) at once. Returns a
// handle to it, owned by the caller (CloseHandle; closing it does not stop
// the thread), or null on failure. Security attributes, stack size and flags
// are ignored; *lpThreadId, when given, gets a nonzero id. When the thread
// ends, the reads it started that are still in flight are dropped without
// running their routines, and their buffers are no longer used. Never blocks.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
// Blocks until the thread of hHandle has ended (WAIT_OBJECT_0) or
// dwMilliseconds have passed (WAIT_TIMEOUT). Only thread handles can be
// waited on; anything else is WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// ---- Files ----------------------------------------------------------------

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

// The record of one overlapped read. It belongs to the caller, who must keep
// it (and the buffer) alive and untouched until the read's routine has run
// or the read has been dropped. hEvent is not used by ReadFileEx and is the
// caller's to carry anything in.
struct OVERLAPPED {
  ULONG_PTR Internal;      // the read's status while in flight / when done
  ULONG_PTR InternalHigh;  // the bytes transferred, when done
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;
using LPOVERLAPPED_COMPLETION_ROUTINE = VOID(WINAPI*)(DWORD dwErrorCode,
                                                      DWORD dwNumberOfBytesTransfered,
                                                      LPOVERLAPPED lpOverlapped);

// Opens a device interface path of the device source for reading
// (OPEN_EXISTING only). Returns a handle owned by the caller, or
// INVALID_HANDLE_VALUE when the path is unknown (ERROR_FILE_NOT_FOUND) or the
// source refuses it. Only FILE_FLAG_OVERLAPPED handles can be read with
// ReadFileEx. Never blocks.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Closes a file or thread handle: TRUE, or FALSE for an unknown one. Reads
// still in flight on a file complete with ERROR_OPERATION_ABORTED and no
// bytes, on their own threads, in their next alertable wait. Never blocks.
BOOL CloseHandle(HANDLE hObject);
// Starts reading one report of at most nNumberOfBytesToRead bytes into the
// caller's lpBuffer and returns TRUE; the read completes later, and
// lpCompletionRoutine(error, bytes, lpOverlapped) then runs on the calling
// thread, only inside its alertable SleepEx. FALSE, with nothing started,
// for an unknown handle, one not opened overlapped, a null buffer, a device
// that has gone away (ERROR_DEVICE_NOT_CONNECTED, at once, every time after
// its last read completed) or a read the device refuses. Never blocks.
BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);

// ---- Modules --------------------------------------------------------------

// Loads a module by name. The stand-in knows one, "hid.dll" (any case, the
// extension optional), and returns its handle, else null with
// ERROR_MOD_NOT_FOUND. Modules are never unloaded. Never blocks.
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
// The handle of a module already loaded with LoadLibraryW, else null with
// ERROR_MOD_NOT_FOUND. Never blocks.
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
// The address of a module's export, else null with ERROR_PROC_NOT_FOUND.
// "hid.dll" exports the 14 functions declared above. Never blocks.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// ---- SetupAPI -------------------------------------------------------------

constexpr DWORD DIGCF_PRESENT = 0x00000002;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x00000010;
constexpr DWORD SPINT_ACTIVE = 0x00000001;

struct SP_DEVINFO_DATA;
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

// SetupAPI packs its records to 1 byte on 32-bit systems and to 8 on 64-bit.
#if UINTPTR_MAX == 0xFFFFFFFFU
#pragma pack(push, 1)
#else
#pragma pack(push, 8)
#endif
struct SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;  // sizeof(SP_DEVICE_INTERFACE_DATA), set by the caller
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
};
struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
  DWORD cbSize;         // sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), the fixed part only
  WCHAR DevicePath[1];  // NUL-terminated; runs on into the caller's buffer
};
#pragma pack(pop)
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

// A snapshot of the device source's present interfaces of class *ClassGuid
// (the HID class; any other class has none). Flags must include
// DIGCF_DEVICEINTERFACE; only present devices are ever listed. Returns a set
// owned by the caller (SetupDiDestroyDeviceInfoList), or INVALID_HANDLE_VALUE.
// Never blocks beyond the source's listing.
HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                              DWORD Flags);
// Fills the caller's *DeviceInterfaceData for interface MemberIndex of the
// set: TRUE; FALSE with ERROR_NO_MORE_ITEMS past the end, or with
// ERROR_INVALID_USER_BUFFER when its cbSize is not
// sizeof(SP_DEVICE_INTERFACE_DATA). DeviceInfoData must be null. Never blocks.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
// Writes the interface's NUL-terminated path into the caller's buffer of
// DeviceInterfaceDetailDataSize bytes: TRUE. Sets *RequiredSize when given.
// FALSE with ERROR_INSUFFICIENT_BUFFER when it does not fit, with
// ERROR_INVALID_USER_BUFFER when the detail's cbSize is not
// sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W). Never blocks.
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData);
// Frees a set from SetupDiGetClassDevsW: TRUE; FALSE for anything else.
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

// ---- Text -----------------------------------------------------------------

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

// Returns the code page of the console's output: CP_UTF8 when the
// environment's locale for character types (LC_ALL, else LC_CTYPE, else
// LANG) names the UTF-8 codeset, as a UTF-8 terminal's does; otherwise
// CP_ACP, which stands for the C library's current LC_CTYPE locale (as set by
// setlocale). Reads the environment on each call. Does not block.
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
