#pragma once
// D3DX 9 effects: techniques and named parameters (including arrays of structures addressed as
// "lights[3].vPos") held for an application that fills them; no pass ever draws.
//
// Effects are made from our own compiled-effect form, a small text: a first line "ferolt-effect 1",
// then one declaration per line ('#' starts a comment):
//   struct NAME            members follow, one "TYPE NAME" or "TYPE NAME[N]" per line, up to "end"
//   param TYPE NAME        or "param TYPE NAME[N]"; TYPE is bool, int, float, float2, float3,
//                          float4, float4x4, texture or a struct declared above
//   technique NAME PASSES  "technique NAME PASSES shaders" marks one that needs programmable shaders,
//                          which ValidateTechnique refuses on this fixed-function device
#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9mesh.h"

using D3DXHANDLE = const char*;
using LPD3DXHANDLE = D3DXHANDLE*;

constexpr DWORD D3DXFX_DONOTSAVESTATE = 1 << 0;
constexpr DWORD D3DXFX_DONOTSAVESHADERSTATE = 1 << 1;
constexpr DWORD D3DXFX_DONOTSAVESAMPLERSTATE = 1 << 2;
constexpr DWORD D3DXFX_NOT_CLONEABLE = 1 << 11;
constexpr DWORD D3DXFX_LARGEADDRESSAWARE = 1 << 17;

struct D3DXMACRO
{
    LPCSTR Name;
    LPCSTR Definition;
};

enum D3DXINCLUDE_TYPE : DWORD
{
    D3DXINC_LOCAL = 0,
    D3DXINC_SYSTEM = 1,
};

struct ID3DXInclude
{
    virtual HRESULT Open(D3DXINCLUDE_TYPE IncludeType, LPCSTR pFileName, LPCVOID pParentData, LPCVOID* ppData,
                         UINT* pBytes) = 0;
    virtual HRESULT Close(LPCVOID pData) = 0;

protected:
    ~ID3DXInclude() = default;
};
using LPD3DXINCLUDE = ID3DXInclude*;

// Effect pools (shared parameters) are not supported: D3DXCreateEffect accepts only a null pool.
struct ID3DXEffectPool : IUnknown
{
};
using LPD3DXEFFECTPOOL = ID3DXEffectPool*;

enum D3DXPARAMETER_CLASS : DWORD
{
    D3DXPC_SCALAR,
    D3DXPC_VECTOR,
    D3DXPC_MATRIX_ROWS,
    D3DXPC_MATRIX_COLUMNS,
    D3DXPC_OBJECT,
    D3DXPC_STRUCT,
    D3DXPC_FORCE_DWORD = 0x7fffffff
};

enum D3DXPARAMETER_TYPE : DWORD
{
    D3DXPT_VOID,
    D3DXPT_BOOL,
    D3DXPT_INT,
    D3DXPT_FLOAT,
    D3DXPT_STRING,
    D3DXPT_TEXTURE,
    D3DXPT_TEXTURE1D,
    D3DXPT_TEXTURE2D,
    D3DXPT_TEXTURE3D,
    D3DXPT_TEXTURECUBE,
    D3DXPT_FORCE_DWORD = 0x7fffffff
};

struct D3DXEFFECT_DESC
{
    LPCSTR Creator;
    UINT Parameters;
    UINT Techniques;
    UINT Functions;
};

struct D3DXPARAMETER_DESC
{
    LPCSTR Name;
    LPCSTR Semantic;
    D3DXPARAMETER_CLASS Class;
    D3DXPARAMETER_TYPE Type;
    UINT Rows;
    UINT Columns;
    UINT Elements;
    UINT Annotations;
    UINT StructMembers;
    DWORD Flags;
    UINT Bytes;
};

struct D3DXTECHNIQUE_DESC
{
    LPCSTR Name;
    UINT Passes;
    UINT Annotations;
};

// {F6CEB4B3-4E4C-40dd-B883-8D8DE5EA0CD5}
constexpr IID IID_ID3DXEffect = {
    0xf6ceb4b3, 0x4e4c, 0x40dd, {0xb8, 0x83, 0x8d, 0x8d, 0xe5, 0xea, 0x0c, 0xd5}};

