// Every service definition, in the order of the interface description: the id ("__<Name>__"),
// the interface fingerprint that the page compares before a call, and the wrappers made from
// each service's method list. The fingerprints are fixed: pages built against an interface
// carry the same text.

#include "Services/generated/Beep.h"
#include "Services/generated/Clipboard.h"
#include "Services/generated/ColorSampler.h"
#include "Services/generated/ContextMenuPresenter.h"
#include "Services/generated/FeedbackDocument.h"
#include "Services/generated/FeedbackService.h"
#include "Services/generated/GestureEventTarget.h"
#include "Services/generated/MenuActionTarget.h"
#include "Services/generated/PreviewDocument.h"
#include "Services/generated/PreviewFrame.h"
#include "Services/generated/PreviewRunner.h"
#include "Services/generated/PrivateStoreClient.h"
#include "Services/generated/ProjectPackage.h"
#include "Services/generated/ProjectState.h"
#include "Services/generated/PublicStoreClient.h"
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

KX_SERVICE_DEFINITION(Beep, "61a1004615dc1e33269b7165105b3499")
KX_SERVICE_DEFINITION(Clipboard, "fcb5905c78b9ae9e68996493a0e20675")
KX_SERVICE_DEFINITION(ColorSampler, "47e58950414de7a0679a8b7847789793")
KX_SERVICE_DEFINITION(FeedbackService, "cde674998b100a170ecd62533471702b")
KX_SERVICE_DEFINITION(FeedbackDocument, "f316d076af671791b1ed69919a2129e0")
KX_SERVICE_DEFINITION(GestureEventTarget, "eea70ddc08f14b4c6d18b1989490f536")
KX_SERVICE_DEFINITION(MenuActionTarget, "c4db8a6e44e670207d8e4fa156aa7438")
KX_SERVICE_DEFINITION(ContextMenuPresenter, "a93df917284e037b101c5c2e51738ad7")
KX_SERVICE_DEFINITION(PreviewDocument, "c5b2e090b06d63580663acb891aa89e4")
KX_SERVICE_DEFINITION(PreviewFrame, "6b155200058f6dfe60a8f71b6cc0b64f")
KX_SERVICE_DEFINITION(PreviewRunner, "5f1d01d3b69123876a233343ca5aa5dd")
KX_SERVICE_DEFINITION(ProjectPackage, "96cfe63ebdb9c2255053b1bdd3d5b2d7")
KX_SERVICE_DEFINITION(ProjectState, "50972ef7cd90d1943851bf39d33bff4f")
KX_SERVICE_DEFINITION(PublicStoreClient, "882df45d5efc655801f60e818aeebfe8")
KX_SERVICE_DEFINITION(PrivateStoreClient, "aabe71fa97dd999e13941f880d26a1de")
KX_SERVICE_DEFINITION(ToolOwner, "73f1a7b20c52b06a187154920dabfbc0")
KX_SERVICE_DEFINITION(ToolWrapper, "f6994412d2fe05fd904e7d63de1d6635")
KX_SERVICE_DEFINITION(TutorialDocument, "09500f7af19a34d02f3afac8a42a6e31")
KX_SERVICE_DEFINITION(TutorialFrame, "46a0701f594121814f6e3a6fe7854341")
KX_SERVICE_DEFINITION(UserNotifications, "ff3393f101564bd2e86cbc6fab2ec41c")
KX_SERVICE_DEFINITION(UserSessionService, "e91ae0a33b7d5d847c66c76c703ea7f4")
KX_SERVICE_DEFINITION(ZzzTestingBeep, "240f68761acb1487714af09b39006a90")
KX_SERVICE_DEFINITION(ZzzTestingStreams, "b6535a25f1a7a1b6d5f91221e8e1a4a7")
KX_SERVICE_DEFINITION(ZzzTestingTypes, "5b6593fde386c64f97f4899a1bc1e494")

} // namespace kx
