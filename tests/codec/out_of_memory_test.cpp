// Memory running out while a read file becomes a scene: every allocation of reading the sample file
// (its models built by the engine) and of assembling its objects and lights is made to fail in turn. Each run
// either ends cleanly or lets std::bad_alloc out for the viewer's load boundary to catch; whatever was made
// is released by its owner exactly once, so the sanitizer build finds neither a leak nor a double free.
#include "codec/p3d_read_codec.h"
#include "engine/engine_api.h"
#include "tests/engine/scene_model/scene_fixture.h"
#include "tests/support/failing_allocation.h"
#include "tests/support/sample_object_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace
{
// Counts the test thread's allocations and fails the one at t_failAt.
thread_local long t_count = 0;
thread_local long t_failAt = -1;

bool FailAtCount(size_t)
{
    return t_count++ == t_failAt;
}
} // namespace

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
        ferolt::test::SetAllocationVeto(FailAtCount);
        codec.GetObjects(objects, false);
        codec.GetLights(lights);
        ferolt::test::SetAllocationVeto(nullptr);
    }
    catch (const std::bad_alloc&)
    {
    }
    ferolt::test::SetAllocationVeto(nullptr);
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

// Reads the file with allocation `failAt` failing (none for -1) and releases what the read made; the
// count of allocations the read made. The read either succeeds or refuses the file: nothing escapes it.
long ReadWithFailure(const ferolt::test::Bytes& file, long failAt, bool* read)
{
    std::vector<LMK::Object_*> objects;
    {
        CP3DReadCodec codec;
        t_count = 0;
        t_failAt = failAt;
        ferolt::test::SetAllocationVeto(FailAtCount);
        *read = codec.Read(file.data(), file.size(), nullptr, nullptr, kAccepted);
        ferolt::test::SetAllocationVeto(nullptr);
        if (*read) codec.GetObjects(objects, false);
    }
    for (LMK::Object_*& object : objects)
        LRReleaseObject(&object);
    return t_count;
}

TEST_F(OutOfMemoryTest, EveryAllocationOfTheReadMayFail)
{
    const ferolt::test::Bytes file = ferolt::test::SampleObjectFile(ferolt::test::kViewerContentType, true);
    bool read = false;
    const long total = ReadWithFailure(file, -1, &read);
    ASSERT_TRUE(read);
    ASSERT_GT(total, 10);
    for (long n = 0; n < total; ++n)
        ReadWithFailure(file, n, &read);
}
