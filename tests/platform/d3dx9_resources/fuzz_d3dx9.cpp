// Fuzz entry for the D3DX readers (chosen at build time): effect texts, and image files turned into
// textures on the device double, X files turned into meshes. Neither may crash, read outside the input or
// leak.
#include <cstdlib>

#include "platform/d3dx9/d3dx9.h"
#include "tests/platform/d3dx9_resources/fake_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ferolt::test::FakeDevice device;
#if defined(FUZZ_FAMILY_effect)
    ID3DXEffect* effect = nullptr;
    if (SUCCEEDED(
            D3DXCreateEffect(&device, data, UINT(size), nullptr, nullptr, 0, nullptr, &effect, nullptr)))
    {
        D3DXEFFECT_DESC desc;
        effect->GetDesc(&desc);
        for (UINT i = 0; i < desc.Parameters; ++i)
        {
            D3DXHANDLE h = effect->GetParameter(nullptr, i);
            D3DXPARAMETER_DESC pd;
            if (!h || FAILED(effect->GetParameterDesc(h, &pd))) std::abort();
        }
        effect->Release();
    }
#elif defined(FUZZ_FAMILY_texture)
    IDirect3DTexture9* texture = nullptr;
    D3DXIMAGE_INFO info;
    if (SUCCEEDED(D3DXCreateTextureFromFileInMemoryEx(&device, data, UINT(size), 0, 0, 0, 0, D3DFMT_A8R8G8B8,
                                                      D3DPOOL_MANAGED, D3DX_FILTER_TRIANGLE, D3DX_FILTER_BOX,
                                                      0xFF000000, &info, nullptr, &texture)))
        texture->Release();
#elif defined(FUZZ_FAMILY_xfile)
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer *adjacency = nullptr, *materials = nullptr, *effects = nullptr;
    DWORD count = 0;
    if (SUCCEEDED(D3DXLoadMeshFromXInMemory(data, DWORD(size), D3DXMESH_MANAGED, &device, &adjacency,
                                            &materials, &effects, &count, &mesh)))
    {
        // Every face's material must be one of the materials handed out.
        DWORD* ids = nullptr;
        if (FAILED(mesh->LockAttributeBuffer(0, &ids))) std::abort();
        for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
            if (count && ids[f] >= count) std::abort();
        mesh->UnlockAttributeBuffer();
        for (IUnknown* p : {static_cast<IUnknown*>(mesh), static_cast<IUnknown*>(adjacency),
                            static_cast<IUnknown*>(materials), static_cast<IUnknown*>(effects)})
            if (p) p->Release();
    }
#endif
    if (device.counters.live != 0 || device.References() != 1) std::abort();
    return 0;
}
