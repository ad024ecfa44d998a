#include "App/shell/ModalAlert.h"

namespace kx {

std::shared_ptr<Alert> ModalAlert::alertWithMessageText(const std::string& messageText, const std::string& defaultButton,
                                                        const std::optional<std::string>& alternateButton,
                                                        const std::optional<std::string>& otherButton,
                                                        const std::string& informativeText)
{
    auto alert = Alert::make();
    alert->setMessageText(messageText);
    alert->addButton(defaultButton);
    if (alternateButton)
        alert->addButton(*alternateButton);
    if (otherButton)
        alert->addButton(*otherButton);
    alert->setInformativeText(informativeText);
    return alert;
}

} // namespace kx
