// A/B experiments decided on this machine: each experiment's variant is drawn once at random
// and kept in the user defaults, and a user's override (from the Experiments menu of internal
// builds) takes its place. No back end is asked.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kx {

class NativeMenu;
class NativeMenuItem;
class ValidatedUserInterfaceItem;

class Experiments {
public:
    struct Experiment {
        std::string name;
        std::vector<std::string> variants; // the first is the control
    };

    static constexpr const char* decisionsKey = "PDExperimentDecisions";
    static constexpr const char* overridesKey = "PDExperimentOverrides";
    static constexpr const char* toggleAction = "toggleExperiment:";

    static const std::vector<Experiment>& all();

    // Experiment name -> selected variant: the decision, or the user's override.
    static std::map<std::string, std::string> selections();
    // Calls `body` with the experiment's variant when it has one.
    static void withVariant(const std::string& experiment, const std::function<void(const std::string&)>& body);

    // One on/off item per experiment ("on": a variant other than the control).
    static std::shared_ptr<NativeMenu> generateMenu();
    // The items' action: switches the experiment's override between the control and the
    // other variant, then offers to reopen the open documents so that they show it.
    static void toggleExperiment(ValidatedUserInterfaceItem* sender);
    static void toggleExperiment(const std::string& experiment);

    // Closes the open documents and opens them again; the document controller installs it.
    static void setReopenDocumentsHandler(std::function<void()> handler);
};

} // namespace kx
