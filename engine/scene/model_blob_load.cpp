#include "engine/scene/model_blob_load.h"

#include <cstring>

#include "engine/scene/model.h"
#include "engine/scene/model_formats.h"
#include "engine/scene/model_v7q.h"

namespace LMK
{
namespace
{
using ferolt::ByteReader;

// A data section holds a "V7Q1" stream, maybe behind format identifiers, or else the record layout.
bool IsV7QStream(const ByteReader& section)
{
    std::span<const uint8_t> head;
    size_t at = 0;
    // One or two copies, as the stream reader skips them.
    for (int copy = 0; copy < 2; ++copy)
        if (section.Bytes(at, 16, &head) && std::memcmp(head.data(), kV7QFormatIdentifier, 16) == 0) at += 16;
    DWORD magic = 0;
    return section.U32(at, &magic) && magic == kV7QStreamMagic;
}
} // namespace

HRESULT LoadV7QContainerModel(const void* data, DWORD size, BYTE noResmooth, LoadRecordStruct_TYP* record,
                              Model_** out)
{
    *out = nullptr;
    std::vector<BYTE> body;
    if (!UnpackV7QContainer(data, size, &body)) return E_FAIL;
    V7QModelStruct_TYP model;
    BlobOptionsStruct_TYP options;
    BlobChunksStruct_TYP chunks;
    if (!ReadV7QModel(&options, body.data(), static_cast<DWORD>(body.size()), &model, noResmooth,
                      &chunks.table, nullptr))
        return E_FAIL;
    chunks.base = ByteReader(body.data(), body.size());
    return BuildModelFromV7Q(1, 0, noResmooth, model, &options, 0, &chunks, record, out);
}

HRESULT LoadBlobModel(const void* data, DWORD size, BYTE noResmooth, LoadRecordStruct_TYP* record,
                      Model_** out)
{
    *out = nullptr;
    BlobOptionsStruct_TYP options;
    BlobRecordsStruct_TYP records;
    BlobChunksStruct_TYP chunks;
    std::string name;
    if (!BlobToACORObj(&options, data, size, noResmooth, 1, &records, &name, &chunks)) return E_FAIL;
    const HRESULT hr =
        BuildModelFromBlobData(1, 0, noResmooth, &records, &options, true, 0, nullptr, &chunks, record, out);
    if (*out && !name.empty()) (*out)->SetName(name.c_str());
    return hr;
}

HRESULT LoadPackedModel(const void* data, DWORD size, BYTE noResmooth, const BlobChunksStruct_TYP* package,
                        LoadRecordStruct_TYP* record, Model_** out)
{
    *out = nullptr;
    if (!IsPackedModelContainer(data, size)) return E_FAIL;
    const ByteReader file(data, size);
    DWORD length = 0, listSize = 0;
    ByteReader list, rest, section;
    if (!file.U32(8, &length) || !file.U32(12, &listSize) || !file.Sub(kPackedHeaderSize, listSize, &list) ||
        !file.Tail(kPackedHeaderSize + size_t{listSize}, &rest) || !rest.Sub(0, length, &section))
        return E_FAIL;
    const std::vector<std::string> names = ReadNameList(list);
    if (IsV7QStream(section))
    {
        V7QModelStruct_TYP model;
        BlobOptionsStruct_TYP options;
        if (!ReadV7QModel(&options, section.All().data(), static_cast<DWORD>(section.Size()), &model,
                          noResmooth, nullptr, nullptr))
            return E_FAIL;
        return BuildModelFromV7Q(1, 0, noResmooth, model, &options, 0, package, record, out);
    }
    BlobRecordsStruct_TYP records;
    if (!ReadBlobRecords(section, false, &records)) return E_FAIL;
    return BuildModelFromBlobData(1, 0, noResmooth, &records, nullptr, true, 0,
                                  names.empty() ? nullptr : &names, package, record, out);
}
} // namespace LMK
