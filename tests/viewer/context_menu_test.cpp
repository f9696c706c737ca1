// The context menu and its commands, run headless through the whole program on a scene of two cubes
// with a light, viewpoints and their names; the backend answers the menus.
#include "engine/engine_api.h"
#include "engine/render/shadows.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/user_host.h"
#include "tests/support/sample_object_file.h"
#include "viewer/tolvex_control.h"
#include "tests/viewer/viewer_program.h"
#include "viewer/viewer_resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cctype>
#include <set>
#include <string>
#include <vector>

using ferolt::backend::HeadlessBackend;
using ferolt::backend::MenuItemModel;
using ferolt::win32::host::Button;

namespace
{
// A surface category that receives light maps at every level.
constexpr uint32_t kReceivingSurface = 0x5000;

using ferolt::test::OneStepBackend;

// What the window's procedure saw: every title it was given, and a step run at the first paint inside a
// shadow computation (the callback's redraw), as a user acting while the shadows are computed.
std::vector<std::string> g_titles;
std::function<void(HWND)> g_duringShadows;
bool g_destroyedWhileRunning = false;
WNDPROC g_viewerProc = nullptr;
LRESULT CALLBACK WatchingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* viewer = dynamic_cast<CTolvexControl3D*>(CWnd::FromHandlePermanent(hwnd));
    const bool running = viewer && viewer->m_bShadowsRunning;
    if (message == WM_SETTEXT) g_titles.emplace_back(reinterpret_cast<LPCSTR>(lParam));
    if (message == WM_PAINT && g_duringShadows && running) std::exchange(g_duringShadows, nullptr)(hwnd);
    if (message == WM_DESTROY && running) g_destroyedWhileRunning = true;
    return ::CallWindowProcA(g_viewerProc, hwnd, message, wParam, lParam);
}

const MenuItemModel* FindItem(const std::vector<MenuItemModel>& items, uint32_t id)
{
    for (const MenuItemModel& item : items)
    {
        if (!item.popup && !item.separator && item.id == id) return &item;
        if (const MenuItemModel* sub = FindItem(item.submenu, id)) return sub;
    }
    return nullptr;
}

std::set<uint32_t> CheckedIds(const std::vector<MenuItemModel>& items)
{
    std::set<uint32_t> out;
    for (const MenuItemModel& item : items)
    {
        if (item.checked && !item.popup) out.insert(item.id);
        out.merge(CheckedIds(item.submenu));
    }
    return out;
}

// The baked light maps of the scene.
int BakedLightMaps(const CTolvexControl3D& viewer)
{
    int baked = 0;
    for (LMK::Object_* object : viewer.m_objects)
        for (DWORD s = 0; object && object->lightMaps && s < object->model->subsetCount; ++s)
            if (object->lightMaps[s] && object->lightMaps[s]->texture) ++baked;
    return baked;
}

// A title of a running computation: the window's title and the percentage with two decimals.
// Read by hand: GCC 12 warns falsely inside the standard library's regex compiler.
bool IsProgressTitle(const std::string& title)
{
    const std::string prefix = "Ferolt (", suffix = "%)";
    if (!title.starts_with(prefix) || !title.ends_with(suffix)) return false;
    const std::string number = title.substr(prefix.size(), title.size() - prefix.size() - suffix.size());
    const size_t dot = number.find('.');
    if (dot == std::string::npos || dot < 1 || dot > 3 || number.size() != dot + 3) return false;
    for (size_t i = 0; i < number.size(); ++i)
        if (i != dot && !std::isdigit(static_cast<unsigned char>(number[i]))) return false;
    const std::string whole = number.substr(0, dot); // 0 to 100, no leading zero
    return whole.size() == 1 || (whole.size() == 2 && whole[0] != '0') || whole == "100";
}

class ContextMenuTest : public ferolt::test::ViewerProgramTest
{
protected:
    ContextMenuTest() : ViewerProgramTest("ferolt_context_menu_") {}

