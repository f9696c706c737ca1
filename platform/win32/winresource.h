#pragma once
// Resources compiled into the executable (cmake/FeroltResources.cmake) and their look-up.
// Types and names are integers (MAKEINTRESOURCE) or strings; string names and types match
// case-insensitively, and "#123" stands for the integer 123.
#include "platform/win32/windef.h"

#define RT_CURSOR MAKEINTRESOURCEA(1)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_MENU MAKEINTRESOURCEA(4)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_FONTDIR MAKEINTRESOURCEA(7)
#define RT_FONT MAKEINTRESOURCEA(8)
#define RT_ACCELERATOR MAKEINTRESOURCEA(9)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_MESSAGETABLE MAKEINTRESOURCEA(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCEA(12)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#define RT_VERSION MAKEINTRESOURCEA(16)
#define RT_HTML MAKEINTRESOURCEA(23)
#define RT_MANIFEST MAKEINTRESOURCEA(24)

// Null module means the executable. Fails with ERROR_RESOURCE_TYPE_NOT_FOUND or
// ERROR_RESOURCE_NAME_NOT_FOUND.
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
#define FindResource FindResourceA
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
// The bytes stay valid for the life of the process; a terminating zero follows them (not counted).
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL data);

// Strings of the string tables, as UTF-8. Copies at most size - 1 bytes (never a partial character)
// and a terminating zero; returns the bytes copied, 0 when the string does not exist.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
#define LoadString LoadStringA

namespace ferolt::win32
{
// One embedded resource as the generated resource table describes it.
struct EmbeddedResource
{
    const char* type;          // string type, or null when typeId is used
    WORD typeId;               // integer type (RT_*), when type is null
    const char* name;          // string name, or null when nameId is used
    WORD nameId;               // integer name, when name is null
    const unsigned char* data; // followed by one zero byte
    const unsigned char* end;  // one past the last byte
    bool stringTable;          // data is "id<TAB>text" lines to be turned into RT_STRING blocks
};

// Called by the generated table's static initialiser; every table adds to the executable's resources.
void RegisterEmbeddedResources(const EmbeddedResource* entries, size_t count);

// Looks a string of the string tables up without copying; false when it does not exist.
bool FindResourceString(UINT id, const char** text, size_t* length);
} // namespace ferolt::win32
