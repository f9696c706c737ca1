// Handles, errors, critical sections, events, semaphores and threads.
#include "platform/win32/kernel_objects.h"
#include "platform/win32/out_of_memory.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ferolt::win32::detail
{
namespace
{
struct HandleTable
{
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100; // never 0, -1 or -2, and never reused
};

// Made on first use in static storage and never destroyed: it outlives the static destructors of other
// objects, and making it cannot run out of memory.
template <class T> T& Lasting()
{
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* made = new (storage) T;
    return *made;
}

HandleTable& Table()
{
    return Lasting<HandleTable>();
}

thread_local DWORD t_lastError = 0;
} // namespace

std::mutex& WaitMutex()
{
    return Lasting<std::mutex>();
}

std::condition_variable& WaitCondition()
{
    return Lasting<std::condition_variable>();
}

HANDLE AddObject(std::shared_ptr<KernelObject> object)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindObject(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return nullptr;
    return it->second;
}

bool RemoveObject(HANDLE handle)
{
    std::shared_ptr<KernelObject> removed; // destroyed outside the table lock
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return false;
    removed = std::move(it->second);
    table.objects.erase(it);
    return true;
}

DWORD ErrorFromErrno(int error)
{
    switch (error)
    {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBADF:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}
} // namespace ferolt::win32::detail

using namespace ferolt::win32::detail;

DWORD GetLastError()
{
    return ferolt::win32::detail::t_lastError;
}
void SetLastError(DWORD code)
{
    ferolt::win32::detail::t_lastError = code;
}

// ---------------------------------------------------------------------------------------------------
// Waiting

namespace
{
struct EventObject final : Waitable
{
    bool manualReset = false;
    bool signalled = false;
    ObjectKind Kind() const override { return ObjectKind::Event; }
    bool IsSignalled() const override { return signalled; }
    void Consume() override
    {
        if (!manualReset) signalled = false;
    }
};

struct SemaphoreObject final : Waitable
{
    LONG count = 0;
    LONG maximum = 1;
    ObjectKind Kind() const override { return ObjectKind::Semaphore; }
    bool IsSignalled() const override { return count > 0; }
    void Consume() override { --count; }
};

struct ThreadObject final : Waitable
{
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    DWORD id = 0;
    DWORD suspendCount = 0;
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    int priority = THREAD_PRIORITY_NORMAL;
    ObjectKind Kind() const override { return ObjectKind::Thread; }
    bool IsSignalled() const override { return finished; }
};

thread_local DWORD t_threadId = 0;

std::shared_ptr<Waitable> FindWaitable(HANDLE handle)
{
    std::shared_ptr<KernelObject> object = FindObject(handle);
    if (!object) return nullptr;
    switch (object->Kind())
    {
    case ObjectKind::Event:
    case ObjectKind::Semaphore:
    case ObjectKind::Thread:
        return std::static_pointer_cast<Waitable>(object);
    default:
        return nullptr;
    }
}

// Waits under WaitMutex until ready() or the time-out; true when ready.
template <class Ready> bool WaitUntil(std::unique_lock<std::mutex>& lock, DWORD milliseconds, Ready ready)
{
    if (milliseconds == INFINITE)
    {
        WaitCondition().wait(lock, ready);
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return WaitCondition().wait_until(lock, deadline, ready);
}
} // namespace

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // A wait never fails for lack of memory, so the objects are held without allocating.
    std::array<std::shared_ptr<Waitable>, MAXIMUM_WAIT_OBJECTS> held;
    const std::span<std::shared_ptr<Waitable>> objects(held.data(), count);
    for (DWORD i = 0; i < count; ++i)
    {
        objects[i] = FindWaitable(handles[i]);
        if (!objects[i])
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    std::unique_lock lock(WaitMutex());
    DWORD signalledIndex = 0;
    auto ready = [&]
    {
        if (waitAll)
        {
            for (const auto& object : objects)
                if (!object->IsSignalled()) return false;
            return true;
        }
        for (DWORD i = 0; i < count; ++i)
            if (objects[i]->IsSignalled())
            {
                signalledIndex = i;
                return true;
            }
        return false;
    };
    if (!WaitUntil(lock, milliseconds, ready)) return WAIT_TIMEOUT;
    if (waitAll)
    {
        for (auto& object : objects)
            object->Consume();
        return WAIT_OBJECT_0;
    }
    objects[signalledIndex]->Consume();
    return WAIT_OBJECT_0 + signalledIndex;
}

BOOL CloseHandle(HANDLE handle)
{
    if (!RemoveObject(handle))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}
HANDLE GetCurrentThread()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
}
DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target, DWORD, BOOL,
                     DWORD options)
{
    if (sourceProcess != GetCurrentProcess() || targetProcess != GetCurrentProcess() || !target)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<KernelObject> object = FindObject(source);
    if (!object)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *target = AddObject(std::move(object));
    if (options & DUPLICATE_CLOSE_SOURCE) RemoveObject(source);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Critical sections

namespace
{
constexpr DWORD kCriticalSectionReady = 0x43534543; // tells an initialised record from a zeroed one
static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::lockStorage));

