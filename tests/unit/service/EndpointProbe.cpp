// Prints every built-in endpoint, one a line. The endpoint test runs it and also checks that its
// bytes hold no endpoint in clear text.
#include <iostream>

#include "service/Endpoints.h"

int main() {
    using veltrin::service::Endpoint;
    for (const auto role : {Endpoint::remoteParameters, Endpoint::noticePage, Endpoint::signupPage,
                            Endpoint::tutorialInfo, Endpoint::termsPage, Endpoint::accountCheck,
                            Endpoint::onlineStatus, Endpoint::expiryBeforeUser,
                            Endpoint::expirySeparator, Endpoint::serviceTime, Endpoint::publicTime,
                            Endpoint::serverList, Endpoint::speedList, Endpoint::addressEcho}) {
        std::cout << veltrin::service::endpointAddress(role) << '\n';
    }
    return 0;
}