    void SetUp() override
    {
        ViewerProgramTest::SetUp();
        WriteScene("cubes.tolvex", 1);
        g_titles.clear();
        g_duringShadows = nullptr;
        g_destroyedWhileRunning = false;
    }

    void TearDown() override
    {
        g_duringShadows = nullptr;
        ViewerProgramTest::TearDown();
    }

    // Two cubes of one model with a viewpoint named "Front" (once per cube), a background and a light.
    void WriteScene(const std::string& name, uint32_t viewpointSwitch)
    {
        ferolt::test::ObjectFileHeaderFields header;
        header.contentType = ferolt::test::kViewerContentType;
        header.value3 = viewpointSwitch;
        WriteFile(name, ferolt::test::ObjectFileWriter(header)
                            .Bzip2Section(ferolt::test::SampleObjectChunks(kReceivingSurface))
                            .EndSection()
                            .Data());
    }

    // The program on the cubes, the window's procedure watched.
    void Run(const std::function<void(OneStepBackend&, HWND, CTolvexControl3D&)>& script)
    {
        ViewerProgramTest::Run(
            [&](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
            {
                g_viewerProc = reinterpret_cast<WNDPROC>(
                    ::SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchingProc)));
                script(backend, w, viewer);
            },
            "cubes.tolvex");
    }

    // A right click in the window's middle; the menu takes `answer` and the chosen command runs.
    static void ChooseFromMenu(OneStepBackend& backend, HWND w, uint32_t answer)
    {
        backend.AnswerMenu(answer);
        RightClick(backend, w);
    }
    static void ChooseFromMenu(OneStepBackend& backend, HWND w, HeadlessBackend::MenuScript script)
    {
        backend.AnswerMenu(std::move(script));
        RightClick(backend, w);
    }
    static void RightClick(OneStepBackend& backend, HWND w)
    {
        backend.Click(w, POINT{150, 100}, Button::Right);
        backend.RunPending();
    }
    // The menu as the next right click shows it (dismissed).
    static std::vector<MenuItemModel> MenuNow(OneStepBackend& backend, HWND w)
    {
        ChooseFromMenu(backend, w, 0u);
        return backend.menus().empty() ? std::vector<MenuItemModel>{} : backend.menus().back();
    }
};

// Six special lights (day: camera, sun, counter-sun; night likewise) in front of the file's light.
void AddSpecialLights(CTolvexControl3D& viewer, uint32_t mask)
{
    for (int i = 0; i < 6; ++i)
    {
        LMK::LightParamsStruct_TYP p;
        LRGetDefaultLightParams(&p);
        LMK::Light_* light = nullptr;
        ASSERT_EQ(LRCreateLight(&p, &light), S_OK);
        viewer.m_lights.insert(viewer.m_lights.begin() + i, light);
    }
    viewer.m_nSpecialLights = 6;
    viewer.m_dwLightMask = mask;
}

// ---------------------------------------------------------------------------------------------------

