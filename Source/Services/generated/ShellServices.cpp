// The services whose methods are left to the pages: their ids and interface fingerprints.

#include "Services/generated/FeedbackService.h"
#include "Services/generated/FeedbackDocument.h"
#include "Services/generated/PreviewDocument.h"
#include "Services/generated/PreviewFrame.h"
#include "Services/generated/PreviewRunner.h"
#include "Services/generated/ProjectPackage.h"
#include "Services/generated/ProjectState.h"
#include "Services/generated/PublicStoreClient.h"
#include "Services/generated/PrivateStoreClient.h"
#include "Services/generated/ToolOwner.h"
#include "Services/generated/ToolWrapper.h"
#include "Services/generated/TutorialDocument.h"
#include "Services/generated/TutorialFrame.h"
#include "Services/generated/UserNotifications.h"
#include "Services/generated/UserSessionService.h"
#include "Services/generated/ZzzTestingBeep.h"
#include "Services/generated/ZzzTestingStreams.h"
#include "Services/generated/ZzzTestingTypes.h"

namespace kx {

// Each definition is made once, on first use, and lives for the whole run.
const FeedbackService::Service& FeedbackService::service()
{
    static const Service instance("__FeedbackService__", "cde674998b100a170ecd62533471702b");
    return instance;
}

const FeedbackDocument::Service& FeedbackDocument::service()
{
    static const Service instance("__FeedbackDocument__", "f316d076af671791b1ed69919a2129e0");
    return instance;
}

const PreviewDocument::Service& PreviewDocument::service()
{
    static const Service instance("__PreviewDocument__", "c5b2e090b06d63580663acb891aa89e4");
    return instance;
}

const PreviewFrame::Service& PreviewFrame::service()
{
    static const Service instance("__PreviewFrame__", "6b155200058f6dfe60a8f71b6cc0b64f");
    return instance;
}

const PreviewRunner::Service& PreviewRunner::service()
{
    static const Service instance("__PreviewRunner__", "5f1d01d3b69123876a233343ca5aa5dd");
    return instance;
}

const ProjectPackage::Service& ProjectPackage::service()
{
    static const Service instance("__ProjectPackage__", "96cfe63ebdb9c2255053b1bdd3d5b2d7");
    return instance;
}

const ProjectState::Service& ProjectState::service()
{
    static const Service instance("__ProjectState__", "50972ef7cd90d1943851bf39d33bff4f");
    return instance;
}

const PublicStoreClient::Service& PublicStoreClient::service()
{
    static const Service instance("__PublicStoreClient__", "882df45d5efc655801f60e818aeebfe8");
    return instance;
}

const PrivateStoreClient::Service& PrivateStoreClient::service()
{
    static const Service instance("__PrivateStoreClient__", "aabe71fa97dd999e13941f880d26a1de");
    return instance;
}

const ToolOwner::Service& ToolOwner::service()
{
    static const Service instance("__ToolOwner__", "73f1a7b20c52b06a187154920dabfbc0");
    return instance;
}

const ToolWrapper::Service& ToolWrapper::service()
{
    static const Service instance("__ToolWrapper__", "f6994412d2fe05fd904e7d63de1d6635");
    return instance;
}

const TutorialDocument::Service& TutorialDocument::service()
{
    static const Service instance("__TutorialDocument__", "09500f7af19a34d02f3afac8a42a6e31");
    return instance;
}

const TutorialFrame::Service& TutorialFrame::service()
{
    static const Service instance("__TutorialFrame__", "46a0701f594121814f6e3a6fe7854341");
    return instance;
}

const UserNotifications::Service& UserNotifications::service()
{
    static const Service instance("__UserNotifications__", "ff3393f101564bd2e86cbc6fab2ec41c");
    return instance;
}

const UserSessionService::Service& UserSessionService::service()
{
    static const Service instance("__UserSessionService__", "e91ae0a33b7d5d847c66c76c703ea7f4");
    return instance;
}

const ZzzTestingBeep::Service& ZzzTestingBeep::service()
{
    static const Service instance("__ZzzTestingBeep__", "240f68761acb1487714af09b39006a90");
    return instance;
}

const ZzzTestingStreams::Service& ZzzTestingStreams::service()
{
    static const Service instance("__ZzzTestingStreams__", "b6535a25f1a7a1b6d5f91221e8e1a4a7");
    return instance;
}

const ZzzTestingTypes::Service& ZzzTestingTypes::service()
{
    static const Service instance("__ZzzTestingTypes__", "5b6593fde386c64f97f4899a1bc1e494");
    return instance;
}

} // namespace kx
