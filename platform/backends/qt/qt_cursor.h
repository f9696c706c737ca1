#pragma once
// Cursors of the layer as Qt cursors.
#include "platform/win32/backend.h"

#include <QtGui/QCursor>
#include <QtGui/QImage>

#include <cstdint>
#include <vector>

namespace ferolt::backend::qt
{
// The Qt shape of a system cursor (IDC_* number); the arrow for unknown numbers.
Qt::CursorShape SystemCursorShape(int systemId);

// Decodes the first image of a .cur file (a DIB with its AND mask, or PNG) into ARGB32 with its
// hot spot. False on anything malformed; sizes are capped at 256 x 256.
bool DecodeCursorFile(const std::vector<uint8_t>& bytes, QImage* image, QPoint* hotSpot);

// A Qt cursor for a layer cursor; null `shape` hides the cursor.
QCursor CursorFor(const CursorShape* shape);
} // namespace ferolt::backend::qt
