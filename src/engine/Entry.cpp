#include "engine/Entry.h"

#include "text/LocalText.h"

namespace veltrin::engine {

VpnEntry makeVpnEntry(std::string_view serverAddress, int protocolCode) {
    VpnEntry e;
    e.szLocalPhoneNumber = std::string(serverAddress);
    e.dwVpnStrategy = static_cast<std::uint32_t>(protocolCode);
    return e;
}

Credentials makeCredentials(std::string_view userName, std::string_view password) {
    Credentials c;
    c.szUserName = std::string(userName);
    c.szPassword = std::string(password);
    return c;
}

DialParams makeDialParams(std::string_view entryName, std::string_view userName,
                          std::string_view password) {
    DialParams p;
    p.szEntryName = std::string(entryName);
    p.szUserName = std::string(userName);
    p.szPassword = std::string(password);
    return p;
}

std::optional<std::string> oversizeReason(std::string_view entryName, std::string_view userName,
                                          std::string_view password,
                                          std::string_view serverAddress) {
    if (text::localLength(serverAddress) > kMaxServerAddressBytes) {
        return "服务器地址过长（最多128字节），未拨号，请检查服务器地址！";
    }
    if (text::localLength(userName) > kMaxNameBytes) {
        return "用户名过长（最多256字节），未拨号，请检查用户名！";
    }
    if (text::localLength(password) > kMaxNameBytes) {
        return "密码过长（最多256字节），未拨号，请检查密码！";
    }
    if (text::localLength(entryName) > kMaxNameBytes) {
        return "连接名称过长（最多256字节），未拨号！";
    }
    return std::nullopt;
}

}  // namespace veltrin::engine
