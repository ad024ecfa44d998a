// The private pasteboard "Nimbet Images Clipboard" that carries copied images from one
// document to another: an X selection of our own (not the clipboard the user pastes text
// from) holding one target, "com.korvel.nimbet.images", whose data is a JSON object from image
// name to the file the image lies in.
//
// Any client of the display can own a selection, so what is read is untrusted: it is
// size-limited and must be an object of strings; the paths still have to be checked by whoever
// copies from them. Main thread only.
//
// Under Wayland there are no selections of one's own name (only the clipboard and the primary
// selection), so the pasteboard lives in the process: the same text, written and read through
// the same checks, shared by the documents of this process and no other.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace kx {

class NimbetImagePasteboard {
public:
    static constexpr const char* name = "Nimbet Images Clipboard";
    static constexpr const char* type = "com.korvel.nimbet.images";
    static constexpr std::size_t maximumLength = 1 << 20;

    using Images = std::map<std::string, std::filesystem::path>;

    // Takes the selection and offers `images`.
    static void write(const Images& images);
    // What the selection's owner offers now (waits for it on the main loop); none when there
    // is no owner or the data is not an object of strings.
    static std::optional<Images> read();

    // The JSON form, and its checked reading.
    static std::string encode(const Images& images);
    static std::optional<Images> decode(const std::string& data);
};

} // namespace kx
