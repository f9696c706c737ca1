// Memory running out for the model itself at the end of CreateModel: the failure is reported, no model
// comes back, and the constructor still gives back every material reference it held.
#include "engine/scene/model_constructor.h"
#include "scene_fixture.h"
#include "tests/support/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace
{
// Fails the test thread's next allocation of a model's size, once.
bool FailModelSizeOnce(size_t n)
{
    if (n != sizeof(LMK::Model_)) return false;
    ferolt::test::SetAllocationVeto(nullptr);
    return true;
}
} // namespace

namespace
{
using scenetest::SceneTest;

TEST_F(SceneTest, ModelThatCannotBeAllocatedIsAFailure)
{
    auto* material = new LMK::Material_(1, 0, 0, 1, false);
    LMK::Model_* model = reinterpret_cast<LMK::Model_*>(material);
    {
        LMK::ModelConstructor_ c;
        c.SetCurrentMaterial(material);
        const float quad[12] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
        ASSERT_EQ(LMK::ModelConstructor_::AddQuad(&c, quad), S_OK);
        ferolt::test::SetAllocationVeto(FailModelSizeOnce);
        EXPECT_EQ(c.CreateModel(&model, false, true), E_OUTOFMEMORY);
        ferolt::test::SetAllocationVeto(nullptr);
        EXPECT_EQ(model, nullptr);
        EXPECT_TRUE(c.faces.empty());
        EXPECT_TRUE(c.outSubsets.empty());
    }
    EXPECT_EQ(material->refCount, 1u) << "every face's and subset's reference given back";
    material->Release();
}
} // namespace
