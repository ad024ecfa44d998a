// What the container needs to know of image bytes: their kind, their content name, and a
// PNG rendering of a PDF's first page (a picture without a pixel size of its own).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx::KVContainerImageData {

bool isPNG(std::string_view data);
bool isJPEG(std::string_view data);

// The SHA-1 of the bytes in Base64 without "/", "+" and "=", with ".png" or ".jpg" for PNG
// and JPEG bytes.
std::string contentName(std::string_view data);

// True when gdk-pixbuf reads the bytes as a picture with a pixel size (PNG, JPEG, GIF, TIFF,
// SVG, ...). Only as much is decoded as it takes to learn the size.
bool hasPixelSize(std::string_view data);

// Whether the bytes start like a PDF document (its header lies within the first kilobyte).
bool looksLikePDF(std::string_view data);

// For the bytes of a PDF document: its first page rendered as PNG at one pixel per point (at
// most Image::maximumPixelCount). nullopt when the bytes are not a PDF that opens; throws
// KVDocumentError unsupportedImageFormat when it opens but cannot be rendered.
std::optional<std::string> renderPDFPage(std::string_view data);

// JPEG at quality 85, or PNG; nullopt when encoding fails.
std::optional<std::string> encode(const GObjectRef<GdkPixbuf>& image, bool asJPEG);

} // namespace kx::KVContainerImageData
