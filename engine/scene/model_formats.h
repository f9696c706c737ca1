#pragma once
// The tests that recognise the model file formats from their first bytes, in the order the model
// loader tries them. Each is false for null data.
#include "platform/win32/windef.h"

namespace LMK
{
constexpr DWORD kLK3DMagic = 0x44334B4C; // "LK3D"
constexpr DWORD kK3DDMagic = 0x4444334B; // "K3DD"
constexpr DWORD kK3dDMagic = 0x4464334B; // "K3dD"
constexpr DWORD kV7QMagic = 0x21713776;  // "v7q!"
constexpr DWORD kPackedModelMagic = 0xA7B6C5D4;
constexpr DWORD kModelFileHeaderSize = 20; // "LK3D" and "K3DD"

bool IsLK3DContainer(const void* data, DWORD size);
bool IsK3DDContainer(const void* data, DWORD size);
bool IsXFile(const void* data, DWORD size);
bool Is3DSFile(const void* data, DWORD size);
bool IsV7QContainer(DWORD size, const void* data);
bool IsModelBlob(const void* data, DWORD size);
bool IsPackedModelContainer(const void* data, DWORD size);
} // namespace LMK
