#pragma once
// The lists a loader fills for the registry's level-of-detail and alternatives questions: the
// engine-side storage behind IlumoVector, and its two element records.
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "engine/core/ilumo_vector.h"
#include "platform/mfc/afx_string.h"

namespace LMK
{
struct LoaderLODStruct_TYP
{
    CString name;
    float value; // screen-size threshold in pixels
};

struct LoaderAlternativeStruct_TYP
{
    CString name;
    DWORD value; // selector value
};
} // namespace LMK

template <class T, class I = IlumoVector<T>, class V = std::vector<T>> class lumoVector : public I, public V
{
public:
    lumoVector() = default;
    ~lumoVector() = default;

    void Clear() override { V::clear(); }
    void Reserve(UINT n) override { V::reserve(n); }
    void PushBack(const T& value) override { V::push_back(value); }
    UINT Size() const override { return static_cast<UINT>(V::size()); }
    const T* At(UINT i) const override { return &Checked(i); }
    T* At(UINT i) override { return const_cast<T*>(&Checked(i)); }
    const T* Element(UINT i) const override { return V::data() + i; }
    T* Element(UINT i) override { return V::data() + i; }
    void AppendTo(IlumoVector<T>* other) override
    {
        const V snapshot(*this); // appending to itself must not walk what it adds
        for (const T& element : snapshot)
            other->PushBack(element);
    }
    void Assign(const IlumoVector<T>* other, bool append) override
    {
        // A list assigned to itself stays as it is, or appended to itself doubles once: walking its
        // own growing size would never end, and clearing first would leave nothing to copy.
        if (other == this)
        {
            if (append) AppendTo(this);
            return;
        }
        if (!append) Clear();
        for (UINT i = 0; i < other->Size(); ++i)
            PushBack(*other->Element(i));
    }

private:
    const T& Checked(UINT i) const
    {
        if (i >= V::size()) throw std::out_of_range("invalid vector<T> subscript");
        return V::operator[](i);
    }
};

namespace LMK
{
// Orders a level-of-detail list by threshold, ascending; of entries with equal thresholds the first
// the loader gave stays.
inline void SortLevelsOfDetail(lumoVector<LoaderLODStruct_TYP>* list)
{
    auto byValue = [](const LoaderLODStruct_TYP& a, const LoaderLODStruct_TYP& b)
    { return a.value < b.value; };
    std::stable_sort(list->begin(), list->end(), byValue);
    list->erase(std::unique(list->begin(), list->end(),
                            [](const LoaderLODStruct_TYP& a, const LoaderLODStruct_TYP& b)
                            { return a.value == b.value; }),
                list->end());
}

// Loads each entry of a loader's list in order and keeps those that load, with their values, as the
// owner's {resource, value} records. load(name) returns the resource with a reference, or null. An
// entry that names the owner itself is left out: the owner would hold its own last reference.
template <class Entry, class Owner, class Kept, class Load>
void LoadListEntries(const IlumoVector<Entry>& list, Owner* owner, std::vector<Kept>* kept, Load load)
{
    for (UINT i = 0; i < list.Size(); ++i)
    {
        const Entry* entry = list.Element(i);
        Owner* resource = load(entry->name);
        if (!resource) continue;
        if (resource == owner)
        {
            resource->Release();
            continue;
        }
        kept->push_back({resource, entry->value});
    }
}
} // namespace LMK
