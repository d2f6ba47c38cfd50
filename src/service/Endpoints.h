#pragma once

#include <string>

namespace veltrin::service {

// The built-in endpoints by role. Each is stored enciphered and deciphered on every use.
enum class Endpoint {
    remoteParameters,  // the remote parameter text
    noticePage,        // the main window's notice box
    signupPage,        // sign-up and renewal page
    tutorialInfo,      // video-tutorial information text
    termsPage,         // terms of service, opened in the browser
    accountCheck,      // account check when the remote parameters give none
    onlineStatus,      // online status and log-off when the remote parameters give none
    expiryBeforeUser,  // expiry query up to the account name
    expirySeparator,   // eight characters between account name and password
    serviceTime,       // the service's own time source
    publicTime,        // public time page when the remote parameters give none
    serverList,        // server list when the remote parameters give none
    speedList,         // line speed and remark list
    addressEcho,       // the service's own address-echo page
};

// The deciphered address (UTF-8). Not cached: callers use it at once and let it go.
std::string endpointAddress(Endpoint role);

}  // namespace veltrin::service
