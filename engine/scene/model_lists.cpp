#include "engine/scene/model_lists.h"

#include "engine/core/globals.h"
#include "engine/core/material_loader_lists.h"
#include "engine/scene/model.h"

namespace LMK
{
void LoadModelLists(Model_* model, const char* listName, DWORD shared, BYTE allow3DS, BYTE noResmooth,
                    BYTE noLODs, BYTE noAlternatives, ModelLoadByName load)
{
    if (!model || !listName || !load || !CurrentGlobals) return;
    AllLoaders_& registry = CurrentGlobals->loaders;
    auto loadOne = [&](const CString& name, BYTE itsNoLODs) -> Model_*
    {
        Model_* listed = nullptr;
        if (FAILED(load(name, shared, allow3DS, noResmooth, &listed, itsNoLODs, 1))) return nullptr;
        return listed;
    };
    if (!noLODs)
    {
        lumoVector<LoaderLODStruct_TYP> list;
        if (registry.GetLODs(LoadedPartModel, listName, &list) == 0)
        {
            SortLevelsOfDetail(&list);
            LoadListEntries(list, model, &model->lods, [&](const CString& name) { return loadOne(name, 1); });
        }
    }
    if (!noAlternatives)
    {
        lumoVector<LoaderAlternativeStruct_TYP> list;
        if (registry.GetAlternatives(LoadedPartModel, listName, &list) == 0)
            LoadListEntries(list, model, &model->alternatives,
                            [&](const CString& name) { return loadOne(name, 0); });
    }
}
} // namespace LMK
