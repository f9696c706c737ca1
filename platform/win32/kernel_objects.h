#pragma once
// The kernel-object table behind HANDLE values (internal to the kernel part of the layer).
#include "platform/win32/winbase.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace ferolt::win32::detail
{
enum class ObjectKind
{
    Event,
    Semaphore,
    Thread,
    File,
    Mapping,
    Find,
};

struct KernelObject
{
    virtual ~KernelObject() = default;
    virtual ObjectKind Kind() const = 0;
};

// Waitable state lives under one process-wide lock, so that waits on several objects are simple and
// every change wakes every waiter to recheck.
std::mutex& WaitMutex();
std::condition_variable& WaitCondition();

struct Waitable : KernelObject
{
    // Both called with WaitMutex held.
    virtual bool IsSignalled() const = 0;
    virtual void Consume() {}
};

HANDLE AddObject(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindObject(HANDLE handle);
template <class T> std::shared_ptr<T> FindObjectOf(HANDLE handle, ObjectKind kind)
{
    std::shared_ptr<KernelObject> object = FindObject(handle);
    if (!object || object->Kind() != kind) return nullptr;
    return std::static_pointer_cast<T>(object);
}
bool RemoveObject(HANDLE handle);

// Maps an errno value to the closest Win32 error code.
DWORD ErrorFromErrno(int error);
} // namespace ferolt::win32::detail
