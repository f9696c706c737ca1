// The viewer's Qt window on a real X server, watched and driven from outside the way a user and a
// window manager would: a private Xvfb, the program started on the bundled example with the xcb
// platform, keys through XTest, screenshots with XGetImage and the close request a window manager
// sends.
#include <gtest/gtest.h>
// After GoogleTest: Xlib defines None, Bool and Status as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
// The viewer ends with this code when the user closed its window.
constexpr int kViewerExitCode = 0;

// Generous bounds: the sanitizer build starts slowly on a busy two-core machine. A working program
// never gets near them; a broken one fails the test instead of hanging it.
constexpr auto kStartBound = 30s;
constexpr auto kReactBound = 15s;

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<fs::path> FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
    {
        fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

// The environment with `changes` applied: a value replaces or adds a variable, nullopt removes it.
std::vector<std::string> Environment(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
    {
        std::string entry(*e);
        if (!changes.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    for (const auto& [name, value] : changes)
        if (value) env.push_back(name + "=" + *value);
    return env;
}

// A program started with fork and exec. `endSignal` ends it when this object goes or the test process
// dies, even one killed by a time-out; a program that does not end on it within a few seconds is
// killed.
class ChildProcess
{
public:
    explicit ChildProcess(int endSignal) : endSignal_(endSignal) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }

    // `argv[0]` is a full path; stdout and stderr go to `log`; `inheritFd` stays open in the child.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& log,
               int inheritFd = -1)
    {
        std::vector<char*> args, envp;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0)
        {
            if (out >= 0) ::close(out);
            if (in >= 0) ::close(in);
            return false;
        }
        pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0)
        {
            // Only async-signal-safe calls between fork and exec.
            ::prctl(PR_SET_PDEATHSIG, endSignal_);
            if (::getppid() != parent) ::_exit(127);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(out, 2);
            if (inheritFd >= 0) ::fcntl(inheritFd, F_SETFD, 0);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
        ::close(in);
        return pid_ > 0;
    }

    bool Running()
    {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
        Reaped(status);
        return false;
    }

    // The wait status, once the program has ended within `bound`.
    std::optional<int> WaitExit(Clock::duration bound)
    {
        Clock::time_point end = Clock::now() + bound;
        while (Running())
        {
            if (Clock::now() >= end) return std::nullopt;
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }

    void Stop()
    {
        if (!Running()) return;
        ::kill(pid_, endSignal_);
        if (endSignal_ != SIGKILL && WaitExit(5s)) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        if (::waitpid(pid_, &status, 0) == pid_) Reaped(status);
    }

    std::string Describe()
    {
        if (Running()) return "still running";
        if (!status_) return "never started";
        if (WIFSIGNALED(*status_)) return "killed by signal " + std::to_string(WTERMSIG(*status_));
        return "ended with exit code " + std::to_string(WEXITSTATUS(*status_));
    }

private:
    void Reaped(int status)
    {
        status_ = status;
        pid_ = -1;
    }

    int endSignal_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The server's errors about windows that went away between two requests are expected here; the
// requests that meet them report failure on their own.
int IgnoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

// A window's pixels as 0xRRGGBB.
struct Shot
{
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    bool operator==(const Shot&) const = default;
};

// The picture shows a model on its background: the corners agree on a background colour, at least one
// pixel in fifty is something else, and those pixels come in at least two shades (a lit solid's faces
// differ). A blank window fails: white before the file is loaded, black where no frame arrived, or
// the bare background.
bool ShowsModel(const Shot& shot, std::string* why)
{
    if (shot.width < 8 || shot.height < 8)
    {
        *why = "window too small";
        return false;
    }
    auto at = [&](int x, int y) { return shot.pixels[static_cast<size_t>(y) * shot.width + x]; };
    // The default background is a gradient from top to bottom: each row's left end is its background.
    auto near = [](uint32_t a, uint32_t b, int tolerance)
    {
        for (int shift : {0, 8, 16})
            if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
        return true;
    };
    const uint32_t background = at(0, 0);
    if (!near(at(shot.width - 1, 0), background, 8) ||
        !near(at(shot.width - 1, shot.height - 1), at(0, shot.height - 1), 8))
    {
        *why = "the corners of a row do not share one background colour";
        return false;
    }
    std::map<uint32_t, size_t> model;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            if (!near(at(x, y), at(0, y), 16)) ++model[at(x, y)];
    size_t total = 0, shades = 0;
    for (const auto& [colour, count] : model)
    {
        total += count;
        if (count * 500 >= shot.pixels.size()) ++shades; // specks along edges do not count
    }
    std::ostringstream text;
    text << std::hex << "background 0x" << background << std::dec << ", " << total << " of "
         << shot.pixels.size() << " pixels in " << model.size() << " other colours";
    *why = text.str();
    return total * 50 >= shot.pixels.size() && shades >= 2;
}

// One connection to the X server, doing what the user's keyboard and the window manager would.
class XSession
{
public:
    explicit XSession(Display* display) : display_(display), root_(DefaultRootWindow(display)) {}
    ~XSession() { ::XCloseDisplay(display_); }
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // The mapped top-level window with this title, or 0. Without a window manager top-level windows
    // are the root's children.
    Window FindViewable(const std::string& title)
    {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (!::XQueryTree(display_, root_, &rootReturn, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i)
        {
            char* name = nullptr;
            if (::XFetchName(display_, children[i], &name) && name)
            {
                if (title == name && Viewable(children[i])) found = children[i];
                ::XFree(name);
            }
        }
        if (children) ::XFree(children);
        return found;
    }

    bool Viewable(Window window)
    {
        XWindowAttributes attributes{};
        return ::XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
    }

    std::optional<Shot> Grab(Window window)
    {
        XWindowAttributes attributes{};
        if (!::XGetWindowAttributes(display_, window, &attributes) || attributes.map_state != IsViewable)
            return std::nullopt;
        XImage* image =
            ::XGetImage(display_, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
        if (!image) return std::nullopt;
        Shot shot;
        shot.width = image->width;
        shot.height = image->height;
        shot.pixels.reserve(static_cast<size_t>(shot.width) * shot.height);
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                shot.pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu);
        XDestroyImage(image);
        return shot;
    }

    // What a window manager does for a newly mapped window: give it the keyboard.
    void Focus(Window window)
    {
        ::XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
        ::XSync(display_, False);
    }

    void Key(KeySym key, bool down)
    {
        ::XTestFakeKeyEvent(display_, ::XKeysymToKeycode(display_, key), down ? True : False, CurrentTime);
        ::XSync(display_, False);
    }

    void Tap(KeySym key)
    {
        Key(key, true);
        std::this_thread::sleep_for(30ms);
        Key(key, false);
    }

    // A window manager's close button: WM_DELETE_WINDOW, which the window must have asked for.
    bool RequestClose(Window window)
    {
        Atom protocols = ::XInternAtom(display_, "WM_PROTOCOLS", False);
        Atom deleteWindow = ::XInternAtom(display_, "WM_DELETE_WINDOW", False);
        Atom* list = nullptr;
        int count = 0;
        bool asked = false;
        if (::XGetWMProtocols(display_, window, &list, &count))
        {
            for (int i = 0; i < count; ++i)
                asked = asked || list[i] == deleteWindow;
            ::XFree(list);
        }
        if (!asked) return false;
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(deleteWindow);
        event.xclient.data.l[1] = CurrentTime;
        ::XSendEvent(display_, window, False, NoEventMask, &event);
        ::XSync(display_, False);
        return true;
    }

    // The pointer to a point of a window (its own coordinates); false when the window is gone.
    bool MovePointer(Window window, int x, int y, int* rootX, int* rootY)
    {
        Window child = 0;
        if (!::XTranslateCoordinates(display_, window, root_, x, y, rootX, rootY, &child)) return false;
        ::XTestFakeMotionEvent(display_, DefaultScreen(display_), *rootX, *rootY, CurrentTime);
        ::XSync(display_, False);
        return true;
    }

    void Button(unsigned button, bool down)
    {
        ::XTestFakeButtonEvent(display_, button, down ? True : False, CurrentTime);
        ::XSync(display_, False);
    }

    // A right click at a point of the window; *rootX and *rootY get where it landed on the screen.
    bool RightClick(Window window, int x, int y, int* rootX, int* rootY)
    {
        if (!MovePointer(window, x, y, rootX, rootY)) return false;
        Button(3, true);
        std::this_thread::sleep_for(30ms);
        Button(3, false);
        return true;
    }

    // The mapped top-level windows other than `known`, with their frames in root coordinates.
    std::vector<XRectangle> OtherViewable(Window known)
    {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        std::vector<XRectangle> found;
        if (!::XQueryTree(display_, root_, &rootReturn, &parent, &children, &count)) return found;
        for (unsigned i = 0; i < count; ++i)
        {
            XWindowAttributes a{};
            if (children[i] == known || !::XGetWindowAttributes(display_, children[i], &a) ||
                a.map_state != IsViewable)
                continue;
            found.push_back({static_cast<short>(a.x), static_cast<short>(a.y),
                             static_cast<unsigned short>(a.width), static_cast<unsigned short>(a.height)});
        }
        if (children) ::XFree(children);
        return found;
    }

    // What the screen shows in a rectangle of the root window.
    std::optional<Shot> GrabArea(const XRectangle& area)
    {
        XImage* image =
            ::XGetImage(display_, root_, area.x, area.y, area.width, area.height, AllPlanes, ZPixmap);
        if (!image) return std::nullopt;
        Shot shot;
        shot.width = image->width;
        shot.height = image->height;
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                shot.pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu);
        XDestroyImage(image);
        return shot;
    }

    // A key held down reaches the program once, so only polling can keep it acting.
    void StopKeyRepeat()
    {
        ::XAutoRepeatOff(display_);
        ::XSync(display_, False);
    }

    bool HasXTest()
    {
        int event = 0, error = 0, major = 0, minor = 0;
        return ::XTestQueryExtension(display_, &event, &error, &major, &minor);
    }

private:
    Display* display_;
    Window root_;
};

// Starts a private Xvfb and tells its display name, or says why there is none.
std::string StartXvfb(ChildProcess& server, const fs::path& log, std::string* display)
{
    std::optional<fs::path> xvfb = FindProgram("Xvfb");
    if (!xvfb) return "Xvfb is not installed (package xvfb; scripts/setup.sh installs it)";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
    // The server picks a free display and writes its number to the descriptor.
    bool started = server.Start({xvfb->string(), "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 "1024x768x24", "-nolisten", "tcp"},
                                Environment({}), log, fds[1]);
    ::close(fds[1]);
    std::string number;
    Clock::time_point end = Clock::now() + kStartBound;
    while (started && number.find('\n') == std::string::npos && Clock::now() < end)
    {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[32];
        ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break; // the server ended without a display
        number.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos)
        return "Xvfb gave no display number; its output:\n" + ReadText(log);
    *display = ":" + number.substr(0, number.find('\n'));
    return "";
}

class QtWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "ferolt_qt_window_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        std::string error = StartXvfb(xvfb_, dir_ / "xvfb.log", &display_);
        ASSERT_TRUE(error.empty()) << error;
        ::XSetErrorHandler(IgnoreXErrors);
        Display* display = ::XOpenDisplay(display_.c_str());
        ASSERT_NE(display, nullptr) << "cannot connect to Xvfb on " << display_;
        x_ = std::make_unique<XSession>(display);
        ASSERT_TRUE(x_->HasXTest()) << "Xvfb has no XTEST extension";
        x_->StopKeyRepeat();
    }

    void TearDown() override
    {
        viewer_.Stop();
        x_.reset();
        xvfb_.Stop();
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // The viewer on the example, on our display, its files (file-type registration, stored placement)
    // in the temporary directory instead of the user's.
    void StartViewer()
    {
        fs::path home = dir_ / "home", runtime = dir_ / "runtime";
        for (const char* sub : {"home", "config", "data", "cache", "runtime", "tmp"})
            fs::create_directories(dir_ / sub);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        std::vector<std::string> env = Environment({
            {"DISPLAY", display_},
            {"QT_QPA_PLATFORM", "xcb"},
            {"HOME", home.string()},
            {"XDG_CONFIG_HOME", (dir_ / "config").string()},
            {"XDG_DATA_HOME", (dir_ / "data").string()},
            {"XDG_CACHE_HOME", (dir_ / "cache").string()},
            {"XDG_RUNTIME_DIR", runtime.string()},
            {"TMPDIR", (dir_ / "tmp").string()},
            // Nothing of the user's session: no other display or session manager, and a message bus
            // that is not there. Without any bus address the bus library would start one for the
            // display (and leaks when it cannot).
            {"WAYLAND_DISPLAY", std::nullopt},
            {"XAUTHORITY", std::nullopt},
            {"SESSION_MANAGER", std::nullopt},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (runtime / "no-bus").string()},
        });
        ASSERT_TRUE(viewer_.Start({FEROLT_VIEWER_PATH, FEROLT_SOURCE_DIR "/examples/example.tolvex"}, env,
                                  dir_ / "viewer.log"));
    }

    // The program's state and output, for failure messages.
    std::string Output()
    {
        return "\n--- viewer " + viewer_.Describe() + "; its output:\n" + ReadText(dir_ / "viewer.log");
    }

    // Grabs the window every 10 ms until `accept` takes a shot; false when `bound` passes first or the
    // program ends.
    bool WaitForShot(Window window, Clock::duration bound, const std::function<bool(const Shot&)>& accept,
                     Shot* out)
    {
        Clock::time_point end = Clock::now() + bound;
        while (Clock::now() < end && viewer_.Running())
        {
            if (std::optional<Shot> shot = x_->Grab(window); shot && accept(*shot))
            {
                *out = std::move(*shot);
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    bool WaitForChange(Window window, const Shot& from, Shot* out)
    {
        return WaitForShot(
            window, kReactBound, [&](const Shot& s) { return !(s == from); }, out);
    }

    // The picture holds still: two shots a quarter of a second apart agree.
    bool WaitForStill(Window window, Shot* out)
    {
        std::optional<Shot> last;
        return WaitForShot(
            window, kReactBound,
            [&](const Shot& s)
            {
                bool same = last && *last == s;
                last = s;
                if (!same) std::this_thread::sleep_for(250ms);
                return same;
            },
            out);
    }

    // Starts the viewer on the example and waits for its window to show the model, with the keyboard.
    void ShowExample(Window* window, Shot* start)
    {
        StartViewer();
        Clock::time_point end = Clock::now() + kStartBound;
        while (!(*window = x_->FindViewable("Ferolt")) && viewer_.Running() && Clock::now() < end)
            std::this_thread::sleep_for(20ms);
        ASSERT_NE(*window, 0u) << "no window titled \"Ferolt\" appeared" << Output();
        x_->Focus(*window);
        std::string why;
        ASSERT_TRUE(WaitForShot(
            *window, kStartBound, [&](const Shot& s) { return ShowsModel(s, &why); }, start))
            << "the window never showed the model (" << why << ")" << Output();
    }

    // A right click in the middle of the window, and the context menu it opens; keys typed before the
    // menu is up would go to the window instead. *x and *y get where the click landed on the screen.
    void OpenContextMenu(Window window, const Shot& shot, int* x, int* y, std::vector<XRectangle>* menus)
    {
        ASSERT_TRUE(x_->RightClick(window, shot.width / 2, shot.height / 2, x, y));
        Clock::time_point end = Clock::now() + kReactBound;
        while ((*menus = x_->OtherViewable(window)).empty() && viewer_.Running() && Clock::now() < end)
            std::this_thread::sleep_for(20ms);
        ASSERT_EQ(menus->size(), 1u) << "no menu appeared after the right click" << Output();
    }

    fs::path dir_;
    std::string display_;
    ChildProcess xvfb_{SIGTERM}; // which removes its lock file and socket
    ChildProcess viewer_{SIGKILL};
    std::unique_ptr<XSession> x_;
};

TEST_F(QtWindowTest, ShowsTheExampleTakesKeysAndEndsWhenClosed)
{
    Window window = 0;
    Shot start;
    ASSERT_NO_FATAL_FAILURE(ShowExample(&window, &start));

    // F2 starts walking. The held arrow reaches the program once, so a view that keeps moving shows
    // the key polled at every tick; a single arrow press outside walk mode would turn it once.
    x_->Tap(XK_F2);
    x_->Key(XK_Left, true);
    Shot walking, walkingOn;
    ASSERT_TRUE(WaitForChange(window, start, &walking))
        << "F2 and a held Left did not move the view" << Output();
    bool kept = WaitForChange(window, walking, &walkingOn);
    x_->Key(XK_Left, false);
    ASSERT_TRUE(kept) << "the view moved once and stopped while Left was held: not walking" << Output();
    Shot walked;
    ASSERT_TRUE(WaitForStill(window, &walked)) << "the view kept moving after Left was released" << Output();
    EXPECT_FALSE(walked == start);

    // Escape means nothing to the main window: the program goes on and answers the next keys. F2 ends
    // walking, and Home brings back the view the file opened with.
    x_->Tap(XK_Escape);
    x_->Tap(XK_F2);
    x_->Tap(XK_Home);
    Shot home;
    ASSERT_TRUE(WaitForShot(
        window, kReactBound, [&](const Shot& s) { return s == start; }, &home))
        << "after Escape, Home did not bring back the starting view" << Output();
    ASSERT_TRUE(viewer_.Running());

    ASSERT_TRUE(x_->RequestClose(window)) << "the window does not take WM_DELETE_WINDOW";
    std::optional<int> status = viewer_.WaitExit(kStartBound);
    ASSERT_TRUE(status) << "the program went on after its window was closed" << Output();
    ASSERT_TRUE(WIFEXITED(*status)) << Output();
    EXPECT_EQ(WEXITSTATUS(*status), kViewerExitCode) << Output();
}

// A right click opens the context menu where the pointer is; the keyboard walks it to "Darstellung",
// "Drahtgitter" and the picture changes.
TEST_F(QtWindowTest, RightClickOpensTheMenuAtThePointerAndWireframeChangesThePicture)
{
    Window window = 0;
    Shot start;
    ASSERT_NO_FATAL_FAILURE(ShowExample(&window, &start));

    int x = 0, y = 0;
    std::vector<XRectangle> menus;
    ASSERT_NO_FATAL_FAILURE(OpenContextMenu(window, start, &x, &y, &menus));
    // Its corner at the pointer, as far as the menu's own frame and shadow go.
    EXPECT_NEAR(menus[0].x, x, 8);
    EXPECT_NEAR(menus[0].y, y, 8);

    // The first item opens "Darstellung"; its third item is "Drahtgitter".
    for (KeySym key : {XK_Down, XK_Right, XK_Down, XK_Down, XK_Return})
    {
        x_->Tap(key);
        std::this_thread::sleep_for(100ms);
    }
    Shot wireframe;
    ASSERT_TRUE(WaitForStill(window, &wireframe)) << Output();
    ASSERT_FALSE(wireframe == start) << "the picture stayed as it was" << Output();
    // Black lines of the edges in place of filled faces.
    auto black = [](const Shot& shot) { return std::count(shot.pixels.begin(), shot.pixels.end(), 0u); };
    EXPECT_GT(black(wireframe), 200) << "no edges drawn";
    EXPECT_EQ(black(start), 0);
    EXPECT_TRUE(x_->OtherViewable(window).empty()) << "the menu stayed open";
}

// Text, lines and pictures make many colours; an empty or unpainted window has one or two.
size_t Colours(const Shot& shot)
{
    return std::set<uint32_t>(shot.pixels.begin(), shot.pixels.end()).size();
}

// F1 opens the help window with its contents and first page; the context menu's "Bild speichern..."
// opens its dialog. Both show what they hold.
TEST_F(QtWindowTest, HelpAndTheSaveDialogShowTheirContent)
{
    Window window = 0;
    Shot start;
    ASSERT_NO_FATAL_FAILURE(ShowExample(&window, &start));

    int x = 0, y = 0;
    std::vector<XRectangle> menus;
    ASSERT_NO_FATAL_FAILURE(OpenContextMenu(window, start, &x, &y, &menus));
    // "Bild speichern..." is the seventh item; separators are passed over.
    for (KeySym key : {XK_Down, XK_Down, XK_Down, XK_Down, XK_Down, XK_Down, XK_Down, XK_Return})
    {
        x_->Tap(key);
        std::this_thread::sleep_for(100ms);
    }
    Window dialog = 0;
    Clock::time_point end = Clock::now() + kReactBound;
    while (!(dialog = x_->FindViewable("Bild speichern")) && viewer_.Running() && Clock::now() < end)
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(dialog, 0u) << "no dialog \"Bild speichern\" appeared" << Output();
    std::optional<Shot> shot;
    end = Clock::now() + kReactBound;
    while (!((shot = x_->Grab(dialog)) && Colours(*shot) > 10) && Clock::now() < end)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(shot);
    EXPECT_GT(Colours(*shot), 10u) << "the dialog shows nothing" << Output();
    x_->Focus(dialog);
    x_->Tap(XK_Escape);
    end = Clock::now() + kReactBound;
    while (x_->Viewable(dialog) && Clock::now() < end)
        std::this_thread::sleep_for(20ms);
    ASSERT_FALSE(x_->Viewable(dialog)) << "Escape did not close the dialog" << Output();

    x_->Focus(window);
    x_->Tap(XK_F1);
    std::optional<Shot> help;
    end = Clock::now() + kStartBound;
    while (viewer_.Running() && Clock::now() < end)
    {
        std::vector<XRectangle> others = x_->OtherViewable(window);
        if (others.size() == 1 && (help = x_->GrabArea(others[0])) && Colours(*help) > 20) break;
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(help) << "F1 opened no help window" << Output();
    EXPECT_GT(Colours(*help), 20u) << "the help window shows nothing" << Output();
}
} // namespace
