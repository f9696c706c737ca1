#pragma once
// Objects and arrays the engine owns. Running out of memory stays a result here, as it is everywhere in the
// engine: an allocation that fails gives an empty owner rather than an exception.
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace LMK
{
// n value-initialised elements, or null when memory runs out (at least one, so that a count of 0 still
// gives an array to hand on).
template <class T> std::unique_ptr<T[]> NewArray(size_t n)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[n ? n : 1]());
}

// n elements left as they come, for a buffer filled at once; null when memory runs out.
template <class T> std::unique_ptr<T[]> NewBuffer(size_t n)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[n ? n : 1]);
}

// One object made from args, or null when memory runs out.
template <class T, class... Args> std::unique_ptr<T> NewObject(Args&&... args)
{
    return std::unique_ptr<T>(new (std::nothrow) T(std::forward<Args>(args)...));
}

// A copy of n elements, or null when memory runs out.
template <class T> std::unique_ptr<T[]> CopyArray(const T* source, size_t n)
{
    std::unique_ptr<T[]> copy = NewBuffer<T>(n);
    if (copy)
        for (size_t i = 0; i < n; ++i)
            copy[i] = source[i];
    return copy;
}

// Drops the reference of a counted engine or device object at the end of a scope.
struct ReleaseDeleter_
{
    template <class T> void operator()(T* p) const
    {
        if (p) p->Release();
    }
};
template <class T> using CountedPtr = std::unique_ptr<T, ReleaseDeleter_>;

// A counted object made from args with its first reference, or null when memory runs out.
template <class T, class... Args> CountedPtr<T> NewCounted(Args&&... args)
{
    return CountedPtr<T>(new (std::nothrow) T(std::forward<Args>(args)...));
}

// An array of counted pointers that holds one reference per non-null entry: what it still holds when it
// goes (on an early return or an exception) is released. release() hands the bare array on.
template <class T> class CountedArray_
{
public:
    CountedArray_() : count_(0) {} // no array
    explicit CountedArray_(size_t n) : items_(new (std::nothrow) T*[n ? n : 1]()), count_(items_ ? n : 0) {}
    // Takes over an array of n entries made with new[] (or null), with the references it holds.
    CountedArray_(T** items, size_t n) : items_(items), count_(items ? n : 0) {}
    CountedArray_(CountedArray_&& other) noexcept
        : items_(std::move(other.items_)), count_(std::exchange(other.count_, 0))
    {
    }
    CountedArray_& operator=(CountedArray_&& other) noexcept
    {
        if (this != &other)
        {
            ReleaseAll();
            items_ = std::move(other.items_);
            count_ = std::exchange(other.count_, 0);
        }
        return *this;
    }
    CountedArray_(const CountedArray_&) = delete;
    CountedArray_& operator=(const CountedArray_&) = delete;
    ~CountedArray_() { ReleaseAll(); }
    explicit operator bool() const { return items_ != nullptr; }
    T*& operator[](size_t i) { return items_[i]; }
    T** get() const { return items_.get(); }
    T** release()
    {
        count_ = 0;
        return items_.release();
    }

private:
    void ReleaseAll()
    {
        for (size_t i = 0; i < count_; ++i)
            if (items_[i])
            {
                items_[i]->Release();
                items_[i] = nullptr;
            }
    }

    std::unique_ptr<T*[]> items_;
    size_t count_;
};
} // namespace LMK
