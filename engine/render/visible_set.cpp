#include "engine/render/visible_set.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "engine/core/view.h"
#include "engine/render/render_records.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr float kNearestNear = 0.05f;
constexpr float kFarthestFar = 1000.0f;
constexpr float kDepthStart = 1e10f;
// Impostors pay off only for batches of at least this many small objects.
constexpr size_t kImpostorGroupMinimum = 64;

bool IsBatchable(const Model_* model, DWORD mode)
{
    return model->textureLayers.empty() && mode < ModeEdgeModeBit && mode != DisplayModeIdColoursAll &&
           mode != DisplayModeIdColoursOpaque;
}

// Whether two objects of the chosen model draw alike, so one model draw with an instance list serves both.
bool DrawAlike(const Object_* head, const Object_* object, const Model_* chosen)
{
    // Each override array is sized by its object's own model, which may have fewer subsets than the
    // chosen one.
    const DWORD count = std::min({chosen->subsetCount, head->model->subsetCount, object->model->subsetCount});
    for (DWORD i = 0; i < count; ++i)
    {
        const Material_* a = head->overrides ? head->overrides[i] : nullptr;
        const Material_* b = object->overrides ? object->overrides[i] : nullptr;
        if (a != b) return false;
    }
    if (!(head->determinant * object->determinant >= 0.0f)) return false;
    if (head->tint != object->tint) return false;
    if (head->tint && !std::equal(std::begin(head->tintColor), std::end(head->tintColor), object->tintColor))
        return false;
    if (head->stretchPlanes.size() != object->stretchPlanes.size()) return false;
    if (!head->stretchPlanes.empty() && !AreStretchPlanesEqual(head->stretchPlanes, object->stretchPlanes))
        return false;
    if (head->seeThrough != object->seeThrough) return false;
    if (head->seeThrough && !(head->alphaFactor == object->alphaFactor)) return false;
    return true;
}

// Animated subsets and subsets culled by their plane are decided per object, so such models draw each
// object on its own.
bool KeepsBatches(const Model_* model)
{
    for (DWORD i = 0; i < model->subsetCount; ++i)
        if (model->subsets[i].animationNode || model->subsets[i].backFace) return false;
    return true;
}

Model_* ChooseAlternative(Model_* model, const RenderViewStruct_TYP* view)
{
    if (!view || view->alternativeSelector == 0 || model->alternatives.empty()) return model;
    const DWORD selector = view->alternativeSelector;
    for (const ModelAlternativeStruct_TYP& a : model->alternatives)
        if (a.value == selector && a.model) return a.model;
    if (!view->alternativeMasks) return model;
    const UINT maskCount = view->alternativeMasks->Size();
    for (UINT m = 0; m < maskCount; ++m)
    {
        const uint32_t mask = *view->alternativeMasks->Element(m);
        for (const ModelAlternativeStruct_TYP& a : model->alternatives)
            if ((a.value & mask) == (selector & mask) && a.model) return a.model;
    }
    return model;
}

// A list the set owns, to hand out as a batch or instance list.
std::vector<Object_*>* NewList(VisibleSetStruct_TYP* set)
{
    return set->lists.emplace_back(std::make_unique<std::vector<Object_*>>()).get();
}

void GroupImpostors(const VisibleSetInputStruct_TYP& input, std::vector<Object_*>* heads,
                    VisibleSetStruct_TYP* set)
{
    const RenderViewStruct_TYP* view = input.view;
    View_* camera = view->camera;
    size_t slot = 0;
    while (slot < heads->size())
    {
        Object_* head = (*heads)[slot];
        if (!head->instances || head->instances->size() + 1 < kImpostorGroupMinimum)
        {
            ++slot;
            continue;
        }
        std::vector<Object_*> small, large;
        auto sort = [&](Object_* o)
        {
            if (o->IsSmallerOnScreenThan(view->impostorSize, input.width, input.height, camera))
                small.push_back(o);
            else
                large.push_back(o);
        };
        sort(head);
        for (Object_* o : *head->instances)
            sort(o);
        if (small.size() < kImpostorGroupMinimum)
        {
            ++slot;
            continue;
        }

        const DWORD renderMode = view->modeFlags;
        LoadedPart_* atlas = nullptr;
        for (Object_* o : small)
            if (o->impostorAtlas && o->impostorRenderMode == renderMode)
            {
                atlas = o->impostorAtlas;
                break;
            }
        if (!atlas)
        {
            small.front()->BuildImpostorAtlas(renderMode);
            if (small.front()->impostorRenderMode == renderMode) atlas = small.front()->impostorAtlas;
        }
        if (atlas) atlas->AddRef();
        for (Object_* o : small)
        {
            SetImpostorAtlas(o, atlas, renderMode);
            set->impostors.push_back(o);
        }
        if (atlas) atlas->Release();

        head->instances = nullptr;
        if (large.empty())
        {
            heads->erase(heads->begin() + static_cast<std::ptrdiff_t>(slot));
            continue; // the head that moved into the slot is examined next
        }
        Object_* newHead = large.front();
        (*heads)[slot] = newHead;
        if (large.size() > 1)
        {
            newHead->instances = NewList(set);
            newHead->instances->assign(large.begin() + 1, large.end());
        }
        ++slot;
    }
}
} // namespace

