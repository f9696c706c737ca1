#pragma once
// Test programs that link tests/support/failing_allocation.cpp replace the global operator new and
// delete; a veto set on a thread decides which of that thread's allocations fail with std::bad_alloc
// (or nullptr for the nothrow forms). Other threads, the engine's device thread among them, never fail.
#include <cstddef>

namespace ferolt::test
{
// Asked before each allocation of the thread that set it; true makes that allocation fail.
using AllocationVeto = bool (*)(size_t size);
// Null ends the vetoes.
void SetAllocationVeto(AllocationVeto veto);
} // namespace ferolt::test
