// Decoding and downscaling of bitmaps with gdk-pixbuf alone (no GDK or GTK), so that worker
// threads may use them. An image's point size is its pixel size here.
#pragma once

#include <cstdint>
#include <span>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

// The most pixels a decoded image may hold: 8,000 by 8,000.
inline constexpr std::uint64_t maximumDecodedPixels = 64'000'000;

// Decodes any format gdk-pixbuf reads (PNG, JPEG, GIF, TIFF, SVG through librsvg, ...). A
// picture larger than `maximumPixels` is decoded at the largest size of the same proportions
// that fits, so that a small file cannot claim gigabytes. Null when it cannot be decoded.
GObjectRef<GdkPixbuf> decodeImage(std::span<const std::byte> bytes, std::uint64_t maximumPixels = maximumDecodedPixels);

// When the image fits in a square of `side` pixels (or is empty: a side of 0.5 pixels or
// less), the very same image: callers take that as "no smaller copy needed". Otherwise a new
// 8-bit RGBA image of the pixel size times the factor min(side / width, side / height), each
// rounded up, holding the image drawn at that size.
GObjectRef<GdkPixbuf> scaleDownToFitSide(const GObjectRef<GdkPixbuf>& image, double side);

} // namespace kx
