#include "App/account/Experiments.h"

#include <glib.h>

#include "App/shell/ModalAlert.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/NativeMenuItem.h"
#include "Platform/UI/Responder.h"

namespace kx {

namespace {

std::function<void()>& reopenDocumentsHandler()
{
    static std::function<void()> handler;
    return handler;
}

const Experiments::Experiment* find(const std::string& name)
{
    for (const auto& experiment : Experiments::all()) {
        if (experiment.name == name)
            return &experiment;
    }
    return nullptr;
}

bool isVariant(const Experiments::Experiment& experiment, const nlohmann::json& value)
{
    if (!value.is_string())
        return false;
    for (const auto& variant : experiment.variants) {
        if (variant == value.get_ref<const std::string&>())
            return true;
    }
    return false;
}

// The menu items' target: the experiments have no window of their own in the chain.
class ExperimentsResponder final : public Responder {
public:
    ExperimentsResponder()
    {
        addAction(Experiments::toggleAction, [](Sender sender) { Experiments::toggleExperiment(sender); });
    }
    static ExperimentsResponder& shared()
    {
        static ExperimentsResponder* responder = new ExperimentsResponder();
        return *responder;
    }
};

std::string itemExperiment(const NativeMenuItem& item)
{
    const auto* name = std::any_cast<std::string>(&item.representedObject());
    return name ? *name : std::string();
}

} // namespace

const std::vector<Experiments::Experiment>& Experiments::all()
{
    static const std::vector<Experiment> experiments{
        {"welcomeWindowSketch", {"control", "sketch"}},
    };
    return experiments;
}

std::map<std::string, std::string> Experiments::selections()
{
    auto& defaults = UserDefaults::standard();
    auto decisions = defaults.objectForKey(decisionsKey);
    if (!decisions.is_object())
        decisions = nlohmann::json::object();
    const auto overrides = defaults.objectForKey(overridesKey);
    bool decided = false;
    std::map<std::string, std::string> result;
    for (const auto& experiment : all()) {
        if (!decisions.contains(experiment.name) || !isVariant(experiment, decisions[experiment.name])) {
            const auto index = g_random_int_range(0, int(experiment.variants.size()));
            decisions[experiment.name] = experiment.variants[size_t(index)];
            decided = true;
        }
        result[experiment.name] = decisions[experiment.name].get<std::string>();
        if (overrides.is_object() && overrides.contains(experiment.name) && isVariant(experiment, overrides[experiment.name]))
            result[experiment.name] = overrides[experiment.name].get<std::string>();
    }
    if (decided)
        defaults.setObject(decisionsKey, decisions);
    return result;
}

void Experiments::withVariant(const std::string& experiment, const std::function<void(const std::string&)>& body)
{
    const auto current = selections();
    if (auto it = current.find(experiment); it != current.end())
        body(it->second);
}

std::shared_ptr<NativeMenu> Experiments::generateMenu()
{
    auto menu = NativeMenu::make();
    const auto current = selections();
    for (const auto& experiment : all()) {
        auto item = NativeMenuItem::make(experiment.name, toggleAction);
        item->setTarget(&ExperimentsResponder::shared());
        item->setRepresentedObject(experiment.name);
        item->setState(current.at(experiment.name) != experiment.variants.front() ? NativeMenuItem::State::on
                                                                                  : NativeMenuItem::State::off);
        menu->addItem(item);
    }
    return menu;
}

void Experiments::toggleExperiment(ValidatedUserInterfaceItem* sender)
{
    NativeMenuItem* item = sender ? sender->asMenuItem() : nullptr;
    if (!item)
        return;
    const std::string name = itemExperiment(*item);
    toggleExperiment(name);
    if (const auto* experiment = find(name)) {
        item->setState(selections().at(name) != experiment->variants.front() ? NativeMenuItem::State::on
                                                                             : NativeMenuItem::State::off);
    }
}

void Experiments::toggleExperiment(const std::string& name)
{
    const Experiment* experiment = find(name);
    if (!experiment || experiment->variants.size() < 2)
        return;
    const std::string selected = selections().at(name);
    const std::string next = selected == experiment->variants.front() ? experiment->variants[1] : experiment->variants.front();
    auto& defaults = UserDefaults::standard();
    auto overrides = defaults.objectForKey(overridesKey);
    if (!overrides.is_object())
        overrides = nlohmann::json::object();
    overrides[name] = next;
    defaults.setObject(overridesKey, overrides);
    RKLog("Experiment " + name + ": " + next, RKLogKind::general);

    auto alert = ModalAlert::alertWithMessageText("Reopen documents to apply the experiment?", "Reopen Documents",
                                                  std::string("Not Now"), std::nullopt,
                                                  "“" + name + "” now uses the variant “" + next
                                                      + "”. Open documents show it once they are reopened.");
    alert->setAlertStyle(Alert::Style::informational);
    if (alert->runModal() == Alert::firstButtonReturn && reopenDocumentsHandler())
        reopenDocumentsHandler()();
}

void Experiments::setReopenDocumentsHandler(std::function<void()> handler)
{
    reopenDocumentsHandler() = std::move(handler);
}

} // namespace kx
