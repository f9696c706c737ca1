// Edges of the edge display modes on a cube whose faces are its subsets, seen from above one corner:
// wireframe draws all twelve edges (in the subsets' material, over the background), the hidden-line
// modes the nine in front in the view's edge colour, and the lists live only for the draw.
#include "render_view_fixture.h"

#include <algorithm>
#include <cmath>

namespace
{
using namespace rendertest;

constexpr D3DCOLOR kEdge = 0xFFFF0000;
constexpr D3DCOLOR kSurface = 0xFFFFFFFF;

struct Edge
{
    D3DXVECTOR3 a, b;
};

// The cube [-0.5, 0.5]^3; seen from (+, +, +) the three edges at (-, -, -) are hidden.
std::vector<Edge> CubeEdges(bool* hidden)
{
    std::vector<Edge> edges;
    for (int axis = 0; axis < 3; ++axis)
        for (int s = 0; s < 4; ++s)
        {
            D3DXVECTOR3 a, b;
            float* pa = &a.x;
            float* pb = &b.x;
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            pa[axis] = -0.5f;
            pb[axis] = 0.5f;
            pa[u] = pb[u] = (s & 1) ? 0.5f : -0.5f;
            pa[v] = pb[v] = (s & 2) ? 0.5f : -0.5f;
            hidden[edges.size()] = s == 0; // both other coordinates negative: it meets (-, -, -)
            edges.push_back({a, b});
        }
    return edges;
}

class EdgesTest : public RenderViewTest
{
protected:
    static bool IsEdgeColour(uint32_t p) { return Near(p, {255, 0, 0}, 0); }
    static bool IsNotBackground(uint32_t p) { return p != kBackground; }

    // Whether an edge pixel lies within one pixel of p.
    template <typename Test> bool EdgeNear(const std::vector<uint32_t>& pixels, POINT p, Test isEdge) const
    {
        for (LONG y = p.y - 1; y <= p.y + 1; ++y)
            for (LONG x = p.x - 1; x <= p.x + 1; ++x)
                if (x >= 0 && y >= 0 && x < kWidth && y < kHeight && isEdge(pixels[y * kWidth + x]))
                    return true;
        return false;
    }