struct ID3DXEffect;
using LPD3DXEFFECT = ID3DXEffect*;

// A handle is either one handed out by the effect or a parameter / technique name.
struct ID3DXEffect : IUnknown
{
    virtual HRESULT GetDesc(D3DXEFFECT_DESC* pDesc) = 0;
    virtual HRESULT GetParameterDesc(D3DXHANDLE hParameter, D3DXPARAMETER_DESC* pDesc) = 0;
    virtual HRESULT GetTechniqueDesc(D3DXHANDLE hTechnique, D3DXTECHNIQUE_DESC* pDesc) = 0;
    // Null for a missing name or an index out of range. With a parent, the name is a member (struct)
    // or the index an element (array) or member of it.
    virtual D3DXHANDLE GetParameter(D3DXHANDLE hParameter, UINT Index) = 0;
    virtual D3DXHANDLE GetParameterByName(D3DXHANDLE hParameter, LPCSTR pName) = 0;
    virtual D3DXHANDLE GetParameterElement(D3DXHANDLE hParameter, UINT Index) = 0;
    virtual D3DXHANDLE GetTechnique(UINT Index) = 0;
    virtual D3DXHANDLE GetTechniqueByName(LPCSTR pName) = 0;

    virtual HRESULT SetValue(D3DXHANDLE hParameter, LPCVOID pData, UINT Bytes) = 0;
    virtual HRESULT GetValue(D3DXHANDLE hParameter, LPVOID pData, UINT Bytes) = 0;
    virtual HRESULT SetBool(D3DXHANDLE hParameter, BOOL b) = 0;
    virtual HRESULT GetBool(D3DXHANDLE hParameter, BOOL* pb) = 0;
    virtual HRESULT SetInt(D3DXHANDLE hParameter, INT n) = 0;
    virtual HRESULT GetInt(D3DXHANDLE hParameter, INT* pn) = 0;
    virtual HRESULT SetIntArray(D3DXHANDLE hParameter, const INT* pn, UINT Count) = 0;
    virtual HRESULT SetFloat(D3DXHANDLE hParameter, FLOAT f) = 0;
    virtual HRESULT GetFloat(D3DXHANDLE hParameter, FLOAT* pf) = 0;
    virtual HRESULT SetFloatArray(D3DXHANDLE hParameter, const FLOAT* pf, UINT Count) = 0;
    virtual HRESULT SetVector(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) = 0;
    virtual HRESULT GetVector(D3DXHANDLE hParameter, D3DXVECTOR4* pVector) = 0;
    virtual HRESULT SetMatrix(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix) = 0;
    virtual HRESULT GetMatrix(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix) = 0;
    virtual HRESULT SetMatrixTranspose(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix) = 0;
    virtual HRESULT GetMatrixTranspose(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix) = 0;
    // The effect holds a reference to the texture.
    virtual HRESULT SetTexture(D3DXHANDLE hParameter, IDirect3DBaseTexture9* pTexture) = 0;
    virtual HRESULT GetTexture(D3DXHANDLE hParameter, IDirect3DBaseTexture9** ppTexture) = 0;

    virtual HRESULT SetTechnique(D3DXHANDLE hTechnique) = 0;
    virtual D3DXHANDLE GetCurrentTechnique() = 0;
    virtual HRESULT ValidateTechnique(D3DXHANDLE hTechnique) = 0;
    virtual HRESULT FindNextValidTechnique(D3DXHANDLE hTechnique, D3DXHANDLE* pTechnique) = 0;

    // Passes exist only as a count: BeginPass refuses, since nothing is drawn through an effect.
    virtual HRESULT Begin(UINT* pPasses, DWORD Flags) = 0;
    virtual HRESULT BeginPass(UINT Pass) = 0;
    virtual HRESULT CommitChanges() = 0;
    virtual HRESULT EndPass() = 0;
    virtual HRESULT End() = 0;

    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;
    // A new effect on the device with the same description and the same current values.
    virtual HRESULT CloneEffect(IDirect3DDevice9* pDevice, LPD3DXEFFECT* ppEffect) = 0;
};

HRESULT D3DXCreateEffect(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataLen,
                         const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude, DWORD Flags,
                         LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect, LPD3DXBUFFER* ppCompilationErrors);
