// Memory running out for the model itself at the end of CreateModel: the failure is reported, no model
// comes back, and the constructor still gives back every material reference it held.
#include "engine/scene/model_constructor.h"
#include "scene_fixture.h"

#include <cstdlib>
#include <new>

namespace
{
// Only the test's own thread fails, and only the one allocation of a model's size it is armed for.
thread_local size_t t_failSize = 0;

void* Allocate(size_t n)
{
    if (t_failSize && n == t_failSize)
    {
        t_failSize = 0;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
} // namespace

// Every form, so that the sanitizer runtime's own operators do not bypass the test's.
void* operator new(size_t n)
{
    return Allocate(n);
}
void* operator new[](size_t n)
{
    return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    try
    {
        return Allocate(n);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t& tag) noexcept
{
    return operator new(n, tag);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    std::free(p);
}

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
        t_failSize = sizeof(LMK::Model_);
        EXPECT_EQ(c.CreateModel(&model, false, true), E_OUTOFMEMORY);
        t_failSize = 0;
        EXPECT_EQ(model, nullptr);
        EXPECT_TRUE(c.faces.empty());
        EXPECT_TRUE(c.outSubsets.empty());
    }
    EXPECT_EQ(material->refCount, 1u) << "every face's and subset's reference given back";
    material->Release();
}
} // namespace
