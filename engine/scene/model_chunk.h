#pragma once
// A model chunk: an opaque block that travels with a model (subset attribute tables and the like).
#include "platform/win32/windef.h"

namespace LMK
{

struct ModelChunkStruct_TYP
{
    DWORD id;
    BYTE* data; // owned by whoever holds the chunk until it is handed on
    DWORD size;
};

} // namespace LMK