pthread_mutex_t* MutexOf(LPCRITICAL_SECTION cs)
{
    return reinterpret_cast<pthread_mutex_t*>(cs->lockStorage);
}

void InitializeMutex(LPCRITICAL_SECTION cs, DWORD spinCount)
{
    std::memset(cs, 0, sizeof(*cs));
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(MutexOf(cs), &attributes);
    pthread_mutexattr_destroy(&attributes);
    cs->LockCount = -1;
    cs->SpinCount = spinCount;
    __atomic_store_n(&cs->initialized, kCriticalSectionReady, __ATOMIC_RELEASE);
}

// A record that was never initialised (zero-filled) is initialised on first use instead of crashing.
void EnsureInitialized(LPCRITICAL_SECTION cs)
{
    if (__atomic_load_n(&cs->initialized, __ATOMIC_ACQUIRE) == kCriticalSectionReady) return;
    static std::mutex initMutex;
    std::lock_guard lock(initMutex);
    if (__atomic_load_n(&cs->initialized, __ATOMIC_ACQUIRE) != kCriticalSectionReady) InitializeMutex(cs, 0);
}
} // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs)
{
    if (cs) InitializeMutex(cs, 0);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spinCount)
{
    if (!cs)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    InitializeMutex(cs, spinCount);
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs)
{
    if (!cs) return;
    EnsureInitialized(cs);
    pthread_mutex_lock(MutexOf(cs));
    ++cs->RecursionCount;
    ++cs->LockCount;
    cs->OwningThread = GetCurrentThreadId();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs)
{
    if (!cs) return FALSE;
    EnsureInitialized(cs);
    if (pthread_mutex_trylock(MutexOf(cs)) != 0) return FALSE;
    ++cs->RecursionCount;
    ++cs->LockCount;
    cs->OwningThread = GetCurrentThreadId();
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs)
{
    if (!cs || __atomic_load_n(&cs->initialized, __ATOMIC_ACQUIRE) != kCriticalSectionReady) return;
    // Leaving a lock this thread does not hold is refused rather than corrupting the owner's count.
    if (cs->OwningThread != GetCurrentThreadId() || cs->RecursionCount <= 0) return;
    if (--cs->RecursionCount == 0) cs->OwningThread = 0;
    --cs->LockCount;
    pthread_mutex_unlock(MutexOf(cs));
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs)
{
    if (!cs || __atomic_load_n(&cs->initialized, __ATOMIC_ACQUIRE) != kCriticalSectionReady) return;
    pthread_mutex_destroy(MutexOf(cs));
    std::memset(cs, 0, sizeof(*cs));
}

// ---------------------------------------------------------------------------------------------------
// Events and semaphores

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR)
{
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    SetLastError(ERROR_SUCCESS);
    return AddObject(std::move(event));
}

namespace
{
template <class Change> BOOL ChangeEvent(HANDLE handle, Change change)
{
    auto event = FindObjectOf<EventObject>(handle, ObjectKind::Event);
    if (!event)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard lock(WaitMutex());
        change(*event);
    }
    WaitCondition().notify_all();
    return TRUE;
}
} // namespace

BOOL SetEvent(HANDLE event)
{
    return ChangeEvent(event, [](EventObject& e) { e.signalled = true; });
}

BOOL ResetEvent(HANDLE event)
{
    return ChangeEvent(event, [](EventObject& e) { e.signalled = false; });
}

