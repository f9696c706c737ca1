// The save-image and information dialogs and the help, headless through the whole program: scripted
// dialog answers against the image record they produce, the files they write, and what the help leaves.
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/winresource.h"
#include "tests/support/sample_object_file.h"
#include "tests/viewer/viewer_program.h"
#include "viewer/image_props_dlg.h"
#include "viewer/info_dialog.h"
#include "viewer/viewer_resource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

using ferolt::backend::HeadlessBackend;
using ferolt::test::OneStepBackend;

namespace
{
std::vector<uint8_t> ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int32_t I32(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24));
}

std::string ControlText(HWND dialog, int id)
{
    char text[256] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class DialogsTest : public ferolt::test::ViewerProgramTest
{
protected:
    DialogsTest() : ViewerProgramTest("ferolt_dialogs_") {}
    void SetUp() override
    {
        ViewerProgramTest::SetUp();
        ferolt::test::ObjectFileHeaderFields header;
        header.contentType = ferolt::test::kViewerContentType;
        WriteFile("cubes.tolvex", ferolt::test::ObjectFileWriter(header)
                                      .Bzip2Section(ferolt::test::SampleObjectChunks(0x5000))
                                      .EndSection()
                                      .Data());
    }
    void Run(const std::function<void(OneStepBackend&, HWND, CTolvexControl3D&)>& script)
    {
        ViewerProgramTest::Run(script, "cubes.tolvex");
    }
};

// For a window of 800 x 600, as the user answers the dialog.
TEST_F(DialogsTest, SizeDialogAnswersGiveTheImageRecord)
{
    using H = HeadlessBackend;
    struct Case
    {
        const char* what;
        std::vector<H::DialogStep> steps;
        INT_PTR result;
        int width, height;
        uint32_t format, oversampling;
        const char* message; // a message box the answers raise, or null
    };
    const Case cases[] = {
        {"the defaults", {H::Click(IDOK)}, IDOK, 800, 600, LMK::SaveImageFormatJpeg, 4, nullptr},
        {"a new width keeps the aspect",
         {H::SetText(520, "1000"), H::Click(IDOK)},
         IDOK,
         1000,
         750,
         1,
         4,
         nullptr},
        {"a new height keeps the aspect",
         {H::SetText(521, "300"), H::Click(IDOK)},
         IDOK,
         400,
         300,
         1,
         4,
         nullptr},
        {"a width below 5 is taken from the height",
         {H::SetText(520, "2"), H::Click(IDOK), H::Click(IDOK)},
         IDOK,
         800,
         600,
         1,
         4,
         nullptr},
        {"bmp without anti-aliasing",
         {H::Select(522, 0), H::Select(523, 0), H::Click(IDOK)},
         IDOK,
         800,
         600,
         LMK::SaveImageFormatBmp,
         0,
         nullptr},
        {"double anti-aliasing", {H::Select(523, 2), H::Click(IDOK)}, IDOK, 800, 600, 1, 8, nullptr},
        {"a side beyond the record is cut to it and shown",
         {H::SetText(520, "70000"), H::Click(IDOK), H::Click(IDOK)},
         IDOK,
         65535,
         49151,
         1,
         4,
         nullptr},
        {"not a number",
         {H::SetText(520, "zwölf"), H::Click(IDOK)},
         IDCANCEL,
         0,
         0,
         0,
         0,
         "Enter an integer."},
        {"cancelled", {H::SetText(520, "1000"), H::Click(IDCANCEL)}, IDCANCEL, 0, 0, 0, 0, nullptr},
    };
    Run(
        [&](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            for (const Case& c : cases)
            {
                const size_t boxes = backend.messageBoxes().size();
                std::vector<H::DialogStep> steps = c.steps;
                bool ownerDisabled = false;
                steps.insert(steps.begin(), [&](HWND, auto&) { ownerDisabled = !::IsWindowEnabled(w); });
                backend.AnswerDialog(steps);
                CImagePropsDlg dialog(800, 600, &viewer);
                EXPECT_EQ(dialog.DoModal(), c.result) << c.what;
                EXPECT_TRUE(ownerDisabled) << c.what;
                EXPECT_TRUE(::IsWindowEnabled(w)) << c.what;
                if (c.message)
                {
                    ASSERT_GT(backend.messageBoxes().size(), boxes) << c.what;
                    EXPECT_EQ(backend.messageBoxes()[boxes].text, c.message) << c.what;
                }
                if (c.result != IDOK) continue;
                const LMK::SaveImageStruct_TYP p = dialog.SaveParams("x");
                EXPECT_EQ(p.width, c.width) << c.what;
                EXPECT_EQ(p.height, c.height) << c.what;
                EXPECT_EQ(p.format, c.format) << c.what;
                EXPECT_EQ(p.oversampling, c.oversampling) << c.what;
                EXPECT_FLOAT_EQ(p.quality, 0.9f) << c.what;
            }
        });
}

TEST_F(DialogsTest, AnEmptyWindowGivesASquareAspect)
{
    CImagePropsDlg dialog(0, 0);
    EXPECT_EQ(dialog.m_fAspect, 1.0f);
}

TEST_F(DialogsTest, SaveImageWritesTheListsFormatUnderTheNameGiven)
{
    const std::string path = (root_ / "view.jpg").string();
    Run(
        [&](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            RECT client{};
            ::GetClientRect(w, &client);
            const float aspect = static_cast<float>(client.bottom) / static_cast<float>(client.right);

            // Cancelling either dialog saves nothing.
            backend.AnswerDialog({HeadlessBackend::Click(IDCANCEL)});
            viewer.SaveImage();
            backend.AnswerDialog({HeadlessBackend::Click(IDOK)});
            backend.AnswerFileDialog(std::nullopt);
            viewer.SaveImage();
            EXPECT_FALSE(std::filesystem::exists(path));

            backend.AnswerDialog({HeadlessBackend::Select(522, 0), HeadlessBackend::SetText(520, "64"),
                                  HeadlessBackend::Click(IDOK)});
            backend.AnswerFileDialog(path);
            viewer.SaveImage();
            ASSERT_FALSE(backend.fileDialogs().empty());
            const ferolt::backend::FileDialogRequest& request = backend.fileDialogs().back();
            EXPECT_TRUE(request.save);
            EXPECT_EQ(request.defaultExtension, "bmp");
            EXPECT_EQ(request.owner, w);
            const std::vector<uint8_t> file = ReadAll(path);
            ASSERT_GE(file.size(), 54u);
            EXPECT_EQ(file[0], 'B');
            EXPECT_EQ(I32(file, 18), 64);
            EXPECT_EQ(I32(file, 22), -static_cast<int32_t>(64 * aspect));
        });
}

TEST_F(DialogsTest, InfoShowsVersionPictureAndLinkWhileTheRotationHolds)
{
    Run(
        [&](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            viewer.m_fRotationSpeed = 0.5f;
            viewer.m_fTiltSpeed = -0.25f;
            std::string version, link;
            bool picture = false, held = false, ownerDisabled = false;
            backend.AnswerDialog({[&](HWND dialog, auto&)
                                  {
                                      version = ControlText(dialog, IDC_INFO_VERSION);
                                      link = ControlText(dialog, IDC_INFO_LINK);
                                      picture = ::SendDlgItemMessageA(dialog, IDC_INFO_PICTURE, STM_GETIMAGE,
                                                                      IMAGE_BITMAP, 0) != 0;
                                      held = viewer.m_fRotationSpeed == 0.0f && viewer.m_fTiltSpeed == 0.0f;
                                      ownerDisabled = !::IsWindowEnabled(w);
                                  },
                                  HeadlessBackend::Click(IDC_INFO_LINK),
                                  HeadlessBackend::Click(IDC_INFO_PICTURE), HeadlessBackend::Click(IDOK)});
            viewer.ShowInfo();
            EXPECT_EQ(version, "Ferolt v1.1.0.0");
            EXPECT_EQ(link, CInfoDlg::kWebAddress);
            EXPECT_TRUE(picture);
            EXPECT_TRUE(held);
            EXPECT_TRUE(ownerDisabled);
            EXPECT_EQ(backend.shellOpened(),
                      (std::vector<std::string>{CInfoDlg::kWebAddress, CInfoDlg::kWebAddress}));
            EXPECT_EQ(viewer.m_fRotationSpeed, 0.5f);
            EXPECT_EQ(viewer.m_fTiltSpeed, -0.25f);
        });
}

// The temporary folder's own name holds ".tmp": only the file's extension is replaced.
TEST_F(DialogsTest, HelpIsWrittenShownAndRemoved)
{
    const std::filesystem::path temp = root_ / "a.tmp_folder";
    std::filesystem::create_directories(temp);
    setenv("TMPDIR", temp.c_str(), 1);
    Run(
        [&](OneStepBackend& backend, HWND w, CTolvexControl3D&)
        {
            HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_HELP_FILE), "HelpFile");
            ASSERT_NE(found, nullptr);
            const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
            EXPECT_EQ(std::string(bytes, 15), "SQLite format 3"); // a Qt compressed help file

            ::SendMessageA(w, WM_KEYDOWN, VK_F1, 0);
            ASSERT_EQ(backend.helpFiles().size(), 1u);
            const std::filesystem::path shown = backend.helpFiles()[0];
            EXPECT_EQ(shown.parent_path(), temp);
            EXPECT_EQ(shown.extension(), ".chm");
            EXPECT_EQ(shown.filename().string().rfind("qel", 0), 0u); // the first three letters of the prefix
            EXPECT_TRUE(std::filesystem::is_empty(temp)) << "the help file and its empty .tmp are gone";
        });
}
} // namespace
