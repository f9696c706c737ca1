// The viewer's entry: a desktop window needs a display; without one the program says so and ends.
#include "platform/win32/backend.h"
#ifdef FEROLT_HAVE_QT
#include "platform/backends/qt/qt_backend.h"
#endif
#include "viewer/viewer_app.h"

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    std::unique_ptr<ferolt::backend::Backend> backend;
#ifdef FEROLT_HAVE_QT
    backend = ferolt::backend::CreateDesktopBackend();
#endif
    if (!backend)
    {
        std::fprintf(stderr, "ferolt: no display (DISPLAY and WAYLAND_DISPLAY are unset); the viewer needs a "
                             "desktop session\n");
        return 2;
    }
    // The application object lives in the viewer library; naming it here keeps it in the program.
    if (AfxGetApp() != &theApp) return 3;
    int code = AfxWinMain(argc, argv);
    backend.reset();
    return code;
}
