#pragma once
// Parsers for the chunk contents of an object file. They only cut a chunk into its parts (views
// into the chunk's bytes, valid as long as they are); nothing here touches the engine. Each
// refuses a chunk whose counts do not fit in its bytes.
#include "codec/p3d_file_format.h"

#include <cstdint>
#include <string>
#include <vector>

// Types 1, 5 and 8: model data and instance records.
struct P3DModelChunk
{
    const BYTE* modelData = nullptr;
    size_t modelSize = 0;
    std::vector<P3DInstanceRecord> records;
    bool overBudget = false; // the chunk holds more than maxRecords records
};
// False, with nothing allocated, when the chunk holds more than maxRecords records.
bool P3DParseModelChunk(DWORD type, const BYTE* data, size_t size, P3DModelChunk& out,
                        size_t maxRecords = SIZE_MAX);
// The model data of a chunk of one of these types that P3DParseModelChunk reads without a bound on its
// records; false for any other chunk. The records are not read.
bool P3DFindModelData(DWORD type, const BYTE* data, size_t size, const BYTE** modelData, size_t* modelSize);

// Type 7: model-chunk items.
struct P3DModelChunkItem
{
    DWORD id;
    DWORD entryIndex;
    const BYTE* data;
    DWORD size;
};
// Items back to back while a whole item header remains; false when an item's data runs past the
// chunk (the items before it are kept).
bool P3DParseModelChunkItems(const BYTE* data, size_t size, std::vector<P3DModelChunkItem>& out);

// Type 9: light items, each a light point index and a stored light record of its own length.
struct P3DLightItem
{
    DWORD lightPointIndex;
    const BYTE* record;
    DWORD size;
};
bool P3DParseLightItems(const BYTE* data, size_t size, std::vector<P3DLightItem>& out);

// Type 3: chunk-entry index and the animation stream, which ends with the chunk.
struct P3DAnimationChunk
{
    DWORD entryIndex = 0;
    const BYTE* stream = nullptr;
    size_t length = 0;
};
bool P3DParseAnimationChunk(const BYTE* data, size_t size, P3DAnimationChunk& out);

// Type 11: size / 4 values; a remainder of 1 to 3 bytes is ignored.
void P3DParseSpecialFlags(const BYTE* data, size_t size, std::vector<DWORD>& out);

// Types 4 (no flags) and 6 (flags first): name and image data. False when the name's length runs past
// the chunk or no zero ends the name within it.
struct P3DTextureChunk
{
    DWORD flags = 0;
    std::string name;
    const BYTE* image = nullptr;
    size_t imageSize = 0;
};
bool P3DParseTextureChunk(bool withoutFlags, const BYTE* data, size_t size, P3DTextureChunk& out);
