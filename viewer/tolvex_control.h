#pragma once
// The viewer's only window: shows one scene through the engine, owns the scene, the camera parameter
// block that navigation edits and the render-view record handed to the renderer.
#include "engine/engine_api.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/mfc/afxwin.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace LMK
{
class Object_;
class Light_;
} // namespace LMK

// A stored viewpoint of an object file: 32 bytes, eight little-endian floats.
#pragma pack(push, 1)
struct P3DViewpointRecord
{
    float target[3];
    float eye[3];
    float field; // the window width is 2 * distance * atan(field)
    float unused;
};
#pragma pack(pop)
static_assert(sizeof(P3DViewpointRecord) == 32);

class CTolvexControl3D;

// Handed through the shadow computation to its progress callback.
struct ShadowProgressContext
{
    CTolvexControl3D* window = nullptr;
    uint32_t lastRedraw = 0; // tick count
    bool cancelled = false;
    // The window was asked to close while the computation ran; it closes once the computation ended.
    bool closeRequested = false;
};

// The shadow computation's progress callback (`context` is a ShadowProgressContext): redraws the window
// now and then, takes its messages and shows the progress in its title. False cancels: Escape, command
// 513, a close request or the window's end.
bool __stdcall ShadowProgressCallback(float fraction, void* context);

class CTolvexControl3D : public CWnd
{
public:
    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kTimerMilliseconds = 20;
    static constexpr int kCursorCount = 16;

    CTolvexControl3D();
    ~CTolvexControl3D() override;

    void SetFile(const CString& path) { m_strStartFile = path; }

    // A file's background record, with the text after it that names its textures one per line. The
    // record becomes the window's background description; the next frame builds the background anew.
    // Always true.
    virtual bool OnEnvironmentRecord(const LMK::EnvironmentStruct_TYP* record, std::string_view textureNames);
    // The `count` names of a background record's text, one per line; missing ones are empty. The count
    // is a record's, already bounded by the record reader.
    static std::vector<std::string> BackgroundTextureNames(std::string_view text, uint32_t count);
    virtual bool PrepareFrame(HDC dc);
    virtual bool DrawScene(HDC dc);
    // Called after every render of the window's view.
    virtual void AfterDraw() {}
    // The title shows the progress of a long computation: saved, "<title> (42.50%)", restored.
    virtual void BeginProgress();
    virtual void ShowProgress(float fraction);
    virtual void EndProgress();

    // The context menu at a screen point: menu 541 while the shadows are computed, else menu 2001
    // prepared for the window's state. The chosen command arrives as WM_COMMAND.
    void ShowContextMenu(CPoint point);
    // Checks, greys and inserts the viewpoint submenu into the context menu's popup.
    void PrepareContextMenu(HMENU popup) const;
    // Every command of the context menu (500 to 550, 600 to 799); each ends by invalidating the window.
    // While the shadows are computed only 513 acts, and it cancels.
    void HandleCommand(UINT id);
    // Light maps for the scene with its active lights, showing the progress; a cancel leaves none and
    // switches the shadow option off.
    void ComputeShadows();
    void ReleaseShadows();
    // The open-file dialog, then LoadObjectFile.
    void OpenObjectFile();
    // The image size and format dialog, the file dialog, then the view saved through the engine.
    void SaveImage();
    // The information dialog; auto-rotation holds still while it is open.
    void ShowInfo();
    // F1: the help file the program carries, in the help window.
    void ShowHelp();

    void ApplyCursor();
    void RecreateBackBuffer();
    void CollectActiveLights(std::vector<LMK::Light_*>& out) const;
    void ReleaseViewResources();
    // Releases the background description's textures and frees its array.
    void ReleaseEnvironmentTextures();

    // Why a load left the scene empty, in the words given to the user.
    enum class LoadFailure
    {
        None,
        NotFound,
        NotReadable,
        NotObjectFile,
        Damaged,
        OverLimit,
    };
    static const char* LoadFailureText(LoadFailure failure);

    bool LoadObjectFile(const CString& path);
    bool LoadObjectFromMemory(const unsigned char* data, unsigned long size);
    void ReleaseObjects();
    // The codec leaves null slots for output indices no record used; they are no scene.
    bool HasObjects() const;
    void ReleaseLights();

    // Animation time of an object whose model animation spans [start, end] seconds, `elapsedMs` after
    // the animations started. A range of zero length gives 0 rather than a remainder of a division by 0.
    static float AnimationTime(uint32_t elapsedMs, float start, float end);