TEST_F(ContextMenuTest, CommandsChangeTheirStateAndTheMenuShowsIt)
{
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            AddSpecialLights(viewer, 0x12); // the day sun and the night sun
            P3DViewpointRecord above{{0, 0, 0}, {9, 9, 9}, 0.5f, 0};
            viewer.m_viewpoints.push_back(above); // the third viewpoint, after the file's two
            const D3DXVECTOR3 fileEye(6, 5, 4);
            EXPECT_EQ(D3DXVECTOR3(viewer.m_viewParams.eye), fileEye) << "the file's first viewpoint applies";

            struct Step
            {
                UINT command;
                uint32_t modeFlags;
                bool night;
                uint32_t lightMask;
                float rotation;
                bool walking;
                std::set<uint32_t> checked;
            };
            constexpr float r = 0.04363323f;
            const Step steps[] = {
                {502, 0x100, false, 0x12, 0, false, {502, 527, 530}},
                {512, 0x20100, false, 0x12, 0, false, {502, 512, 527, 530}},
                {504, 0x20103, false, 0x12, 0, false, {504, 512, 527, 530}},
                {512, 0x103, false, 0x12, 0, false, {504, 527, 530}},
                {503, 0x102, false, 0x12, 0, false, {503, 527, 530}},
                {501, 1, false, 0x12, 0, false, {501, 527, 530}},
                {500, 0, false, 0x12, 0, false, {500, 527, 530}},
                // Night view: the light items speak of bits 3 to 5; "Sonne" is bit 4.
                {510, 0, true, 0x12, 0, false, {500, 510, 527, 530}},
                {527, 0, true, 0x02, 0, false, {500, 510, 530}},
                {529, 0, true, 0x0A, 0, false, {500, 510, 529, 530}},
                {510, 0, false, 0x0A, 0, false, {500, 527, 530}},
                {528, 0, false, 0x0E, 0, false, {500, 527, 528, 530}},
                {529, 0, false, 0x0F, 0, false, {500, 527, 528, 529, 530}},
                {531, 0, false, 0x0F, -r, false, {500, 527, 528, 529, 531}},
                {532, 0, false, 0x0F, r, false, {500, 527, 528, 529, 532}},
                {530, 0, false, 0x0F, 0, false, {500, 527, 528, 529, 530}},
                {511, 0, false, 0x0F, 0, true, {500, 511, 527, 528, 529, 530}},
                {511, 0, false, 0x0F, 0, false, {500, 527, 528, 529, 530}},
                // An id without a command, and the two dialogs left unanswered: nothing changes.
                {505, 0, false, 0x0F, 0, false, {500, 527, 528, 529, 530}},
                {518, 0, false, 0x0F, 0, false, {500, 527, 528, 529, 530}},
                {533, 0, false, 0x0F, 0, false, {500, 527, 528, 529, 530}},
            };
            for (const Step& s : steps)
            {
                SCOPED_TRACE(s.command);
                // Direct from the framework's command routing, so that greyed items are reached too.
                ::SendMessageA(w, WM_COMMAND, s.command, 0);
                EXPECT_EQ(viewer.m_renderView.modeFlags, s.modeFlags);
                EXPECT_EQ(viewer.m_bNightView, s.night);
                EXPECT_EQ(viewer.m_dwLightMask, s.lightMask);
                EXPECT_FLOAT_EQ(viewer.m_fRotationSpeed, s.rotation);
                EXPECT_EQ(viewer.m_fTiltSpeed, 0.0f);
                EXPECT_EQ(viewer.m_bWalkMode, s.walking);
                EXPECT_EQ(CheckedIds(MenuNow(backend, w)), s.checked);
            }
            EXPECT_EQ(backend.dialogs().size(), 2u); // 518 and 533, cancelled: no file dialog follows
            EXPECT_TRUE(backend.fileDialogs().empty());

            // The viewpoints come first, one item each; the third has no name.
            const std::vector<MenuItemModel> menu = MenuNow(backend, w);
            ASSERT_FALSE(menu.empty());
            ASSERT_TRUE(menu[0].popup);
            EXPECT_EQ(menu[0].text, "Sichtpunkte");
            ASSERT_EQ(menu[0].submenu.size(), 3u);
            EXPECT_EQ(menu[0].submenu[0].text, "Front");
            EXPECT_EQ(menu[0].submenu[1].text, "Front");
            EXPECT_EQ(menu[0].submenu[2].text, "Sichtpunkt");
            EXPECT_EQ(menu[0].submenu[2].id, 602u);
            EXPECT_EQ(menu[1].text, "Darstellung");

            // Chosen from the menu: the viewpoint applies at the next frame.
            ChooseFromMenu(backend, w, 602u);
            EXPECT_EQ(D3DXVECTOR3(viewer.m_viewParams.eye), D3DXVECTOR3(9, 9, 9));
            EXPECT_EQ(viewer.m_nPendingViewpoint, -1);

            // "Alles zeigen" centres the two cubes, (0, 0, 0) to (5, 2, 2), along the same direction.
            ChooseFromMenu(backend, w, 515u);
            EXPECT_EQ(D3DXVECTOR3(viewer.m_viewParams.lookAt), D3DXVECTOR3(2.5f, 1, 1));

            // "Objekt öffnen..." asks for an object file; a cancelled dialog keeps the scene.
            backend.AnswerFileDialog(std::nullopt);
            ChooseFromMenu(backend, w, 516u);
            ASSERT_EQ(backend.fileDialogs().size(), 1u);
            const ferolt::backend::FileDialogRequest& request = backend.fileDialogs()[0];
            EXPECT_FALSE(request.save);
            EXPECT_EQ(request.defaultExtension, "tolvex");
            ASSERT_EQ(request.filters.size(), 2u);
            EXPECT_EQ(request.filters[0].description, "Objektdateien");
            EXPECT_EQ(request.filters[0].patterns, "*.tolvex");
            EXPECT_EQ(request.filters[1].patterns, "*.*");
            EXPECT_EQ(viewer.m_objects.size(), 2u);
        });
}

