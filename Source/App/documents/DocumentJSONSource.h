// The working container's source of the document's "design/document.json": the editor's page.
// Its data is empty and to be provided at first; its reader keeps nothing (the page loads the
// file itself); its provider asks the page through the editor view controller, and fails with
// NimbetError's viewControllerGone once the controller is gone. The document reports the page's
// changes to it (setDataNeedsToBeProvided). Main thread only.
#pragma once

#include <memory>

#include "App/documents/KVDocumentContainerDataSource.h"
#include "App/editor/NimbetError.h"
#include "App/editor/NimbetViewController.h"

namespace kx {

inline std::shared_ptr<KVDocumentContainerDataSource> makeDocumentJSONSource(std::weak_ptr<NimbetViewController> editor)
{
    using Source = KVDocumentContainerDataSource;
    auto provider = [editor = std::move(editor)](Source::ProviderCompletion completion) {
        auto controller = editor.lock();
        if (!controller)
            return completion(Result<Source::Data, Error>::failure(NimbetError::error(NimbetError::Code::viewControllerGone)));
        controller->requestDocument(std::move(completion));
    };
    return std::make_shared<Source>([](const Source::Data&) {}, std::move(provider));
}

} // namespace kx
