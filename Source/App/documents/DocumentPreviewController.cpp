#include "App/documents/DocumentPreviewController.h"

namespace kx {

namespace {

DocumentPreviewController::Factory& storedFactory()
{
    static DocumentPreviewController::Factory factory;
    return factory;
}

} // namespace

void DocumentPreviewController::setFactory(Factory factory)
{
    storedFactory() = std::move(factory);
}

const DocumentPreviewController::Factory& DocumentPreviewController::factory()
{
    return storedFactory();
}

} // namespace kx
