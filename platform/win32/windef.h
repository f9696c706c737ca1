#pragma once
// Basic types, handles and geometry records of the Windows API, with the original sizes:
// DWORD, ULONG and UINT are 32-bit; LONG and INT 32-bit signed.
#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using UCHAR = uint8_t;
using CHAR = char;
using WCHAR = char16_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using WORD = uint16_t;
using INT = int32_t;
using UINT = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using FLOAT = float;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using DWORD64 = uint64_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using SIZE_T = size_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HRESULT = LONG;
using ATOM = WORD;
using COLORREF = DWORD;

using VOID = void;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPTSTR = char*;
using LPCTSTR = const char*;
using TCHAR = char;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PDWORD = DWORD*;
using LPLONG = LONG*;
using PLONG = LONG*;
using PUINT = UINT*;
using LPBOOL = BOOL*;
using LPWORD = WORD*;
using PBYTE = BYTE*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef WINAPI
#define WINAPI
#endif
#ifndef APIENTRY
#define APIENTRY
#endif
#ifndef __stdcall
#define __stdcall
#endif
#ifndef __cdecl
#define __cdecl
#endif
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif
#define _T(x) x
#define TEXT(x) x

// Handles are distinct pointer types so that overloads and mistakes are caught by the compiler.
#define FEROLT_DECLARE_HANDLE(name)                                                                          \
    struct name##__                                                                                          \
    {                                                                                                        \
        int unused;                                                                                          \
    };                                                                                                       \
    using name = name##__*

using HANDLE = void*;
using PHANDLE = HANDLE*;
FEROLT_DECLARE_HANDLE(HWND);
FEROLT_DECLARE_HANDLE(HINSTANCE);
FEROLT_DECLARE_HANDLE(HRGN);
FEROLT_DECLARE_HANDLE(HMONITOR);
FEROLT_DECLARE_HANDLE(HDC);
FEROLT_DECLARE_HANDLE(HMENU);
FEROLT_DECLARE_HANDLE(HICON);
FEROLT_DECLARE_HANDLE(HBITMAP);
FEROLT_DECLARE_HANDLE(HFONT);
FEROLT_DECLARE_HANDLE(HBRUSH);
FEROLT_DECLARE_HANDLE(HPEN);
FEROLT_DECLARE_HANDLE(HKEY);
FEROLT_DECLARE_HANDLE(HRSRC);
using HMODULE = HINSTANCE;
using HCURSOR = HICON;
using HGDIOBJ = void*;
using HGLOBAL = void*;
using PHKEY = HKEY*;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define MAX_PATH 260

#define LOBYTE(w) (static_cast<BYTE>(static_cast<DWORD_PTR>(w) & 0xff))
#define HIBYTE(w) (static_cast<BYTE>((static_cast<DWORD_PTR>(w) >> 8) & 0xff))
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKEWORD(a, b)                                                                                       \
    (static_cast<WORD>((static_cast<BYTE>(a)) | (static_cast<WORD>(static_cast<BYTE>(b)) << 8)))
#define MAKELONG(a, b)                                                                                       \
    (static_cast<LONG>((static_cast<WORD>(a)) | (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define GET_X_LPARAM(lp) (static_cast<int>(static_cast<short>(LOWORD(lp))))
#define GET_Y_LPARAM(lp) (static_cast<int>(static_cast<short>(HIWORD(lp))))
#define RGB(r, g, b)                                                                                         \
    (static_cast<COLORREF>((static_cast<BYTE>(r)) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) |         \
                           (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(c) (LOBYTE(c))
#define GetGValue(c) (LOBYTE(static_cast<WORD>(c) >> 8))
#define GetBValue(c) (LOBYTE((c) >> 16))
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)

// Naturally aligned (no padding either way): packing would make references to the fields misaligned.
struct RECT
{
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct POINT
{
    LONG x;
    LONG y;
};
struct SIZE
{
    LONG cx;
    LONG cy;
};
static_assert(sizeof(RECT) == 16 && sizeof(POINT) == 8 && sizeof(SIZE) == 8);
static_assert(alignof(RECT) == 4 && alignof(POINT) == 4);
using LPRECT = RECT*;
using LPCRECT = const RECT*;
using LPPOINT = POINT*;
using LPSIZE = SIZE*;

union LARGE_INTEGER
{
    struct
    {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
};
union ULARGE_INTEGER
{
    struct
    {
        DWORD LowPart;
        DWORD HighPart;
    };
    ULONGLONG QuadPart;
};
static_assert(sizeof(LARGE_INTEGER) == 8 && sizeof(ULARGE_INTEGER) == 8);
using PLARGE_INTEGER = LARGE_INTEGER*;
using PULARGE_INTEGER = ULARGE_INTEGER*;

struct GUID
{
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
inline bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return a == b;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
