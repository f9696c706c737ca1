#pragma once
// A started engine, a camera looking along +z at the origin, and models of small flat quads placed by
// translation, so each object's bounding sphere and screen size follow from where it stands.
#include "../scene_model/scene_fixture.h"

#include <vector>

#include "engine/core/view.h"
#include "engine/render/render_records.h"
#include "engine/scene/object.h"
#include "engine/scene/object_api.h"

namespace rendertest
{
using scenetest::RawGeometry;

// count quads side by side in the plane z = 0, spanning x from 0 to 1 and y from 0 to 1.
inline RawGeometry QuadRow(int count)
{
    RawGeometry g;
    for (int i = 0; i < count; ++i)
    {
        const float x0 = float(i) / float(count), x1 = float(i + 1) / float(count);
        const DWORD a = g.AddVertex(x0, 0, 0), b = g.AddVertex(x1, 0, 0), c = g.AddVertex(x1, 1, 0),
                    d = g.AddVertex(x0, 1, 0);
        g.indices.insert(g.indices.end(), {a, b, c, a, c, d});
    }
    return g;
}

class RenderSetupTest : public scenetest::SceneTest
{
protected:
    void TearDown() override
    {
        for (LMK::Object_*& o : objects)
            if (o) LRReleaseObject(&o);
        for (LMK::Model_* m : models)
            m->Release();
        delete camera;
        SceneTest::TearDown();
    }

    // A model of count quads in subsetCount equal subsets; the fixture keeps the reference.
    LMK::Model_* MakeModel(int quads = 1, DWORD subsetCount = 1)
    {
        const RawGeometry g = QuadRow(quads);
        std::vector<LMK::SubsetStruct_TYP> subsets;
        const DWORD per = g.FaceCount() / subsetCount;
        for (DWORD s = 0; s < subsetCount; ++s)
            subsets.push_back(
                scenetest::Subset(s * per, s + 1 == subsetCount ? g.FaceCount() - s * per : per));
        HRESULT hr = E_FAIL;
        LMK::Model_* m = scenetest::BuildModel(g, subsets, &hr);
        EXPECT_EQ(hr, S_OK);
        models.push_back(m);
        return m;
    }

    // A counted copy for a model's level-of-detail or alternative list.
    static LMK::Model_* Counted(LMK::Model_* m)
    {
        m->AddRef();
        return m;
    }

    LMK::Object_* Place(LMK::Model_* model, float x, float y, float z, float scale = 1.0f)
    {
        D3DXMATRIX s, t, m;
        D3DXMatrixScaling(&s, scale, scale, scale);
        D3DXMatrixTranslation(&t, x, y, z);
        D3DXMatrixMultiply(&m, &s, &t);
        LMK::Object_* object = nullptr;
        EXPECT_EQ(LRCreateObject(model, &object, &m), S_OK);
        if (object) object->visible = 1;
        objects.push_back(object);
        return object;
    }

    void MakeCamera(D3DXVECTOR3 eye = {0, 0, -20}, D3DXVECTOR3 target = {0, 0, 0}, float window = 40)
    {
        delete camera;
        camera = new LMK::View_(eye, target, D3DXVECTOR3(0, 1, 0), 0, window, window, 1, 1000);
        view.camera = camera;
    }

    std::vector<LMK::Model_*> models;
    std::vector<LMK::Object_*> objects;
    LMK::View_* camera = nullptr;
    LMK::RenderViewStruct_TYP view{};
};
} // namespace rendertest
