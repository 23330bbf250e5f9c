// The few Win32 calls the plug-in and its hosts make, under their Win32 names.
//
// On Windows this is <windows.h>. On Linux (i386, or x86-64 for varel and the tests) the
// same names are declared here and provided by our platform library (platform_linux.cpp),
// which the plug-in and every host process share, just as they share kernel32 on Windows:
// a block that the plug-in obtains with GlobalAlloc is freed by the host with GlobalFree.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#define PLATFORM_API

#else  // Linux

#include <pthread.h>

#define PLATFORM_API extern "C" __attribute__((visibility("default")))
// stdcall exists on i386 only; x86-64 has one calling convention.
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif

typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef LONG* PLONG;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef unsigned char BYTE;
typedef uint16_t WCHAR;  // a UTF-16 code unit, as on Windows
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef BOOL* LPBOOL;

#define TRUE 1
#define FALSE 0

#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GMEM_DISCARDED 0x4000u
#define GMEM_LOCKCOUNT 0x00FFu

#define FILE_BEGIN 0u
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define CREATE_ALWAYS 2u
#define FILE_ATTRIBUTE_NORMAL 0x80u

#define CP_ACP 0u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_NO_BEST_FIT_CHARS 0x00000400u
#define MAX_LEADBYTES 12
#define MAX_DEFAULTCHAR 2

typedef struct _CPINFO {
  UINT MaxCharSize;
  BYTE DefaultChar[MAX_DEFAULTCHAR];
  BYTE LeadByte[MAX_LEADBYTES];
} CPINFO, *LPCPINFO;

// Global memory: movable blocks with a per-handle lock count. A block of 0 bytes is a
// handle without memory: locking it gives NULL and takes no lock.
PLATFORM_API HGLOBAL WINAPI GlobalAlloc(UINT flags, size_t bytes);
PLATFORM_API LPVOID WINAPI GlobalLock(HGLOBAL block);
PLATFORM_API BOOL WINAPI GlobalUnlock(HGLOBAL block);
PLATFORM_API HGLOBAL WINAPI GlobalFree(HGLOBAL block);
PLATFORM_API size_t WINAPI GlobalSize(HGLOBAL block);
PLATFORM_API UINT WINAPI GlobalFlags(HGLOBAL block);

// Files: a file descriptor wrapped as a handle. Only what hosts and the plug-in use.
PLATFORM_API HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security,
                                       DWORD disposition, DWORD attributes, HANDLE templ);
PLATFORM_API BOOL WINAPI CloseHandle(HANDLE file);
PLATFORM_API DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh,
                                         DWORD method);
PLATFORM_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                                  void* overlapped);
// Cuts or extends the file at its current position (tests shrink an archive with it).
PLATFORM_API BOOL WINAPI SetEndOfFile(HANDLE file);

// Code pages: the ANSI code page follows LC_ALL, LC_CTYPE or LANG (the first that is set):
// ja_JP gives 932, zh_CN 936, ko_KR 949, zh_TW 950, anything else 1252.
PLATFORM_API UINT WINAPI GetACP(void);
PLATFORM_API BOOL WINAPI GetCPInfo(UINT codePage, LPCPINFO info);
// Conversions between those code pages (1252, 932, 936, 949, 950, or CP_ACP) and UTF-16,
// for hosts. Lengths count code units; a negative input length means the input is
// zero-terminated and the terminator is converted too; an output length of 0 asks for the
// length needed. 0 on failure: an unknown code page, an output too short, or, with
// MB_ERR_INVALID_CHARS, a byte sequence that is no character of the code page (without the
// flag such a sequence becomes the code page's default character). A character the code
// page cannot hold becomes defaultChar (or '?') and sets *usedDefaultChar; there is no
// best-fit mapping, as if WC_NO_BEST_FIT_CHARS were always given.
PLATFORM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR in, int inLength,
                                            LPWSTR out, int outLength);
PLATFORM_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR in, int inLength,
                                            LPSTR out, int outLength, LPCSTR defaultChar,
                                            LPBOOL usedDefaultChar);

// Critical sections: a mutex that the thread holding it may enter again, as on Windows.
typedef struct _RTL_CRITICAL_SECTION {
  pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

PLATFORM_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
PLATFORM_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
PLATFORM_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
PLATFORM_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);

// Text.
PLATFORM_API int wsprintfA(LPSTR out, LPCSTR format, ...);
PLATFORM_API LPSTR WINAPI lstrcpyA(LPSTR out, LPCSTR in);

#endif

// The plug-in's own heap: zero-filled blocks. NULL when the heap is short; never throws.
// On Linux the platform library counts these blocks and can be told to fail one.
PLATFORM_API void* PlatformHeapAlloc(size_t bytes);
PLATFORM_API void PlatformHeapFree(void* block);
