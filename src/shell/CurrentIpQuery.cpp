// Kept apart: service/IpLookup.h and service/Expiry.h each declare their own service::Rgb.
#include "shell/CurrentIpQuery.h"

#include "service/IpLookup.h"
#include "workflows/StatusChannel.h"
#include "workflows/Workers.h"

namespace veltrin::shell {

void startCurrentIpQuery(workflows::View& view) {
    service::skipSecondPage = 1;
    workflows::startWorker([&view] {
        const auto report = service::queryCurrentIp();
        view.setText(workflows::kStatusLine, report.statusLine);
        view.setStatusColour(
            {report.statusColour.red, report.statusColour.green, report.statusColour.blue});
        view.appendResult(report.resultsAppend);
    });
}

}  // namespace veltrin::shell
