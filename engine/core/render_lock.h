#pragma once
// Critical sections held for a scope, so that every return (and every exception) leaves them.
#include "engine/core/globals.h"

namespace LMK
{
class CriticalSectionLock_
{
public:
    explicit CriticalSectionLock_(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
    ~CriticalSectionLock_() { LeaveCriticalSection(lock_); }
    CriticalSectionLock_(const CriticalSectionLock_&) = delete;
    CriticalSectionLock_& operator=(const CriticalSectionLock_&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

// The root's render lock. It is recursive: a pass that runs inside another (a mirror, an impostor atlas)
// takes it again.
class RenderLock_ : public CriticalSectionLock_
{
public:
    explicit RenderLock_(AllGlobals_* root) : CriticalSectionLock_(&root->renderLock) {}
};
} // namespace LMK
