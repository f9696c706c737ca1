// Per-device copies: the primary copy comes with the resource, others are made on first use.
#include "engine_fixture.h"

#include <string>

#include "engine/core/device_data.h"

using enginetest::EngineTest;

namespace
{
struct Log
{
    int created = 0;
    int applied = 0;
    int deleted = 0;
};

class TestData : public LMK::DeviceSpecificDataContainer_
{
public:
    TestData(IDirect3DDevice9* device, Log* log) : DeviceSpecificDataContainer_(device), log_(log) {}
    ~TestData() override { ++log_->deleted; }
    void Apply(void* a, void*) override
    {
        ++log_->applied;
        lastArgument = a;
    }
    void* lastArgument = nullptr;

private:
    Log* log_;
};

class TestResource : public LMK::DeviceSpecificDataHandler_
{
public:
    TestResource(IDirect3DDevice9* primary, Log* log) : log_(log)
    {
        primaryData = std::make_unique<TestData>(primary, log);
    }
    std::unique_ptr<LMK::DeviceSpecificDataContainer_> CreateDataForDevice(IDirect3DDevice9* device) override
    {
        ++log_->created;
        return std::make_unique<TestData>(device, log_);
    }

private:
    Log* log_;
};
} // namespace

TEST_F(EngineTest, CopiesPerDevice)
{
    struct Case
    {
        const char* title;
        int adapters;
        // Device index per fetch; 'R' drops the secondary copies.
        std::string script;
        int created;
        size_t secondary;
    };
    const Case cases[] = {
        {"one device: always the primary copy", 1, "000", 0, 0},
        {"two adapters: one copy for the other device", 2, "01100", 1, 1},
        {"a found copy is reused after the primary", 2, "0101", 1, 1},
        {"dropped copies are made again", 2, "01R1", 2, 1},
        {"alternating between two other devices", 3, "121212", 2, 2},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        std::vector<ferolt::hooks::D3D9Adapter> adapters;
        for (int i = 0; i < c.adapters; ++i)
            adapters.push_back(enginetest::SmallAdapter(64 * i));
        enginetest::UseAdapters(adapters);
        ASSERT_EQ(LRStart(nullptr), S_OK);
        const auto& devices = LMK::CurrentGlobals->devices;
        ASSERT_EQ(devices.requests.devices.size(), static_cast<size_t>(c.adapters));
        ASSERT_EQ(devices.primaryDevice, devices.requests.devices[0]);

        Log log;
        {
            TestResource resource(devices.primaryDevice->device, &log);
            int fetches = 0;
            for (char step : c.script)
            {
                if (step == 'R')
                {
                    resource.ReleaseSecondaryData();
                    EXPECT_EQ(resource.lastUsed, nullptr);
                    continue;
                }
                IDirect3DDevice9* device = devices.requests.devices[step - '0']->device;
                int marker = 0;
                auto* data = static_cast<TestData*>(resource.GetDataForDevice(device, &marker, nullptr));
                ++fetches;
                ASSERT_NE(data, nullptr);
                EXPECT_EQ(data->device, device);
                EXPECT_EQ(data->lastArgument, &marker); // Apply runs on every fetch
                EXPECT_EQ(resource.lastUsed, data);
            }
            EXPECT_EQ(log.applied, fetches);
            EXPECT_EQ(log.created, c.created);
            EXPECT_EQ(resource.secondaryData.size(), c.secondary);
            for (auto* data : resource.secondaryData)
                EXPECT_NE(data->device, devices.primaryDevice->device);
        }
        EXPECT_EQ(log.deleted, c.created + 1); // every copy, the primary one included
        ASSERT_EQ(LRStop(), S_OK);
    }
}

TEST_F(EngineTest, ReleaseAllDataKeepsNoCopy)
{
    ASSERT_EQ(LRStart(nullptr), S_OK);
    Log log;
    TestResource resource(LMK::CurrentGlobals->devices.primaryDevice->device, &log);
    resource.ReleaseAllData();
    EXPECT_EQ(resource.primaryData, nullptr);
    EXPECT_EQ(resource.lastUsed, nullptr);
    EXPECT_EQ(log.deleted, 1);
}
