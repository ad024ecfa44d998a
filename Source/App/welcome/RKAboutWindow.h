// The application's About window: shown for the About command in place of a standard panel.
// A click on the version switches it between the marketing version and the build number (the
// choice lasts for the process); a right click offers "Copy Version", which copies one line
// naming the build. The links open the acknowledgements shipped with the application and the
// terms of service on the maker's web site. Main thread only.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "App/shell/AppInfo.h"
#include "App/welcome/AboutWindow.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Responder.h"

namespace kx {

class NativeMenu;

class RKAboutWindow : public Responder {
public:
    static constexpr std::array<const char*, 2> versionLabelKeys{"CFBundleShortVersionString", "CFBundleVersion"};
    static constexpr const char* copyVersionAction = "handleCopyVersion";
    // The Info.json key of the maker's web site, whose "tos/" is the terms of service.
    static constexpr const char* websiteKey = "KorvelWebsiteURL";

    // The process's controller, made on first use and kept until the process ends.
    static RKAboutWindow& sharedInstance();
    // Over the facts of `info` (its bundle gives the versions, the resources and the site).
    explicit RKAboutWindow(std::shared_ptr<const AppInfo> info = AppInfo::current());
    ~RKAboutWindow() override;

    // Builds the window on first use, then shows it in front.
    void showWindow(const void* sender = nullptr);
    void close();
    bool isVisible() const;
    // nullptr until first shown.
    AboutWindow* window() const { return window_.get(); }

    int versionLabelSelectedKey() const { return versionLabelSelectedKey_; }
    void updateVersionLabel();
    // A click released over the version label.
    void mouseUpOnVersionLabel();
    // A right click released at `at` (window coordinates): the menu with "Copy Version".
    std::shared_ptr<NativeMenu> rightMouseUp(std::optional<Point> at);
    void handleCopyVersion();
    // "Korvel X " + build name + ": " + the short version (or "Unknown Version").
    std::string versionDescription() const;
    void acknowledgmentsClicked();
    void termsOfServiceClicked();

private:
    // The two set-up steps of the first showWindow, in this order (the names are those of the
    // window's loading, though no interface file is read): the build name and the labels'
    // weights; then the icon, the clicks and the version text.
    void awakeFromNib();
    void windowDidLoad();
    void showIcon();

    std::shared_ptr<const AppInfo> info_;
    std::unique_ptr<AboutWindow> window_;
    SignalConnection iconScale_;
    int versionLabelSelectedKey_ = 0;
};

} // namespace kx
