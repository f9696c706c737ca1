#pragma once
// What objects need of a light: it is counted. The lights of the engine core build on this shape.
#include "platform/win32/windef.h"

namespace LMK
{
class Light_
{
public:
    Light_() = default;
    Light_(const Light_&) = delete;
    Light_& operator=(const Light_&) = delete;
    virtual ~Light_() = default;

    void AddRef() { ++refCount; }
    // Deletes the light at the last reference.
    void Release()
    {
        if (--refCount == 0) delete this;
    }

    DWORD refCount = 1;
};
} // namespace LMK
