#include "service/Endpoints.h"

#include "service/Cipher.h"
#include "service/EndpointConstants.h"
#include "text/LocalText.h"

namespace veltrin::service {

namespace {

const char* constantFor(Endpoint role) {
    namespace c = endpoint_constants;
    switch (role) {
        case Endpoint::remoteParameters:
            return c::kRemoteParameters;
        case Endpoint::noticePage:
            return c::kNoticePage;
        case Endpoint::signupPage:
            return c::kSignupPage;
        case Endpoint::tutorialInfo:
            return c::kTutorialInfo;
        case Endpoint::termsPage:
            return c::kTermsPage;
        case Endpoint::accountCheck:
            return c::kAccountCheck;
        case Endpoint::onlineStatus:
            return c::kOnlineStatus;
        case Endpoint::expiryBeforeUser:
            return c::kExpiryBeforeUser;
        case Endpoint::expirySeparator:
            return c::kExpirySeparator;
        case Endpoint::serviceTime:
            return c::kServiceTime;
        case Endpoint::publicTime:
            return c::kPublicTime;
        case Endpoint::serverList:
            return c::kServerList;
        case Endpoint::speedList:
            return c::kSpeedList;
        case Endpoint::addressEcho:
            return c::kAddressEcho;
    }
    return "";
}

}  // namespace

std::string endpointAddress(Endpoint role) {
    return text::fromLocal(decipherConstant(constantFor(role), kCipherKey));
}

}  // namespace veltrin::service