    static constexpr LONG kWidth = 128, kHeight = 96;
};

TEST_F(EdgesTest, EachEdgeModeDrawsItsEdgesInTheEdgeColour)
{
    Start({{0, 0, kWidth, kHeight}});
    HWND w = Window({0, 0, kWidth, kHeight});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({2.5f, 2.0f, 4.0f}, 2.0f, 1.5f);
    LMK::Object_* box = AddBox({0, 0, 0}, 0.5f, Uniform(0, 0, 1));
    bool hidden[12] = {};
    const std::vector<Edge> edges = CubeEdges(hidden);

    struct Case
    {
        const char* name;
        uint32_t mode;
        bool hiddenShown;
        bool faceShown; // what a hidden edge's middle shows when it is not drawn: the face, or the surface
    } cases[] = {
        {"wireframe", LMK::DisplayModeWireframe, true, false},
        {"wireframe, lit", LMK::DisplayModeWireframeLit, true, false},
        {"hidden lines", LMK::DisplayModeHiddenLines, false, false},
        {"shaded with edges", LMK::DisplayModeShadedWithEdges, false, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::RenderViewStruct_TYP v = Record(bb);
        v.modeFlags = c.mode;
        v.edgeColor = kEdge;
        v.surfaceColor = kSurface;
        ASSERT_EQ(Render(&v, {box}), S_OK);
        const std::vector<uint32_t> pixels = Pixels(w);
        auto isEdge = c.hiddenShown ? &IsNotBackground : &IsEdgeColour;

        // About one pixel per step along the longer axis of every drawn edge.
        double expected = 0;
        for (size_t e = 0; e < edges.size(); ++e)
        {
            const POINT a = Project(bb, edges[e].a), b = Project(bb, edges[e].b);
            const POINT middle = Project(bb, (edges[e].a + edges[e].b) * 0.5f);
            const bool drawn = !hidden[e] || c.hiddenShown;
            EXPECT_EQ(EdgeNear(pixels, middle, isEdge), drawn) << "edge " << e;
            if (!drawn)
            {
                const Rgb inside = Split(pixels[middle.y * kWidth + middle.x]);
                if (c.faceShown)
                    EXPECT_TRUE(inside.r == 0 && inside.g == 0 && inside.b > 0) << "edge " << e;
                else
                    EXPECT_TRUE(Near(pixels[middle.y * kWidth + middle.x], {255, 255, 255}, 0))
                        << "edge " << e;
            }
            if (drawn) expected += std::max(std::abs(a.x - b.x), std::abs(a.y - b.y));
        }
        const auto counted = std::count_if(pixels.begin(), pixels.end(), isEdge);
        // Edges meeting at a corner share up to two of its pixels.
        const double drawnEdges = c.hiddenShown ? 12 : 9;
        EXPECT_LE(static_cast<double>(counted), expected + drawnEdges);
        EXPECT_GE(static_cast<double>(counted), expected - 3 * drawnEdges);
        if (c.mode == LMK::DisplayModeShadedWithEdges)
        {
            // The faces keep their own colour between the edges.
            const POINT centre = Project(bb, {0.5f, 0.0f, 0.0f});
            EXPECT_FALSE(IsEdgeColour(pixels[centre.y * kWidth + centre.x]));
            EXPECT_GT(Split(pixels[centre.y * kWidth + centre.x]).b, 0);
        }
    }
    // The lists are freed after each object's draw.
    LMK::Model_* model = box->model;
    for (DWORD s = 0; s < model->subsetCount; ++s)
    {
        EXPECT_EQ(model->subsets[s].silhouetteEdges, nullptr);
        EXPECT_EQ(model->subsets[s].hiddenEdges, nullptr);
    }
}

// Built directly: one list per subset, shared cube edges taken once per subset, hidden lists as strips
// starting with the counted edges; a subset whose range is missing stops the build and leaves no list.
TEST_F(EdgesTest, ListsAreBuiltPerSubsetAndAStoppedBuildLeavesNone)
{
    Start({{0, 0, kWidth, kHeight}});
    Camera({2.5f, 2.0f, 4.0f}, 2.0f, 1.5f);
    LMK::Object_* box = AddBox({0, 0, 0}, 0.5f, Uniform(0, 0, 1));
    LMK::Model_* model = box->model;
    model->currentObject = box;
    model->PrepareForObject(box);
    ASSERT_TRUE(model->BuildSilhouetteEdges(camera_, 1, 1));
    for (DWORD s = 0; s < 6; ++s)
    {
        EXPECT_EQ(model->subsets[s].silhouetteEdgeCount, 4u) << "a face's four sides border other subsets";
    }
    model->FreeSilhouetteEdges();
    ASSERT_TRUE(model->BuildHiddenEdges(camera_, 1, 1));
    for (DWORD s = 0; s < 6; ++s)
    {
        const LMK::SubsetStruct_TYP& subset = model->subsets[s];
        ASSERT_EQ(subset.hiddenEdgeCount, 2u) << "both triangles have two outer sides";
        const auto* counts = static_cast<const BYTE*>(subset.hiddenEdgeFaceFlags);
        const auto* quads = static_cast<const WORD*>(subset.hiddenEdges);
        for (int k = 0; k < 2; ++k)
        {
            EXPECT_EQ(counts[k], 2);
            EXPECT_EQ(quads[4 * k], quads[4 * k + 3]) << "a closed strip";
        }
    }
    // Without neighbours only open edges could count, and the cube has none.
    ASSERT_TRUE(model->BuildSilhouetteEdges(camera_, 1, 0));
    for (DWORD s = 0; s < 6; ++s)
        EXPECT_EQ(model->subsets[s].silhouetteEdges, nullptr);

    // A subset without faces (one holding lines, say) has no range and needs none: the build goes on.
    Box geometry({0, 0, 0}, 0.5f);
    std::vector<LMK::SubsetStruct_TYP> withEmpty;
    for (DWORD f = 0; f < 7; ++f)
    {
        LMK::SubsetStruct_TYP s{};
        s.firstFace = f < 3 ? 2 * f : 2 * (f - 1);
        s.faceCount = f == 3 ? 0 : 2;
        s.sourceIndex = LMK::kNoSourceIndex;
        withEmpty.push_back(s);
    }
    HRESULT hr = E_FAIL;
    auto* gapped = new LMK::Model_(1, geometry.vertices.data(), static_cast<DWORD>(geometry.vertices.size()),
                                   geometry.indices.data(), 12, nullptr, 0, withEmpty.data(), 7, nullptr,
                                   nullptr, &hr, 0, 0, 0, nullptr, 0, 1);
    ASSERT_EQ(hr, S_OK);
    LMK::Object_* gappedBox = Place(gapped);
    gapped->currentObject = gappedBox;
    gapped->PrepareForObject(gappedBox);
    ASSERT_TRUE(gapped->BuildSilhouetteEdges(camera_, 1, 1));
    for (DWORD s = 0; s < 7; ++s)
        EXPECT_EQ(gapped->subsets[s].silhouetteEdgeCount, s == 3 ? 0u : 4u) << s;
    gapped->FreeSilhouetteEdges();

    // A subset with faces that its part has no range for: nothing built is left behind.
    model->FreeHiddenEdges();
    model->subsets[5].faceCount += 1;
    LMK::LKXMesh_* part = model->PrimaryParts()[0];
    const DWORD saved = part->attributeTable[part->attributeRangeCount - 1].AttribId;
    part->attributeTable[part->attributeRangeCount - 1].AttribId = 77;
    EXPECT_FALSE(model->BuildSilhouetteEdges(camera_, 1, 1));
    EXPECT_FALSE(model->BuildHiddenEdges(camera_, 1, 1));
    for (DWORD s = 0; s < 6; ++s)
    {
        EXPECT_EQ(model->subsets[s].silhouetteEdges, nullptr) << s;
        EXPECT_EQ(model->subsets[s].hiddenEdges, nullptr) << s;
    }
    part->attributeTable[part->attributeRangeCount - 1].AttribId = saved;
    model->subsets[5].faceCount -= 1;
}
} // namespace