    // Navigation: each operation edits m_viewParams, hands it to the camera and invalidates the window.
    // Angles are in units of pi.
    void Pan(float fx, float fy);
    void Orbit(float a, float b, bool aboutEye);
    void MoveVertically(float f, bool moveTarget);
    void ScaleDistance(float f);
    void ZoomAboutCenter(float f);
    void ZoomTowardCursor(float f);
    void ShowAll();
    void StandardOrientation();
    void WalkMove(float a, float b);
    void WalkTick();
    void ToggleWalkMode();
    // The walk zone (0 to 8) of a client point and its speed factors.
    static int ClassifyWalkCursorZone(const RECT& client, POINT point, float* fx, float* fy);
    // The point of the line through eye and target at the depth of `point` along the view direction.
    static bool ViewAxisPointAtDepth(const D3DXVECTOR3& eye, const D3DXVECTOR3& target,
                                     const D3DXVECTOR3& point, D3DXVECTOR3* out);
    // Union of the objects' world boxes; false (outputs untouched) without objects.
    bool GetSceneBoundingBox(D3DXVECTOR3* minimum, D3DXVECTOR3* maximum) const;

    // The window rectangle that WM_SIZE writes (screen coordinates); set by the application.
    RECT* m_pOwnerRect = nullptr;

    CString m_strStartFile;
    LoadFailure m_loadFailure = LoadFailure::None;  // of the last LoadObjectFile
    LoadFailure m_startFailure = LoadFailure::None; // of the start file, when it closed the window
    CString m_strSavedTitle;
    HCURSOR m_hCursors[kCursorCount] = {};
    LMK::EnvironmentStruct_TYP m_environmentDesc{};          // its texture array belongs to the window:
    std::unique_ptr<LMK::Texture_*[]> m_environmentTextures; // what m_environmentDesc.textures points at
    std::vector<LMK::Object_*> m_objects;
    std::vector<LMK::Light_*> m_lights;
    LMK::RenderViewStruct_TYP m_renderView{};
    float m_fLightIntensity = 0.81f;
    LMK::ViewParamsStruct_TYP m_viewParams{};
    std::vector<P3DViewpointRecord> m_viewpoints;
    std::vector<CString> m_viewpointNames;
    int32_t m_nPendingViewpoint = -1;
    bool m_bLoading = false;
    RECT m_rcClip{0, 0, 0, 0};
    uint32_t m_nViewpointSwitch = 0;
    uint32_t m_dwRotationTick = 0;
    uint32_t m_dwAnimationStart = 0;
    uint32_t m_dwWalkTick = 0;
    uint32_t m_dwLightMask = 0;
    uint32_t m_nSpecialLights = 0;
    float m_fRotationSpeed = 0.0f;
    float m_fTiltSpeed = 0.0f;
    float m_fPickDepth = 0.0f;
    POINT m_ptDragStart{-1, -1};
    uint32_t m_nCursorId = 812;
    bool m_bShadows = false;
    bool m_bNightView = false;
    // BYTE-sized flags: the renderer writes them through the record's uint8_t pointers.
    uint8_t m_bAnimatedSubsetDrawn = 0;
    uint8_t m_bTexEffectAnimating = 0;
    bool m_bDragging = false;
    bool m_bPickHit = false;
    bool m_bWalkMode = false;
    bool m_bShadowsRunning = false;
    // The running shadow computation's context, for a cancel or a close that reaches the window itself.
    ShadowProgressContext* m_pShadowProgress = nullptr;

protected:
    afx_msg void OnPaint();
    afx_msg int OnCreate(LPCREATESTRUCT cs);
    afx_msg void OnSize(UINT type, int cx, int cy);
    afx_msg BOOL OnEraseBkgnd(CDC* dc);
    afx_msg void OnDestroy();
    afx_msg void OnTimer(UINT_PTR id);
    afx_msg BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
    afx_msg void OnLButtonDown(UINT flags, CPoint point);
    afx_msg void OnLButtonUp(UINT flags, CPoint point);
    afx_msg void OnMButtonDown(UINT flags, CPoint point);
    afx_msg void OnMButtonUp(UINT flags, CPoint point);
    afx_msg void OnRButtonDown(UINT flags, CPoint point);
    afx_msg void OnRButtonUp(UINT flags, CPoint point);
    afx_msg void OnMouseMove(UINT flags, CPoint point);
    afx_msg BOOL OnMouseWheel(UINT flags, short delta, CPoint point);
    afx_msg void OnKeyDown(UINT key, UINT repeat, UINT flags);
    afx_msg void OnSysKeyDown(UINT key, UINT repeat, UINT flags);
    afx_msg void OnContextMenu(CWnd* wnd, CPoint point);
    afx_msg void OnCommandRange(UINT id);
    afx_msg void OnClose();

    // Steps of a frame, each in one place.
    void ApplyPendingViewpoint();
    void AdvanceAnimations(uint32_t now);
    void AdvanceAutoRotation(uint32_t now);
    void AimCameraLights();
    void RenderFrame(std::vector<LMK::Light_*>& lights);

    // Navigation internals.
    void NavigationKey(UINT key);
    // Ends a drag when no button remains down; true when it did.
    bool EndDragOnButtonUp(UINT flags);
    void StopAutoRotation();
    void SetCursorId(UINT id);
    void CommitLookAt();
    void CommitViewParams();

    DECLARE_MESSAGE_MAP()
};