void SetImpostorAtlas(Object_* object, LoadedPart_* atlas, DWORD renderMode)
{
    if (object->impostorAtlas == atlas && object->impostorRenderMode == renderMode) return;
    object->impostorRenderMode = renderMode;
    if (object->impostorAtlas) object->impostorAtlas->Release();
    object->impostorAtlas = atlas;
    if (atlas) atlas->AddRef();
}

Model_* ChooseModel(Object_* object, RenderViewStruct_TYP* view, DWORD mode, DWORD width, DWORD height)
{
    Model_* chosen = ChooseAlternative(object->model, view);
    if (mode == DisplayModeHiddenLines || chosen->lods.empty()) return chosen;
    const float size = object->GetScreenSize(width, height, view ? view->camera : nullptr);
    for (const ModelLODStruct_TYP& lod : chosen->lods)
        if (lod.threshold > size && lod.model) return lod.model;
    return chosen;
}

bool FitNearFar(float depthMinimum, float depthMaximum, float eyeOffset, float* zNear, float* zFar)
{
    // Nothing visible leaves the range empty; fitting it would give near = far, a singular projection.
    if (!(depthMinimum <= depthMaximum)) return false;
    float n = depthMinimum - eyeOffset;
    float f = depthMaximum - eyeOffset;
    if (n < kNearestNear) n = kNearestNear;
    if (f > kFarthestFar) f = kFarthestFar;
    if (f < n) f = n + 1.0f;
    // Far away, one unit is lost in the float; keep the planes apart anyway.
    if (!(f > n)) f = n * 1.001f;
    *zNear = n;
    *zFar = f;
    return true;
}

void BuildVisibleSet(const VisibleSetInputStruct_TYP& input, VisibleSetStruct_TYP* set)
{
    RenderViewStruct_TYP* view = input.view;
    View_* camera = view ? view->camera : nullptr;
    const bool autoNearFar = camera && camera->params.autoNearFar;
    float depthMinimum = kDepthStart;
    float depthMaximum = -kDepthStart;
    // Where each model's batch list sits in batchedModels, so an object finds its model's heads quickly.
    std::unordered_map<Model_*, size_t> batchSlots;

    for (DWORD i = 0; i < input.objectCount; ++i)
    {
        Object_* object = input.objects ? input.objects[i] : nullptr;
        if (!object || !object->visible || !object->model) continue;

        float objectNear = 0.0f, objectFar = 0.0f;
        if (!object->IsInFrustum(input.frustumPlanes, input.mirror, autoNearFar ? &objectNear : nullptr,
                                 autoNearFar ? &objectFar : nullptr))
            continue;
        if (autoNearFar)
        {
            depthMinimum = std::min(depthMinimum, objectNear);
            depthMaximum = std::max(depthMaximum, objectFar);
        }

        Model_* chosen = ChooseModel(object, view, input.mode, input.width, input.height);
        if (!IsBatchable(chosen, input.mode))
        {
            set->drawList.push_back({object, chosen});
            continue;
        }

        auto found = batchSlots.find(chosen);
        if (found == batchSlots.end())
        {
            found = batchSlots.emplace(chosen, set->batchedModels.size()).first;
            set->batchedModels.push_back({chosen, NewList(set)});
        }
        std::vector<Object_*>& heads = *set->batchedModels[found->second].batchList;
        Object_* joined = nullptr;
        for (Object_* head : heads)
            if (DrawAlike(head, object, chosen))
            {
                joined = head;
                break;
            }
        if (joined)
        {
            if (!joined->instances) joined->instances = NewList(set);
            joined->instances->push_back(object);
        }
        else
        {
            heads.push_back(object);
        }
    }

    if (autoNearFar && input.frustumPlanes && !input.frustumPlanes->empty())
    {
        const D3DXPLANE& p = (*input.frustumPlanes)[0];
        const float d = p.a * input.eye.x + p.b * input.eye.y + p.c * input.eye.z + p.d;
        float zNear = 0.0f, zFar = 0.0f;
        if (FitNearFar(depthMinimum, depthMaximum, d, &zNear, &zFar))
        {
            camera->GetNearFar(&set->keptNear, &set->keptFar);
            camera->SetNearFar(zNear, zFar);
            set->nearFarFitted = true;
        }
    }

    for (BatchedModelStruct_TYP& batched : set->batchedModels)
    {
        if (KeepsBatches(batched.model)) continue;
        for (Object_* head : *batched.batchList)
        {
            if (head->instances)
                for (Object_* member : *head->instances)
                    set->drawList.push_back({member, batched.model});
            set->drawList.push_back({head, batched.model});
            head->instances = nullptr;
        }
        batched.batchList = nullptr;
    }

    if (view && view->impostorSize != 0.0f)
        for (BatchedModelStruct_TYP& batched : set->batchedModels)
            if (batched.batchList) GroupImpostors(input, batched.batchList, set);

    for (const BatchedModelStruct_TYP& batched : set->batchedModels)
        if (batched.batchList)
            for (Object_* head : *batched.batchList)
                set->drawList.push_back({head, batched.model});
}

void FreeVisibleSet(VisibleSetStruct_TYP* set)
{
    for (const DrawPairStruct_TYP& pair : set->drawList)
        pair.object->instances = nullptr;
    for (BatchedModelStruct_TYP& batched : set->batchedModels)
    {
        if (batched.batchList)
            for (Object_* head : *batched.batchList)
                head->instances = nullptr;
        batched.batchList = nullptr;
    }
    set->lists.clear();
    set->drawList.clear();
    set->impostors.clear();
    set->batchedModels.clear();
}
} // namespace LMK
