#pragma once
// The parsed form of an effect: a flat tree of parameter nodes over one block of values, and the
// techniques. Shared read-only between an effect and its clones, so handles work on both.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3dx9/d3dx9effect.h"

namespace ferolt::d3dx9
{
// Limits on what an effect text may declare; a text past them is refused.
constexpr size_t kMaxEffectText = 1u << 20;
constexpr size_t kMaxEffectNodes = 1u << 16;
constexpr size_t kMaxEffectValueBytes = 1u << 20;
constexpr UINT kMaxEffectArray = 4096;

struct EffectNode
{
    std::string name; // as declared ("lights"), or "name[3]" for an element
    D3DXPARAMETER_CLASS cls = D3DXPC_SCALAR;
    D3DXPARAMETER_TYPE type = D3DXPT_VOID;
    UINT rows = 1;
    UINT columns = 1;
    UINT elements = 0;           // array length; 0 when the node is not an array
    std::vector<size_t> members; // struct members, or the elements of an array
    size_t offset = 0;           // into the value block; for textures, the texture slot
    size_t bytes = 0;            // size in the value block (0 for textures)
};

struct EffectTechnique
{
    std::string name;
    UINT passes = 1;
    bool needsShaders = false;
};

struct EffectDescription
{
    std::vector<EffectNode> nodes;
    std::vector<size_t> topLevel;
    std::vector<EffectTechnique> techniques;
    size_t valueBytes = 0;
    size_t textureSlots = 0;
};

// Parses an effect text. On failure returns null and describes the first fault in *error.
std::shared_ptr<const EffectDescription> ParseEffect(const char* text, size_t size, std::string* error);
} // namespace ferolt::d3dx9
