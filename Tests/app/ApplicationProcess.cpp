#include "ApplicationProcess.h"

#include <signal.h>

// Before X11's headers, whose macros (None) it would meet.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "StarvedTime.h"
#include "support/ChildProcess.h"
#include "support/Spin.h"

namespace kxtest {

namespace fs = std::filesystem;

ApplicationProcess::ApplicationProcess(const ApplicationHome& home, const std::string& backendURL,
                                       std::vector<std::string> arguments, fs::path executable,
                                       std::map<std::string, std::string> environment)
{
    stepsFile_ = own_ / "steps";
    widgetsFile_ = own_ / "widgets";
    kx::Process::Configuration configuration;
    configuration.arguments.push_back((executable.empty() ? hostExecutable() : executable).string());
    for (auto& argument : arguments)
        configuration.arguments.push_back(std::move(argument));
    configuration.environment = {
        {"XDG_CONFIG_HOME", home.config().string()},
        {"XDG_DATA_HOME", home.data().string()},
        {"XDG_CACHE_HOME", home.cache().string()},
        {"KORVEL_X_ENVIRONMENT", "local"},
        {"KORVEL_X_LOCAL_BACKEND", backendURL},
        {"KX_TEST_STEPS", stepsFile_.string()},
        {"KX_TEST_WIDGETS", widgetsFile_.string()},
        {"MESA_SHADER_CACHE_DISABLE", "true"},
    };
    for (auto& [name, value] : environment)
        configuration.environment[name] = std::move(value);
    process_ = std::make_unique<kx::Process>(std::move(configuration));
    process_->terminationHandler = [this](kx::Process::TerminationReason reason, int status) {
        StarvedTime::shared().forget(pid());
        ended_ = true;
        reason_ = reason;
        status_ = status;
    };
}

ApplicationProcess::~ApplicationProcess()
{
    if (process_ && process_->isRunning() && !ended_) {
        process_->terminate();
        // Left running, it would keep the single-instance name, and later tests' launches
        // would go to it.
        const auto asked = std::chrono::steady_clock::now();
        if (!waitForExit(std::chrono::seconds(10))) {
            // The wait stretches by the time the application waited for a processor.
            const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - asked).count();
            // Where its main thread is held, where a debugger is at hand.
            std::string stack;
            if (gchar* gdb = g_find_program_in_path("gdb")) {
                stack = "; its main thread:\n"
                    + kxtest::runProgram({gdb, "-p", std::to_string(pid()), "-batch", "-ex", "thread 1", "-ex", "bt 40"},
                                         std::nullopt, std::chrono::seconds(60)).output;
                g_free(gdb);
            }
            ADD_FAILURE() << "the application (process " << pid() << ") did not end within " << waited << " s of SIGTERM; killed" << stack;
            signal(SIGKILL);
            if (!waitForExit(std::chrono::seconds(10)))
                ADD_FAILURE() << "the application (process " << pid() << ") outlived SIGKILL";
        }
    }
}

fs::path ApplicationProcess::hostExecutable()
{
    return kx::Bundle::executablePath().parent_path() / "kx_application_host";
}

bool ApplicationProcess::launch()
{
    if (!process_->launch().isSuccess())
        return false;
    StarvedTime::shared().follow(pid());
    return true;
}

pid_t ApplicationProcess::pid() const
{
    return process_->processIdentifier();
}

