// The geometry of backgrounds: a sphere, a cylinder, a cube or a picture quad around the eye, built once
// when the environment is made. Every face turns inward: a background is seen from inside.
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/core/material.h"
#include "engine/core/material_textures.h"
#include "engine/render/environment.h"
#include "engine/scene/model_constructor.h"

namespace LMK
{
namespace
{
constexpr int kSphereColumns = 32;
constexpr int kSphereRings = 16; // rings 1..15 carry vertices; the poles close the caps
constexpr int kPanoramaSegments = 32;
// A little more than a full turn, so that neighbouring panorama pictures overlap slightly.
constexpr double kPanoramaTurn = 6.308318614959717;
constexpr float kPanoramaBottomV = 0.95f;
constexpr float kPanoramaTopV = 0.05f;

struct Mesh_
{
    std::vector<float> positions;
    std::vector<float> texture;

    DWORD Add(float x, float y, float z, float u, float v)
    {
        positions.insert(positions.end(), {x, y, z});
        texture.insert(texture.end(), {u, v});
        return static_cast<DWORD>(positions.size() / 3 - 1);
    }
};

// One cap of the sphere: the ring nearest a pole, and one pole vertex per column in the middle of its
// column's coordinates. Top caps mirror the bottom one in z and v, and turn the other way round.
void AddSphereCap(ModelConstructor_* c, bool top)
{
    const float z = static_cast<float>(std::sin(D3DX_PI / kSphereRings - D3DX_PI / 2));
    const float r = std::sqrt(1.0f - z * z);
    const float sign = top ? -1.0f : 1.0f;
    Mesh_ m;
    for (int i = 0; i <= kSphereColumns; ++i)
    {
        const double angle = 2 * D3DX_PI * i / kSphereColumns;
        const float v = 1.0f - 1.0f / kSphereRings;
        m.Add(r * static_cast<float>(std::cos(angle)), r * static_cast<float>(std::sin(angle)), sign * z,
              1.0f - static_cast<float>(i) / kSphereColumns, top ? 1.0f - v : v);
    }
    for (int i = 0; i <= kSphereColumns; ++i)
    {
        const float u = 1.0f - (static_cast<float>(i) + 0.5f) / kSphereColumns;
        m.Add(0, 0, -sign, u, top ? 0.0f : 1.0f);
    }
    std::vector<DWORD> triangles;
    const DWORD poles = kSphereColumns + 1;
    for (DWORD i = 0; i < kSphereColumns; ++i)
        if (top)
            triangles.insert(triangles.end(), {i, poles + i, i + 1});
        else
            triangles.insert(triangles.end(), {i, i + 1, poles + i});
    c->AddIndexedTriangles(m.positions.data(), triangles.data(), kSphereColumns, m.texture.data());
}

void AddSphere(ModelConstructor_* c)
{
    Mesh_ m;
    for (int i = 0; i <= kSphereColumns; ++i)
        for (int j = 1; j < kSphereRings; ++j)
        {
            const double angle = 2 * D3DX_PI * i / kSphereColumns;
            const float z = static_cast<float>(std::sin(D3DX_PI * j / kSphereRings - D3DX_PI / 2));
            const float r = std::sqrt(std::max(0.0f, 1.0f - z * z));
            m.Add(r * static_cast<float>(std::cos(angle)), r * static_cast<float>(std::sin(angle)), z,
                  1.0f - static_cast<float>(i) / kSphereColumns, 1.0f - static_cast<float>(j) / kSphereRings);
        }
    auto index = [](DWORD i, DWORD j) { return (kSphereRings - 1) * i + (j - 1); };
    std::vector<DWORD> quads;
    for (DWORD i = 0; i < kSphereColumns; ++i)
        for (DWORD j = 1; j < kSphereRings - 1; ++j)
            quads.insert(quads.end(), {index(i, j), index(i, j + 1), index(i + 1, j + 1), index(i + 1, j)});
    c->AddIndexedQuads(m.positions.data(), quads.data(), static_cast<DWORD>(quads.size() / 4),
                       m.texture.data());
    AddSphereCap(c, false);
    AddSphereCap(c, true);
}

// One picture's share of the panorama: its wall from `from` over `angle` radians in s segments, and the
// floor and ceiling discs under and over it.
void AddPanoramaPiece(ModelConstructor_* c, double from, double angle, DWORD s, float h)
{
    Mesh_ wall, floor, ceiling;
    for (DWORD k = 0; k <= s; ++k)
    {
        const double a = from + angle * k / s;
        const float x = static_cast<float>(std::cos(a)), y = static_cast<float>(std::sin(a));
        const float u = 1.0f - static_cast<float>(k) / s;
        const float uMiddle = 1.0f - (static_cast<float>(k) + 0.5f) / s;
        wall.Add(x, y, -h, u, 1.0f);
        wall.Add(x, y, h, u, 0.0f);
        floor.Add(x, y, -h, u, 1.0f);
        floor.Add(0, 0, -h, uMiddle, kPanoramaBottomV);
        ceiling.Add(x, y, h, u, 0.0f);
        ceiling.Add(0, 0, h, uMiddle, kPanoramaTopV);
    }
    std::vector<DWORD> quads, down, up;
    for (DWORD k = 0; k < s; ++k)
    {
        quads.insert(quads.end(), {2 * k, 2 * k + 1, 2 * k + 3, 2 * k + 2});
        down.insert(down.end(), {2 * k, 2 * k + 2, 2 * k + 1});
        up.insert(up.end(), {2 * k + 2, 2 * k, 2 * k + 1});
    }
    c->AddIndexedQuads(wall.positions.data(), quads.data(), s, wall.texture.data());
    c->AddIndexedTriangles(floor.positions.data(), down.data(), s, floor.texture.data());
    c->AddIndexedTriangles(ceiling.positions.data(), up.data(), s, ceiling.texture.data());
}

constexpr float kCubeFaces[6][12] = {
    {1, -1, -1, 1, -1, 1, 1, 1, 1, 1, 1, -1},     {1, 1, -1, 1, 1, 1, -1, 1, 1, -1, 1, -1},
    {-1, 1, -1, -1, 1, 1, -1, -1, 1, -1, -1, -1}, {-1, -1, -1, -1, -1, 1, 1, -1, 1, 1, -1, -1},
    {1, -1, 1, -1, -1, 1, -1, 1, 1, 1, 1, 1},     {-1, -1, -1, 1, -1, -1, 1, 1, -1, -1, 1, -1},
};
} // namespace

void Environment_::CreateFaceMaterial(ModelConstructor_* constructor, DWORD i)
{
    D3DMATERIAL9 look{};
    Texture_* texture = TextureAt(i);
    if (texture)
    {
        look.Diffuse.a = 1.0f;
        look.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    }
    else
    {
        look.Diffuse = {0.0f, 0.0f, 0.0f, 1.0f};
        look.Ambient = description.colors[0];
    }
    auto* material =
        new Material_(&look, texture, nullptr, nullptr, false, false, false, 1.0f, 1.0f, false, 0);
    constructor->SetCurrentMaterial(material);
    material->Release();
}

Model_* Environment_::BuildModel(float* heightScale)
{
    *heightScale = 1.0f;
    ModelConstructor_ c;
    const DWORD type = description.type;
    switch (type)
    {
    case EnvironmentGradientSphere:
    case EnvironmentTexturedSphere:
        // Without its gradient the sphere would show white: it is drawn as the default instead.
        if (type == EnvironmentGradientSphere && !TextureAt(0)) return nullptr;
        CreateFaceMaterial(&c, 0);
        AddSphere(&c);
        break;
    case EnvironmentPanorama:
    {
        const float h = PanoramaHeight(description, TextureAt(0));
        // Only pictures the environment holds take a piece each: a count without pictures behind it
        // gives one piece, which looks the same as many without pictures.
        const DWORD n = std::max<DWORD>(static_cast<DWORD>(textures_.size()), 1);
        // More pictures than segments still give each picture one segment, rather than none.
        const DWORD s = std::max<DWORD>(kPanoramaSegments / n, 1);
        const double angle = kPanoramaTurn / n;
        for (DWORD k = 0; k < n; ++k)
        {
            CreateFaceMaterial(&c, k);
            AddPanoramaPiece(&c, k * angle, angle, s, h);
        }
        *heightScale = h;
        break;
    }
    case EnvironmentCube:
        for (DWORD i = 0; i < 6; ++i)
        {
            CreateFaceMaterial(&c, i);
            ModelConstructor_::AddQuad(&c, kCubeFaces[i]);
        }
        break;
    case EnvironmentPicture:
    case EnvironmentScreenPictureMirrored:
    case EnvironmentScreenPictureWrapped:
    case EnvironmentScreenPictureOffset:
    {
        CreateFaceMaterial(&c, 0);
        const float* k = description.crop;
        const bool crop = type == EnvironmentPicture && description.cropPicture;
        const float texture[8] = {crop ? k[1] : 1, crop ? k[3] : 1, crop ? k[1] : 1, crop ? k[2] : 0,
                                  crop ? k[0] : 0, crop ? k[2] : 0, crop ? k[0] : 0, crop ? k[3] : 1};
        c.AddPolygon(kCubeFaces[0], 4, texture);
        break;
    }
    default:
        return nullptr;
    }
    Model_* built = nullptr;
    c.CreateModel(&built, false, true);
    return built;
}

// The height of a panorama cylinder: from the view angle, else from the first picture's proportions.
float PanoramaHeight(const EnvironmentStruct_TYP& d, Texture_* first)
{
    if (d.viewAngle != 0.0f) return std::tan(d.viewAngle / 2.0f);
    UINT width = 0, height = 0;
    if (first && SUCCEEDED(GetMaterialTextureImageSize(first, &width, &height)) && width != 0)
        return height != 0 ? D3DX_PI * static_cast<float>(height) / static_cast<float>(width)
                           : D3DX_PI / static_cast<float>(width);
    return 1.0f;
}
} // namespace LMK
