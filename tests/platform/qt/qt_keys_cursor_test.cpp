// Key codes and cursor images as the Qt backend translates them.
#include "platform/backends/qt/qt_cursor.h"
#include "platform/backends/qt/qt_keys.h"
#include "platform/win32/winuser.h"

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <gtest/gtest.h>

#include <cstring>

namespace
{
using ferolt::backend::qt::VirtualKeyFromQt;

TEST(QtKeys, VirtualKeysFromQtKeys)
{
    constexpr quint32 kNoScan = 0;
    struct Case
    {
        int key;
        Qt::KeyboardModifiers mods;
        quint32 native; // X11 key code: evdev + 8
        UINT vk;
        bool extended;
    };
    const Case cases[] = {
        {Qt::Key_A, Qt::NoModifier, kNoScan, 'A', false},
        {Qt::Key_Z, Qt::ShiftModifier, kNoScan, 'Z', false},
        {Qt::Key_7, Qt::NoModifier, kNoScan, '7', false},
        {Qt::Key_Exclam, Qt::ShiftModifier, kNoScan, '1', false},
        {Qt::Key_F1, Qt::NoModifier, kNoScan, VK_F1, false},
        {Qt::Key_F12, Qt::NoModifier, kNoScan, VK_F12, false},
        {Qt::Key_Escape, Qt::NoModifier, kNoScan, VK_ESCAPE, false},
        {Qt::Key_Left, Qt::NoModifier, kNoScan, VK_LEFT, true},
        {Qt::Key_Delete, Qt::NoModifier, kNoScan, VK_DELETE, true},
        {Qt::Key_Shift, Qt::ShiftModifier, kNoScan, VK_SHIFT, false},
        {Qt::Key_Control, Qt::NoModifier, 105 /* right control */, VK_CONTROL, true},
        {Qt::Key_Alt, Qt::NoModifier, kNoScan, VK_MENU, false},
        // Numeric pad: digits and operators, and navigation with Num Lock off (not extended).
        {Qt::Key_0, Qt::KeypadModifier, kNoScan, VK_NUMPAD0, false},
        {Qt::Key_9, Qt::KeypadModifier, kNoScan, VK_NUMPAD9, false},
        {Qt::Key_Plus, Qt::KeypadModifier, kNoScan, VK_ADD, false},
        {Qt::Key_Minus, Qt::KeypadModifier, kNoScan, VK_SUBTRACT, false},
        {Qt::Key_Asterisk, Qt::KeypadModifier, kNoScan, VK_MULTIPLY, false},
        {Qt::Key_Slash, Qt::KeypadModifier, kNoScan, VK_DIVIDE, true},
        {Qt::Key_Period, Qt::KeypadModifier, kNoScan, VK_DECIMAL, false},
        {Qt::Key_Enter, Qt::KeypadModifier, kNoScan, VK_RETURN, true},
        {Qt::Key_Home, Qt::KeypadModifier, kNoScan, VK_HOME, false},
        // Punctuation by physical key, whatever the layout made of it.
        {Qt::Key_Less, Qt::NoModifier, 94, VK_OEM_102, false},
        {Qt::Key_Bar, Qt::ShiftModifier, 94, VK_OEM_102, false},
        {Qt::Key_Udiaeresis, Qt::NoModifier, 34, VK_OEM_4, false},
        {Qt::Key_Minus, Qt::NoModifier, 20, VK_OEM_MINUS, false},
        // ... and by Qt key when the physical key is unknown.
        {Qt::Key_Less, Qt::NoModifier, kNoScan, VK_OEM_102, false},
        {Qt::Key_Less, Qt::ShiftModifier, kNoScan, VK_OEM_COMMA, false},
        {Qt::Key_Comma, Qt::NoModifier, kNoScan, VK_OEM_COMMA, false},
        {Qt::Key_Slash, Qt::NoModifier, kNoScan, VK_OEM_2, false},
        {Qt::Key_unknown, Qt::NoModifier, kNoScan, 0, false},
    };
    for (const Case& c : cases)
    {
        auto k = VirtualKeyFromQt(c.key, c.mods, c.native);
        EXPECT_EQ(k.vk, c.vk) << std::hex << c.key << " native " << std::dec << c.native;
        EXPECT_EQ(k.extended, c.extended) << std::hex << c.key;
    }
    // The scan code the layer gets is the physical key's.
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_A, Qt::NoModifier, 38).scanCode, 30u);
}