std::vector<std::string> ApplicationProcess::steps() const
{
    std::vector<std::string> lines;
    std::istringstream text(kx::FileSystem::readFile(stepsFile_).value_or(""));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

bool ApplicationProcess::hasStep(const std::string& step) const
{
    return count(step) > 0;
}

int ApplicationProcess::count(const std::string& step) const
{
    const auto all = steps();
    return int(std::count(all.begin(), all.end(), step));
}

bool ApplicationProcess::waitForStep(const std::string& step, std::chrono::seconds timeout)
{
    return spinUntil([&] { return hasStep(step) || ended_; }, timeout) && hasStep(step);
}

bool ApplicationProcess::waitForExit(std::chrono::seconds timeout)
{
    return spinUntil([&] { return ended_; }, timeout);
}

void ApplicationProcess::signal(int signalNumber) const
{
    if (pid() > 0 && !ended_)
        ::kill(pid(), signalNumber);
}

std::vector<Clickable> ApplicationProcess::clickables()
{
    std::error_code ec;
    fs::remove(widgetsFile_, ec);
    signal(SIGUSR2);
    std::vector<Clickable> found;
    // The list comes whole, by a rename, once the pages have answered too (or a few seconds
    // without those that did not: a hung page).
    if (!spinUntil([&] { return fs::exists(widgetsFile_) || ended_; }, std::chrono::seconds(10)))
        return found;
    std::istringstream text(kx::FileSystem::readFile(widgetsFile_).value_or(""));
    for (std::string line; std::getline(text, line);) {
        std::vector<std::string> fields;
        std::istringstream columns(line);
        for (std::string field; std::getline(columns, field, '\t');)
            fields.push_back(field);
        if (fields.size() != 8)
            continue;
        found.push_back({fields[0], fields[1], fields[2], std::atoi(fields[3].c_str()), std::atoi(fields[4].c_str()),
                         std::atoi(fields[5].c_str()), std::atoi(fields[6].c_str()), std::max(1, std::atoi(fields[7].c_str()))});
    }
    return found;
}

std::optional<Clickable> ApplicationProcess::waitForClickable(const std::string& kind, const std::string& window,
                                                              const std::string& name, std::chrono::seconds timeout)
{
    // Where it is twice in a row: a popover or window may still be sliding into place.
    std::optional<Clickable> found, previous;
    // None in time is the answer nullopt.
    (void)spinUntil(
        [&] {
            std::optional<Clickable> now;
            for (const auto& item : clickables()) {
                if (item.kind == kind && item.window == window && item.name == name && item.width > 0 && item.height > 0)
                    now = item;
            }
            if (now && previous && now->x == previous->x && now->y == previous->y && now->width == previous->width
                && now->height == previous->height)
                found = now;
            previous = now;
            return found || ended_;
        },
        timeout);
    return found;
}

namespace Display {

namespace {

// A window may go between listing it and using it: its error must not end the test program.
int ignoreXError(::Display*, XErrorEvent*)
{
    return 0;
}

// One connection for the program's life: a connection of its own for each look cost the X server
// a client's set-up every few milliseconds of each wait for a window, and the program as much,
// on the processors that the application it waits for needs.
::Display* connection()
{
    XSetErrorHandler(ignoreXError);
    static ::Display* const shared = XOpenDisplay(nullptr);
    return shared;
}

std::string titleOf(::Display* display, Window window)
{
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, name, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success && data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return title;
}

std::optional<Window> visibleWindow(::Display* display, const std::string& title)
{
    Window root = DefaultRootWindow(display), parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::optional<Window> found;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return found;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable
            && titleOf(display, children[i]) == title)
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

// The middle of `target` in the X server's root pixels: GTK's points times the window's scale.
std::pair<int, int> centreInRootPixels(const Clickable& target)
{
    const int scale = std::max(1, target.scale);
    return {int(std::lround((target.x + target.width / 2.0) * scale)),
            int(std::lround((target.y + target.height / 2.0) * scale))};
}

} // namespace

bool hasVisibleWindow(const std::string& title)
{
    ::Display* const display = connection();
    return display && visibleWindow(display, title).has_value();
}

bool closeWindow(const std::string& title)
{
    ::Display* const display = connection();
    if (!display)
        return false;
    auto window = visibleWindow(display, title);
    if (!window)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = *window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, *window, False, NoEventMask, &event);
    XSync(display, False);
    return true;
}

void pressControl(char key)
{
    ::Display* const display = connection();
    if (!display)
        return;
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode letter = XKeysymToKeycode(display, XStringToKeysym(std::string(1, key).c_str()));
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    XTestFakeKeyEvent(display, letter, True, CurrentTime);
    XTestFakeKeyEvent(display, letter, False, CurrentTime);
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    XSync(display, False);
}

bool focusWindow(const std::string& title)
{
    ::Display* const display = connection();
    if (!display)
        return false;
    auto window = visibleWindow(display, title);
    if (!window)
        return false;
    XRaiseWindow(display, *window);
    XSetInputFocus(display, *window, RevertToParent, CurrentTime);
    XSync(display, False);
    return true;
}

bool focusWindowOf(const Clickable& target)
{
    ::Display* const display = connection();
    if (!display)
        return false;
    // The topmost mapped top-level window under the middle of the target.
    const auto [x, y] = centreInRootPixels(target);
    Window root = DefaultRootWindow(display), parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return false;
    std::optional<Window> found;
    for (unsigned i = count; i-- > 0 && !found;) { // bottom to top: the last is on top
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable
            && attributes.c_class == InputOutput && x >= attributes.x && y >= attributes.y
            && x < attributes.x + attributes.width && y < attributes.y + attributes.height)
            found = children[i];
    }
    if (children)
        XFree(children);
    if (!found)
        return false;
    XRaiseWindow(display, *found);
    XSetInputFocus(display, *found, RevertToParent, CurrentTime);
    XSync(display, False);
    return true;
}

