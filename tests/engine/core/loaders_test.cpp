// The loader registry and the release cache: sharing by upper-cased name, parking, eviction, purge.
#include "engine_fixture.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "platform/mfc/afx_string.h"

using enginetest::EngineTest;

namespace
{
constexpr DWORD kMiB = 0x100000;

// What the test loader serves and what happened to it.
struct LoaderLog
{
    std::map<std::string, DWORD> files; // upper-cased name -> delivered size
    int answer = 0;                     // forced answer when not 0
    int loads = 0;
    int releasesWithData = 0;
    std::vector<std::string> unloaded;    // on-unload callbacks, in order
    std::vector<bool> fileLoadersPresent; // at each on-unload callback
    std::vector<std::string> deleted;     // resources deleted, in order
};

std::string Upper(const char* name)
{
    CString s(name);
    s.MakeUpper();
    return std::string(static_cast<LPCSTR>(s));
}

BYTE g_fileBytes; // the delivered data is never read, only its size counts

int __stdcall TestLoad(const LMK::LoaderRequestStruct_TYP* request, void** data, DWORD* size, void** resolved,
                       DWORD*)
{
    auto* log = static_cast<LoaderLog*>(request->context);
    ++log->loads;
    if (log->answer) return log->answer;
    auto it = log->files.find(Upper(request->name));
    if (it == log->files.end()) return -1;
    *data = &g_fileBytes;
    *size = it->second;
    std::string dir = "T>" + it->first;
    char* buffer = static_cast<char*>(std::malloc(dir.size() + 1));
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    *resolved = buffer;
    return 0;
}

void __stdcall TestRelease(void* context, void* data, void* resolved, DWORD, LMK::LoadedPart_*)
{
    if (data) ++static_cast<LoaderLog*>(context)->releasesWithData;
    std::free(resolved);
}

void __stdcall TestUnload(void* context, LMK::Loader_*, const char* resolvedName)
{
    auto* log = static_cast<LoaderLog*>(context);
    log->unloaded.push_back(resolvedName ? resolvedName : "");
    log->fileLoadersPresent.push_back(LMK::CurrentGlobals->textureLoader.loader != nullptr);
}

class TestPart : public LMK::LoadedPart_
{
public:
    TestPart(LMK::LoadRecordStruct_TYP* record, LoaderLog* log)
        : LoadedPart_(record), name_(record->name ? record->name : record->resolvedName), log_(log)
    {
    }
    ~TestPart() override
    {
        log_->deleted.push_back(name_);
        if (held) held->Release();
    }
    void OnCached() override { ++cached; }
    int cached = 0;
    LMK::LoadedPart_* held = nullptr; // a reference this part owns, as a model owns its materials

private:
    std::string name_;
    LoaderLog* log_;
};

class RegistryTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(LRStart(nullptr), S_OK);
        root_ = LMK::CurrentGlobals;
    }

    void Register(LoaderLog* log, bool atFront = true, LMK::Loader_** out = nullptr,
                  DWORD type = LoadedPartTexture)
    {
        LMK::LoaderCallbacksStruct_TYP cb{TestLoad, TestRelease, TestUnload, log, nullptr, nullptr};
        LMK::Loader_* loader = nullptr;
        ASSERT_EQ(LRRegisterLoader(type, &cb, atFront, &loader), S_OK);
        if (out) *out = loader;
    }

    // The builders' pattern: load shared, reuse the record's object or build one on the record.
    TestPart* Build(const char* name, LoaderLog* log, DWORD type = LoadedPartTexture)
    {
        LMK::LoadRecordStruct_TYP* record = nullptr;
        if (root_->loaders.LoadShared(type, name, &record) != 0) return nullptr;
        if (record->object) return static_cast<TestPart*>(record->object);
        auto* part = new TestPart(record, log);
        root_->loaders.AttachObjectToRecord(record, part);
        return part;
    }

    // Logs outlive the engine, whose stop in TearDown deletes what a test left behind.
    LoaderLog& NewLog()
    {
        logs_.emplace_back();
        return logs_.back();
    }

    LMK::AllGlobals_* root_ = nullptr;

private:
    std::deque<LoaderLog> logs_;
};

std::vector<std::string> ParkedNames(const LMK::ReleaseCache_& cache)
{
    std::vector<std::string> names;
    for (LMK::LoadedPart_* part : cache.parked)
        names.push_back(part->loadRecord->name);
    return names;
}
} // namespace

