#include "App/shell/widgets/AttributedTitle.h"

#include <algorithm>
#include <cmath>

#include <pango/pangocairo.h>

namespace kx {

namespace {

guint16 channel(double value)
{
    return guint16(std::lround(std::clamp(value, 0.0, 1.0) * 65535));
}

void insert(PangoAttrList* list, PangoAttribute* attribute)
{
    attribute->start_index = 0;
    attribute->end_index = PANGO_ATTR_INDEX_TO_TEXT_END;
    pango_attr_list_insert(list, attribute);
}

} // namespace

GObjectRef<PangoLayout> AttributedTitle::layout(cairo_t* cr, double width) const
{
    auto context = Font::context(cr);
    // Smoothed glyphs at fractional positions, the hinting that would snap them off.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context.get(), options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context.get(), FALSE);

    auto made = GObjectRef<PangoLayout>::adopt(pango_layout_new(context.get()));
    PangoLayout* layout = made.get();
    pango_layout_set_text(layout, text.c_str(), -1);
    PangoFontDescription* description = font.description();
    pango_layout_set_font_description(layout, description);

    PangoAttrList* attributes = pango_attr_list_new();
    insert(attributes, pango_attr_foreground_new(channel(foreground.red), channel(foreground.green), channel(foreground.blue)));
    insert(attributes, pango_attr_foreground_alpha_new(channel(foreground.alpha)));
    if (background && background->alpha > 0) {
        insert(attributes, pango_attr_background_new(channel(background->red), channel(background->green), channel(background->blue)));
        insert(attributes, pango_attr_background_alpha_new(std::max<guint16>(1, channel(background->alpha))));
    }
    if (std::isfinite(kern) && kern != 0)
        insert(attributes, pango_attr_letter_spacing_new(int(std::lround(kern * PANGO_SCALE))));
    if (maximumLineHeight && *maximumLineHeight > 0) {
        PangoFontMetrics* metrics = pango_context_get_metrics(pango_layout_get_context(layout), description, nullptr);
        const double natural = double(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics)) / PANGO_SCALE;
        pango_font_metrics_unref(metrics);
        if (natural > *maximumLineHeight)
            insert(attributes, pango_attr_line_height_new_absolute(int(std::lround(*maximumLineHeight * PANGO_SCALE))));
    }
    pango_layout_set_attributes(layout, attributes);
    pango_attr_list_unref(attributes);
    pango_font_description_free(description);

    if (width > 0)
        pango_layout_set_width(layout, int(std::lround(width * PANGO_SCALE)));
    switch (alignment) {
    case TextAlignment::right:
        pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
        break;
    case TextAlignment::center:
        pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
        break;
    case TextAlignment::justified:
        pango_layout_set_justify(layout, TRUE);
        pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
        break;
    case TextAlignment::left:
    case TextAlignment::natural:
        pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
        break;
    }
    return made;
}

void AttributedTitle::draw(cairo_t* cr, const Rect& bounds) const
{
    if (text.empty() || bounds.size.width <= 0)
        return;
    auto titleLayout = layout(cr, bounds.size.width);
    PangoRectangle logical;
    pango_layout_get_extents(titleLayout.get(), nullptr, &logical);
    const double height = double(logical.height) / PANGO_SCALE;
    cairo_save(cr);
    cairo_move_to(cr, bounds.origin.x, bounds.origin.y + (bounds.size.height - height) / 2);
    pango_cairo_show_layout(cr, titleLayout.get());
    cairo_restore(cr);
}

Size AttributedTitle::measure(double width) const
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(surface);
    PangoRectangle logical;
    pango_layout_get_extents(layout(cr, width).get(), nullptr, &logical);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return {double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE};
}

} // namespace kx
