#include "workflows/ResultsLog.h"

#include "text/Files.h"
#include "text/LocalText.h"
#include "workflows/StatusChannel.h"

namespace veltrin::workflows {

std::string resultsTimeText(const std::tm& t) {
    std::string text = std::to_string(t.tm_year + 1900) + "年" + std::to_string(t.tm_mon + 1) +
                       "月" + std::to_string(t.tm_mday) + "日";
    if (t.tm_sec != 0) {
        return text + std::to_string(t.tm_hour) + "时" + std::to_string(t.tm_min) + "分" +
               std::to_string(t.tm_sec) + "秒";
    }
    if (t.tm_min != 0) {
        return text + std::to_string(t.tm_hour) + "时" + std::to_string(t.tm_min) + "分";
    }
    if (t.tm_hour != 0) {
        return text + std::to_string(t.tm_hour) + "时";
    }
    return text;
}

bool saveResultsLog(View& view, const std::filesystem::path& directory, const std::tm& local) {
    const std::string time = resultsTimeText(local);
    const auto path = directory / ("运行结果" + time + ".txt");
    const bool ok = text::writeFileAtomically(path, text::toLocal(view.text(kResultsBox)));
    if (ok) {
        view.showMessage("生成txt文本已成功，请查看本软件所在目录vlset目录下，名称为【运行结果" +
                             time + ".txt】的文件！",
                         message_style::kPlain, std::string(results_text::kSavedTitle));
    } else {
        view.showMessage("生成txt文本失败：无法写入本软件所在目录vlset目录下的【运行结果" + time +
                             ".txt】文件，请检查目录是否可写！",
                         message_style::kPlain, std::string(results_text::kNotSavedTitle));
    }
    return ok;
}

void clearResults(View& view) {
    view.setText(kResultsBox, "");
}

}  // namespace veltrin::workflows