TEST_F(RegistryTest, SharingParkingAndEviction)
{
    using Names = std::vector<std::string>;
    struct Case
    {
        const char* title;
        std::map<std::string, DWORD> files;
        // "+name" loads (and keeps every reference), "-name" releases one reference.
        std::vector<std::string> script;
        int loads;
        DWORD total;
        Names parked;
        Names deleted;
        std::map<std::string, DWORD> counts; // live reference counts at the end
    };
    const Case cases[] = {
        {"names share their upper-cased form",
         {{"A.PNG", 10}},
         {"+a.png", "+A.PNG"},
         1,
         0,
         {},
         {},
         {{"A.PNG", 2}}},
        {"the last release parks", {{"A.PNG", 100}}, {"+a.png", "-a.png"}, 1, 100, {"A.PNG"}, {}, {}},
        {"a load revives the parked resource",
         {{"A.PNG", 100}},
         {"+a.png", "-a.png", "+a.png"},
         1,
         0,
         {},
         {},
         {{"A.PNG", 1}}},
        {"a parked resource released again is parked once",
         {{"A.PNG", 100}},
         {"+a.png", "-a.png", "-a.png"},
         1,
         100,
         {"A.PNG"},
         {},
         {}},
        {"2 MiB into 3 MiB evicts the oldest until it fits",
         {{"X", kMiB}, {"Y", kMiB}, {"Z", kMiB}, {"W", 2 * kMiB}},
         {"+x", "+y", "+z", "+w", "-x", "-y", "-z", "-w"},
         4,
         4 * kMiB,
         {"Y", "Z", "W"},
         {"X"},
         {}},
        {"a lone 5 MiB entry stays above the limit",
         {{"S", kMiB}, {"BIG", 5 * kMiB}},
         {"+s", "+big", "-s", "-big"},
         2,
         5 * kMiB,
         {"BIG"},
         {"S"},
         {}},
        {"a name nobody serves is not recorded", {}, {"+none", "+none"}, 2, 0, {}, {}, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        LoaderLog& log = NewLog();
        log.files = c.files;
        LMK::Loader_* loader = nullptr;
        Register(&log, true, &loader);
        std::map<std::string, TestPart*> parts;
        for (const std::string& step : c.script)
        {
            std::string key = Upper(step.c_str() + 1);
            if (step[0] == '+')
            {
                TestPart* part = Build(step.c_str() + 1, &log);
                if (!part) continue;
                parts[key] = part;
                EXPECT_EQ(part->loadRecord->data, nullptr); // given back as soon as the part was built
            }
            else
                parts[key]->Release();
        }
        EXPECT_EQ(log.loads, c.loads);
        EXPECT_EQ(root_->releaseCache.total, c.total);
        EXPECT_EQ(ParkedNames(root_->releaseCache), c.parked);
        EXPECT_EQ(log.deleted, c.deleted);
        for (const auto& [name, count] : c.counts)
            EXPECT_EQ(parts.at(name)->refCount, count) << name;
        // Unregistering unloads what is parked; live resources stay, without their loader.
        ASSERT_EQ(LRUnregisterLoader(&loader), S_OK);
        EXPECT_EQ(loader, nullptr);
        EXPECT_TRUE(root_->releaseCache.parked.empty());
        for (const auto& [name, count] : c.counts)
        {
            EXPECT_EQ(parts.at(name)->loadRecord->loader, nullptr);
            for (DWORD i = 0; i < count; ++i)
                parts.at(name)->Release();
        }
        root_->releaseCache.Purge();
        EXPECT_EQ(root_->releaseCache.total, 0u);
        EXPECT_TRUE(root_->loaders.records.empty());
    }
}

TEST_F(RegistryTest, LoaderAnswersAndAskingOrder)
{
    // Texture packages have no file loader; textures have one between the two test loaders.
    struct Case
    {
        const char* title;
        DWORD type;
        int frontAnswer; // loader registered second, at the front; 0 serves the name
        int backAnswer;  // loader registered first, at the end
        int result;
        int frontLoads;
        int backLoads;
    };
    const Case cases[] = {
        {"the loader registered at the front is asked first", LoadedPartTexturePackage, 0, 0, 0, 1, 0},
        {"not mine passes the name on", LoadedPartTexturePackage, -3, 0, 0, 1, 1},
        {"a failure is remembered while others are asked", LoadedPartTexturePackage, -5, 0, 0, 1, 1},
        {"the only failing loader's answer is the result", LoadedPartTexturePackage, -2, -3, -2, 1, 1},
        {"nobody takes it", LoadedPartTexturePackage, -3, -3, -1, 1, 1},
        {"the file loader's answer stands behind one that passes", LoadedPartTexture, -3, -3, -1, 1, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        LoaderLog& back = NewLog();
        back.files = {{"A.PNG", 10}};
        back.answer = c.backAnswer;
        LoaderLog& front = NewLog();
        front.files = {{"A.PNG", 10}};
        front.answer = c.frontAnswer;
        LMK::Loader_* backLoader = nullptr;
        LMK::Loader_* frontLoader = nullptr;
        Register(&back, false, &backLoader, c.type);
        Register(&front, true, &frontLoader, c.type);
        EXPECT_EQ(root_->loaders.loaders.front().get(), frontLoader);

        void* out = nullptr;
        EXPECT_EQ(root_->loaders.Load(c.type, "a.png", true, &out), c.result);
        EXPECT_EQ(out != nullptr, c.result == 0);
        EXPECT_EQ(front.loads, c.frontLoads);
        EXPECT_EQ(back.loads, c.backLoads);
        if (out)
        {
            auto* record = static_cast<LMK::LoadRecordStruct_TYP*>(out);
            EXPECT_STREQ(record->name, "A.PNG");
            EXPECT_STREQ(record->resolvedName, "T>A.PNG");
            root_->loaders.AttachObjectToRecord(record, nullptr);
            EXPECT_EQ(root_->loaders.Unload(record), S_OK);
        }
        ASSERT_EQ(LRUnregisterLoader(&frontLoader), S_OK);
        ASSERT_EQ(LRUnregisterLoader(&backLoader), S_OK);
    }
}

TEST_F(RegistryTest, RecordsFromMemoryAreFoundByTheirName)
{
    LMK::LoadRecordStruct_TYP* record = nullptr;
    const BYTE bytes[3] = {1, 2, 3};
    ASSERT_EQ(root_->loaders.AddRecordFromMemory(sizeof(bytes), bytes, LoadedPartTexture, "mem.bmp", &record),
              S_OK);
    EXPECT_EQ(record->engineOwnsData, 1);
    EXPECT_STREQ(record->resolvedName, "MEM.BMP");
    LoaderLog& log = NewLog();
    auto* part = new TestPart(record, &log);
    root_->loaders.AttachObjectToRecord(record, part);
    EXPECT_EQ(record->data, nullptr);
    EXPECT_EQ(record->size, 3u);

    EXPECT_EQ(Build("Mem.Bmp", &log), part);
    EXPECT_EQ(part->refCount, 2u);
    part->Release();
    part->Release();
    EXPECT_EQ(part->cached, 1);
    EXPECT_EQ(root_->releaseCache.total, 3u);
}

// Sharing is by type and name: a texture and a material of one name are two resources, each loaded by
// its own loader.
TEST_F(RegistryTest, SharedLookupMatchesTheTypeAsWellAsTheName)
{
    LoaderLog& textures = NewLog();
    LoaderLog& materials = NewLog();
    textures.files["WALL"] = 10;
    materials.files["WALL"] = 20;
    Register(&textures, true, nullptr, LoadedPartTexture);
    Register(&materials, true, nullptr, LoadedPartMaterial);
    TestPart* texture = Build("wall", &textures, LoadedPartTexture);
    ASSERT_NE(texture, nullptr);
    TestPart* material = Build("Wall", &materials, LoadedPartMaterial);
    ASSERT_NE(material, nullptr);
    EXPECT_NE(static_cast<LMK::LoadedPart_*>(material), static_cast<LMK::LoadedPart_*>(texture));
    EXPECT_EQ(material->loadRecord->size, 20u);
    EXPECT_EQ(textures.loads, 1);
    EXPECT_EQ(materials.loads, 1);
    EXPECT_EQ(Build("WALL", &materials, LoadedPartMaterial), material) << "the same type and name is shared";
    EXPECT_EQ(materials.loads, 1);
    material->Release();
    material->Release();
    texture->Release();
}

TEST_F(RegistryTest, ReleaseArrayAndStartedChecks)
{
    LoaderLog& log = NewLog();
    Register(&log);
    log.files = {{"A", 1}, {"B", 1}};
    auto** array = new LMK::LoadedPart_* [3] { Build("a", &log), nullptr, Build("b", &log) };
    EXPECT_EQ(LRReleaseLoadedPartArray(&array, 0), E_INVALIDARG);
    EXPECT_NE(array, nullptr);
    EXPECT_EQ(LRReleaseLoadedPartArray(&array, 3), S_OK);
    EXPECT_EQ(array, nullptr);
    EXPECT_EQ(root_->releaseCache.parked.size(), 2u);

    LMK::LoaderCallbacksStruct_TYP noRelease{TestLoad, nullptr, nullptr, &log, nullptr, nullptr};
    LMK::Loader_* loader = nullptr;
    EXPECT_EQ(LRRegisterLoader(0, &noRelease, false, &loader), E_INVALIDARG);
    EXPECT_EQ(LRRegisterLoader(0, nullptr, false, &loader), E_INVALIDARG);
    EXPECT_EQ(LRUnregisterLoader(nullptr), E_INVALIDARG);
    EXPECT_EQ(LRUnregisterLoader(&loader), S_OK); // null loader
    EXPECT_EQ(LRAddRefLoadedPart(nullptr), S_OK);
}

TEST_F(RegistryTest, DestructionPurgesBeforeTheLoadersGoAndThenUnloadsAtOnce)
{
    LoaderLog& log = NewLog();
    log.files = {{"PARKED", 10}, {"LIVE", 20}};
    Register(&log);
    Build("parked", &log)->Release();
    TestPart* live = Build("live", &log);
    (void)live;
    ASSERT_EQ(LRStop(), S_OK);
    ASSERT_EQ(LMK::CurrentGlobals, nullptr);
    // The parked one was unloaded through its loader while the file loaders were still there; the live
    // one went with the registry.
    EXPECT_EQ(log.unloaded, std::vector<std::string>{"T>PARKED"});
    EXPECT_EQ(log.fileLoadersPresent, std::vector<bool>{true});
    EXPECT_EQ(log.deleted, (std::vector<std::string>{"PARKED", "LIVE"}));
}

TEST_F(RegistryTest, ReleaseAfterTheCacheIsDisabledUnloadsAtOnce)
{
    LoaderLog& log = NewLog();
    log.files = {{"A", 10}};
    Register(&log);
    TestPart* part = Build("a", &log);
    root_->releaseCache.enabled = 0;
    part->Release();
    EXPECT_EQ(log.deleted, std::vector<std::string>{"A"});
    EXPECT_TRUE(root_->releaseCache.parked.empty());
    EXPECT_TRUE(root_->loaders.records.empty());
    root_->releaseCache.enabled = 1;
}

TEST_F(RegistryTest, DestructionDeletesOwnersWhileTheirReleasesUnloadWhatTheyHold)
{
    // Without other references the model's deletion unloads the material and the texture on the way;
    // with them each is deleted in its own turn, owners before what they hold.
    for (bool otherReferences : {false, true})
    {
        SCOPED_TRACE(otherReferences ? "held elsewhere too" : "held only by their owners");
        if (!LMK::CurrentGlobals)
        {
            ASSERT_EQ(LRStart(nullptr), S_OK);
            root_ = LMK::CurrentGlobals;
        }
        LoaderLog& log = NewLog();
        log.files = {{"TEX", 1}, {"MAT", 1}, {"MODEL", 1}};
        Register(&log, true, nullptr, LoadedPartTexture);
        Register(&log, true, nullptr, LoadedPartMaterial);
        Register(&log, true, nullptr, LoadedPartModel);
        // A texture, then what uses it: a front-first walk would meet the held part first.
        TestPart* texture = Build("tex", &log, LoadedPartTexture);
        TestPart* material = Build("mat", &log, LoadedPartMaterial);
        TestPart* model = Build("model", &log, LoadedPartModel);
        material->held = texture;
        model->held = material;
        if (otherReferences)
        {
            material->AddRef();
            texture->AddRef();
        }
        ASSERT_EQ(LRStop(), S_OK);
        EXPECT_EQ(log.deleted, (std::vector<std::string>{"MODEL", "MAT", "TEX"}));
    }
}
