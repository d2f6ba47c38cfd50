#include "service/Logoff.h"

#include "service/Account.h"
#include "text/LocalText.h"

namespace veltrin::service {

LogoffOutcome logoffCore(std::string_view name, const RemoteParameters& parameters) {
    LogoffOutcome o;
    o.checkAnswer = accountCheck(name, parameters);
    if (o.checkAnswer.empty()) {
        return o;
    }
    o.data = std::string(text::trimmed(answerData(o.checkAnswer)));
    if (o.data.empty() || o.data == "null") {
        return o;
    }
    const std::string id = sessionIdOf(o.data);
    if (id.empty()) {
        return o;  // a session we cannot name cannot be ended
    }
    o.logoffSent = true;
    o.logoffAnswer = sessionLogoff(id, parameters);
    return o;
}

std::vector<std::string> forceLogoffMessages(const LogoffOutcome& o) {
    std::vector<std::string> messages;
    if (o.checkAnswer.empty()) {
        return messages;
    }
    if (o.data == "null") {
        messages.push_back("您的用户名不在线状态，不需要踢下线，直接连接使用即可！");
    } else if (o.logoffSent && !o.logoffAnswer.empty()) {
        messages.push_back(answerInfo(o.logoffAnswer) + "！请重新连接使用即可！");
    } else if (o.logoffSent) {
        messages.push_back("踢线失败！");
    }
    const std::string info = answerInfo(o.checkAnswer);
    if (!text::trimmed(info).empty()) {
        messages.push_back(info);
    }
    return messages;
}

void forceLogoff(std::string_view name, LogoffView& view, const RemoteParameters& parameters) {
    view.setLogoffButtonEnabled(false);
    for (const auto& message : forceLogoffMessages(logoffCore(name, parameters))) {
        view.showInformation(message);
    }
    view.setLogoffButtonEnabled(true);
}

void forceLogoff(std::string_view name, LogoffView& view) {
    forceLogoff(name, view, *loadRemoteParameters());
}

void releaseSessionQuietly(std::string_view name, const RemoteParameters& parameters) {
    logoffCore(name, parameters);
}

void releaseSessionQuietly(std::string_view name) {
    releaseSessionQuietly(name, *loadRemoteParameters());
}

}  // namespace veltrin::service
