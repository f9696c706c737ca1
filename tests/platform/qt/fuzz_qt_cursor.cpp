// Fuzzes the cursor file reader: the input as a .cur file, its first image decoded with its hot spot.
#include "platform/backends/qt/qt_cursor.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QImage image;
    QPoint hotSpot;
    ferolt::backend::qt::DecodeCursorFile(std::vector<uint8_t>(data, data + size), &image, &hotSpot);
    return 0;
}