// Without a way to release exactly the current waiters, a pulse only resets: waiters may miss it,
// which the original documents as possible.
BOOL PulseEvent(HANDLE event)
{
    return ChangeEvent(event, [](EventObject& e) { e.signalled = false; });
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCSTR)
{
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto semaphore = std::make_shared<SemaphoreObject>();
    semaphore->count = initialCount;
    semaphore->maximum = maximumCount;
    return AddObject(std::move(semaphore));
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LPLONG previousCount)
{
    auto semaphore = FindObjectOf<SemaphoreObject>(handle, ObjectKind::Semaphore);
    if (!semaphore)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (releaseCount <= 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    {
        std::lock_guard lock(WaitMutex());
        if (releaseCount > semaphore->maximum - semaphore->count)
        {
            SetLastError(ERROR_TOO_MANY_POSTS);
            return FALSE;
        }
        if (previousCount) *previousCount = semaphore->count;
        semaphore->count += releaseCount;
    }
    WaitCondition().notify_all();
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Threads

DWORD GetCurrentThreadId()
{
    if (t_threadId == 0) t_threadId = static_cast<DWORD>(syscall(SYS_gettid));
    return t_threadId;
}

namespace
{
void RunThread(std::shared_ptr<ThreadObject> thread)
{
    {
        std::unique_lock lock(WaitMutex());
        thread->id = GetCurrentThreadId();
        WaitCondition().notify_all();
        WaitCondition().wait(lock, [&] { return thread->suspendCount == 0; });
    }
    DWORD exitCode = thread->start(thread->parameter);
    {
        std::lock_guard lock(WaitMutex());
        thread->exitCode = exitCode;
        thread->finished = true;
    }
    WaitCondition().notify_all();
}
} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId)
{
    if (!start)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Everything that may run out of memory comes before the thread starts, so that a failure leaves no
    // thread behind.
    std::shared_ptr<ThreadObject> thread;
    HANDLE handle = nullptr;
    const bool made = ferolt::Allocated(
        [&]
        {
            thread = std::make_shared<ThreadObject>();
            thread->start = start;
            thread->parameter = parameter;
            thread->suspendCount = (flags & CREATE_SUSPENDED) ? 1 : 0;
            handle = AddObject(thread);
        });
    bool started = false;
    if (made)
    {
        try
        {
            std::thread(RunThread, thread).detach();
            started = true;
        }
        catch (const std::system_error&)
        {
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    if (!started)
    {
        if (handle) RemoveObject(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    {
        std::unique_lock lock(WaitMutex());
        WaitCondition().wait(lock, [&] { return thread->id != 0; });
    }
    if (threadId) *threadId = thread->id;
    return handle;
}

namespace
{
struct BeginThreadStart
{
    unsigned(__stdcall* start)(void*);
    void* parameter;
};

DWORD WINAPI BeginThreadTrampoline(LPVOID parameter)
{
    std::unique_ptr<BeginThreadStart> start(static_cast<BeginThreadStart*>(parameter));
    return start->start(start->parameter);
}
} // namespace

uintptr_t _beginthreadex(void*, unsigned stackSize, unsigned(__stdcall* start)(void*), void* parameter,
                         unsigned flags, unsigned* threadId)
{
    if (!start)
    {
        errno = EINVAL;
        return 0;
    }
    auto* trampoline = new BeginThreadStart{start, parameter};
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, stackSize, BeginThreadTrampoline, trampoline, flags, &id);
    if (!handle)
    {
        delete trampoline;
        return 0;
    }
    if (threadId) *threadId = id;
    return reinterpret_cast<uintptr_t>(handle);
}

DWORD ResumeThread(HANDLE handle)
{
    auto thread = FindObjectOf<ThreadObject>(handle, ObjectKind::Thread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    DWORD previous;
    {
        std::lock_guard lock(WaitMutex());
        previous = thread->suspendCount;
        if (thread->suspendCount > 0) --thread->suspendCount;
    }
    WaitCondition().notify_all();
    return previous;
}

DWORD SuspendThread(HANDLE handle)
{
    auto thread = FindObjectOf<ThreadObject>(handle, ObjectKind::Thread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    std::lock_guard lock(WaitMutex());
    if (thread->suspendCount == 0)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return static_cast<DWORD>(-1);
    }
    return thread->suspendCount++;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode)
{
    auto thread = FindObjectOf<ThreadObject>(handle, ObjectKind::Thread);
    if (!thread || !exitCode)
    {
        SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(WaitMutex());
    *exitCode = thread->exitCode;
    return TRUE;
}

BOOL SetThreadPriority(HANDLE handle, int priority)
{
    if (handle == GetCurrentThread()) return TRUE;
    auto thread = FindObjectOf<ThreadObject>(handle, ObjectKind::Thread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(WaitMutex());
    thread->priority = priority;
    return TRUE;
}

int GetThreadPriority(HANDLE handle)
{
    if (handle == GetCurrentThread()) return THREAD_PRIORITY_NORMAL;
    auto thread = FindObjectOf<ThreadObject>(handle, ObjectKind::Thread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0x7FFFFFFF; // THREAD_PRIORITY_ERROR_RETURN
    }
    std::lock_guard lock(WaitMutex());
    return thread->priority;
}

DWORD GetThreadId(HANDLE handle)
{
    if (handle == GetCurrentThread()) return GetCurrentThreadId();
    auto thread = FindObjectOf<ThreadObject>(handle, ObjectKind::Thread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::lock_guard lock(WaitMutex());
    return thread->id;
}

void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0)
        std::this_thread::yield();
    else if (milliseconds != INFINITE)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    else
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    const char* value = name ? getenv(name) : nullptr;
    if (!value)
    {
        SetLastError(203); // ERROR_ENVVAR_NOT_FOUND
        return 0;
    }
    size_t length = strlen(value);
    if (!buffer || length + 1 > size) return static_cast<DWORD>(length + 1);
    memcpy(buffer, value, length + 1);
    return static_cast<DWORD>(length);
}
