#include "tests/support/three_ds_writer.h"

#include <cstring>

namespace ferolt::test
{
namespace
{
using Bytes = std::vector<uint8_t>;

class Out
{
public:
    Out& U8(uint8_t v)
    {
        b.push_back(v);
        return *this;
    }
    Out& U16(uint16_t v) { return Put(&v, 2); }
    Out& I16(int16_t v) { return Put(&v, 2); }
    Out& U32(uint32_t v) { return Put(&v, 4); }
    Out& F32(float v) { return Put(&v, 4); }
    Out& Str(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        return U8(0);
    }
    Out& Raw(const Bytes& r)
    {
        b.insert(b.end(), r.begin(), r.end());
        return *this;
    }
    // A chunk around the bytes that `body` writes.
    template <class F> Out& Chunk(uint16_t id, F body)
    {
        Out inner;
        body(inner);
        U16(id).U32(static_cast<uint32_t>(inner.b.size() + 6));
        return Raw(inner.b);
    }
    Bytes b;

private:
    Out& Put(const void* p, size_t n)
    {
        const auto* bytes = static_cast<const uint8_t*>(p);
        b.insert(b.end(), bytes, bytes + n);
        return *this;
    }
};

void Amount(Out& o, uint16_t id, int16_t percent)
{
    o.Chunk(id, [&](Out& c) { c.Chunk(0x0030, [&](Out& a) { a.I16(percent); }); });
}

void ByteColor(Out& o, uint16_t id, const std::array<uint8_t, 3>& rgb)
{
    o.Chunk(id, [&](Out& c) { c.Chunk(0x0011, [&](Out& a) { a.U8(rgb[0]).U8(rgb[1]).U8(rgb[2]); }); });
}

void Map(Out& o, uint16_t id, const Ds3Map& map)
{
    o.Chunk(id,
            [&](Out& c)
            {
                c.Chunk(0x0030, [&](Out& a) { a.I16(map.percent); });
                c.Chunk(0xA300, [&](Out& a) { a.Str(map.file); });
                c.Chunk(0xA351, [&](Out& a) { a.U16(0); });
                if (map.placement)
                {
                    const uint16_t ids[5] = {0xA354, 0xA356, 0xA358, 0xA35A, 0xA35C};
                    for (int i = 0; i < 5; ++i)
                        c.Chunk(ids[i], [&](Out& a) { a.F32((*map.placement)[i]); });
                }
            });
}

void Material(Out& o, const Ds3Material& m)
{
    o.Chunk(0xAFFF,
            [&](Out& c)
            {
                c.Chunk(0xA000, [&](Out& a) { a.Str(m.name); });
                if (m.ambient)
                    c.Chunk(0xA010,
                            [&](Out& a) {
                                a.Chunk(0x0010,
                                        [&](Out& f) {
                                            f.F32((*m.ambient)[0]).F32((*m.ambient)[1]).F32((*m.ambient)[2]);
                                        });
                            });
                ByteColor(c, 0xA020, m.diffuse);
                ByteColor(c, 0xA030, m.specular);
                Amount(c, 0xA040, m.shininess);
                Amount(c, 0xA041, m.strength);
                Amount(c, 0xA050, m.transparency);
                if (m.selfIllumination)
                {
                    c.Chunk(0xA080, [](Out&) {});
                    Amount(c, 0xA084, *m.selfIllumination);
                }
                if (m.twoSided) c.Chunk(0xA081, [](Out&) {});
                if (m.texture) Map(c, 0xA200, *m.texture);
                if (m.opacity) Map(c, 0xA210, *m.opacity);
                if (m.reflection) Map(c, 0xA220, *m.reflection);
            });
}

void Mesh(Out& o, const Ds3Mesh& m)
{
    auto texcoords = [&](Out& c)
    {
        if (m.texcoords.empty()) return;
        c.Chunk(0x4140,
                [&](Out& a)
                {
                    a.U16(static_cast<uint16_t>(m.texcoords.size()));
                    for (const auto& t : m.texcoords)
                        a.F32(t[0]).F32(t[1]);
                });
    };
    o.Chunk(0x4000,
            [&](Out& object)
            {
                object.Str(m.name);
                object.Chunk(
                    0x4100,
                    [&](Out& c)
                    {
                        if (m.texcoordsFirst) texcoords(c);
                        c.Chunk(0x4110,
                                [&](Out& a)
                                {
                                    a.U16(static_cast<uint16_t>(m.vertices.size()));
                                    for (const auto& v : m.vertices)
                                        a.F32(v[0]).F32(v[1]).F32(v[2]);
                                });
                        if (!m.texcoordsFirst) texcoords(c);
                        c.Chunk(0x4160,
                                [&](Out& a)
                                {
                                    const std::array<float, 12> identity{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
                                    for (float f : m.axes.value_or(identity))
                                        a.F32(f);
                                });
                        c.Chunk(0x4120,
                                [&](Out& a)
                                {
                                    a.U16(static_cast<uint16_t>(m.faces.size()));
                                    for (const auto& f : m.faces)
                                        a.U16(f[0]).U16(f[1]).U16(f[2]).U16(7);
                                    for (const Ds3FaceGroup& g : m.groups)
                                        a.Chunk(
                                            0x4130,
                                            [&](Out& s)
                                            {
                                                s.Str(g.material).U16(static_cast<uint16_t>(g.faces.size()));
                                                for (uint16_t f : g.faces)
                                                    s.U16(f);
                                            });
                                    if (m.smoothing)
                                        a.Chunk(0x4150,
                                                [&](Out& s)
                                                {
                                                    for (size_t i = 0; i < m.faces.size(); ++i)
                                                        s.U32(1);
                                                });
                                });
                    });
            });
}

void Light(Out& o, const Ds3Light& l)
{
    o.Chunk(0x4000,
            [&](Out& object)
            {
                object.Str(l.name);
                object.Chunk(0x4600,
                             [&](Out& c)
                             {
                                 c.F32(l.position[0]).F32(l.position[1]).F32(l.position[2]);
                                 c.Chunk(0x0010,
                                         [&](Out& a) { a.F32(l.color[0]).F32(l.color[1]).F32(l.color[2]); });
                                 if (l.spotTarget)
                                     c.Chunk(0x4610,
                                             [&](Out& a) {
                                                 a.F32((*l.spotTarget)[0])
                                                     .F32((*l.spotTarget)[1])
                                                     .F32((*l.spotTarget)[2])
                                                     .F32(10)
                                                     .F32(20);
                                             });
                                 if (l.off) c.Chunk(0x4620, [](Out&) {});
                                 if (l.multiplier) c.Chunk(0x465B, [&](Out& a) { a.F32(*l.multiplier); });
                             });
            });
}

void Track(Out& o, uint16_t id, uint16_t flags, const std::vector<Ds3Key>& keys, int components)
{
    o.Chunk(id,
            [&](Out& c)
            {
                c.U16(flags).U32(0).U32(0).U32(static_cast<uint32_t>(keys.size()));
                for (const Ds3Key& k : keys)
                {
                    c.U32(k.frame).U16(k.tension ? 1 : 0);
                    if (k.tension) c.F32(*k.tension);
                    for (int i = 0; i < components; ++i)
                        c.F32(k.value[i]);
                }
            });
}

void Node(Out& o, uint16_t id, const Ds3Node& n)
{
    o.Chunk(id,
            [&](Out& c)
            {
                if (n.id) c.Chunk(0xB030, [&](Out& a) { a.U16(*n.id); });
                c.Chunk(0xB010, [&](Out& a) { a.Str(n.name).U16(0x4000).U16(0).U16(n.parent); });
                if (!n.instance.empty()) c.Chunk(0xB011, [&](Out& a) { a.Str(n.instance); });
                c.Chunk(0xB013, [&](Out& a) { a.F32(n.pivot[0]).F32(n.pivot[1]).F32(n.pivot[2]); });
                Track(c, 0xB020, n.trackFlags, n.position, 3);
                Track(c, 0xB021, n.trackFlags, n.rotation, 4);
                Track(c, 0xB022, n.trackFlags, n.scale, 3);
            });
}
} // namespace

std::vector<uint8_t> Write3DS(const Ds3File& file)
{
    Out out;
    out.Chunk(file.project ? 0xC23D : 0x4D4D,
              [&](Out& main)
              {
                  main.Chunk(0x0002, [](Out& v) { v.U32(3); });
                  main.Chunk(0x3D3D,
                             [&](Out& editor)
                             {
                                 editor.Chunk(0x3D3E, [](Out& v) { v.U32(3); });
                                 if (file.masterScale)
                                     editor.Chunk(0x0100, [&](Out& s) { s.F32(*file.masterScale); });
                                 for (const Ds3Material& m : file.materials)
                                     Material(editor, m);
                                 for (const Ds3Mesh& m : file.meshes)
                                     Mesh(editor, m);
                                 for (const Ds3Light& l : file.lights)
                                     Light(editor, l);
                             });
                  if (!file.nodes.empty() || !file.spotNodes.empty())
                      main.Chunk(0xB000,
                                 [&](Out& kf)
                                 {
                                     kf.Chunk(0xB00A, [](Out& h) { h.U16(5).Str("MAXSCENE").U32(100); });
                                     for (const Ds3Node& n : file.nodes)
                                         Node(kf, 0xB002, n);
                                     for (const Ds3Node& n : file.spotNodes)
                                         Node(kf, 0xB007, n);
                                 });
              });
    return out.b;
}

Ds3Mesh Ds3Cube(const std::string& name)
{
    Ds3Mesh m;
    m.name = name;
    for (int i = 0; i < 8; ++i)
        m.vertices.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
    m.faces = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
               {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    m.groups = {{"Red", {0, 1, 2, 3, 4, 5}}, {"Blue", {6, 7, 8, 9, 10, 11}}};
    for (int i = 0; i < 8; ++i)
        m.texcoords.push_back({float(i & 1), float((i >> 1) & 1)});
    return m;
}

Ds3Mesh Ds3Grid(const std::string& name, uint16_t columns, uint16_t rows)
{
    Ds3Mesh m;
    m.name = name;
    for (uint32_t y = 0; y <= rows; ++y)
        for (uint32_t x = 0; x <= columns; ++x)
        {
            m.vertices.push_back({float(x), float(y), float((x * 7 + y * 3) % 5) * 0.1f});
            m.texcoords.push_back({float(x) / columns, float(y) / rows});
        }
    const uint32_t stride = columns + 1u;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < columns; ++x)
        {
            const auto a = uint16_t(y * stride + x), b = uint16_t(a + 1), c = uint16_t(a + stride),
                       d = uint16_t(c + 1);
            m.faces.push_back({a, b, d});
            m.faces.push_back({a, d, c});
        }
    m.groups = {{"Red", {}}, {"Blue", {}}};
    for (size_t f = 0; f < m.faces.size(); ++f)
        m.groups[f < m.faces.size() / 2 ? 0 : 1].faces.push_back(uint16_t(f));
    return m;
}
} // namespace ferolt::test
