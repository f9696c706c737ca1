// The level-of-detail and alternative lists that loaders fill, and how the registry hands them over.
#include "engine_fixture.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/globals.h"
#include "engine/core/material_loader_lists.h"

using LMK::LoaderAlternativeStruct_TYP;
using LMK::LoaderLODStruct_TYP;
using AlternativeList = lumoVector<LoaderAlternativeStruct_TYP>;

namespace
{
std::string Names(const IlumoVector<LoaderAlternativeStruct_TYP>& list)
{
    std::string out;
    for (UINT i = 0; i < list.Size(); ++i)
        out += std::string(list.Element(i)->name) + std::to_string(list.Element(i)->value);
    return out;
}

void Fill(AlternativeList& list, std::initializer_list<const char*> names)
{
    DWORD value = 0;
    for (const char* name : names)
        list.PushBack({CString(name), ++value});
}
} // namespace

TEST(LoaderLists, AssignAndAppendKeepOrderAlsoOnThemselves)
{
    struct Case
    {
        const char* title;
        bool self;   // the list is its own source
        bool append; // Assign's flag; AppendTo when `appendTo` is set
        bool appendTo;
        const char* list; // afterwards
        const char* other;
    } cases[] = {
        {"assign replaces", false, false, false, "c1d2", "c1d2"},
        {"assign appends", false, true, false, "a1b2c1d2", "c1d2"},
        {"append to another", false, false, true, "a1b2", "c1d2a1b2"},
        {"assign itself", true, false, false, "a1b2", ""},
        {"assign itself, appending", true, true, false, "a1b2a1b2", ""},
        {"append to itself", true, false, true, "a1b2a1b2", ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        AlternativeList list, other;
        Fill(list, {"a", "b"});
        Fill(other, {"c", "d"});
        IlumoVector<LoaderAlternativeStruct_TYP>* source = c.self ? &list : &other;
        if (c.appendTo)
            list.AppendTo(c.self ? &list : &other);
        else
            list.Assign(source, c.append);
        EXPECT_EQ(Names(list), c.list);
        if (!c.self)
        {
            EXPECT_EQ(Names(other), c.other);
        }
    }
}

TEST(LoaderLists, AtIsRangeCheckedAndClearKeepsCapacity)
{
    lumoVector<LoaderLODStruct_TYP> list;
    list.Reserve(8);
    list.PushBack({CString("near"), 100.0f});
    EXPECT_EQ(list.At(0)->value, 100.0f);
    try
    {
        list.At(list.Size());
        ADD_FAILURE() << "no exception";
    }
    catch (const std::out_of_range& e)
    {
        EXPECT_STREQ(e.what(), "invalid vector<T> subscript");
    }
    list.Clear();
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_GE(list.capacity(), 8u);
    EXPECT_THROW(std::as_const(list).At(0), std::out_of_range);
}

// ---------------------------------------------------------------------------------------------------
namespace
{
struct Answer
{
    int result;                                // what the callback returns
    std::vector<std::string> names;            // what it puts in the list first
    std::vector<std::string>* asked = nullptr; // the names it was asked for
};

int __stdcall NoLoad(const LMK::LoaderRequestStruct_TYP*, void**, DWORD*, void**, DWORD*)
{
    return LMK::kLoaderNotMine;
}
void __stdcall NoRelease(void*, void*, void*, DWORD, LMK::LoadedPart_*) {}

template <class Element, class Value>
int Respond(void* context, const char* name, IlumoVector<Element>* list, Value value)
{
    auto* answer = static_cast<Answer*>(context);
    answer->asked->push_back(name);
    for (const std::string& entry : answer->names)
        list->PushBack({CString(entry.c_str()), value});
    return answer->result;
}

int __stdcall AnswerLODs(void* context, const char* name, IlumoVector<LoaderLODStruct_TYP>* list)
{
    return Respond(context, name, list, 1.0f);
}

int __stdcall AnswerAlternatives(void* context, const char* name,
                                 IlumoVector<LoaderAlternativeStruct_TYP>* list)
{
    return Respond(context, name, list, DWORD{1});
}
} // namespace

class LoaderListsRegistryTest : public enginetest::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(LRStart(nullptr), S_OK);
    }
};

// The registry clears the list, then asks the loaders of the type in order until one gives a list.
TEST_F(LoaderListsRegistryTest, FirstLoaderThatAnswersFillsTheList)
{
    struct Case
    {
        const char* title;
        std::vector<Answer> loaders; // in asking order
        int result;
        const char* names; // in the list afterwards
        size_t asked;      // loaders asked
    } cases[] = {
        {"none answers", {{LMK::kLoaderNotMine, {}}}, -1, "", 1},
        {"second answers", {{LMK::kLoaderNotMine, {}}, {0, {"a", "b"}}, {0, {"c"}}}, 0, "ab", 2},
        {"a failure is remembered", {{-7, {}}, {LMK::kLoaderNotMine, {}}}, -7, "", 2},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        for (bool lods : {true, false})
        {
            std::vector<std::string> asked;
            std::vector<Answer> answers = c.loaders;
            std::vector<LMK::Loader_*> registered;
            for (Answer& answer : answers)
            {
                answer.asked = &asked;
                LMK::LoaderCallbacksStruct_TYP cb{NoLoad,
                                                  NoRelease,
                                                  nullptr,
                                                  &answer,
                                                  lods ? AnswerLODs : nullptr,
                                                  lods ? nullptr : AnswerAlternatives};
                LMK::Loader_* loader = nullptr;
                ASSERT_EQ(LRRegisterLoader(LoadedPartModel, &cb, false, &loader), S_OK);
                registered.push_back(loader);
            }
            std::string names;
            int result = 0;
            LMK::AllLoaders_& registry = LMK::CurrentGlobals->loaders;
            if (lods)
            {
                lumoVector<LoaderLODStruct_TYP> list;
                list.PushBack({CString("stale"), 0.0f});
                result = registry.GetLODs(LoadedPartModel, "House", &list);
                for (const LoaderLODStruct_TYP& e : list)
                    names += e.name;
                // Only model loaders are asked for model lists.
                EXPECT_EQ(registry.GetLODs(LoadedPartMaterial, "House", &list), -1);
            }
            else
            {
                AlternativeList list;
                list.PushBack({CString("stale"), 0});
                result = registry.GetAlternatives(LoadedPartModel, "House", &list);
                for (const LoaderAlternativeStruct_TYP& e : list)
                    names += e.name;
                EXPECT_EQ(registry.GetAlternatives(LoadedPartModel, "", &list), -1);
            }
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(names, c.names);
            EXPECT_EQ(asked, std::vector<std::string>(c.asked, "House"));
            for (LMK::Loader_* loader : registered)
                ASSERT_EQ(LRUnregisterLoader(&loader), S_OK);
        }
    }
}
