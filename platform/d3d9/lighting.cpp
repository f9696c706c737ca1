// Fixed-function vertex lighting as Direct3D 9 defines it: emissive, global ambient, and per light an
// ambient, a diffuse (N.L) and a Blinn specular term scaled by attenuation and the spot factor.
#include <cmath>

#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
float Dot(const Vec3& a, const Vec3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 Normalized(const Vec3& v)
{
    const float len = std::sqrt(Dot(v, v));
    return len > 0.0f ? Vec3{v.x / len, v.y / len, v.z / len} : v;
}

float Saturate(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

// The colour a material source selects: the vertex colour when it has one, else the material's.
const float* Source(DWORD source, const float* vertexDiffuse, const float* vertexSpecular,
                    const float* material, bool colorVertex)
{
    if (colorVertex)
    {
        if (source == D3DMCS_COLOR1 && vertexDiffuse) return vertexDiffuse;
        if (source == D3DMCS_COLOR2 && vertexSpecular) return vertexSpecular;
    }
    return material;
}
} // namespace

void LightVertex(const VertexConfig& cfg, const Vec3& position, const Vec3& normal,
                 const float* vertexDiffuse, const float* vertexSpecular, float* diffuseOut,
                 float* specularOut)
{
    const D3DMATERIAL9& m = cfg.material;
    const float* md = Source(cfg.diffuseSource, vertexDiffuse, vertexSpecular, &m.Diffuse.r, cfg.colorVertex);
    const float* ma = Source(cfg.ambientSource, vertexDiffuse, vertexSpecular, &m.Ambient.r, cfg.colorVertex);
    const float* ms =
        Source(cfg.specularSource, vertexDiffuse, vertexSpecular, &m.Specular.r, cfg.colorVertex);
    const float* me =
        Source(cfg.emissiveSource, vertexDiffuse, vertexSpecular, &m.Emissive.r, cfg.colorVertex);

    float ambient[3] = {0, 0, 0}, diffuse[3] = {0, 0, 0}, specular[3] = {0, 0, 0};
    const Vec3 toEye =
        cfg.localViewer ? Normalized(Vec3{-position.x, -position.y, -position.z}) : kDistantViewer;

    for (int i = 0; i < cfg.lightCount; ++i)
    {
        const LightRecord& l = cfg.lights[i];
        Vec3 dir;
        float atten = 1.0f;
        if (l.type == D3DLIGHT_DIRECTIONAL)
        {
            dir = {-l.direction.x, -l.direction.y, -l.direction.z};
        }
        else
        {
            const Vec3 d = {l.position.x - position.x, l.position.y - position.y, l.position.z - position.z};
            const float dist = std::sqrt(Dot(d, d));
            if (dist > l.range) continue;
            dir = dist > 0.0f ? Vec3{d.x / dist, d.y / dist, d.z / dist} : Vec3{0, 0, 0};
            const float denom = l.att0 + l.att1 * dist + l.att2 * dist * dist;
            atten = denom > 0.0f ? 1.0f / denom : 1.0f;
            if (l.type == D3DLIGHT_SPOT)
            {
                const float rho = -Dot(dir, l.direction);
                if (rho <= l.cosHalfPhi) continue;
                if (rho <= l.cosHalfTheta)
                {
                    const float t = (rho - l.cosHalfPhi) / (l.cosHalfTheta - l.cosHalfPhi);
                    atten *= l.falloff == 1.0f ? t : std::pow(t, l.falloff);
                }
            }
        }
        for (int c = 0; c < 3; ++c)
            ambient[c] += atten * l.ambient[c];
        const float nDotL = Dot(normal, dir);
        if (nDotL <= 0.0f) continue;
        for (int c = 0; c < 3; ++c)
            diffuse[c] += atten * nDotL * l.diffuse[c];
        if (cfg.specularEnable)
        {
            const Vec3 h = Normalized(Vec3{dir.x + toEye.x, dir.y + toEye.y, dir.z + toEye.z});
            const float nDotH = Dot(normal, h);
            if (nDotH > 0.0f)
            {
                const float s = m.Power > 0.0f ? std::pow(nDotH, m.Power) : 1.0f;
                for (int c = 0; c < 3; ++c)
                    specular[c] += atten * s * l.specular[c];
            }
        }
    }

    for (int c = 0; c < 3; ++c)
    {
        diffuseOut[c] =
            Saturate(me[c] + ma[c] * cfg.globalAmbient[c] + ma[c] * ambient[c] + md[c] * diffuse[c]);
        specularOut[c] = cfg.specularEnable ? Saturate(ms[c] * specular[c]) : 0.0f;
    }
    diffuseOut[3] = Saturate(md[3]);
    specularOut[3] = Saturate(ms[3]);
}
} // namespace ferolt::d3d9
