// How a row of the recent-documents list is drawn, and the views that follow it: the row's
// background tells its cell which state it painted.
#pragma once

namespace kx {

enum class WelcomeWindowRecentsRowState { selected, normal };

class WelcomeWindowRowSelectionProtocol {
public:
    virtual ~WelcomeWindowRowSelectionProtocol() = default;
    virtual void setRowState(WelcomeWindowRecentsRowState state) = 0;
};

} // namespace kx
