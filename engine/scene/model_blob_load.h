#pragma once
// Loading the model files that hold the record layout or a "V7Q1" stream: "v7q!" containers, model
// blobs and packed model containers. Each fails with E_FAIL when its reader gives up before a model
// exists.
#include "engine/scene/model_blob.h"

namespace LMK
{
HRESULT LoadV7QContainerModel(const void* data, DWORD size, BYTE noResmooth, LoadRecordStruct_TYP* record,
                              Model_** out);
HRESULT LoadBlobModel(const void* data, DWORD size, BYTE noResmooth, LoadRecordStruct_TYP* record,
                      Model_** out);
// package (or null): the model's texture package, the chunks of a container without a chunk list.
HRESULT LoadPackedModel(const void* data, DWORD size, BYTE noResmooth, const BlobChunksStruct_TYP* package,
                        LoadRecordStruct_TYP* record, Model_** out);
} // namespace LMK
