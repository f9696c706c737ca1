#pragma once
// What one object file may make. Each figure is far above what real files hold (a scene of a few
// thousand models and placements, tens of megabytes unpacked) and far below what would exhaust the
// machine; every count is checked before what it sizes is allocated. A file over any of them is
// refused whole: the reader keeps nothing of it, so the scene is never half-built.
#include "codec/codec_export.h"

#include <cstddef>

struct P3DBudget
{
    static constexpr size_t kUnpackedBytes = size_t{256} << 20; // all bzip2 sections together
    static constexpr size_t kChunks = 262144;
    static constexpr size_t kModels = 4096;
    static constexpr size_t kInstanceRecords = 65536; // one object each
    static constexpr size_t kTableRows = 65536;       // chunk entries, material sets, light groups
    static constexpr size_t kLights = 65536;          // in all light groups together
    static constexpr size_t kModelChunks = 65536;     // model-chunk items
    static constexpr size_t kDecodedVertices = size_t{4} << 20;
    static constexpr size_t kDecodedFaces = size_t{4} << 20;
};

// Why a file was refused; None while it is being read or was read.
enum class P3DRefusal
{
    None,
    UnpackedBytes,
    Chunks,
    Models,
    InstanceRecords,
    TableRows,
    Lights,
    ModelChunks,
    DecodedVertices,
    DecodedFaces,
    OutOfMemory,
};

// The reason in words, for logs and messages.
FEROLT_CODEC_API const char* P3DRefusalText(P3DRefusal refusal);
