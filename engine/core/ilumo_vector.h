#pragma once
// The growable-list interface that the loader registry hands to a loader's level-of-detail and
// alternatives callbacks; the loader fills it through these calls only, so the list's storage stays on
// the engine's side of the boundary.
#include "platform/win32/windef.h"

template <class T> class IlumoVector
{
public:
    virtual void Clear() = 0;
    virtual void Reserve(UINT n) = 0;
    virtual void PushBack(const T& value) = 0;
    virtual UINT Size() const = 0;
    virtual const T* At(UINT i) const = 0; // range-checked: throws std::out_of_range
    virtual T* At(UINT i) = 0;
    virtual const T* Element(UINT i) const = 0; // unchecked
    virtual T* Element(UINT i) = 0;
    virtual void AppendTo(IlumoVector<T>* other) = 0;
    virtual void Assign(const IlumoVector<T>* other, bool append) = 0;

protected:
    ~IlumoVector() = default;
};
