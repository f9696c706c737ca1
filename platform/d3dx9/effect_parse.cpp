// Reading the effect text into an EffectDescription.
#include <cctype>
#include <charconv>
#include <map>
#include <sstream>

#include "platform/d3dx9/effect_internal.h"

namespace ferolt::d3dx9
{
namespace
{
struct Member
{
    std::string type;
    std::string name;
    UINT count; // 0: not an array
};

struct Parser
{
    EffectDescription desc;
    std::map<std::string, std::vector<Member>> structs;
    std::string error;
    int depth = 0;

    bool Fail(size_t line, const std::string& what)
    {
        if (error.empty()) error = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    static bool ValidName(const std::string& s)
    {
        if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
        for (char c : s)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
        return true;
    }

    // "name" or "name[N]".
    bool SplitDeclarator(const std::string& token, std::string* name, UINT* count)
    {
        *count = 0;
        size_t open = token.find('[');
        if (open == std::string::npos)
        {
            *name = token;
            return ValidName(*name);
        }
        if (token.back() != ']') return false;
        *name = token.substr(0, open);
        const char* first = token.data() + open + 1;
        const char* last = token.data() + token.size() - 1;
        auto [ptr, ec] = std::from_chars(first, last, *count);
        return ValidName(*name) && ec == std::errc() && ptr == last && *count >= 1 &&
               *count <= kMaxEffectArray;
    }

    bool KnownType(const std::string& t) const
    {
        static const char* kBuiltIn[] = {"bool",   "int",    "float",    "float2",
                                         "float3", "float4", "float4x4", "texture"};
        for (const char* b : kBuiltIn)
            if (t == b) return true;
        return structs.count(t) != 0;
    }

    // Adds the node for one declarator (and everything under it); returns its index or npos.
    size_t Add(const std::string& type, const std::string& name, UINT count)
    {
        if (desc.nodes.size() >= kMaxEffectNodes || ++depth > 16)
        {
            --depth;
            return std::string::npos;
        }
        size_t index = desc.nodes.size();
        desc.nodes.push_back({});
        desc.nodes[index].name = name;
        const size_t start = desc.valueBytes;
        if (count)
        {
            desc.nodes[index].elements = count;
            for (UINT i = 0; i < count; ++i)
            {
                size_t e = Add(type, name + "[" + std::to_string(i) + "]", 0);
                if (e == std::string::npos)
                {
                    --depth;
                    return e;
                }
                desc.nodes[index].members.push_back(e);
            }
            const EffectNode& first = desc.nodes[desc.nodes[index].members[0]];
            EffectNode& n = desc.nodes[index];
            n.cls = first.cls;
            n.type = first.type;
            n.rows = first.rows;
            n.columns = first.columns;
        }
        else if (auto it = structs.find(type); it != structs.end())
        {
            const std::vector<Member> members = it->second;
            desc.nodes[index].cls = D3DXPC_STRUCT;
            desc.nodes[index].type = D3DXPT_VOID;
            for (const Member& m : members)
            {
                size_t e = Add(m.type, m.name, m.count);
                if (e == std::string::npos)
                {
                    --depth;
                    return e;
                }
                desc.nodes[index].members.push_back(e);
            }
        }
        else
        {
            EffectNode& n = desc.nodes[index];
            if (type == "texture")
            {
                n.cls = D3DXPC_OBJECT;
                n.type = D3DXPT_TEXTURE;
                n.offset = desc.textureSlots++;
                --depth;
                return index;
            }
            n.type = type == "bool" ? D3DXPT_BOOL : type == "int" ? D3DXPT_INT : D3DXPT_FLOAT;
            if (type == "float4x4")
            {
                n.cls = D3DXPC_MATRIX_ROWS;
                n.rows = n.columns = 4;
            }
            else if (type.size() == 6 && type.compare(0, 5, "float") == 0)
            {
                n.cls = D3DXPC_VECTOR;
                n.columns = UINT(type[5] - '0');
            }
            desc.valueBytes += size_t(n.rows) * n.columns * 4;
        }
        EffectNode& n = desc.nodes[index];
        if (n.type != D3DXPT_TEXTURE || n.cls == D3DXPC_STRUCT || count)
        {
            n.offset = start;
            n.bytes = desc.valueBytes - start;
        }
        --depth;
        return desc.valueBytes > kMaxEffectValueBytes ? std::string::npos : index;
    }

    bool Parse(const std::string& text)
    {
        // Running out of memory while reading ends a stream's input like the end of its text would: the
        // streams pass it on instead, so that it is never taken for an effect that ends early.
        std::istringstream in(text);
        in.exceptions(std::ios::badbit);
        std::string line;
        size_t number = 0;
        bool header = false;
        std::string openStruct;
        std::vector<Member> pending;
        while (std::getline(in, line))
        {
            ++number;
            if (size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
            std::istringstream words(line);
            words.exceptions(std::ios::badbit);
            std::vector<std::string> t;
            for (std::string w; words >> w;)
                t.push_back(w);
            if (t.empty()) continue;
            if (!header)
            {
                if (t.size() != 2 || t[0] != "ferolt-effect" || t[1] != "1")
                    return Fail(number, "not an effect of this version");
                header = true;
                continue;
            }
            if (!openStruct.empty())
            {
                if (t.size() == 1 && t[0] == "end")
                {
                    if (pending.empty()) return Fail(number, "empty struct");
                    structs[openStruct] = std::move(pending);
                    pending.clear();
                    openStruct.clear();
                    continue;
                }
                Member m;
                if (t.size() != 2 || !KnownType(t[0]) || !SplitDeclarator(t[1], &m.name, &m.count))
                    return Fail(number, "bad member");
                m.type = t[0];
                for (const Member& other : pending)
                    if (other.name == m.name) return Fail(number, "member declared twice");
                pending.push_back(m);
                continue;
            }
            if (t[0] == "struct")
            {
                if (t.size() != 2 || !ValidName(t[1]) || KnownType(t[1])) return Fail(number, "bad struct");
                openStruct = t[1];
            }
            else if (t[0] == "param")
            {
                std::string name;
                UINT count = 0;
                if (t.size() != 3 || !KnownType(t[1]) || !SplitDeclarator(t[2], &name, &count))
                    return Fail(number, "bad parameter");
                for (size_t top : desc.topLevel)
                    if (desc.nodes[top].name == name) return Fail(number, "parameter declared twice");
                size_t index = Add(t[1], name, count);
                if (index == std::string::npos) return Fail(number, "effect too large");
                desc.topLevel.push_back(index);
            }
            else if (t[0] == "technique")
            {
                EffectTechnique tech;
                UINT passes = 0;
                if (t.size() < 3 || t.size() > 4 || !ValidName(t[1])) return Fail(number, "bad technique");
                auto [ptr, ec] = std::from_chars(t[2].data(), t[2].data() + t[2].size(), passes);
                if (ec != std::errc() || ptr != t[2].data() + t[2].size() || passes == 0 || passes > 64)
                    return Fail(number, "bad pass count");
                if (t.size() == 4 && t[3] != "shaders") return Fail(number, "bad technique requirement");
                for (const EffectTechnique& other : desc.techniques)
                    if (other.name == t[1]) return Fail(number, "technique declared twice");
                tech.name = t[1];
                tech.passes = passes;
                tech.needsShaders = t.size() == 4;
                desc.techniques.push_back(tech);
            }
            else
                return Fail(number, "unknown declaration '" + t[0] + "'");
        }
        if (!header) return Fail(number, "empty effect");
        if (!openStruct.empty()) return Fail(number, "struct without end");
        if (desc.techniques.empty()) return Fail(number, "no technique");
        return true;
    }
};
} // namespace

std::shared_ptr<const EffectDescription> ParseEffect(const char* text, size_t size, std::string* error)
{
    if (!text || size == 0 || size > kMaxEffectText)
    {
        if (error) *error = "no effect text, or too much";
        return nullptr;
    }
    std::string s(text, size);
    // Resources may carry a terminating zero.
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    if (s.find('\0') != std::string::npos)
    {
        if (error) *error = "binary data in effect text";
        return nullptr;
    }
    Parser p;
    if (!p.Parse(s))
    {
        if (error) *error = p.error;
        return nullptr;
    }
    return std::make_shared<const EffectDescription>(std::move(p.desc));
}
} // namespace ferolt::d3dx9
