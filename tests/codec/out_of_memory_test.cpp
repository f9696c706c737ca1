// Memory running out while a read file becomes a scene: every allocation of assembling the sample
// file's objects and lights is made to fail in turn. Each run either ends cleanly or lets
// std::bad_alloc out for the viewer's load boundary to catch; whatever was made is released by its
// owner exactly once, so the sanitizer build finds neither a leak nor a double free.
#include "codec/p3d_read_codec.h"
#include "engine/engine_api.h"
#include "tests/engine/scene_model/scene_fixture.h"
#include "tests/support/sample_object_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace
{
// Only the test's own thread is counted: the engine's device thread must never see a failure.
thread_local bool t_armed = false;
thread_local long t_count = 0;
thread_local long t_failAt = -1;

void* Allocate(size_t n)
{
    if (t_armed && t_count++ == t_failAt) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
} // namespace

// Every form, so that the sanitizer runtime's own operators do not bypass the count.
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
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

namespace
{
const GUID* const kAccepted[] = {&ferolt::test::kViewerContentType, nullptr};

using OutOfMemoryTest = scenetest::SceneTest;

// Reads the file, then assembles it with allocation `failAt` failing (none for -1); the count of
// allocations the assembly made.
long LoadWithFailure(const ferolt::test::Bytes& file, long failAt, size_t* objectsMade)
{
    std::vector<LMK::Object_*> objects;
    std::vector<LMK::Light_*> lights;
    try
    {
        CP3DReadCodec codec;
        EXPECT_TRUE(codec.Read(file.data(), file.size(), nullptr, nullptr, kAccepted));
        t_count = 0;
        t_failAt = failAt;
        t_armed = true;
        codec.GetObjects(objects, false);
        codec.GetLights(lights);
        t_armed = false;
    }
    catch (const std::bad_alloc&)
    {
    }
    t_armed = false;
    *objectsMade = 0;
    for (LMK::Object_*& object : objects)
        if (object)
        {
            ++*objectsMade;
            LRReleaseObject(&object);
        }
    for (LMK::Light_*& light : lights)
        LRReleaseLight(&light);
    return t_count;
}
} // namespace

TEST_F(OutOfMemoryTest, EveryAllocationOfTheLoadPathMayFail)
{
    const ferolt::test::Bytes file = ferolt::test::SampleObjectFile(ferolt::test::kViewerContentType, true);
    size_t objects = 0;
    const long total = LoadWithFailure(file, -1, &objects);
    ASSERT_EQ(objects, 2u);
    ASSERT_GT(total, 10);
    for (long n = 0; n < total; ++n)
        LoadWithFailure(file, n, &objects);
}
