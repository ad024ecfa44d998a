// One row of the start window's recent documents: the document's name above the folder that
// holds it, both cut at the end when too long. The texts and their places are worked out
// when the row first joins the list, from the size it has then; the colours follow the state
// the row's background last painted.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "App/shell/Color.h"
#include "App/welcome/WelcomeWindowRowSelectionProtocol.h"
#include "App/shell/widgets/Font.h"
#include "App/shell/widgets/View.h"

namespace kx {

class WelcomeWindowRecentsRowView : public View, public WelcomeWindowRowSelectionProtocol {
public:
    // What the row shows: one recent document.
    struct Contents {
        std::filesystem::path url;
        static Contents document(std::filesystem::path url) { return {std::move(url)}; }
    };
    // One line of text drawn by the row.
    struct Label {
        std::string text;
        Rect frame;
        Font font;
        Color textColor;
        bool hidden = false;
    };

    WelcomeWindowRecentsRowView();

    // Set before the row joins the list; later changes are not shown.
    Contents contents = Contents::document("/");
    // The desktop's text scale, by which the places of the texts grow as the texts do.
    double scale = 1;

    const std::optional<Label>& titleLabel() const { return titleLabel_; }
    const std::optional<Label>& pathLabel() const { return pathLabel_; }
    WelcomeWindowRecentsRowState rowState() const { return rowState_; }

    void setRowState(WelcomeWindowRecentsRowState state) override;

    // The document's name: its file name without ".korvelx" (every occurrence). Both texts are
    // UTF-8, bytes that are not made visible as replacement characters.
    static std::string titleText(const std::filesystem::path& url);
    // The folder that holds it, a leading `home` folder shown as "~".
    static std::string pathText(const std::filesystem::path& url, const std::filesystem::path& home);
    static Label labelWithText(const std::string& text);

private:
    void viewDidMoveToSuperview();
    void draw(cairo_t* cr) const;

    std::optional<Label> titleLabel_;
    std::optional<Label> pathLabel_;
    WelcomeWindowRecentsRowState rowState_ = WelcomeWindowRecentsRowState::normal;
};

} // namespace kx
