#include "platform/backends/qt/qt_cursor.h"

#include "platform/bytes/byte_reader.h"

#include <QtCore/QBuffer>
#include <QtGui/QImageReader>
#include <QtGui/QPixmap>

#include <cstring>

namespace ferolt::backend::qt
{
Qt::CursorShape SystemCursorShape(int systemId)
{
    switch (systemId)
    {
    case 32512:
        return Qt::ArrowCursor; // IDC_ARROW
    case 32513:
        return Qt::IBeamCursor; // IDC_IBEAM
    case 32514:
        return Qt::WaitCursor; // IDC_WAIT
    case 32515:
        return Qt::CrossCursor; // IDC_CROSS
    case 32516:
        return Qt::UpArrowCursor; // IDC_UPARROW
    case 32642:
        return Qt::SizeFDiagCursor; // IDC_SIZENWSE
    case 32643:
        return Qt::SizeBDiagCursor; // IDC_SIZENESW
    case 32644:
        return Qt::SizeHorCursor; // IDC_SIZEWE
    case 32645:
        return Qt::SizeVerCursor; // IDC_SIZENS
    case 32646:
        return Qt::SizeAllCursor; // IDC_SIZEALL
    case 32648:
        return Qt::ForbiddenCursor; // IDC_NO
    case 32649:
        return Qt::PointingHandCursor; // IDC_HAND
    case 32650:
        return Qt::BusyCursor; // IDC_APPSTARTING
    case 32651:
        return Qt::WhatsThisCursor; // IDC_HELP
    default:
        return Qt::ArrowCursor;
    }
}

namespace
{
using ferolt::ByteReader;

constexpr int kMaxCursorSide = 256;

// A DIB as stored in icon and cursor files: the height counts the colour image and the AND mask.
bool DecodeDib(const ByteReader& r, size_t base, size_t size, QImage* image)
{
    uint32_t headerSize = 0, compression = 0, used = 0;
    int32_t width = 0, height2 = 0;
    uint16_t bitCount = 0;
    if (size < 40 || !r.U32(base, &headerSize) || !r.I32(base + 4, &width) || !r.I32(base + 8, &height2) ||
        !r.U16(base + 14, &bitCount) || !r.U32(base + 16, &compression) || !r.U32(base + 32, &used))
        return false;
    const uint32_t bits = bitCount;
    if (headerSize < 40 || headerSize > size || compression != 0) return false;
    if (width <= 0 || width > kMaxCursorSide || height2 <= 0 || height2 % 2 || height2 / 2 > kMaxCursorSide)
        return false;
    int height = height2 / 2;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
    size_t paletteCount = bits <= 8 ? (used ? used : (1u << bits)) : 0;
    if (paletteCount > 256) return false;
    // Offsets from the DIB's start: palette, colour rows, mask rows, end.
    size_t palette = headerSize;
    size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    size_t maskStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
    size_t pixels = palette + paletteCount * 4;
    size_t mask = pixels + stride * height;
    size_t end = mask + maskStride * height;
    std::span<const uint8_t> dib;
    if (end > size || !r.Bytes(base, end, &dib)) return false;
    const auto At = [&](size_t offset) { return dib.data() + offset; };

    QImage out(width, height, QImage::Format_ARGB32);
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y)
    {
        // Rows are stored bottom-up.
        const uint8_t* row = At(pixels + stride * (height - 1 - y));
        const uint8_t* maskRow = At(mask + maskStride * (height - 1 - y));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x)
        {
            uint32_t argb = 0;
            auto fromPalette = [&](uint32_t index)
            {
                if (index >= paletteCount) return 0u;
                const uint8_t* p = At(palette + index * 4);
                return 0xFF000000u | (p[2] << 16) | (p[1] << 8) | p[0];
            };
            switch (bits)
            {
            case 1:
                argb = fromPalette((row[x / 8] >> (7 - x % 8)) & 1);
                break;
            case 4:
                argb = fromPalette((row[x / 2] >> (x % 2 ? 0 : 4)) & 15);
                break;
            case 8:
                argb = fromPalette(row[x]);
                break;
            case 24:
                argb = 0xFF000000u | (row[x * 3 + 2] << 16) | (row[x * 3 + 1] << 8) | row[x * 3];
                break;
            case 32:
                argb = (static_cast<uint32_t>(row[x * 4 + 3]) << 24) | (row[x * 4 + 2] << 16) |
                       (row[x * 4 + 1] << 8) | row[x * 4];
                anyAlpha |= row[x * 4 + 3] != 0;
                break;
            }
            bool transparent = (maskRow[x / 8] >> (7 - x % 8)) & 1;
            if (bits != 32 && transparent) argb = 0;
            dst[x] = argb;
        }
    }
    // 32-bit images without alpha rely on the mask alone.
    if (bits == 32 && !anyAlpha)
        for (int y = 0; y < height; ++y)
        {
            const uint8_t* maskRow = At(mask + maskStride * (height - 1 - y));
            auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x)
                dst[x] = ((maskRow[x / 8] >> (7 - x % 8)) & 1) ? 0 : (dst[x] | 0xFF000000u);
        }
    *image = out;
    return true;
}
} // namespace

bool DecodeCursorFile(const std::vector<uint8_t>& bytes, QImage* image, QPoint* hotSpot)
{
    const ByteReader r(bytes.data(), bytes.size());
    // The directory's header and its first entry: hot spot, size and offset of the first image.
    uint16_t reserved = 1, type = 0, count = 0, hotX = 0, hotY = 0;
    uint32_t size = 0, offset = 0;
    std::span<const uint8_t> file;
    if (!r.U16(0, &reserved) || !r.U16(2, &type) || !r.U16(4, &count) || reserved != 0 || type != 2 ||
        count == 0 || !r.U16(6 + 4, &hotX) || !r.U16(6 + 6, &hotY) || !r.U32(6 + 8, &size) ||
        !r.U32(6 + 12, &offset) || !r.Bytes(offset, size, &file))
        return false;
    QPoint hot(static_cast<int>(hotX), static_cast<int>(hotY));
    QImage decoded;
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(file.data(), kPng, 8) == 0)
    {
        QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(file.data()), size);
        QBuffer buffer(&data);
        QImageReader reader(&buffer, "PNG");
        // The header's size is checked before anything is decoded.
        QSize side = reader.size();
        if (!side.isValid() || side.width() > kMaxCursorSide || side.height() > kMaxCursorSide) return false;
        if (!reader.read(&decoded)) return false;
        decoded = decoded.convertToFormat(QImage::Format_ARGB32);
    }
    else if (!DecodeDib(r, offset, size, &decoded))
    {
        return false;
    }
    hot.setX(std::min(hot.x(), decoded.width() - 1));
    hot.setY(std::min(hot.y(), decoded.height() - 1));
    *image = decoded;
    *hotSpot = hot;
    return true;
}

QCursor CursorFor(const CursorShape* shape)
{
    if (!shape) return QCursor(Qt::BlankCursor);
    if (shape->image.empty()) return QCursor(SystemCursorShape(shape->systemId));
    QImage image;
    QPoint hot;
    if (!DecodeCursorFile(shape->image, &image, &hot)) return QCursor(Qt::ArrowCursor);
    return QCursor(QPixmap::fromImage(image), hot.x(), hot.y());
}
} // namespace ferolt::backend::qt
