// Saving views as images: file layouts, tiling and strips against the window's own frame, oversampling,
// progress, cancel and the failures that must leave no file behind.
#include "render_view_fixture.h"

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/render/save_image.h"
#include "platform/image/image.h"

namespace rendertest
{
namespace
{
std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// The k x k box filter the save applies, alpha dropped.
std::vector<uint32_t> Reduce(const std::vector<uint32_t>& src, uint32_t w, uint32_t h, uint32_t k)
{
    std::vector<uint32_t> copy = src;
    LMK::DownsampleBox(reinterpret_cast<uint8_t*>(copy.data()), w, h, k);
    copy.resize(size_t(w / k) * (h / k));
    for (uint32_t& p : copy)
        p &= 0xFFFFFF;
    return copy;
}

bool CountCalls(float fraction, void* user)
{
    static_cast<std::vector<float>*>(user)->push_back(fraction);
    return true;
}

bool CancelSecond(float, void* user)
{
    return ++*static_cast<int*>(user) < 2;
}
} // namespace

class SaveImageTest : public RenderViewTest
{
protected:
    void SetUp() override
    {
        RenderViewTest::SetUp();
        dir_ = std::filesystem::temp_directory_path() /
               ("ferolt_save_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        std::filesystem::remove_all(dir_);
        RenderViewTest::TearDown();
    }

    // Two faces of different colours meeting across the middle, so any tile or strip misplaced shows.
    void Scene()
    {
        FaceColours colours = Uniform(0.2f, 0.3f, 0.9f);
        colours[4] = {0.9f, 0.2f, 0.1f, 1.0f};
        colours[0] = {0.1f, 0.8f, 0.2f, 1.0f};
        AddBox(D3DXVECTOR3(0, 0, 0), 0.8f, colours);
        Camera(D3DXVECTOR3(2.0f, 1.2f, 3.0f), 2.4f, 1.8f);
    }

    LMK::SaveImageStruct_TYP Params(uint16_t w, uint16_t h, uint32_t k, uint32_t format,
                                    const std::string& path)
    {
        paths_.push_back(path);
        LMK::SaveImageStruct_TYP p{};
        p.width = w;
        p.height = h;
        p.oversampling = k;
        p.format = format;
        p.quality = 0.9f;
        p.fileName = paths_.back().c_str();
        return p;
    }

    HRESULT Save(LMK::SaveImageStruct_TYP* p)
    {
        LMK::RenderViewStruct_TYP v{};
        v.camera = camera_;
        v.cameraLight = 1;
        std::vector<LMK::Object_*> objects = objects_;
        return LRSaveImage(&v, static_cast<DWORD>(objects.size()), objects.data(), 0, nullptr, p);
    }

    // The frame a window of this size shows of the scene.
    std::vector<uint32_t> Frame(const RECT& client)
    {
        HWND w = Window(client);
        LMK::RenderViewStruct_TYP v = Record(BackBuffer(w));
        EXPECT_EQ(Render(&v, objects_), S_OK);
        return Pixels(w);
    }

    std::vector<uint32_t> DecodeBmp(const std::string& path)
    {
        const std::vector<uint8_t> bytes = ReadAll(path);
        ferolt::image::Image img;
        EXPECT_EQ(ferolt::image::DecodeBmp(bytes.data(), bytes.size(), &img), ferolt::image::Status::Ok);
        for (uint32_t& p : img.pixels)
            p &= 0xFFFFFF;
        return img.pixels;
    }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
    std::deque<std::string> paths_;
};

TEST_F(SaveImageTest, BmpHasTheHeaderAndTheWindowsFrame)
{
    Start({{0, 0, 128, 96}});
    Scene();
    LRReleaseView(&camera_);
    Camera(D3DXVECTOR3(2.0f, 1.2f, 3.0f), 2.4f, 1.2f); // the image's aspect, so the save keeps the window
    LMK::SaveImageStruct_TYP p = Params(100, 50, 1, LMK::SaveImageFormatBmp, Path("a.bmp"));
    ASSERT_EQ(Save(&p), S_OK);
    const std::vector<uint8_t> file = ReadAll(p.fileName);
    ASSERT_EQ(file.size(), 15054u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), 15054u);
    EXPECT_EQ(U32(file, 10), 54u);
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(U32(file, 18), 100u);
    EXPECT_EQ(static_cast<int32_t>(U32(file, 22)), -50);
    EXPECT_EQ(file[26] | (file[27] << 8), 1);
    EXPECT_EQ(file[28] | (file[29] << 8), 24);
    for (size_t at = 30; at < 54; at += 4)
        EXPECT_EQ(U32(file, at), 0u) << at;
    const std::vector<uint32_t> saved = DecodeBmp(p.fileName);
    const std::vector<uint32_t> frame = Frame({0, 0, 100, 50});
    ASSERT_EQ(saved.size(), frame.size());
    EXPECT_EQ(saved, frame);
    EXPECT_NE(std::count(saved.begin(), saved.end(), kBackground), static_cast<ptrdiff_t>(saved.size()));
}

TEST_F(SaveImageTest, JpegDecodesToTheFrame)
{
    Start({{0, 0, 128, 96}});
    Scene();
    LMK::SaveImageStruct_TYP p = Params(64, 48, 0, LMK::SaveImageFormatJpeg, Path("a.jpg"));
    ASSERT_EQ(Save(&p), S_OK);
    const std::vector<uint8_t> bytes = ReadAll(p.fileName);
    ferolt::image::Image img;
    ASSERT_EQ(ferolt::image::DecodeJpeg(bytes.data(), bytes.size(), &img), ferolt::image::Status::Ok);
    ASSERT_EQ(img.width, 64u);
    ASSERT_EQ(img.height, 48u);
    const std::vector<uint32_t> frame = Frame({0, 0, 64, 48});
    double total = 0;
    for (size_t i = 0; i < frame.size(); ++i)
    {
        const Rgb a = Split(frame[i]), b = Split(img.pixels[i]);
        total += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
    }
    // Sharp colour edges and halved chroma cost a few levels on average; a shifted or wrong image costs tens.
    EXPECT_LT(total / (3.0 * frame.size()), 8.0);
}

// A 64 x 48 primary display cuts a 160 x 120 image into three strips of three tiles; a second, larger
// monitor shows the same view whole for reference.
TEST_F(SaveImageTest, TilesAndStripsMatchTheWholeFrame)
{
    Start({{0, 0, 64, 48}, {64, 0, 320, 192}});
    Scene();
    const std::vector<uint32_t> frame = Frame({64, 0, 224, 120});

    LMK::SaveImageStruct_TYP whole = Params(160, 120, 1, LMK::SaveImageFormatBmp, Path("tiled.bmp"));
    std::vector<float> calls;
    whole.progress = CountCalls;
    whole.user = &calls;
    ASSERT_EQ(Save(&whole), S_OK);
    ASSERT_EQ(calls.size(), 15u);
    EXPECT_FLOAT_EQ(calls.back(), 1.0f);
    const std::vector<uint32_t> tiled = DecodeBmp(whole.fileName);
    ASSERT_EQ(tiled.size(), frame.size());
    size_t differing = 0;
    for (size_t i = 0; i < frame.size(); ++i)
        differing += !Near(tiled[i], Split(frame[i]), 2);
    EXPECT_LT(differing, frame.size() / 100) << "tile edges may round apart, nothing more";

    // Oversampled by 4 the same pieces make a 40 x 30 image: the frame box-filtered.
    LMK::SaveImageStruct_TYP small = Params(40, 30, 4, LMK::SaveImageFormatBmp, Path("small.bmp"));
    ASSERT_EQ(Save(&small), S_OK);
    const std::vector<uint32_t> reduced = Reduce(frame, 160, 120, 4);
    const std::vector<uint32_t> saved = DecodeBmp(small.fileName);
    ASSERT_EQ(saved.size(), reduced.size());
    for (auto [x, y] : {std::pair{5, 5}, {20, 15}, {33, 12}, {12, 25}, {39, 29}})
        EXPECT_TRUE(Near(saved[y * 40 + x], Split(reduced[y * 40 + x]), 3)) << x << "," << y;
}

// Oversampling 0 is taken as 1, and anything above 8 as 8.
TEST_F(SaveImageTest, OversamplingIsClampedToOneToEight)
{
    Start({{0, 0, 64, 48}});
    Scene();
    for (auto [given, taken] : {std::pair{0u, 1u}, {12u, 8u}})
    {
        LMK::SaveImageStruct_TYP a = Params(8, 6, given, LMK::SaveImageFormatBmp, Path("given.bmp"));
        LMK::SaveImageStruct_TYP b = Params(8, 6, taken, LMK::SaveImageFormatBmp, Path("taken.bmp"));
        ASSERT_EQ(Save(&a), S_OK);
        ASSERT_EQ(Save(&b), S_OK);
        EXPECT_EQ(ReadAll(a.fileName), ReadAll(b.fileName)) << given;
    }
}

TEST_F(SaveImageTest, CancelLeavesNoFileAndIsReported)
{
    Start({{0, 0, 64, 48}});
    Scene();
    for (uint32_t format : {LMK::SaveImageFormatBmp, LMK::SaveImageFormatJpeg})
    {
        LMK::SaveImageStruct_TYP p = Params(100, 60, 1, format, Path(format ? "c.jpg" : "c.bmp"));
        int calls = 0;
        p.progress = CancelSecond;
        p.user = &calls;
        EXPECT_EQ(Save(&p), E_ABORT);
        EXPECT_EQ(calls, 2);
        EXPECT_FALSE(std::filesystem::exists(p.fileName));
    }
}

TEST_F(SaveImageTest, DrawsIntoADeviceContextWhereTheCallbackCannotCancel)
{
    Start({{0, 0, 128, 96}});
    Scene();
    HWND target = Window({0, 0, 80, 60});
    LMK::SaveImageStruct_TYP p{};
    p.width = 32;
    p.height = 24;
    p.x = 10;
    p.y = 20;
    p.format = LMK::SaveImageFormatDeviceContext;
    p.dc = GetDC(target);
    int calls = 0;
    p.progress = CancelSecond;
    p.user = &calls;
    ASSERT_EQ(Save(&p), S_OK);
    ReleaseDC(target, p.dc);
    EXPECT_EQ(calls, 3);
    const std::vector<uint32_t> drawn = Pixels(target);
    LMK::SaveImageStruct_TYP again = Params(32, 24, 1, LMK::SaveImageFormatBmp, Path("dc.bmp"));
    ASSERT_EQ(Save(&again), S_OK);
    const std::vector<uint32_t> saved = DecodeBmp(again.fileName);
    for (auto [x, y] : {std::pair{0, 0}, {16, 12}, {31, 23}, {8, 18}})
        EXPECT_EQ(drawn[(20 + y) * 80 + 10 + x], saved[y * 32 + x]) << x << "," << y;
}

// A tile that draws nothing would leave the previous strip's pixels in the file: the save fails whole.
TEST_F(SaveImageTest, ATileThatCannotBeDrawnFailsTheSaveAndRemovesTheFile)
{
    Start({{0, 0, 64, 48}});
    Scene();
    ferolt::hooks::SetD3D9DeviceState(LMK::CurrentGlobals->devices.primaryDevice->device, D3DERR_DEVICELOST);
    for (uint32_t format : {LMK::SaveImageFormatBmp, LMK::SaveImageFormatJpeg})
    {
        LMK::SaveImageStruct_TYP p = Params(100, 60, 1, format, Path(format ? "lost.jpg" : "lost.bmp"));
        EXPECT_TRUE(FAILED(Save(&p)));
        EXPECT_FALSE(std::filesystem::exists(p.fileName));
    }
}

// A 16-bit display: channels widen to 8 bits, so the saved image is the frame within the lost low bits.
TEST_F(SaveImageTest, SixteenBitBackBuffersSaveTheFrame)
{
    enginetest::UseAdapters({[]
                             {
                                 ferolt::hooks::D3D9Adapter a = enginetest::SmallAdapter(0, 128, 96);
                                 a.displayFormat = D3DFMT_R5G6B5;
                                 return a;
                             }()});
    ASSERT_EQ(LRStart(nullptr), S_OK);
    Scene();
    LMK::SaveImageStruct_TYP p = Params(64, 48, 1, LMK::SaveImageFormatBmp, Path("16.bmp"));
    ASSERT_EQ(Save(&p), S_OK);
    const std::vector<uint32_t> saved = DecodeBmp(p.fileName);
    const std::vector<uint32_t> frame = Frame({0, 0, 64, 48});
    ASSERT_EQ(saved.size(), frame.size());
    for (size_t i = 0; i < frame.size(); ++i)
        ASSERT_EQ(saved[i], frame[i] & 0xF8FCF8u) << i;
}

TEST_F(SaveImageTest, RefusalsLeaveNoFile)
{
    LMK::RenderViewStruct_TYP none{};
    LMK::SaveImageStruct_TYP before = Params(10, 10, 1, 0, Path("r.bmp"));
    EXPECT_EQ(LRSaveImage(&none, 0, nullptr, 0, nullptr, &before), E_FAIL) << "engine not started";
    Start({{0, 0, 64, 48}});
    Scene();
    struct Case
    {
        const char* what;
        uint16_t w, h;
        uint32_t format;
        bool nullName;
        HRESULT want;
    };
    const Case cases[] = {
        {"zero width", 0, 10, 0, false, E_INVALIDARG},
        {"zero height", 10, 0, 0, false, E_INVALIDARG},
        {"no file name", 10, 10, 0, true, E_INVALIDARG},
        {"no device context", 10, 10, 10, true, E_INVALIDARG},
        {"unknown format", 10, 10, 7, false, E_FAIL},
    };
    for (const Case& c : cases)
    {
        LMK::SaveImageStruct_TYP p = Params(c.w, c.h, 1, c.format, Path("r.bmp"));
        if (c.nullName) p.fileName = nullptr;
        EXPECT_EQ(Save(&p), c.want) << c.what;
        EXPECT_FALSE(std::filesystem::exists(Path("r.bmp"))) << c.what;
    }
    LMK::SaveImageStruct_TYP p = Params(10, 10, 1, 0, Path("missing/dir/x.bmp"));
    EXPECT_EQ(Save(&p), E_FAIL);
    EXPECT_EQ(LRSaveImage(nullptr, 0, nullptr, 0, nullptr, &p), E_INVALIDARG);
}

TEST(SaveImagePieces, BoxFilterRowsAndReadBack)
{
    // A 2x2 block with red 10..13 averages to 11 (truncated).
    uint32_t block[4] = {0x000A0000, 0x000B0000, 0x000C0000, 0x000D0000};
    LMK::DownsampleBox(reinterpret_cast<uint8_t*>(block), 2, 2, 2);
    EXPECT_EQ(block[0], 0x000B0000u);

    // A 101-pixel row is 303 bytes of pixels and one zero byte.
    std::vector<uint32_t> row(101, 0x00112233);
    FILE* f = std::tmpfile();
    ASSERT_TRUE(LMK::WriteBmpRow(f, reinterpret_cast<const uint8_t*>(row.data()), 101));
    EXPECT_EQ(std::ftell(f), 304);
    std::fclose(f);

    // 16-bit back buffers widen to 8 bits a channel and come out opaque; a part reaching past the tile
    // is cut at the tile's edge.
    struct Case
    {
        D3DFORMAT format;
        uint16_t pixel;
        uint32_t want;
    };
    for (const Case& c : {Case{D3DFMT_R5G6B5, 0xFFFF, 0xFFF8FCF8}, Case{D3DFMT_X1R5G5B5, 0xFFFF, 0xFFF8F8F8},
                          Case{D3DFMT_A1R5G5B5, 0x7C00, 0xFFF80000}})
    {
        uint16_t source[4 * 4];
        std::fill(std::begin(source), std::end(source), c.pixel);
        uint32_t strip[3 * 6] = {};
        LMK::SaveImageReadBackContext_TYP context{strip, 6, 2, 3, 2, false};
        LMK::ReadBackStruct_TYP rb{};
        rb.backBufferRect = {0, 0, 3, 2};
        rb.partRect = {0, 0, 4, 4};
        rb.format = c.format;
        rb.pitch = 8;
        rb.bits = source;
        EXPECT_FALSE(LMK::SaveImageReadBackCallback(&context, &rb));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(strip[y * 6 + x], (y < 2 && x >= 2 && x < 5) ? c.want : 0u) << x << "," << y;
    }
}
} // namespace rendertest
