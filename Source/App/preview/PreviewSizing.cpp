#include "App/preview/PreviewSizing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kx::PreviewSizing {

namespace {

constexpr double snapDistance = 20.0;
constexpr double scaleStepTolerance = 0.075;
constexpr double titleInset = 72.0;
constexpr double titleMargins = 192.0;
constexpr double minimumTitleWidth = 60.0;

// A whole number for a text: halves away from zero, no "-0", and no overflow for any double.
std::string wholeNumber(double value)
{
    if (!std::isfinite(value))
        return "0";
    value = value == 0 ? 0.0 : value;
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

} // namespace

Size intrinsicContentSize(const std::optional<NimbetSelection>& selection, const DeviceDescriptor* descriptor,
                          bool deviceIsCanvas)
{
    if (deviceIsCanvas) {
        if (selection && selection->metadata.width && selection->metadata.height)
            return {std::max(0.0, *selection->metadata.width), std::max(0.0, *selection->metadata.height)};
        return {};
    }
    Size size;
    if (descriptor) {
        // A page's ratio of 0 or below would divide by zero or turn the window inside out.
        const double ratio = descriptor->pixelRatio && *descriptor->pixelRatio > 0 ? *descriptor->pixelRatio : 1.0;
        size = {std::max<double>(0, double(descriptor->screen.width)) / ratio,
                std::max<double>(0, double(descriptor->screen.height)) / ratio};
    }
    // A ratio just above 0 makes a side too large for any number: no fixed size then.
    if (!std::isfinite(size.width) || !std::isfinite(size.height))
        size = {};
    if (selection && selection->metadata.settings.rotate)
        std::swap(size.width, size.height);
    return size;
}

Rect firstAppearanceFrame(Rect current, Size intrinsic, double titleBarHeight, Rect documentWindow, Rect workArea,
                          Size minimum)
{
    Size size = current.size;
    if (intrinsic.width > 50 && intrinsic.height > 50) {
        // A device larger than the screen keeps its shape.
        const double fit = std::min({1.0, workArea.size.width / intrinsic.width,
                                     std::max(0.0, workArea.size.height - titleBarHeight) / intrinsic.height});
        size = {intrinsic.width * fit, intrinsic.height * fit + titleBarHeight};
    }
    // Placed at the size it will have: a window wider than the device (its toolbar) would
    // otherwise run past the screen's edge by the difference.
    size = {std::max(size.width, minimum.width), std::max(size.height, minimum.height)};
    const double screenRight = workArea.origin.x + workArea.size.width;
    const double x = std::min(documentWindow.origin.x + documentWindow.size.width, screenRight - size.width);
    return constrainedToWorkArea({{x, documentWindow.origin.y}, size}, workArea);
}

Size snappedSize(Size proposed, const ResizeContext& context)
{
    if (!context.isLiveResizing || context.freeResizing)
        return proposed;
    const double tb = context.titleBarHeight;
    const double iw = context.intrinsic.width;
    const double ih = context.intrinsic.height;
    // No shape to snap to: a device without size, a canvas without one.
    if (!(iw > 0) || !(ih > 0))
        return proposed;
    double width = proposed.width;
    double height = proposed.height;
    const double contentHeight = height - tb;
    const double minimumWidth = std::max(0.0, context.minimumSize.width);
    const double minimumContentHeight = std::max(0.0, context.minimumSize.height - tb);
    const auto fits = [&](double w, double contentH) { return w >= minimumWidth && contentH >= minimumContentHeight; };

    if (context.startSize && (width == context.startSize->width || height == context.startSize->height)) {
        // One edge dragged: the other side follows when it is near the device's shape.
        const double ratio = iw / ih;
        if (width != context.startSize->width) {
            const double candidate = contentHeight * ratio;
            if (std::abs(width - candidate) < snapDistance && fits(candidate, contentHeight))
                return {candidate, height};
        }
        if (height != context.startSize->height) {
            const double candidate = tb + width / ratio;
            if (std::abs(height - candidate) < snapDistance && fits(width, candidate - tb))
                height = candidate;
        }
        return {width, height};
    }

    if (!context.showsBezel) {
        const Size steps[] = {{iw, ih}, {std::ceil(iw / 2), std::ceil(ih / 2)}, {iw * 2, ih * 2}};
        for (const Size& step : steps) {
            // A step the window cannot take would leave it off the device's shape.
            if (!fits(step.width, step.height))
                continue;
            if (std::max(std::abs(1 - width / step.width), std::abs(1 - contentHeight / step.height)) < scaleStepTolerance)
                return {step.width, step.height + tb};
        }
    }
    const double length = iw * iw + ih * ih;
    if (!(length > 0) || !std::isfinite(length))
        return proposed;
    double k = (width * iw + contentHeight * ih) / length;
    if (std::hypot(k * iw - width, k * ih - contentHeight) >= snapDistance)
        return proposed;
    // Too small for the window: the smallest size on the shape that it can take.
    k = std::max({k, minimumWidth / iw, minimumContentHeight / ih});
    return {k * iw, k * ih + tb};
}

namespace {

double distanceBetween(const Rect& a, const Rect& b)
{
    const double dx = std::max({0.0, b.origin.x - (a.origin.x + a.size.width), a.origin.x - (b.origin.x + b.size.width)});
    const double dy = std::max({0.0, b.origin.y - (a.origin.y + a.size.height), a.origin.y - (b.origin.y + b.size.height)});
    return std::hypot(dx, dy);
}

double overlapBetween(const Rect& a, const Rect& b)
{
    const double width = std::min(a.origin.x + a.size.width, b.origin.x + b.size.width) - std::max(a.origin.x, b.origin.x);
    const double height = std::min(a.origin.y + a.size.height, b.origin.y + b.size.height) - std::max(a.origin.y, b.origin.y);
    return width > 0 && height > 0 ? width * height : 0;
}

} // namespace

Rect frameOnMonitor(Rect frame, const std::vector<Rect>& workAreas, double titleBarHeight, Size minimum)
{
    const bool finite = std::isfinite(frame.origin.x) && std::isfinite(frame.origin.y) && std::isfinite(frame.size.width)
        && std::isfinite(frame.size.height);
    if (finite) {
        frame.size.width = std::max(frame.size.width, minimum.width);
        frame.size.height = std::max(frame.size.height, minimum.height);
    }
    // The monitor it is on: the one holding the largest piece of it, else the nearest.
    const Rect* chosen = nullptr;
    double chosenOverlap = 0, chosenDistance = 0;
    for (const Rect& area : workAreas) {
        if (!(area.size.width > 0) || !(area.size.height > 0))
            continue;
        const double overlap = finite ? overlapBetween(frame, area) : 0;
        const double distance = finite ? distanceBetween(frame, area) : 0;
        if (!chosen || overlap > chosenOverlap || (overlap == chosenOverlap && distance < chosenDistance)) {
            chosen = &area;
            chosenOverlap = overlap;
            chosenDistance = distance;
        }
    }
    if (!chosen)
        return frame;
    const double barHeight = std::clamp(titleBarHeight, 1.0, std::max(1.0, frame.size.height));
    if (finite && frame.size.width > 0 && frame.size.height > barHeight) {
        // Larger than the work area: smaller in both directions alike, but not below what the
        // window can take.
        double fit = std::min({1.0, chosen->size.width / frame.size.width,
                               std::max(0.0, chosen->size.height - barHeight) / (frame.size.height - barHeight)});
        fit = std::max({fit, minimum.width / frame.size.width, (minimum.height - barHeight) / (frame.size.height - barHeight)});
        fit = std::min(fit, 1.0);
        frame.size = {frame.size.width * fit, (frame.size.height - barHeight) * fit + barHeight};
    }
    return constrainedToWorkArea(frame, *chosen);
}

Rect inspectorFrame(Rect documentWindow, Rect preview, double minimumAttachWidth, std::optional<Rect> screen)
{
    const double target =
        std::max({std::ceil(documentWindow.size.width * 0.5), minimumAttachWidth + 200.0, webKitMinimumAttachWidth});
    const Rect& limit = screen ? *screen : preview;
    const double right = limit.origin.x + limit.size.width;
    const double width = std::max(target, preview.size.width);
    const double height = std::max(documentWindow.size.height, preview.size.height);
    const double bottom = documentWindow.origin.y + documentWindow.size.height;
    Rect frame{{std::min(right - target, preview.origin.x), bottom - height}, {width, height}};
    return screen ? constrainedToWorkArea(frame, *screen) : frame;
}

std::string titleText(double contentScale, bool freeResizing, std::optional<Size> windowSize, double titleBarHeight)
{
    if (freeResizing && windowSize) {
        return wholeNumber(std::trunc(windowSize->width)) + " \u00D7 " +
            wholeNumber(std::trunc(windowSize->height - titleBarHeight));
    }
    return wholeNumber(std::round(contentScale * 100)) + "%";
}

Rect titleFrame(Size titleBar, Size fitting)
{
    const double width = std::max(0.0, titleBar.width - titleMargins);
    const double y = (titleBar.height - fitting.height) * 0.5;
    // Whole points: the origin rounded down, the far edges rounded up.
    const double left = std::floor(titleInset);
    const double top = std::floor(y);
    const double right = std::ceil(titleInset + width);
    const double bottom = std::ceil(y + fitting.height);
    return {{left, top}, {right - left, bottom - top}};
}

bool titleIsVisible(bool isLiveResizing, const Rect& titleFrame)
{
    return isLiveResizing && titleFrame.size.width >= minimumTitleWidth;
}

} // namespace kx::PreviewSizing
