#pragma once
// Backgrounds: the public description of a view's background (also stored in object files), the counted
// environment built from it, and the plain-colour background that every frame pass lays down first.
#include "engine/render/render_records.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace LMK
{
class Texture_;
class Model_;
class View_;
class BackBufferPart_;
class ModelConstructor_;
struct ViewParamsStruct_TYP;

// Background types. 1000 and 1001 are older numbers of 0 and 1.
constexpr DWORD EnvironmentPlainColor = 0;
constexpr DWORD EnvironmentGradientSphere = 1;
constexpr DWORD EnvironmentPicture = 2;
constexpr DWORD EnvironmentTexturedSphere = 3;
constexpr DWORD EnvironmentPanorama = 4;
constexpr DWORD EnvironmentCube = 5;
constexpr DWORD EnvironmentPlainColorOld = 1000;
constexpr DWORD EnvironmentGradientSphereOld = 1001;
constexpr DWORD EnvironmentScreenPictureMirrored = 1002;
constexpr DWORD EnvironmentScreenPictureWrapped = 1003;
constexpr DWORD EnvironmentScreenPictureOffset = 1004;

// The description of a background, in memory. Field order follows the stored record; the two texture
// fields are pointers here and meaningless slots there.
struct EnvironmentStruct_TYP
{
    DWORD type;
    D3DCOLORVALUE colors[4]; // 0 and 1: top half of a gradient, 2 and 3: bottom half
    DWORD textureCount;
    Texture_** textures; // owned by whoever filled it
    float heightOffset;  // of the background model
    float turn;          // about the z axis, radians
    float viewAngle;     // radians
    float pictureAngle;  // radians, pictures only; 0 fits the window
    BYTE stretchPicture; // 0 keeps the picture's aspect ratio
    BYTE cropPicture;    // with the crop rectangle below
    BYTE unused1[2];
    float crop[4]; // u min, u max, v min, v max
    Texture_* overlay;
    INT overlayX; // pixels from the left edge
    INT overlayY; // pixels from the bottom edge
    BYTE screenPictureTextureMatrix;
    BYTE unused2[3];
    INT uOffset; // type 1004
    INT vOffset;
};

// The stored form of the description: 136 bytes, little-endian, packed.
constexpr size_t kEnvironmentRecordSize = 136;

#pragma pack(push, 1)
struct EnvironmentRecordStruct_TYP
{
    uint32_t type;
    float colors[4][4];
    uint32_t textureCount;
    uint32_t texturesSlot;
    float heightOffset;
    float turn;
    float viewAngle;
    float pictureAngle;
    uint8_t stretchPicture;
    uint8_t cropPicture;
    uint8_t unused1[2];
    float crop[4];
    uint32_t overlaySlot;
    int32_t overlayX;
    int32_t overlayY;
    uint8_t screenPictureTextureMatrix;
    uint8_t unused2[3];
    int32_t uOffset;
    int32_t vOffset;
};
#pragma pack(pop)
static_assert(sizeof(EnvironmentRecordStruct_TYP) == kEnvironmentRecordSize);
static_assert(offsetof(EnvironmentRecordStruct_TYP, textureCount) == 68);
static_assert(offsetof(EnvironmentRecordStruct_TYP, stretchPicture) == 92);
static_assert(offsetof(EnvironmentRecordStruct_TYP, crop) == 96);
static_assert(offsetof(EnvironmentRecordStruct_TYP, overlaySlot) == 112);
static_assert(offsetof(EnvironmentRecordStruct_TYP, screenPictureTextureMatrix) == 124);
static_assert(offsetof(EnvironmentRecordStruct_TYP, vOffset) == 132);

// The most textures a stored record may name. A panorama of more textures gets no segment per texture
// (32 segments shared out), and no other type uses more than six.
constexpr uint32_t kMaxEnvironmentRecordTextures = 32;

// Reads a stored record from the `size` bytes at `data` into *out, its texture array and overlay null.
// *names (when given) gets the text after the record: up to its first NUL, or to the end of the data
// when there is none. False, *out untouched, when fewer than 136 bytes are given or the record names
// more than kMaxEnvironmentRecordTextures textures.
bool ReadEnvironmentRecord(const void* data, size_t size, EnvironmentStruct_TYP* out,
                           std::string_view* names);

// Each channel above 1.0 gives 255, above 0 the integer part of value x 255, otherwise 0.
D3DCOLOR ColorValueToD3DColor(const D3DCOLORVALUE* color);

// A plain-colour background: target and depth cleared to `color`. Where a stencil test or the final
// pass after mirrors keeps the picture, only the pixels the stencil leaves to this pass are filled.
void ClearToPlainBackground(IDirect3DDevice9* device, const PassContextStruct_TYP* pass, D3DCOLOR color);
// Depth cleared to 1.0 everywhere; the colour filled where the stencil is below 2 in the final pass
// (below 1 otherwise), and the stencil there set to 0 (fog.cpp).
void FillScreenWhereStencilGreater(IDirect3DDevice9* device, D3DCOLOR color, bool finalPass);

// Pictures (a fixed camera's view, or filling the screen) are seen straight on through a camera of
// their own.
bool IsPictureType(DWORD type);
// The height of a panorama cylinder: from the view angle, else from the first picture's proportions.
float PanoramaHeight(const EnvironmentStruct_TYP& description, Texture_* first);

// A background made from a description; counted, and never changed after creation.
class Environment_
{
public:
    // A null description acts as an all-zero one: type 0, black.
    explicit Environment_(const EnvironmentStruct_TYP* description);
    ~Environment_();
    Environment_(const Environment_&) = delete;
    Environment_& operator=(const Environment_&) = delete;

    void AddRef() { ++refCount; }
    // Destroys the environment at the last reference.
    void Release();

    // Texture i of the environment's own array, null when absent.
    Texture_* TextureAt(DWORD i) const;

    // The clearing and the background model for one back-buffer part; `out` (when given and a model is
    // drawn) gets the model's world x view-projection matrix.
    void Draw(View_* camera, BackBufferPart_* part, RenderViewStruct_TYP* view, PassContextStruct_TYP* pass,
              D3DXMATRIX* out);
    // The overlay picture over the finished frame, its rectangle counted from the part's bottom left.
    void DrawOverlay(IDirect3DDevice9* device, UINT partHeight);
    // Nothing creates a second model, so this returns at once.
    void DrawSecondModel(RenderViewStruct_TYP* view, BackBufferPart_* part, PassContextStruct_TYP* pass);

    // The background geometry of the description's type (environment_model.cpp); null for colours and
    // unknown types. *heightScale is the panorama's half-height, 1 for the others.
    Model_* BuildModel(float* heightScale);
    // Sets the constructor's current material for the faces of picture i: the picture lit in full, or,
    // without one, colour 0 as ambient.
    void CreateFaceMaterial(ModelConstructor_* constructor, DWORD i);

    Model_* model;       // null for colour backgrounds or when building failed
    Model_* secondModel; // nothing in the system creates one
    uint32_t refCount;
    EnvironmentStruct_TYP description; // its texture array is textures_ below, each entry counted
    D3DCOLOR color0;
    D3DXMATRIXA16* placement; // points at placement_

private:
    // The steps of Draw (environment_draw.cpp).
    void ClearBackground(IDirect3DDevice9* device, RenderViewStruct_TYP* view, PassContextStruct_TYP* pass);
    void FramePicture(ViewParamsStruct_TYP* params, D3DXVECTOR3* scale);
    D3DXMATRIX AimBackgroundCamera(View_* camera, BackBufferPart_* part, const D3DXPLANE* mirrorPlane,
                                   D3DXVECTOR3* eye);
    void DrawBackgroundModel(BackBufferPart_* part, const D3DXMATRIX& world, const D3DXVECTOR3& eye,
                             RenderViewStruct_TYP* view, PassContextStruct_TYP* pass);

    std::vector<Texture_*> textures_;
    D3DXMATRIXA16 placement_;
};

// How many textures a background of this type uses out of `count`.
DWORD EnvironmentTexturesUsed(DWORD type, DWORD count);
} // namespace LMK

// No started check. Zeroes the description and sets the defaults: type 1 (a gradient sphere), its four
// colours, a view angle of pi/3, stretched pictures and the whole picture as crop rectangle.
HRESULT LRInitEnvironmentStruct(LMK::EnvironmentStruct_TYP* description);
// No started check. Copies every field but the texture array and the overlay, which become null; the
// texture count stays, so the caller supplies an array of that many before creating from the copy.
HRESULT LRCopyEnvironmentStruct(LMK::EnvironmentStruct_TYP* destination,
                                const LMK::EnvironmentStruct_TYP* source);
// Started. A new environment (count 1); a null description gives type 0 in black.
HRESULT LRCreateEnvironment(const LMK::EnvironmentStruct_TYP* description, LMK::Environment_** environment);
// Started. Drops the caller's reference when *environment is set and clears it.
HRESULT LRReleaseEnvironment(LMK::Environment_** environment);
