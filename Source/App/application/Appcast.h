// The update feed: an RSS document whose items announce versions of the application, each
// with its build version, its displayed version and the link of its download. Read as hostile
// text with GLib's XML parser: limited in size and in items; an item without a build version
// or without an acceptable link (https, or http on this machine) is left out.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class Appcast {
public:
    struct Item {
        std::string title;
        std::string version;      // the build version, compared with CFBundleVersion
        std::string shortVersion; // what the user is shown
        std::string downloadURL;
    };

    static constexpr std::size_t maximumSize = 1024 * 1024;
    static constexpr std::size_t maximumItems = 1000;

    static Result<Appcast, Error> parse(std::string_view xml);

    const std::vector<Item>& items() const { return items_; }
    // The item of the highest version above `currentVersion`, if any.
    std::optional<Item> newestItemAbove(const std::string& currentVersion) const;

    // Compares two version texts part by part, numbers as numbers ("1.10" > "1.9"); < 0, 0, > 0.
    static int compareVersions(std::string_view a, std::string_view b);
    // https, or http on a loopback host.
    static bool isAcceptableDownloadURL(const std::string& url);

private:
    std::vector<Item> items_;
};

} // namespace kx
