#include "tests/support/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local ferolt::test::AllocationVeto t_veto = nullptr;

void* Allocate(size_t n)
{
    if (t_veto && t_veto(n)) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
} // namespace

void ferolt::test::SetAllocationVeto(AllocationVeto veto)
{
    t_veto = veto;
}

// Every form, so that the sanitizer runtime's own operators do not bypass the veto.
void* operator new(size_t n)
{
    return Allocate(n);
}
void* operator new[](size_t n)
{
    return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    try
    {
        return Allocate(n);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t& tag) noexcept
{
    return operator new(n, tag);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