namespace {

void pressKeysym(::Display* display, KeySym symbol, bool control, bool shift, bool alt = false)
{
    const KeyCode code = XKeysymToKeycode(display, symbol);
    if (!code)
        return;
    // A symbol of the key's second level (capitals, "_", "?") needs Shift.
    shift = shift || XkbKeycodeToKeysym(display, code, 0, 0) != symbol;
    const KeyCode controlKey = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode shiftKey = XKeysymToKeycode(display, XK_Shift_L);
    const KeyCode altKey = XKeysymToKeycode(display, XK_Alt_L);
    if (control)
        XTestFakeKeyEvent(display, controlKey, True, CurrentTime);
    if (alt)
        XTestFakeKeyEvent(display, altKey, True, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(display, shiftKey, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(display, shiftKey, False, CurrentTime);
    if (alt)
        XTestFakeKeyEvent(display, altKey, False, CurrentTime);
    if (control)
        XTestFakeKeyEvent(display, controlKey, False, CurrentTime);
    XSync(display, False);
}

} // namespace

void pressKey(const std::string& name, bool control, bool shift, bool alt)
{
    ::Display* const display = connection();
    if (display)
        pressKeysym(display, XStringToKeysym(name.c_str()), control, shift, alt);
}

void typeText(const std::string& text)
{
    ::Display* const display = connection();
    if (!display)
        return;
    // Printable ASCII characters are their own key symbols.
    for (char c : text)
        if (c >= 0x20 && c < 0x7f)
            pressKeysym(display, KeySym(c), false, false);
}

void click(const Clickable& target)
{
    ::Display* const display = connection();
    if (!display)
        return;
    const auto [x, y] = centreInRootPixels(target);
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
}

std::optional<std::pair<int, int>> windowSize(const std::string& title)
{
    ::Display* const display = connection();
    if (!display)
        return std::nullopt;
    auto window = visibleWindow(display, title);
    XWindowAttributes attributes{};
    if (!window || !XGetWindowAttributes(display, *window, &attributes))
        return std::nullopt;
    return std::pair{attributes.width, attributes.height};
}

bool screenshot(const fs::path& file)
{
    ::Display* const display = connection();
    if (!display)
        return false;
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    XImage* image = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image)
        return false;
    const int width = image->width, height = image->height;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            guchar* out = pixels + y * stride + x * 3;
            out[0] = guchar((pixel & image->red_mask) >> 16);
            out[1] = guchar((pixel & image->green_mask) >> 8);
            out[2] = guchar(pixel & image->blue_mask);
        }
    }
    XDestroyImage(image);
    const bool saved = gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
    return saved;
}

} // namespace Display

} // namespace kxtest
