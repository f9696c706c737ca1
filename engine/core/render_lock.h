#pragma once
// The root's render lock held for a scope, so that every return leaves it. The lock is recursive: a pass
// that runs inside another (a mirror, an impostor atlas) takes it again.
#include "engine/core/globals.h"

namespace LMK
{
class RenderLock_
{
public:
    explicit RenderLock_(AllGlobals_* root) : lock_(&root->renderLock) { EnterCriticalSection(lock_); }
    ~RenderLock_() { LeaveCriticalSection(lock_); }
    RenderLock_(const RenderLock_&) = delete;
    RenderLock_& operator=(const RenderLock_&) = delete;

private:
    CRITICAL_SECTION* lock_;
};
} // namespace LMK
