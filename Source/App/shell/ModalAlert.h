// The alert factory of the shell: an alert with a message, up to three buttons and an
// informative text, made but not shown.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/UI/Alert.h"

namespace kx {

class ModalAlert {
public:
    // Buttons in this order: the default (first, Return), then the alternate and the other
    // when given.
    static std::shared_ptr<Alert> alertWithMessageText(const std::string& messageText, const std::string& defaultButton,
                                                       const std::optional<std::string>& alternateButton,
                                                       const std::optional<std::string>& otherButton,
                                                       const std::string& informativeText);
};

} // namespace kx
