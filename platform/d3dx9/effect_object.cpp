// ID3DXEffect over a parsed description: parameter values, textures and the current technique.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

#include "platform/d3dx9/effect_internal.h"
#include "platform/d3dx9/mesh_internal.h"
#include "platform/win32/com_object.h"
#include "platform/win32/out_of_memory.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace ferolt::d3dx9
{
namespace
{
class Effect final : public ComObject<ID3DXEffect, IID_ID3DXEffect>
{
public:
    Effect(IDirect3DDevice9* device, std::shared_ptr<const EffectDescription> desc)
        : device_(device), desc_(std::move(desc)), values_(desc_->valueBytes, 0),
          textures_(desc_->textureSlots, nullptr)
    {
        device_->AddRef();
    }

    HRESULT GetDesc(D3DXEFFECT_DESC* d) override
    {
        if (!d) return Refuse("Effect.GetDesc.NullPointer");
        d->Creator = "ferolt effect text";
        d->Parameters = static_cast<UINT>(desc_->topLevel.size());
        d->Techniques = static_cast<UINT>(desc_->techniques.size());
        d->Functions = 0;
        return D3D_OK;
    }

    HRESULT GetParameterDesc(D3DXHANDLE h, D3DXPARAMETER_DESC* d) override
    {
        const EffectNode* n = Node(h);
        if (!n || !d) return Refuse("Effect.GetParameterDesc.NullPointer");
        d->Name = n->name.c_str();
        d->Semantic = nullptr;
        d->Class = n->cls;
        d->Type = n->type;
        d->Rows = n->rows;
        d->Columns = n->columns;
        d->Elements = n->elements;
        d->Annotations = 0;
        d->StructMembers = n->cls == D3DXPC_STRUCT && !n->elements ? static_cast<UINT>(n->members.size()) : 0;
        d->Flags = 0;
        d->Bytes = static_cast<UINT>(n->bytes);
        return D3D_OK;
    }

    HRESULT GetTechniqueDesc(D3DXHANDLE h, D3DXTECHNIQUE_DESC* d) override
    {
        const EffectTechnique* t = Technique(h);
        if (!t || !d) return Refuse("Effect.GetTechniqueDesc.NullPointer");
        d->Name = t->name.c_str();
        d->Passes = t->passes;
        d->Annotations = 0;
        return D3D_OK;
    }

    D3DXHANDLE GetParameter(D3DXHANDLE parent, UINT index) override
    {
        if (!parent) return index < desc_->topLevel.size() ? Handle(desc_->topLevel[index]) : nullptr;
        const EffectNode* p = Node(parent);
        if (!p || index >= p->members.size()) return nullptr;
        return Handle(p->members[index]);
    }

    D3DXHANDLE GetParameterElement(D3DXHANDLE parent, UINT index) override
    {
        const EffectNode* p = Node(parent);
        if (!p || !p->elements || index >= p->members.size()) return nullptr;
        return Handle(p->members[index]);
    }

    D3DXHANDLE GetParameterByName(D3DXHANDLE parent, LPCSTR name) override
    {
        if (!name) return parent && Node(parent) ? parent : nullptr;
        const std::vector<size_t>* scope = &desc_->topLevel;
        if (parent)
        {
            const EffectNode* p = Node(parent);
            if (!p || p->cls != D3DXPC_STRUCT || p->elements) return nullptr;
            scope = &p->members;
        }
        const size_t found = Resolve(*scope, name);
        return found == std::string::npos ? nullptr : Handle(found);
    }

    D3DXHANDLE GetTechnique(UINT index) override
    {
        return index < desc_->techniques.size() ? TechniqueHandle(&desc_->techniques[index]) : nullptr;
    }

    D3DXHANDLE GetTechniqueByName(LPCSTR name) override
    {
        if (!name) return nullptr;
        for (const EffectTechnique& t : desc_->techniques)
            if (t.name == name) return TechniqueHandle(&t);
        return nullptr;
    }

    HRESULT SetValue(D3DXHANDLE h, LPCVOID data, UINT bytes) override
    {
        const EffectNode* n = Node(h);
        if (!n) return Refuse("Effect.SetValue.NoParameter");
        if (!data) return Refuse("Effect.SetValue.NullPointer");
        if (n->type == D3DXPT_TEXTURE) return Refuse("Effect.SetValue.WrongType");
        if (bytes == D3DX_DEFAULT_VALUE) bytes = static_cast<UINT>(n->bytes);
        if (bytes > n->bytes) return Refuse("Effect.SetValue.OutOfRange");
        std::memcpy(values_.data() + n->offset, data, bytes);
        return D3D_OK;
    }

    HRESULT GetValue(D3DXHANDLE h, LPVOID data, UINT bytes) override
    {
        const EffectNode* n = Node(h);
        if (!n) return Refuse("Effect.GetValue.NoParameter");
        if (!data) return Refuse("Effect.GetValue.NullPointer");
        if (n->type == D3DXPT_TEXTURE) return Refuse("Effect.GetValue.WrongType");
        if (bytes == D3DX_DEFAULT_VALUE) bytes = static_cast<UINT>(n->bytes);
        if (bytes > n->bytes) return Refuse("Effect.GetValue.OutOfRange");
        std::memcpy(data, values_.data() + n->offset, bytes);
        return D3D_OK;
    }

    HRESULT SetBool(D3DXHANDLE h, BOOL b) override
    {
        return SetNumbers(h, 1, [&](UINT) { return b ? 1.0 : 0.0; });
    }
    HRESULT GetBool(D3DXHANDLE h, BOOL* pb) override
    {
        double v;
        HRESULT hr = GetNumber(h, pb, &v);
        if (SUCCEEDED(hr)) *pb = v != 0.0;
        return hr;
    }
    HRESULT SetInt(D3DXHANDLE h, INT n) override
    {
        return SetNumbers(h, 1, [&](UINT) { return double(n); });
    }
    HRESULT GetInt(D3DXHANDLE h, INT* pn) override
    {
        double v;
        HRESULT hr = GetNumber(h, pn, &v);
        if (SUCCEEDED(hr)) *pn = static_cast<INT>(v);
        return hr;
    }
    HRESULT SetIntArray(D3DXHANDLE h, const INT* pn, UINT count) override
    {
        if (!pn) return Refuse("Effect.SetIntArray.NullPointer");
        return SetNumbers(h, count, [&](UINT i) { return double(pn[i]); });
    }
    HRESULT SetFloat(D3DXHANDLE h, FLOAT f) override
    {
        return SetNumbers(h, 1, [&](UINT) { return double(f); });
    }
    HRESULT GetFloat(D3DXHANDLE h, FLOAT* pf) override
    {
        double v;
        HRESULT hr = GetNumber(h, pf, &v);
        if (SUCCEEDED(hr)) *pf = static_cast<FLOAT>(v);
        return hr;
    }
    HRESULT SetFloatArray(D3DXHANDLE h, const FLOAT* pf, UINT count) override
    {
        if (!pf) return Refuse("Effect.SetFloatArray.NullPointer");
        return SetNumbers(h, count, [&](UINT i) { return double(pf[i]); });
    }
    HRESULT SetVector(D3DXHANDLE h, const D3DXVECTOR4* v) override
    {
        const EffectNode* n = Node(h);
        if (!v) return Refuse("Effect.SetVector.NullPointer");
        if (const char* rule = BrokenRule(n, TakesVector,
                                          {"Effect.SetVector.NoParameter", "Effect.SetVector.WrongType",
                                           "Effect.SetVector.WholeArray"}))
            return Refuse(rule);
        const float f[4] = {v->x, v->y, v->z, v->w};
        return SetNumbers(h, std::min<UINT>(4, n->columns), [&](UINT i) { return double(f[i]); });
    }
    HRESULT GetVector(D3DXHANDLE h, D3DXVECTOR4* v) override
    {
        const EffectNode* n = Node(h);
        if (!v) return Refuse("Effect.GetVector.NullPointer");
        if (const char* rule = BrokenRule(n, TakesVector,
                                          {"Effect.GetVector.NoParameter", "Effect.GetVector.WrongType",
                                           "Effect.GetVector.WholeArray"}))
            return Refuse(rule);
        float f[4] = {0, 0, 0, 0};
        for (UINT i = 0; i < std::min<UINT>(4, n->columns); ++i)
            f[i] = float(Component(*n, i));
        *v = D3DXVECTOR4(f[0], f[1], f[2], f[3]);
        return D3D_OK;
    }
    HRESULT SetMatrix(D3DXHANDLE h, const D3DXMATRIX* m) override { return PutMatrix(h, m, false); }
    HRESULT GetMatrix(D3DXHANDLE h, D3DXMATRIX* m) override { return TakeMatrix(h, m, false); }
    HRESULT SetMatrixTranspose(D3DXHANDLE h, const D3DXMATRIX* m) override { return PutMatrix(h, m, true); }
    HRESULT GetMatrixTranspose(D3DXHANDLE h, D3DXMATRIX* m) override { return TakeMatrix(h, m, true); }

    HRESULT SetTexture(D3DXHANDLE h, IDirect3DBaseTexture9* texture) override
    {
        const EffectNode* n = Node(h);
        if (const char* rule = BrokenRule(n, TakesTexture,
                                          {"Effect.SetTexture.NoParameter", "Effect.SetTexture.WrongType",
                                           "Effect.SetTexture.WholeArray"}))
            return Refuse(rule);
        if (texture) texture->AddRef();
        if (textures_[n->offset]) textures_[n->offset]->Release();
        textures_[n->offset] = texture;
        return D3D_OK;
    }
    HRESULT GetTexture(D3DXHANDLE h, IDirect3DBaseTexture9** out) override
    {
        const EffectNode* n = Node(h);
        if (!out) return Refuse("Effect.GetTexture.NullPointer");
        if (const char* rule = BrokenRule(n, TakesTexture,
                                          {"Effect.GetTexture.NoParameter", "Effect.GetTexture.WrongType",
                                           "Effect.GetTexture.WholeArray"}))
            return Refuse(rule);
        *out = textures_[n->offset];
        if (*out) (*out)->AddRef();
        return D3D_OK;
    }

    HRESULT SetTechnique(D3DXHANDLE h) override
    {
        const EffectTechnique* t = Technique(h);
        if (!t) return Refuse("Effect.SetTechnique.NullPointer");
        current_ = t;
        return D3D_OK;
    }
    D3DXHANDLE GetCurrentTechnique() override { return TechniqueHandle(current_); }
    HRESULT ValidateTechnique(D3DXHANDLE h) override
    {
        const EffectTechnique* t = Technique(h);
        if (!t) return Refuse("Effect.ValidateTechnique.NullPointer");
        return t->needsShaders ? E_FAIL : D3D_OK;
    }
    HRESULT FindNextValidTechnique(D3DXHANDLE h, D3DXHANDLE* out) override
    {
        if (!out) return Refuse("Effect.FindNextValidTechnique.NullPointer");
        *out = nullptr;
        size_t start = 0;
        if (h)
        {
            const EffectTechnique* t = Technique(h);
            if (!t) return Refuse("Effect.FindNextValidTechnique.NullPointer");
            start = size_t(t - desc_->techniques.data()) + 1;
        }
        for (size_t i = start; i < desc_->techniques.size(); ++i)
            if (!desc_->techniques[i].needsShaders)
            {
                *out = TechniqueHandle(&desc_->techniques[i]);
                return D3D_OK;
            }
        return S_FALSE;
    }

    HRESULT Begin(UINT* passes, DWORD) override
    {
        if (!current_) return Refuse("Effect.Begin.NoTechnique");
        if (begun_) return Refuse("Effect.Begin.Begun");
        if (passes) *passes = current_->passes;
        begun_ = true;
        return D3D_OK;
    }
    HRESULT BeginPass(UINT) override { return E_NOTIMPL; }
    HRESULT CommitChanges() override { return D3D_OK; }
    HRESULT EndPass() override { return Refuse("Effect.EndPass.NoPass"); }
    HRESULT End() override
    {
        if (!begun_) return Refuse("Effect.End.NotBegun");
        begun_ = false;
        return D3D_OK;
    }

    HRESULT GetDevice(IDirect3DDevice9** out) override
    {
        if (!out) return Refuse("Effect.GetDevice.NullPointer");
        device_->AddRef();
        *out = device_;
        return D3D_OK;
    }
    // Parameters live in memory, so a lost device costs the effect nothing.
    HRESULT OnLostDevice() override { return D3D_OK; }
    HRESULT OnResetDevice() override { return D3D_OK; }

    HRESULT CloneEffect(IDirect3DDevice9* device, LPD3DXEFFECT* out) override
    {
        if (!out) return Refuse("Effect.CloneEffect.NullPointer");
        *out = nullptr;
        if (!device) return Refuse("Effect.CloneEffect.NullPointer");
        return ferolt::CatchOutOfMemory(E_OUTOFMEMORY,
                                        [&]
                                        {
                                            // Released (so deleted) when memory runs out on the way.
                                            std::unique_ptr<Effect, Releaser> clone(
                                                new Effect(device, desc_));
                                            clone->values_ = values_;
                                            clone->current_ = current_;
                                            // Textures belong to one device; a clone for another device
                                            // starts without them.
                                            if (device == device_)
                                                for (size_t i = 0; i < textures_.size(); ++i)
                                                    if ((clone->textures_[i] = textures_[i]))
                                                        textures_[i]->AddRef();
                                            *out = clone.release();
                                            return D3D_OK;
                                        });
    }

private:
    static constexpr UINT D3DX_DEFAULT_VALUE = 0xFFFFFFFF;

    struct Releaser
    {
        void operator()(Effect* effect) const { effect->Release(); }
    };

    ~Effect() override
    {
        for (IDirect3DBaseTexture9* t : textures_)
            if (t) t->Release();
        device_->Release();
    }

    D3DXHANDLE Handle(size_t node) const { return reinterpret_cast<D3DXHANDLE>(&desc_->nodes[node]); }
    static D3DXHANDLE TechniqueHandle(const EffectTechnique* t) { return reinterpret_cast<D3DXHANDLE>(t); }

    // A handle handed out by this description, else a name.
    const EffectNode* Node(D3DXHANDLE h) const
    {
        if (!h) return nullptr;
        const auto* p = reinterpret_cast<const EffectNode*>(h);
        const EffectNode* first = desc_->nodes.data();
        if (std::less_equal<>()(first, p) && std::less<>()(p, first + desc_->nodes.size())) return p;
        if (IsTechniqueHandle(h)) return nullptr;
        const size_t found = Resolve(desc_->topLevel, h);
        return found == std::string::npos ? nullptr : &desc_->nodes[found];
    }

    bool IsTechniqueHandle(D3DXHANDLE h) const
    {
        const auto* p = reinterpret_cast<const EffectTechnique*>(h);
        const EffectTechnique* first = desc_->techniques.data();
        return std::less_equal<>()(first, p) && std::less<>()(p, first + desc_->techniques.size());
    }

    const EffectTechnique* Technique(D3DXHANDLE h) const
    {
        if (!h) return nullptr;
        if (IsTechniqueHandle(h)) return reinterpret_cast<const EffectTechnique*>(h);
        // Parameter handles are not names either.
        const auto* p = reinterpret_cast<const EffectNode*>(h);
        const EffectNode* first = desc_->nodes.data();
        if (std::less_equal<>()(first, p) && std::less<>()(p, first + desc_->nodes.size())) return nullptr;
        for (const EffectTechnique& t : desc_->techniques)
            if (t.name == h) return &t;
        return nullptr;
    }

    // Follows a path such as "lights[3].vPos" from a scope of sibling nodes.
    size_t Resolve(const std::vector<size_t>& scope, const char* path) const
    {
        const std::vector<size_t>* members = &scope;
        size_t current = std::string::npos;
        const char* p = path;
        while (true)
        {
            const char* end = p;
            while (*end && *end != '.' && *end != '[')
                ++end;
            if (end == p) return std::string::npos;
            const std::string_view name(p, size_t(end - p));
            current = std::string::npos;
            for (size_t m : *members)
                if (desc_->nodes[m].name == name)
                {
                    current = m;
                    break;
                }
            if (current == std::string::npos) return current;
            p = end;
            while (*p == '[')
            {
                ++p;
                uint64_t index = 0;
                const char* digits = p;
                while (*p >= '0' && *p <= '9' && index <= kMaxEffectArray)
                    index = index * 10 + uint64_t(*p++ - '0');
                if (p == digits || *p != ']') return std::string::npos;
                ++p;
                const EffectNode& n = desc_->nodes[current];
                if (!n.elements || index >= n.members.size()) return std::string::npos;
                current = n.members[index];
            }
            if (*p == 0) return current;
            if (*p != '.') return std::string::npos;
            ++p;
            const EffectNode& n = desc_->nodes[current];
            if (n.cls != D3DXPC_STRUCT || n.elements) return std::string::npos;
            members = &n.members;
        }
    }

    // The ids a parameter call refuses with, one for each rule BrokenRule checks; a call that takes whole
    // arrays has no wholeArray id.
    struct ParameterRules
    {
        const char* noParameter;
        const char* wrongType;
        const char* wholeArray = nullptr;
    };
    static bool TakesVector(const EffectNode& n) { return n.cls == D3DXPC_VECTOR || n.cls == D3DXPC_SCALAR; }
    static bool TakesMatrix(const EffectNode& n) { return n.cls == D3DXPC_MATRIX_ROWS; }
    static bool TakesTexture(const EffectNode& n) { return n.type == D3DXPT_TEXTURE; }
    static bool TakesNumbers(const EffectNode& n)
    {
        return n.cls != D3DXPC_STRUCT && n.type != D3DXPT_TEXTURE;
    }

    // The id of the first rule the parameter breaks, or nullptr: the handle names a parameter, of a kind
    // the call takes, and not an array where the call takes one element.
    static const char* BrokenRule(const EffectNode* n, bool (*takes)(const EffectNode&),
                                  const ParameterRules& ids)
    {
        if (!n) return ids.noParameter;
        if (!takes(*n)) return ids.wrongType;
        if (ids.wholeArray && n->elements) return ids.wholeArray;
        return nullptr;
    }

    // The i-th 4-byte component of a non-struct node, as a number.
    double Component(const EffectNode& n, UINT i) const
    {
        const uint8_t* p = values_.data() + n.offset + size_t(i) * 4;
        if (n.type == D3DXPT_FLOAT)
        {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }

    template <class F> HRESULT SetNumbers(D3DXHANDLE h, UINT count, F value)
    {
        const EffectNode* n = Node(h);
        if (const char* rule =
                BrokenRule(n, TakesNumbers, {"Effect.SetNumbers.NoParameter", "Effect.SetNumbers.WrongType"}))
            return Refuse(rule);
        if (count == 0) return Refuse("Effect.SetNumbers.Empty");
        if (size_t(count) * 4 > n->bytes) return Refuse("Effect.SetNumbers.OutOfRange");
        for (UINT i = 0; i < count; ++i)
        {
            uint8_t* p = values_.data() + n->offset + size_t(i) * 4;
            const double v = value(i);
            if (n->type == D3DXPT_FLOAT)
            {
                const float f = static_cast<float>(v);
                std::memcpy(p, &f, 4);
            }
            else
            {
                // Booleans are stored as 0 or 1; integers truncate like a C cast, saturating.
                int32_t x = n->type == D3DXPT_BOOL ? (v != 0.0)
                            : !(v == v)            ? 0
                            : v >= 2147483647.0    ? INT32_MAX
                            : v <= -2147483648.0   ? INT32_MIN
                                                   : static_cast<int32_t>(v);
                std::memcpy(p, &x, 4);
            }
        }
        return D3D_OK;
    }

    template <class T> HRESULT GetNumber(D3DXHANDLE h, T* out, double* v) const
    {
        const EffectNode* n = Node(h);
        if (!out) return Refuse("Effect.GetNumber.NullPointer");
        if (const char* rule =
                BrokenRule(n, TakesNumbers, {"Effect.GetNumber.NoParameter", "Effect.GetNumber.WrongType"}))
            return Refuse(rule);
        if (n->bytes < 4) return Refuse("Effect.GetNumber.OutOfRange");
        *v = Component(*n, 0);
        return D3D_OK;
    }

    HRESULT PutMatrix(D3DXHANDLE h, const D3DXMATRIX* m, bool transpose)
    {
        const EffectNode* n = Node(h);
        if (!m) return Refuse("Effect.PutMatrix.NullPointer");
        if (const char* rule = BrokenRule(n, TakesMatrix,
                                          {"Effect.PutMatrix.NoParameter", "Effect.PutMatrix.WrongType",
                                           "Effect.PutMatrix.WholeArray"}))
            return Refuse(rule);
        for (UINT r = 0; r < n->rows; ++r)
            for (UINT c = 0; c < n->columns; ++c)
            {
                const float f = transpose ? m->m[c][r] : m->m[r][c];
                std::memcpy(values_.data() + n->offset + (size_t(r) * n->columns + c) * 4, &f, 4);
            }
        return D3D_OK;
    }

    HRESULT TakeMatrix(D3DXHANDLE h, D3DXMATRIX* m, bool transpose) const
    {
        const EffectNode* n = Node(h);
        if (!m) return Refuse("Effect.TakeMatrix.NullPointer");
        if (const char* rule = BrokenRule(n, TakesMatrix,
                                          {"Effect.TakeMatrix.NoParameter", "Effect.TakeMatrix.WrongType",
                                           "Effect.TakeMatrix.WholeArray"}))
            return Refuse(rule);
        std::memset(m, 0, sizeof(*m));
        for (UINT r = 0; r < n->rows; ++r)
            for (UINT c = 0; c < n->columns; ++c)
            {
                float f;
                std::memcpy(&f, values_.data() + n->offset + (size_t(r) * n->columns + c) * 4, 4);
                (transpose ? m->m[c][r] : m->m[r][c]) = f;
            }
        return D3D_OK;
    }

    IDirect3DDevice9* device_;
    std::shared_ptr<const EffectDescription> desc_;
    std::vector<uint8_t> values_;
    std::vector<IDirect3DBaseTexture9*> textures_;
    const EffectTechnique* current_ = nullptr;
    bool begun_ = false;
};
} // namespace
} // namespace ferolt::d3dx9

HRESULT D3DXCreateEffect(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataLen, const D3DXMACRO*,
                         LPD3DXINCLUDE, DWORD, LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect,
                         LPD3DXBUFFER* ppCompilationErrors)
{
    if (ppCompilationErrors) *ppCompilationErrors = nullptr;
    if (!ppEffect) return Refuse("D3DXCreateEffect.NullPointer");
    *ppEffect = nullptr;
    if (!pDevice) return Refuse("D3DXCreateEffect.NoDevice");
    if (!pSrcData) return Refuse("D3DXCreateEffect.NullData");
    if (SrcDataLen == 0) return Refuse("D3DXCreateEffect.Empty");
    if (pPool) return E_NOTIMPL;
    std::string error;
    std::shared_ptr<const ferolt::d3dx9::EffectDescription> desc;
    if (!ferolt::Allocated(
            [&]
            { desc = ferolt::d3dx9::ParseEffect(static_cast<const char*>(pSrcData), SrcDataLen, &error); }))
        return E_OUTOFMEMORY;
    if (!desc)
    {
        if (ppCompilationErrors)
            ferolt::d3dx9::CreateBufferFrom(error.c_str(), error.size() + 1, ppCompilationErrors);
        return D3DXERR_INVALIDDATA;
    }
    return ferolt::CatchOutOfMemory(E_OUTOFMEMORY,
                                    [&]
                                    {
                                        *ppEffect = new ferolt::d3dx9::Effect(pDevice, std::move(desc));
                                        return D3D_OK;
                                    });
}
