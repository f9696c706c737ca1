#pragma once
// The registry, kept in a typed hive file in the user's configuration directory
// ($XDG_CONFIG_HOME or ~/.config, then ferolt/registry.hive). Every change is written at once, atomically
// (a temporary file renamed over the hive); a damaged hive is set aside as registry.hive.damaged and the
// registry starts empty. Key and value names match case-insensitively; key paths use backslashes.
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

using LSTATUS = LONG;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ 0x00020019u
#define KEY_WRITE 0x00020006u
#define KEY_EXECUTE 0x00020019u
#define KEY_ALL_ACCESS 0x000F003Fu

#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_OPTION_VOLATILE 0x00000001u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

struct SECURITY_ATTRIBUTES;

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
#define RegOpenKeyEx RegOpenKeyExA
LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
#define RegOpenKey RegOpenKeyA
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                        SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition);
#define RegCreateKeyEx RegCreateKeyExA
LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
#define RegCreateKey RegCreateKeyA
LSTATUS RegCloseKey(HKEY key);
// With a null data buffer only the size (and type) is reported; a too small buffer gives ERROR_MORE_DATA
// with the needed size. A null or empty name is the key's default value.
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
#define RegQueryValueEx RegQueryValueExA
// A REG_SZ value is stored with its terminating zero even when the caller's size left it out.
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
#define RegSetValueEx RegSetValueExA
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
#define RegDeleteValue RegDeleteValueA
// Deletes a key without subkeys (ERROR_ACCESS_DENIED otherwise, as the original).
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
#define RegDeleteKey RegDeleteKeyA
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR keyClass,
                      LPDWORD classSize, void* lastWriteTime);
#define RegEnumKeyEx RegEnumKeyExA
LSTATUS RegFlushKey(HKEY key);
