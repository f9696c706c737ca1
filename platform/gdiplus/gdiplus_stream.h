#pragma once
// The stream interface GDI+ reads images from: the layer's COM stream.
#include "platform/win32/objidl.h"
