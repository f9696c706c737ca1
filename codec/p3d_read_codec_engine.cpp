// The reader's calls into the engine. The engine's model, animation, material-pack, light and
// texture readers are not part of the build yet: until they are, the chunks that need them are
// read and bounded but create nothing (null models, lights and textures, no animations, no names).
#include "codec/p3d_read_codec.h"

LMK::Model_* CP3DReadCodec::CreateModel(const BYTE*, size_t)
{
    return nullptr;
}

void CP3DReadCodec::ReleaseModel(LMK::Model_*) {}

void CP3DReadCodec::CreateAndAttachAnimation(P3DChunkEntry*, const BYTE*, size_t) {}

void CP3DReadCodec::ReadMaterialNames(P3DMaterialSet&) {}

LMK::Light_* CP3DReadCodec::CreateLight(const BYTE*, size_t)
{
    return nullptr;
}

void CP3DReadCodec::ReleaseLight(LMK::Light_*) {}

void CP3DReadCodec::ReleaseTexture(LMK::Texture_*) {}

bool CP3DReadCodec::DecodeTextureChunk(bool, BlobStorageData&, size_t, LMK::Texture_*&)
{
    return false;
}
