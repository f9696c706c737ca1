// Models by name: which file is read, which builder it reaches, what a failure leaves, and the level-of-
// detail and alternative models loaded with a model.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "engine/core/file_loader.h"
#include "engine/core/material_loader_lists.h"
#include "engine/scene/lr_model_loading_api.h"
#include "scene_fixture.h"
#include "engine/core/material.h"
#include "tests/support/animation_writer.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/material_pack_writer.h"
#include "tests/support/png_image.h"
#include "tests/support/temp_tree.h"
#include "tests/support/xfile_writer.h"

namespace
{
using ferolt::test::TempTree;
using ferolt::test::WriteXFile;
using ferolt::test::XEncoding;
using ferolt::test::XFileDesc;
using scenetest::SceneTest;

std::vector<uint8_t> CubeX()
{
    XFileDesc desc;
    desc.meshes = {ferolt::test::XCubeMesh()};
    return WriteXFile(desc, XEncoding::Text);
}

std::vector<uint8_t> GridX(uint32_t columns)
{
    XFileDesc desc;
    desc.meshes = {ferolt::test::XGridMesh(columns, 1)};
    return WriteXFile(desc, XEncoding::Binary);
}

// A mesh list block of one quad (two faces, one subset).
std::vector<uint8_t> QuadBlock()
{
    ferolt::test::BlockDesc block;
    block.meshes = {ferolt::test::EncodeMesh(ferolt::test::UnitQuadMesh()).bytes};
    return ferolt::test::EncodeBlock(block);
}

void PutU32(std::vector<uint8_t>* out, size_t at, uint32_t v)
{
    std::memcpy(out->data() + at, &v, 4);
}

std::vector<uint8_t> LK3D(uint32_t animationSize, uint32_t packSize, const std::vector<uint8_t>& geometry)
{
    std::vector<uint8_t> file(20 + animationSize + packSize, 0);
    std::memcpy(file.data(), "LK3D", 4);
    PutU32(&file, 8, animationSize);
    PutU32(&file, 12, packSize);
    PutU32(&file, 16, static_cast<uint32_t>(geometry.size()));
    file.insert(file.end(), geometry.begin(), geometry.end());
    return file;
}

std::vector<uint8_t> K3DD(const std::vector<uint8_t>& geometry, const std::string& names)
{
    std::vector<uint8_t> file(20, 0);
    std::memcpy(file.data(), "K3DD", 4);
    PutU32(&file, 12, static_cast<uint32_t>(names.size()));
    PutU32(&file, 16, static_cast<uint32_t>(geometry.size()));
    file.insert(file.end(), geometry.begin(), geometry.end());
    file.insert(file.end(), names.begin(), names.end());
    return file;
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

// A loader for one resource type that serves named byte blocks from read-only pages, counts what it is
// asked and hands out level-of-detail and alternative lists.
class TestLoader
{
public:
    TestLoader(DWORD type, bool atFront = true)
    {
        LMK::LoaderCallbacksStruct_TYP callbacks{Load, Release, nullptr, this, LODs, Alternatives};
        EXPECT_EQ(LRRegisterLoader(type, &callbacks, atFront, &loader_), S_OK);
    }
    ~TestLoader()
    {
        if (LMK::CurrentGlobals) LRUnregisterLoader(&loader_);
    }

    std::map<std::string, std::vector<uint8_t>> files;
    std::map<std::string, std::vector<std::pair<std::string, float>>> lods;
    std::map<std::string, std::vector<std::pair<std::string, DWORD>>> alternatives;
    std::map<std::string, int> asked;
    std::vector<uint8_t> rawPackage; // delivered as it is, for the texture package

private:
    static int __stdcall Load(const LMK::LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                              void** resolved, DWORD* cookie)
    {
        auto* self = static_cast<TestLoader*>(request->context);
        const std::string name = Upper(request->name);
        ++self->asked[name];
        if (!self->rawPackage.empty())
        {
            *data = self->rawPackage.data();
            *size = static_cast<DWORD>(self->rawPackage.size());
            *cookie = 0;
            return 0;
        }
        auto it = self->files.find(name);
        if (it == self->files.end()) return LMK::kLoaderNotMine;
        // Read-only, so that a reader writing into the loader's data faults.
        const size_t pages = (it->second.size() + 4095) / 4096 * 4096;
        void* page = mmap(nullptr, pages, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        std::memcpy(page, it->second.data(), it->second.size());
        mprotect(page, pages, PROT_READ);
        *data = page;
        *size = static_cast<DWORD>(it->second.size());
        *resolved = strdup(name.c_str());
        *cookie = static_cast<DWORD>(pages);
        return 0;
    }
    static void __stdcall Release(void* context, void* data, void* resolved, DWORD cookie, LMK::LoadedPart_*)
    {
        auto* self = static_cast<TestLoader*>(context);
        if (data && data != self->rawPackage.data()) munmap(data, cookie);
        std::free(resolved);
    }
    template <class Map, class T> static int Fill(const Map& map, const char* name, IlumoVector<T>* list)
    {
        auto it = map.find(Upper(name));
        if (it == map.end()) return LMK::kLoaderNotMine;
        for (const auto& [entry, value] : it->second)
            list->PushBack({CString(entry.c_str()), value});
        return 0;
    }
    static int __stdcall LODs(void* context, const char* name, IlumoVector<LMK::LoaderLODStruct_TYP>* list)
    {
        return Fill(static_cast<TestLoader*>(context)->lods, name, list);
    }
    static int __stdcall Alternatives(void* context, const char* name,
                                      IlumoVector<LMK::LoaderAlternativeStruct_TYP>* list)
    {
        return Fill(static_cast<TestLoader*>(context)->alternatives, name, list);
    }

    LMK::Loader_* loader_ = nullptr;
};

using ModelLoadingTest = SceneTest;

TEST_F(ModelLoadingTest, FormatsAreRecognisedInOrder)
{
    std::vector<uint8_t> threeDS = {0x4D, 0x4D, 6, 0, 0, 0};
    std::vector<uint8_t> longChunk = {0x4D, 0x4D, 7, 0, 0, 0};
    std::vector<uint8_t> blob(256, 0);
    std::memcpy(blob.data() + 1, "LMO V1.1", 8);
    std::vector<uint8_t> shortBlob(blob.begin(), blob.end() - 1);
    std::vector<uint8_t> packed(48, 0);
    PutU32(&packed, 0, 0xA7B6C5D4);
    std::vector<uint8_t> v7q(60, 0);
    PutU32(&v7q, 0, 0x21713776);
    PutU32(&v7q, 8, 20);
    std::memcpy(v7q.data() + 20, "V7Q1", 4);
    PutU32(&v7q, 28, 1);
    const std::vector<uint8_t> quad = QuadBlock();
    const std::vector<uint8_t> badX = {'x', 'o', 'f', ' ', '0', '3'};
    const struct
    {
        const char* name;
        std::vector<uint8_t> bytes;
        BYTE allow3DS;
        HRESULT hr;
        DWORD subsets;
    } cases[] = {
        {"x_file", CubeX(), 1, S_OK, 1},
        {"lk3d", LK3D(0, 0, quad), 1, S_OK, 1},
        {"lk3d_blocks_read_past", LK3D(8, 4, quad), 1, S_OK, 1},
        {"k3dd", K3DD(quad, std::string("\0", 1)), 1, S_OK, 1},
        {"3ds_not_allowed", threeDS, 0, -2, 0},
        {"3ds_without_mesh", threeDS, 1, E_FAIL, 0},
        {"3ds_chunk_past_data_falls_through", longChunk, 1, E_FAIL, 0},
        {"v7q_without_parts", v7q, 1, E_FAIL, 0},
        {"blob_without_records", blob, 1, E_FAIL, 0},
        {"blob_of_255_bytes_is_not_one", shortBlob, 1, E_FAIL, 0},
        {"packed_without_records", packed, 1, E_FAIL, 0},
        {"unknown", {1, 2, 3, 4, 5, 6, 7, 8}, 1, E_FAIL, 0},
        {"damaged_x", badX, 1, D3DXERR_INVALIDDATA, 0},
        // A recognised file that cannot be read is a failure, not a success without a model.
        {"lk3d_without_geometry", LK3D(0, 0, {}), 1, E_FAIL, 0},
        {"lk3d_sizes_past_file", LK3D(0, 0, quad), 1, E_FAIL, 0},
        {"k3dd_sizes_past_file", K3DD(quad, "a"), 1, E_FAIL, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        TestLoader loader(LoadedPartModel);
        std::vector<uint8_t> bytes = c.bytes;
        if (std::string(c.name).find("sizes_past") != std::string::npos) PutU32(&bytes, 16, 0x7FFFFFF0);
        // Each case under its own name: a released model stays findable in the release cache.
        loader.files[Upper(c.name)] = bytes;
        LMK::Model_* model = reinterpret_cast<LMK::Model_*>(1);
        EXPECT_EQ(LRLoadModelEx(c.name, 1, c.allow3DS, 0, &model, 0, 0), c.hr);
        if (c.hr == S_OK)
        {
            ASSERT_NE(model, nullptr);
            EXPECT_EQ(model->subsetCount, c.subsets);
            model->Release();
        }
        else
            EXPECT_EQ(model, nullptr);
        if (c.hr != S_OK)
        {
            // Nothing stays registered after a failure: a second load reads the file again.
            LRLoadModelEx(c.name, 1, c.allow3DS, 0, &model, 0, 0);
            EXPECT_EQ(loader.asked[Upper(c.name)], 2);
        }
    }
}

TEST_F(ModelLoadingTest, AnimationStreamsComeWithTheModelFile)
{
    ferolt::test::AnimationDesc desc;
    desc.nodes.resize(1);
    const ferolt::test::Bytes stream = ferolt::test::AnimationStream(desc);
    ASSERT_GE(stream.size(), 28u);
    const std::vector<uint8_t> quad = QuadBlock();

    std::vector<uint8_t> lk3d = LK3D(0, 0, quad);
    PutU32(&lk3d, 8, static_cast<uint32_t>(stream.size()));
    lk3d.insert(lk3d.begin() + 20, stream.begin(), stream.end());
    std::vector<uint8_t> k3dd = K3DD(quad, std::string("\0", 1));
    k3dd.insert(k3dd.end(), stream.begin(), stream.end());
    // A K3DD file carries a stream only when at least 28 bytes follow the name list.
    std::vector<uint8_t> k3ddShort = K3DD(quad, std::string("\0", 1));
    k3ddShort.insert(k3ddShort.end(), stream.begin(), stream.begin() + 27);
    const struct
    {
        const char* name;
        std::vector<uint8_t> bytes;
        bool animated;
    } cases[] = {{"lk3d", lk3d, true}, {"k3dd", k3dd, true}, {"k3dd_27_bytes_after_names", k3ddShort, false}};
    TestLoader loader(LoadedPartModel);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        loader.files[Upper(c.name)] = c.bytes;
        LMK::Model_* model = nullptr;
        ASSERT_EQ(LRLoadModel(c.name, 1, 0, &model), S_OK);
        EXPECT_EQ(model->animation != nullptr, c.animated);
        model->Release();
    }
}

TEST_F(ModelLoadingTest, LK3DMaterialPackGivesTheSubsetsTheirMaterials)
{
    const ferolt::test::Bytes pack =
        ferolt::test::MaterialPack({.slots = {0}, .records = {ferolt::test::ColourRecord(0x336699)}});
    std::vector<uint8_t> lk3d = LK3D(0, 0, QuadBlock());
    PutU32(&lk3d, 12, static_cast<uint32_t>(pack.size()));
    lk3d.insert(lk3d.begin() + 20, pack.begin(), pack.end());
    TestLoader loader(LoadedPartModel);
    loader.files["PACKED"] = lk3d;
    LMK::Model_* model = nullptr;
    ASSERT_EQ(LRLoadModel("packed", 1, 0, &model), S_OK);
    ASSERT_EQ(model->subsetCount, 1u);
    ASSERT_NE(model->subsets[0].material, nullptr);
    EXPECT_NEAR(model->subsets[0].material->material.Emissive.b, 0x99 / 255.0f, 1e-6f);
    model->Release();
}

TEST_F(ModelLoadingTest, ArgumentsAndMissingFiles)
{
    LMK::Model_* model = nullptr;
    EXPECT_EQ(LRLoadModel(nullptr, 1, 1, &model), E_INVALIDARG);
    EXPECT_EQ(LRLoadModel("a.x", 1, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRLoadModel("", 1, 1, &model), E_FAIL);
    EXPECT_EQ(LRLoadModel("/nowhere/nothing.x", 1, 1, &model), -1);
    EXPECT_EQ(model, nullptr);
    LRStop();
    EXPECT_EQ(LRLoadModel("a.x", 1, 1, &model), E_FAIL);
}

TEST_F(ModelLoadingTest, K3DDNamesAreReadFromACopy)
{
    // The loader's data lies in read-only pages; name lists without their two closing NULs, and ones
    // shorter than two bytes, load without writing into it.
    TestLoader models(LoadedPartModel);
    TestLoader materials(LoadedPartMaterial);
    const std::vector<uint8_t> quad = QuadBlock();
    const struct
    {
        const char* name;
        std::string names;
        std::vector<std::string> asked;
    } cases[] = {
        {"unterminated", std::string("WOOD\0STONE", 10), {"WOOD", "STONE"}},
        {"one_nul", std::string("WOOD\0", 5), {"WOOD"}},
        {"one_byte", "W", {"W"}},
        {"empty", "", {}},
    };
    int n = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string file = "K" + std::to_string(n++);
        models.files[file] = K3DD(quad, c.names);
        materials.asked.clear();
        LMK::Model_* model = nullptr;
        ASSERT_EQ(LRLoadModel(file.c_str(), 1, 0, &model), S_OK);
        std::vector<std::string> asked;
        for (const auto& [name, count] : materials.asked)
            asked.push_back(name);
        std::vector<std::string> expected = c.asked;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(asked, expected);
        model->Release();
    }
}

TEST_F(ModelLoadingTest, K3DDTakesItsTexturePackageAsChunks)
{
    TestLoader models(LoadedPartModel);
    models.files["BOX"] = K3DD(QuadBlock(), "");
    TestLoader packages(LoadedPartTexturePackage);
    static const uint8_t first[] = {1, 2, 3}, second[] = {9};
    struct Entry
    {
        DWORD id;
        const void* bytes;
        DWORD size;
    };
    static const Entry entries[] = {{0x300, first, 3}, {0x301, second, 1}};
    struct Table
    {
        DWORD count;
        const Entry* entries;
    } table{2, entries};
    packages.rawPackage.assign(reinterpret_cast<const uint8_t*>(&table),
                               reinterpret_cast<const uint8_t*>(&table) + sizeof(table));
    LMK::Model_* model = nullptr;
    ASSERT_EQ(LRLoadModel("box", 1, 0, &model), S_OK);
    EXPECT_EQ(packages.asked["BOX"], 1);
    ASSERT_EQ(model->chunks.size(), 2u);
    EXPECT_EQ(model->chunks[0].id, 0x300u);
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(model->chunks[0].data),
                                   static_cast<uint8_t*>(model->chunks[0].data) + 3),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(model->chunks[1].size, 1u);
    model->Release();
}

TEST_F(ModelLoadingTest, LevelsOfDetailAndAlternativesLoadOnceEach)
{
    TestLoader loader(LoadedPartModel);
    loader.files["MAIN"] = GridX(4);
    loader.files["FAR"] = GridX(1);
    loader.files["NEAR"] = GridX(2);
    loader.files["TWIN"] = GridX(3);
    loader.files["ALT"] = CubeX();
    loader.files["ALTLOD"] = CubeX();
    // Unordered, with a repeated value (only the first in the list counts) and one that does not load.
    loader.lods["MAIN"] = {{"far", 40.0f}, {"near", 10.0f}, {"twin", 10.0f}, {"missing", 20.0f}};
    loader.alternatives["MAIN"] = {{"alt", 0x5}, {"main", 0x1}};
    loader.lods["ALT"] = {{"altlod", 5.0f}};
    loader.alternatives["ALT"] = {{"main", 0x2}}; // alternatives of an alternative are not loaded

    LMK::Model_* model = nullptr;
    ASSERT_EQ(LRLoadModel("main", 1, 0, &model), S_OK);
    ASSERT_EQ(model->lods.size(), 2u);
    EXPECT_FLOAT_EQ(model->lods[0].threshold, 10.0f);
    EXPECT_EQ(model->lods[0].model->subsetCount, 2u);
    EXPECT_FLOAT_EQ(model->lods[1].threshold, 40.0f);
    EXPECT_EQ(loader.asked["TWIN"], 0);
    // The model itself is not its own alternative.
    ASSERT_EQ(model->alternatives.size(), 1u);
    EXPECT_EQ(model->alternatives[0].value, 0x5u);
    LMK::Model_* alternative = model->alternatives[0].model;
    ASSERT_EQ(alternative->lods.size(), 1u);
    EXPECT_TRUE(alternative->alternatives.empty());

    // Loading the shared model again adds a reference and leaves its lists as they were.
    LMK::Model_* again = nullptr;
    ASSERT_EQ(LRLoadModel("main", 1, 0, &again), S_OK);
    EXPECT_EQ(again, model);
    EXPECT_EQ(model->lods.size(), 2u);
    EXPECT_EQ(model->alternatives.size(), 1u);
    for (const char* name : {"MAIN", "FAR", "NEAR", "ALT", "ALTLOD"})
        EXPECT_EQ(loader.asked[name], 1) << name;
    again->Release();
    model->Release();
}

// Model files on disk, found through the built-in file loader.
class ModelFilesTest : public SceneTest
{
protected:
    TempTree tree;
};

TEST_F(ModelFilesTest, ModelFoundBesideItsPathInAnyCase)
{
    tree.Write("Models/Box.x", CubeX());
    for (const std::string& name :
         {tree.Path("Models/Box.x"), tree.Path("MODELS/box.X"), Upper(tree.Path("models\\BOX.X"))})
    {
        SCOPED_TRACE(name);
        LMK::Model_* model = nullptr;
        ASSERT_EQ(LRLoadModel(name.c_str(), 1, 1, &model), S_OK);
        EXPECT_EQ(model->subsetCount, 1u);
        model->Release();
    }
    // Names that differ only in case share one model.
    LMK::Model_* first = nullptr;
    LMK::Model_* second = nullptr;
    ASSERT_EQ(LRLoadModel(tree.Path("Models/Box.x").c_str(), 1, 1, &first), S_OK);
    ASSERT_EQ(LRLoadModel(tree.Path("MODELS/box.X").c_str(), 1, 1, &second), S_OK);
    EXPECT_EQ(first, second);
    second->Release();
    first->Release();
    // The loaders look beside a model only while it loads.
    EXPECT_EQ(LMK::CurrentGlobals->textureLoader.context.currentDirectory, nullptr);
    EXPECT_EQ(LMK::CurrentGlobals->materialLoader.context.currentDirectory, nullptr);
    EXPECT_EQ(LMK::CurrentGlobals->modelLoader.context.currentDirectory, nullptr);
}

TEST_F(ModelFilesTest, TexturesAreFoundBesideTheModelAndOnTheirSearchPath)
{
    const uint32_t pixels[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF};
    tree.MakeDirectory("models");
    tree.MakeDirectory("library/stone/deep");
    ASSERT_TRUE(ferolt::test::WritePng(tree.Path("models/Wood.png"), pixels, 2, 2, 8));
    ASSERT_TRUE(ferolt::test::WritePng(tree.Path("library/stone/deep/Stone.png"), pixels, 2, 2, 8));
    XFileDesc desc;
    desc.meshes = {ferolt::test::XGridMesh(2, 1)};
    // The file names its textures with directories of the exporter's machine.
    desc.meshes[0].materials[0].texture = "C:\\export\\maps\\WOOD.PNG";
    desc.meshes[0].materials[1].texture = "stone.png";
    tree.Write("models/Grid.x", WriteXFile(desc, XEncoding::Text));
    LMK::UnregisterTextureFileLoader();
    LMK::SetTextureSearchPath(tree.Path("library").c_str(), 1);

    LMK::Model_* model = nullptr;
    ASSERT_EQ(LRLoadModel(tree.Path("models/grid.X").c_str(), 1, 1, &model), S_OK);
    ASSERT_EQ(model->subsetCount, 2u);
    for (DWORD s = 0; s < 2; ++s)
    {
        SCOPED_TRACE(s);
        ASSERT_NE(model->subsets[s].material, nullptr);
        EXPECT_NE(model->subsets[s].material->baseTexture, nullptr);
    }
    model->Release();
}

TEST_F(ModelFilesTest, ModelFoundOnTheSearchPathAndInItsSubdirectories)
{
    tree.Write("lib/deep/er/Crate.x", CubeX());
    tree.Write("lib/Top.x", GridX(2));
    LMK::UnregisterModelFileLoader();
    LMK::SetModelSearchPath(tree.Root().c_str(), 1);
    LMK::SetModelSearchPath((tree.Root() + "/lib").c_str(), 1); // acts only once
    for (const char* name : {"crate.x", "LIB\\TOP.X", "Crate.X"})
    {
        SCOPED_TRACE(name);
        LMK::Model_* model = nullptr;
        ASSERT_EQ(LRLoadModel(name, 1, 1, &model), S_OK);
        model->Release();
    }
    LMK::Model_* model = nullptr;
    EXPECT_EQ(LRLoadModel("absent.x", 1, 1, &model), -1);
}

// A model loader that only records the texture loader's current directory while it is asked.
struct Seen
{
    static int __stdcall Load(const LMK::LoaderRequestStruct_TYP*, void**, DWORD*, void**, DWORD*)
    {
        const char* dir = LMK::CurrentGlobals->textureLoader.context.currentDirectory;
        seen = dir ? dir : "(none)";
        return LMK::kLoaderNotMine;
    }
    static void __stdcall Release(void*, void*, void*, DWORD, LMK::LoadedPart_*) {}
    static inline std::string seen;
};

TEST_F(ModelFilesTest, DirectoryOfTheNameGuidesTheOtherLoaders)
{
    LMK::LoaderCallbacksStruct_TYP callbacks{Seen::Load, Seen::Release, nullptr, nullptr, nullptr, nullptr};
    LMK::Loader_* spy = nullptr;
    ASSERT_EQ(LRRegisterLoader(LoadedPartModel, &callbacks, true, &spy), S_OK);
    LMK::Model_* model = nullptr;
    char cwd[260];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    const struct
    {
        std::string name;
        std::string directory;
    } cases[] = {
        {tree.Path("a/b.x"), Upper(tree.Path("a"))},
        {"bare.x", Upper(cwd)},
        {"*star", "(none)"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Seen::seen.clear();
        LRLoadModel(c.name.c_str(), 1, 1, &model);
        EXPECT_EQ(Seen::seen, c.directory);
        EXPECT_EQ(LMK::CurrentGlobals->textureLoader.context.currentDirectory, nullptr);
    }
    LRUnregisterLoader(&spy);
}
} // namespace
