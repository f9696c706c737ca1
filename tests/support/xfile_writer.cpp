// X file fixtures, written token by token from the file format's rules (independent of the reader).
#include "tests/support/xfile_writer.h"

#include <zlib.h>

#include <cstring>
#include <sstream>

namespace ferolt::test
{
namespace
{
enum : uint16_t
{
    kName = 1,
    kString = 2,
    kGuid = 5,
    kIntList = 6,
    kFloatList = 7,
    kOBrace = 10,
    kCBrace = 11,
    kOBracket = 14,
    kCBracket = 15,
    kDot = 18,
    kSemicolon = 20,
    kTemplate = 31,
    kWord = 40,
    kDword = 41,
    kFloat = 42,
    kArray = 52,
    kLpstr = 49,
};

class Out
{
public:
    Out(bool binary, bool doubles) : binary_(binary), doubles_(doubles) {}

    void Open(const std::string& id, const std::string& name = "")
    {
        Flush();
        if (!binary_)
        {
            text_ << id << (name.empty() ? "" : " ") << name << " {\n";
            return;
        }
        Token(kName);
        Text(id);
        if (!name.empty())
        {
            Token(kName);
            Text(name);
        }
        Token(kOBrace);
    }
    void Close()
    {
        Flush();
        if (binary_)
            Token(kCBrace);
        else
            text_ << "}\n";
    }
    void Int(uint32_t v, const char* sep = ";")
    {
        if (binary_)
        {
            if (!floats_.empty()) Flush();
            ints_.push_back(v);
        }
        else
            text_ << v << sep;
    }
    void Float(double v, const char* sep = ";")
    {
        if (binary_)
        {
            if (!ints_.empty()) Flush();
            floats_.push_back(v);
        }
        else
            text_ << v << sep;
    }
    void Str(const std::string& s)
    {
        Flush();
        if (!binary_)
        {
            text_ << '"' << s << "\";\n";
            return;
        }
        Token(kString);
        Text(s);
        Token(kSemicolon);
    }
    void Sep(const char* s)
    {
        if (!binary_) text_ << s;
    }
    void Ref(const std::string& name)
    {
        Flush();
        if (!binary_)
        {
            text_ << "{ " << name << " }\n";
            return;
        }
        Token(kOBrace);
        Token(kName);
        Text(name);
        Token(kCBrace);
    }
    // members: "FLOAT x", "Vector v", "array DWORD idx[n]"; open: the template takes any child.
    void Template(const std::string& name, const std::string& guid, const std::vector<std::string>& members,
                  bool open)
    {
        if (!binary_)
        {
            text_ << "template " << name << " {\n <" << guid << ">\n";
            for (const std::string& m : members)
                text_ << " " << m << ";\n";
            if (open) text_ << " [...]\n";
            text_ << "}\n\n";
            return;
        }
        Token(kTemplate);
        Token(kName);
        Text(name);
        Token(kOBrace);
        Token(kGuid);
        for (int i = 0; i < 16; ++i)
            bytes_.push_back(static_cast<uint8_t>(i * 17 + name.size()));
        for (const std::string& m : members)
        {
            std::istringstream words(m);
            std::string first, type, member;
            words >> first;
            const bool array = first == "array";
            if (array)
            {
                Token(kArray);
                words >> type;
            }
            else
                type = first;
            words >> member;
            if (type == "FLOAT")
                Token(kFloat);
            else if (type == "DWORD")
                Token(kDword);
            else if (type == "WORD")
                Token(kWord);
            else if (type == "STRING")
                Token(kLpstr);
            else
            {
                Token(kName);
                Text(type);
            }
            const size_t bracket = member.find('[');
            Token(kName);
            Text(member.substr(0, bracket));
            if (bracket != std::string::npos)
            {
                Token(kOBracket);
                std::string dim = member.substr(bracket + 1, member.size() - bracket - 2);
                if (!dim.empty() && dim[0] >= '0' && dim[0] <= '9')
                {
                    Token(3);
                    U32(static_cast<uint32_t>(std::stoul(dim)));
                }
                else
                {
                    Token(kName);
                    Text(dim);
                }
                Token(kCBracket);
            }
            Token(kSemicolon);
        }
        if (open)
        {
            Token(kOBracket);
            Token(kDot);
            Token(kDot);
            Token(kDot);
            Token(kCBracket);
        }
        Token(kCBrace);
    }