// A .cur file with one DIB image: `bits` per pixel, AND mask after the colour rows.
std::vector<uint8_t> CursorFile(int width, int height, int bits, uint16_t hotX, uint16_t hotY,
                                const std::vector<uint8_t>& palette, const std::vector<uint8_t>& pixels,
                                const std::vector<uint8_t>& mask)
{
    std::vector<uint8_t> f;
    auto u16 = [&](uint32_t v)
    {
        f.push_back(v & 0xFF);
        f.push_back((v >> 8) & 0xFF);
    };
    auto u32 = [&](uint32_t v)
    {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    uint32_t dibSize = static_cast<uint32_t>(40 + palette.size() + pixels.size() + mask.size());
    u16(0), u16(2), u16(1); // directory: cursor, one image
    f.push_back(static_cast<uint8_t>(width)), f.push_back(static_cast<uint8_t>(height)), f.push_back(0),
        f.push_back(0);
    u16(hotX), u16(hotY), u32(dibSize), u32(22); // entry
    u32(40), u32(static_cast<uint32_t>(width)), u32(static_cast<uint32_t>(height * 2)), u16(1),
        u16(static_cast<uint32_t>(bits));
    u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
    f.insert(f.end(), palette.begin(), palette.end());
    f.insert(f.end(), pixels.begin(), pixels.end());
    f.insert(f.end(), mask.begin(), mask.end());
    return f;
}

TEST(QtCursor, DecodesCursorImagesWithHotSpotAndMask)
{
    // 2 x 2, 1 bit: palette black / white; bottom row stored first. Mask hides the top-left pixel.
    std::vector<uint8_t> palette = {0, 0, 0, 0, 255, 255, 255, 0};
    std::vector<uint8_t> pixels = {0x40, 0, 0, 0, /* bottom: 0 1 */ 0x80, 0, 0, 0 /* top: 1 0 */};
    std::vector<uint8_t> mask = {0x00, 0, 0, 0, /* bottom */ 0x80, 0, 0, 0 /* top */};
    auto file = CursorFile(2, 2, 1, 1, 0, palette, pixels, mask);
    QImage image;
    QPoint hot;
    ASSERT_TRUE(ferolt::backend::qt::DecodeCursorFile(file, &image, &hot));
    EXPECT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(hot, QPoint(1, 0));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(image.pixel(1, 0), qRgba(0, 0, 0, 255));
    EXPECT_EQ(image.pixel(0, 1), qRgba(0, 0, 0, 255));
    EXPECT_EQ(image.pixel(1, 1), qRgba(255, 255, 255, 255));

    // 32 bits with alpha: the alpha channel wins over the mask.
    std::vector<uint8_t> argb = {1, 2, 3, 128};
    auto file32 = CursorFile(1, 1, 32, 9, 9, {}, argb, {0x80, 0, 0, 0});
    ASSERT_TRUE(ferolt::backend::qt::DecodeCursorFile(file32, &image, &hot));
    EXPECT_EQ(image.pixel(0, 0), qRgba(3, 2, 1, 128));
    EXPECT_EQ(hot, QPoint(0, 0)); // clamped into the image
}

// A .cur file whose one image is a PNG of the given size.
std::vector<uint8_t> PngCursorFile(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(qRgba(10, 20, 30, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    std::vector<uint8_t> f = {0, 0, 2, 0, 1, 0, 0, 0, 0, 0, 2, 0, 3, 0};
    auto u32 = [&](uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            f.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    u32(static_cast<uint32_t>(png.size()));
    u32(22);
    f.insert(f.end(), png.begin(), png.end());
    return f;
}

TEST(QtCursor, PngCursorsAreReadWithinTheSizeCap)
{
    QImage image;
    QPoint hot;
    ASSERT_TRUE(ferolt::backend::qt::DecodeCursorFile(PngCursorFile(16, 8), &image, &hot));
    EXPECT_EQ(image.size(), QSize(16, 8));
    EXPECT_EQ(hot, QPoint(2, 3));
    EXPECT_EQ(image.pixel(5, 5), qRgba(10, 20, 30, 255));
    EXPECT_FALSE(ferolt::backend::qt::DecodeCursorFile(PngCursorFile(300, 2), &image, &hot));
}

TEST(QtCursor, MalformedCursorFilesAreRejected)
{
    std::vector<uint8_t> palette = {0, 0, 0, 0, 255, 255, 255, 0};
    auto good = CursorFile(2, 2, 1, 0, 0, palette, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0});
    auto with = [&](size_t offset, std::vector<uint8_t> bytes)
    {
        auto f = good;
        std::memcpy(f.data() + offset, bytes.data(), bytes.size());
        return f;
    };
    struct Case
    {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"truncated directory", std::vector<uint8_t>(good.begin(), good.begin() + 10)},
        {"truncated image", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"an icon, not a cursor", with(2, {1, 0})},
        {"no images", with(4, {0, 0})},
        {"offset past the end", with(18, {0xFF, 0xFF, 0, 0})},
        {"size past the end", with(14, {0xFF, 0xFF, 0xFF, 0x7F})},
        {"huge width", with(22 + 4, {0, 0, 1, 0})},
        {"negative height", with(22 + 8, {0xFC, 0xFF, 0xFF, 0xFF})},
        {"odd height", with(22 + 8, {3, 0, 0, 0})},
        {"odd bit count", with(22 + 14, {7, 0})},
        {"compressed", with(22 + 16, {1, 0, 0, 0})},
        {"palette too large", with(22 + 32, {1, 1, 0, 0})},
    };
    for (const Case& c : cases)
    {
        QImage image;
        QPoint hot;
        EXPECT_FALSE(ferolt::backend::qt::DecodeCursorFile(c.bytes, &image, &hot)) << c.name;
    }
}

TEST(QtCursor, SystemCursorsMapToQtShapes)
{
    struct
    {
        int id;
        Qt::CursorShape shape;
    } const cases[] = {
        {32512, Qt::ArrowCursor},   {32514, Qt::WaitCursor},  {32649, Qt::PointingHandCursor},
        {32646, Qt::SizeAllCursor}, {12345, Qt::ArrowCursor},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ferolt::backend::qt::SystemCursorShape(c.id), c.shape) << c.id;
}
} // namespace