TEST_F(ContextMenuTest, ShadowsShowTheirProgressCancelAndFollowTheNextFile)
{
    WriteScene("second.tolvex", 0);
    const std::string second = (root_ / "second.tolvex").string();
    Run(
        [&](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            auto title = [&]
            {
                char text[256] = {};
                ::GetWindowTextA(w, text, sizeof text);
                return std::string(text);
            };
            auto progressTitles = []
            { return std::count_if(g_titles.begin(), g_titles.end(), IsProgressTitle); };
            // A whole computation: the title counts up and returns; the light maps stay.
            ChooseFromMenu(backend, w, 513u);
            EXPECT_TRUE(viewer.m_bShadows);
            EXPECT_GT(BakedLightMaps(viewer), 0);
            EXPECT_GT(progressTitles(), 0);
            ASSERT_FALSE(g_titles.empty());
            EXPECT_EQ(g_titles.back(), "Ferolt");
            EXPECT_EQ(title(), "Ferolt");
            EXPECT_TRUE(CheckedIds(MenuNow(backend, w)).count(513));

            ChooseFromMenu(backend, w, 513u);
            EXPECT_FALSE(viewer.m_bShadows);
            EXPECT_EQ(BakedLightMaps(viewer), 0);

            struct Cancel
            {
                const char* how;
                std::function<void(HWND)> during;
            };
            std::vector<MenuItemModel> progressMenu;
            const Cancel cancels[] = {
                {"Escape", [&](HWND) { backend.KeyPress(VK_ESCAPE); }},
                {"the progress menu",
                 [&](HWND window)
                 {
                     backend.AnswerMenu(
                         [&](const std::vector<MenuItemModel>& items, ferolt::backend::ModalLoop&)
                         {
                             progressMenu = items;
                             return 513u;
                         });
                     backend.Click(window, POINT{150, 100}, Button::Right);
                 }},
            };
            for (const Cancel& c : cancels)
            {
                SCOPED_TRACE(c.how);
                g_titles.clear();
                g_duringShadows = c.during;
                ChooseFromMenu(backend, w, 513u);
                EXPECT_EQ(g_duringShadows, nullptr) << "the step ran during the computation";
                EXPECT_FALSE(viewer.m_bShadows);
                EXPECT_FALSE(viewer.m_bShadowsRunning);
                EXPECT_EQ(BakedLightMaps(viewer), 0);
                EXPECT_EQ(title(), "Ferolt");
                EXPECT_FALSE(CheckedIds(MenuNow(backend, w)).count(513));
            }
            ASSERT_EQ(progressMenu.size(), 1u);
            EXPECT_EQ(progressMenu[0].text, "Schattenberechnung abbrechen!");
            EXPECT_EQ(progressMenu[0].id, 513u);

            // Commands other than the cancel wait: F3 and another 513 start no computation inside it.
            g_duringShadows = [&](HWND window)
            {
                backend.KeyPress(VK_F3);
                ::SendMessageA(window, WM_COMMAND, ID_NIGHT_VIEW, 0);
                ::SendMessageA(window, WM_COMMAND, ID_MODE_WIREFRAME, 0);
            };
            ChooseFromMenu(backend, w, 513u);
            EXPECT_EQ(g_duringShadows, nullptr);
            EXPECT_TRUE(viewer.m_bShadows);
            EXPECT_FALSE(viewer.m_bNightView);
            EXPECT_EQ(viewer.m_renderView.modeFlags, 0u);
            EXPECT_GT(BakedLightMaps(viewer), 0);

            // With the option on, the next file gets its shadows at once.
            g_titles.clear();
            backend.AnswerFileDialog(second);
            ChooseFromMenu(backend, w, 516u);
            EXPECT_EQ(viewer.m_nViewpointSwitch, 0u) << "the second file was not loaded";
            EXPECT_TRUE(viewer.m_bShadows);
            EXPECT_GT(BakedLightMaps(viewer), 0);
            EXPECT_GT(progressTitles(), 0);
            EXPECT_EQ(title(), "Ferolt");
        });
}

