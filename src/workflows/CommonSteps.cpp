#include "workflows/CommonSteps.h"

#include <chrono>
#include <random>

#include "text/LocalText.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {

namespace c = control;

std::string trimmedText(View& view, std::string_view control) {
    return std::string(text::trimmed(view.text(control)));
}

void startIf(const std::function<void()>& action) {
    if (action) {
        startWorker(action);
    }
}

std::string_view visibleServerList(View& view) {
    return view.isVisible(c::超级列表框_线路超级列表2) ? c::超级列表框_线路超级列表2
                                                       : c::超级列表框_线路超级列表1;
}

bool isMixMarker(std::string_view marker) {
    return marker == "1" || marker == "2";
}

int drawRow(int count) {
    if (count <= 0) {
        return 0;
    }
    std::mt19937 random(
        static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
    return std::uniform_int_distribution<int>(0, count - 1)(random);
}

std::optional<RowAddress> selectedRowAddress(View& view, int column) {
    const auto list = visibleServerList(view);
    const int row = view.selectedRow(list);
    if (row < 0) {
        return std::nullopt;
    }
    if (isMixMarker(view.cell(list, row, 7))) {
        const int drawn = drawRow(view.rowCount(c::超级列表框_线路超级列表3));
        return RowAddress{view.cell(c::超级列表框_线路超级列表3, drawn, column), drawn};
    }
    return RowAddress{view.cell(list, row, column), std::nullopt};
}

int takeProtocolFromRadios(MainContext& ctx) {
    View& v = ctx.view;
    int code = 0;
    if (v.isTicked(c::单选框_PPTP)) {
        code = engine::kPptp;
    } else if (v.isTicked(c::单选框_L2TP)) {
        code = engine::kL2tp;
    } else if (v.isTicked(c::单选框_SSTP)) {
        code = engine::kSstp;
    } else {
        return 0;
    }
    ctx.state.protocolCode = code;
    v.setTicked(c::单选框_PPTP, code == engine::kPptp);
    v.setTicked(c::单选框_L2TP, code == engine::kL2tp);
    v.setTicked(c::单选框_SSTP, code == engine::kSstp);
    return code;
}

void setLockedControls(View& view, bool enabled) {
    for (auto control : {c::按钮_连接, c::按钮_高级设置, c::编辑框_用户名, c::编辑框_密码,
                         c::超级列表框_线路超级列表1, c::超级列表框_线路超级列表2}) {
        view.setEnabled(control, enabled);
    }
}

void provisionCurrentLine(MainContext& ctx, const std::string& entryName) {
    ctx.engine.provisionEntry(
        entryName, trimmedText(ctx.view, c::编辑框_用户名), trimmedText(ctx.view, c::编辑框_密码),
        std::string(text::trimmed(ctx.state.serverAddress.get())), ctx.state.protocolCode);
}

void dialFromWindow(MainContext& ctx, const std::string& entryName) {
    ctx.engine.dialEntry(entryName, trimmedText(ctx.view, c::编辑框_用户名),
                         trimmedText(ctx.view, c::编辑框_密码), &ctx.view, kStatusLine);
}

}  // namespace veltrin::workflows