    std::vector<uint8_t> Body()
    {
        Flush();
        if (binary_) return bytes_;
        const std::string s = text_.str();
        return std::vector<uint8_t>(s.begin(), s.end());
    }

private:
    void Token(uint16_t t) { Raw(&t, 2); }
    void U32(uint32_t v) { Raw(&v, 4); }
    void Text(const std::string& s)
    {
        U32(static_cast<uint32_t>(s.size()));
        Raw(s.data(), s.size());
    }
    void Raw(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void Flush()
    {
        if (!ints_.empty())
        {
            Token(kIntList);
            U32(static_cast<uint32_t>(ints_.size()));
            for (uint32_t v : ints_)
                U32(v);
            ints_.clear();
        }
        if (!floats_.empty())
        {
            Token(kFloatList);
            U32(static_cast<uint32_t>(floats_.size()));
            for (double v : floats_)
            {
                if (doubles_)
                    Raw(&v, 8);
                else
                {
                    const float f = static_cast<float>(v);
                    Raw(&f, 4);
                }
            }
            floats_.clear();
        }
    }

    bool binary_;
    bool doubles_;
    std::ostringstream text_;
    std::vector<uint8_t> bytes_;
    std::vector<uint32_t> ints_;
    std::vector<double> floats_;
};

void Templates(Out& out)
{
    out.Template("Vector", "3D82AB5E-62DA-11cf-AB39-0020AF71E433", {"FLOAT x", "FLOAT y", "FLOAT z"}, false);
    out.Template("Coords2d", "F6F23F44-7686-11cf-8F52-0040333594A3", {"FLOAT u", "FLOAT v"}, false);
    out.Template("ColorRGBA", "35FF44E0-6C7C-11cf-8F52-0040333594A3",
                 {"FLOAT red", "FLOAT green", "FLOAT blue", "FLOAT alpha"}, false);
    out.Template("ColorRGB", "D3E16E81-7835-11cf-8F52-0040333594A3",
                 {"FLOAT red", "FLOAT green", "FLOAT blue"}, false);
    out.Template("Matrix4x4", "F6F23F45-7686-11cf-8F52-0040333594A3", {"array FLOAT matrix[16]"}, false);
    out.Template("FrameTransformMatrix", "F6F23F41-7686-11cf-8F52-0040333594A3", {"Matrix4x4 frameMatrix"},
                 false);
    out.Template("Frame", "3D82AB46-62DA-11cf-AB39-0020AF71E433", {}, true);
    out.Template("MeshFace", "3D82AB5F-62DA-11cf-AB39-0020AF71E433",
                 {"DWORD nFaceVertexIndices", "array DWORD faceVertexIndices[nFaceVertexIndices]"}, false);
    out.Template("Mesh", "3D82AB44-62DA-11cf-AB39-0020AF71E433",
                 {"DWORD nVertices", "array Vector vertices[nVertices]", "DWORD nFaces",
                  "array MeshFace faces[nFaces]"},
                 true);
    out.Template("Material", "3D82AB4D-62DA-11cf-AB39-0020AF71E433",
                 {"ColorRGBA faceColor", "FLOAT power", "ColorRGB specularColor", "ColorRGB emissiveColor"},
                 true);
    out.Template("TextureFilename", "A42790E1-7810-11cf-8F52-0040333594A3", {"STRING filename"}, false);
}

void Faces(Out& out, const std::vector<std::vector<uint32_t>>& faces)
{
    out.Int(static_cast<uint32_t>(faces.size()));
    out.Sep("\n");
    for (size_t f = 0; f < faces.size(); ++f)
    {
        out.Int(static_cast<uint32_t>(faces[f].size()));
        for (size_t k = 0; k < faces[f].size(); ++k)
            out.Int(faces[f][k], k + 1 < faces[f].size() ? "," : ";");
        out.Sep(f + 1 < faces.size() ? ",\n" : ";\n");
    }
}

void Vectors(Out& out, const std::vector<std::array<float, 3>>& v)
{
    out.Int(static_cast<uint32_t>(v.size()));
    out.Sep("\n");
    for (size_t i = 0; i < v.size(); ++i)
    {
        out.Float(v[i][0]);
        out.Float(v[i][1]);
        out.Float(v[i][2]);
        out.Sep(i + 1 < v.size() ? ",\n" : ";\n");
    }
}

void WriteMaterial(Out& out, const XMaterialDesc& m)
{
    out.Open("Material");
    for (float c : m.diffuse)
        out.Float(c);
    out.Sep(";\n");
    out.Float(m.power);
    out.Sep("\n");
    for (float c : m.specular)
        out.Float(c);
    out.Sep(";\n");
    for (float c : m.emissive)
        out.Float(c);
    out.Sep(";\n");
    if (!m.texture.empty())
    {
        out.Open("TextureFilename");
        out.Str(m.texture);
        out.Close();
    }
    out.Close();
}

void WriteMesh(Out& out, const XMeshDesc& mesh, int index)
{
    out.Open("Mesh", "Mesh" + std::to_string(index));
    Vectors(out, mesh.positions);
    Faces(out, mesh.faces);
    if (!mesh.normals.empty())
    {
        out.Open("MeshNormals");
        Vectors(out, mesh.normals);
        Faces(out, mesh.normalFaces);
        out.Close();
    }
    if (!mesh.texcoords.empty())
    {
        out.Open("MeshTextureCoords");
        out.Int(static_cast<uint32_t>(mesh.texcoords.size()));
        out.Sep("\n");
        for (size_t i = 0; i < mesh.texcoords.size(); ++i)
        {
            out.Float(mesh.texcoords[i][0]);
            out.Float(mesh.texcoords[i][1]);
            out.Sep(i + 1 < mesh.texcoords.size() ? ",\n" : ";\n");
        }
        out.Close();
    }
    if (!mesh.colors.empty())
    {
        out.Open("MeshVertexColors");
        out.Int(static_cast<uint32_t>(mesh.colors.size()));
        for (size_t i = 0; i < mesh.colors.size(); ++i)
        {
            out.Int(mesh.colors[i].first);
            for (float c : mesh.colors[i].second)
                out.Float(c);
            out.Sep(i + 1 < mesh.colors.size() ? ";,\n" : ";;\n");
        }
        out.Close();
    }
    if (!mesh.materials.empty())
    {
        out.Open("MeshMaterialList");
        out.Int(static_cast<uint32_t>(mesh.materials.size()));
        out.Int(static_cast<uint32_t>(mesh.faceMaterials.size()));
        for (size_t i = 0; i < mesh.faceMaterials.size(); ++i)
            out.Int(mesh.faceMaterials[i], i + 1 < mesh.faceMaterials.size() ? "," : ";");
        out.Sep("\n");
        for (const XMaterialDesc& m : mesh.materials)
            WriteMaterial(out, m);
        out.Close();
    }
    if (mesh.skinned)
    {
        out.Open("XSkinMeshHeader");
        out.Int(1);
        out.Int(2);
        out.Int(1);
        out.Close();
        out.Open("SkinWeights");
        out.Str("Bone");
        out.Int(2);
        out.Int(0, ",");
        out.Int(1, ";");
        out.Float(1.0, ",");
        out.Float(0.5, ";");
        for (int i = 0; i < 16; ++i)
            out.Float(i % 5 == 0 ? 1.0 : 0.0, i < 15 ? "," : ";;");
        out.Close();
    }
    out.Close();
}

void WriteFrame(Out& out, const XFrameDesc& frame, int* meshIndex)
{
    out.Open("Frame", frame.name);
    if (frame.hasMatrix)
    {
        out.Open("FrameTransformMatrix");
        for (int i = 0; i < 16; ++i)
            out.Float(frame.matrix[i], i < 15 ? "," : ";;");
        out.Sep("\n");
        out.Close();
    }
    for (const XMeshDesc& mesh : frame.meshes)
        WriteMesh(out, mesh, (*meshIndex)++);
    for (const XFrameDesc& child : frame.children)
        WriteFrame(out, child, meshIndex);
    out.Close();
}

void WriteAnimation(Out& out, const std::string& frameName)
{
    out.Open("AnimTicksPerSecond");
    out.Int(4800);
    out.Close();
    out.Open("AnimationSet", "Take");
    out.Open("Animation");
    out.Ref(frameName);
    out.Open("AnimationKey");
    out.Int(2); // position keys
    out.Int(2);
    for (int key = 0; key < 2; ++key)
    {
        out.Int(key * 100);
        out.Int(3);
        out.Float(key, ",");
        out.Float(0, ",");
        out.Float(0, ";;");
        out.Sep(key == 0 ? ",\n" : ";\n");
    }
    out.Close();
    out.Close();
    out.Close();
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& body, const char* header)
{
    std::vector<uint8_t> out(header, header + 16);
    const uint32_t total = static_cast<uint32_t>(body.size() + 16);
    const auto* t = reinterpret_cast<const uint8_t*>(&total);
    out.insert(out.end(), t, t + 4);
    constexpr size_t kBlock = 32768;
    for (size_t at = 0; at < body.size(); at += kBlock)
    {
        const size_t n = std::min(kBlock, body.size() - at);
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        if (at > 0)
        {
            const size_t dictionary = std::min(at, kBlock);
            deflateSetDictionary(&z, body.data() + at - dictionary, static_cast<uInt>(dictionary));
        }
        std::vector<uint8_t> packed(deflateBound(&z, n) + 16);
        z.next_in = const_cast<Bytef*>(body.data() + at);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        deflate(&z, Z_FINISH);
        packed.resize(z.total_out);
        deflateEnd(&z);
        const uint16_t sizes[2] = {static_cast<uint16_t>(n), static_cast<uint16_t>(packed.size() + 2)};
        const auto* s = reinterpret_cast<const uint8_t*>(sizes);
        out.insert(out.end(), s, s + 4);
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.begin(), packed.end());
    }
    return out;
}
} // namespace

std::vector<uint8_t> WriteXFile(const XFileDesc& desc, XEncoding encoding, bool doubles)
{
    const bool binary = encoding == XEncoding::Binary || encoding == XEncoding::BinaryZip;
    Out out(binary, doubles);
    if (desc.templates) Templates(out);
    int meshIndex = 0;
    for (const XMeshDesc& mesh : desc.meshes)
        WriteMesh(out, mesh, meshIndex++);
    for (const XFrameDesc& frame : desc.frames)
        WriteFrame(out, frame, &meshIndex);
    if (desc.animation) WriteAnimation(out, desc.frames.empty() ? "Frame" : desc.frames[0].name);
    const std::vector<uint8_t> body = out.Body();

    const char* format = encoding == XEncoding::Text      ? "txt "
                         : encoding == XEncoding::Binary  ? "bin "
                         : encoding == XEncoding::TextZip ? "tzip"
                                                          : "bzip";
    std::string header = std::string("xof 0303") + format + (doubles ? "0064" : "0032");
    if (encoding == XEncoding::TextZip || encoding == XEncoding::BinaryZip)
        return Compress(body, header.c_str());
    std::vector<uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

namespace
{
using Matrix = std::array<float, 16>;

Matrix Multiply(const Matrix& a, const Matrix& b)
{
    Matrix r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                r[i * 4 + j] += a[i * 4 + k] * b[k * 4 + j];
    return r;
}

void Triangles(const XMeshDesc& mesh, const Matrix& m, std::vector<XTriangle>* out)
{
    for (size_t f = 0; f < mesh.faces.size(); ++f)
    {
        const auto& face = mesh.faces[f];
        std::array<float, 4> diffuse{0.5f, 0.5f, 0.5f, 1.0f};
        if (!mesh.materials.empty())
        {
            const uint32_t id = mesh.faceMaterials.empty()
                                    ? 0
                                    : mesh.faceMaterials[std::min(f, mesh.faceMaterials.size() - 1)];
            diffuse = mesh.materials[id].diffuse;
        }
        for (size_t k = 2; k < face.size(); ++k)
        {
            XTriangle t{{}, diffuse};
            const uint32_t corners[3] = {face[0], face[k - 1], face[k]};
            for (int c = 0; c < 3; ++c)
            {
                const auto& p = mesh.positions[corners[c]];
                for (int axis = 0; axis < 3; ++axis)
                    t.corners[c * 3 + axis] =
                        p[0] * m[axis] + p[1] * m[4 + axis] + p[2] * m[8 + axis] + m[12 + axis];
            }
            out->push_back(t);
        }
    }
}

void Triangles(const XFrameDesc& frame, const Matrix& parent, std::vector<XTriangle>* out)
{
    const Matrix world = Multiply(frame.matrix, parent);
    for (const XMeshDesc& mesh : frame.meshes)
        Triangles(mesh, world, out);
    for (const XFrameDesc& child : frame.children)
        Triangles(child, world, out);
}
} // namespace

std::vector<XTriangle> XExpectedTriangles(const XFileDesc& desc)
{
    const Matrix identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<XTriangle> out;
    for (const XMeshDesc& mesh : desc.meshes)
        Triangles(mesh, identity, &out);
    for (const XFrameDesc& frame : desc.frames)
        Triangles(frame, identity, &out);
    return out;
}

XMeshDesc XGridMesh(uint32_t columns, uint32_t rows)
{
    XMeshDesc mesh;
    for (uint32_t y = 0; y <= rows; ++y)
        for (uint32_t x = 0; x <= columns; ++x)
        {
            mesh.positions.push_back({float(x), float(y), float((x * 7 + y * 3) % 5) * 0.25f});
            mesh.normals.push_back({0, 0, 1});
            mesh.texcoords.push_back({float(x) / float(columns), float(y) / float(rows)});
        }
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < columns; ++x)
        {
            const uint32_t a = y * (columns + 1) + x;
            const uint32_t b = a + 1, c = a + columns + 1, d = c + 1;
            mesh.faces.push_back({a, b, d});
            mesh.faces.push_back({a, d, c});
            mesh.faceMaterials.push_back(x < columns / 2 ? 0 : 1);
            mesh.faceMaterials.push_back(x < columns / 2 ? 0 : 1);
        }
    mesh.normalFaces = mesh.faces;
    mesh.materials = {XMaterialDesc{{0.8f, 0.2f, 0.2f, 1}, 10, {1, 1, 1}, {0, 0, 0}, "grid.png"},
                      XMaterialDesc{{0.2f, 0.2f, 0.8f, 1}, 0, {0, 0, 0}, {0, 0, 0}, ""}};
    return mesh;
}

XMeshDesc XCubeMesh()
{
    XMeshDesc mesh;
    for (int i = 0; i < 8; ++i)
        mesh.positions.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
    mesh.faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    mesh.normals = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
    for (uint32_t f = 0; f < 6; ++f)
        mesh.normalFaces.push_back({f, f, f, f});
    mesh.materials = {XMaterialDesc{{0.9f, 0.6f, 0.1f, 1}, 5, {0.5f, 0.5f, 0.5f}, {0, 0, 0}, ""}};
    mesh.faceMaterials = {0};
    return mesh;
}
} // namespace ferolt::test