// A close request during the computation ends it first; the window goes after, with its scene.
TEST_F(ContextMenuTest, ClosingDuringTheComputationEndsItFirst)
{
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            g_duringShadows = [](HWND window) { ::PostMessageA(window, WM_CLOSE, 0, 0); };
            ChooseFromMenu(backend, w, 513u);
            EXPECT_EQ(g_duringShadows, nullptr);
            EXPECT_FALSE(g_destroyedWhileRunning) << "the scene went while the computation used it";
            EXPECT_FALSE(viewer.m_bShadows);
            EXPECT_FALSE(::IsWindow(w));
            EXPECT_TRUE(viewer.m_objects.empty());
        });
}

// The viewpoint submenu needs the file's switch and a viewpoint, and stops at the 200 ids it has; without
// six special lights the night view and the light items are greyed.
TEST(ContextMenuPreparation, ViewpointSubmenuAndGreyedItems)
{
    struct Case
    {
        const char* name;
        uint32_t viewpointSwitch;
        size_t viewpoints;
        int submenuItems; // 0: no submenu
    } cases[] = {
        {"switch off", 0, 2, 0},
        {"no viewpoints", 1, 0, 0},
        {"two", 1, 2, 2},
        {"more than the ids", 1, 250, 200},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        CTolvexControl3D viewer;
        viewer.m_nViewpointSwitch = c.viewpointSwitch;
        viewer.m_viewpoints.resize(c.viewpoints);
        HMENU resource = ::LoadMenuA(nullptr, MAKEINTRESOURCEA(IDR_CONTEXT_MENU));
        ASSERT_NE(resource, nullptr);
        HMENU popup = ::GetSubMenu(resource, 0);
        ASSERT_NE(popup, nullptr);
        viewer.PrepareContextMenu(popup);
        char text[64] = {};
        ::GetMenuStringA(popup, 0, text, sizeof text, MF_BYPOSITION);
        if (c.submenuItems == 0)
        {
            EXPECT_STREQ(text, "Darstellung");
        }
        else
        {
            EXPECT_STREQ(text, "Sichtpunkte");
            HMENU sub = ::GetSubMenu(popup, 0);
            ASSERT_EQ(::GetMenuItemCount(sub), c.submenuItems);
            EXPECT_EQ(::GetMenuItemID(sub, c.submenuItems - 1), static_cast<UINT>(599 + c.submenuItems));
        }
        for (UINT id : {510u, 527u, 528u, 529u})
            EXPECT_TRUE(::GetMenuState(popup, id, MF_BYCOMMAND) & MF_GRAYED) << id;
        EXPECT_FALSE(::GetMenuState(popup, 513, MF_BYCOMMAND) & MF_GRAYED);
        ::DestroyMenu(resource);
    }
}
} // namespace
