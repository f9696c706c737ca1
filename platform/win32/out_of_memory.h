#pragma once
// Calls whose contract is a result code, never an exception, turn running out of memory into their
// code here: one place, so no call lets std::bad_alloc escape through a C-style interface.
#include <new>
#include <utility>

namespace ferolt
{
// Runs work(); false when memory ran out on the way (what work built so far is its own to undo).
template <class Work> bool Allocated(Work&& work)
{
    try
    {
        std::forward<Work>(work)();
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

// Returns what work() returns, or outOfMemory when memory ran out on the way.
template <class Result, class Work> Result CatchOutOfMemory(Result outOfMemory, Work&& work)
{
    try
    {
        return std::forward<Work>(work)();
    }
    catch (const std::bad_alloc&)
    {
        return outOfMemory;
    }
}
} // namespace ferolt
