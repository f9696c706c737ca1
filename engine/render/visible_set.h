#pragma once
// The visible set of one back-buffer part: which objects a render pass draws, with which model, and how.
// Objects are culled against the frustum, their model is chosen among alternatives and levels of detail,
// objects that share a model and draw alike are batched, large batches of small objects become
// impostors, and with automatic near/far the camera's planes are fitted to what is visible.
#include <memory>
#include <vector>

#include "platform/d3dx9/d3dx9.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Object_;
class Model_;
class View_;
class LoadedPart_;
struct RenderViewStruct_TYP;

struct DrawPairStruct_TYP
{
    Object_* object;
    Model_* model; // the chosen model; the object keeps its own
};

// A model that got a batch head in this part, with its batch list: the heads of its batches. Each
// head's further members are in the head's instance list (Object_::instances).
struct BatchedModelStruct_TYP
{
    Model_* model;
    std::vector<Object_*>* batchList; // null once dissolved; owned by the set's lists
};

struct VisibleSetStruct_TYP
{
    // Unbatched objects in array order, then members of dissolved batches, then surviving batch heads.
    std::vector<DrawPairStruct_TYP> drawList;
    std::vector<Object_*> impostors;
    std::vector<BatchedModelStruct_TYP> batchedModels;
    // Set when the camera's near and far were fitted; the pass puts the kept values back afterwards.
    bool nearFarFitted = false;
    float keptNear = 0.0f;
    float keptFar = 0.0f;
    // Every batch list and instance list above points into these; they live until FreeVisibleSet.
    std::vector<std::unique_ptr<std::vector<Object_*>>> lists;
};

struct VisibleSetInputStruct_TYP
{
    RenderViewStruct_TYP* view; // its camera, selector, masks, impostor size and mode flags are read
    DWORD objectCount;
    Object_** objects;
    DWORD mode;                                  // after the edge-mode masking, high flags still in
    const D3DXMATRIX* mirror;                    // R in a mirror pass, else null
    const std::vector<D3DXPLANE>* frustumPlanes; // near, far, then the four sides
    const D3DXMATRIX* viewProjection;
    const D3DXMATRIX* inverseViewProjection;
    D3DXVECTOR3 eye;
    DWORD width; // of the back buffer, for on-screen sizes
    DWORD height;
};

// The model an object draws with: its alternative for the view's selector, then the level of detail
// for its size on screen (never in hidden-line mode).
Model_* ChooseModel(Object_* object, RenderViewStruct_TYP* view, DWORD mode, DWORD width, DWORD height);

// Fills *set (which must be empty) for one part. With automatic near/far it also sets the camera's
// planes; FreeVisibleSet does not restore them.
void BuildVisibleSet(const VisibleSetInputStruct_TYP& input, VisibleSetStruct_TYP* set);

// Frees every instance list and batch list the set made (no object keeps its instance list) and
// empties it.
void FreeVisibleSet(VisibleSetStruct_TYP* set);

// The near and far planes fitted to a depth range measured along the near plane's normal from the eye
// offset d; false when nothing was measured (the camera's planes then stay).
bool FitNearFar(float depthMinimum, float depthMaximum, float eyeOffset, float* zNear, float* zFar);

// Impostor atlases: setting one is plain reference keeping (building one is the impostor renderer's).
void SetImpostorAtlas(Object_* object, LoadedPart_* atlas, DWORD renderMode);
} // namespace LMK
