#include <gtest/gtest.h>

#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace veltrin::workflows {
namespace {

TEST(StatusChannel, ConnectedIsComparedTrimmedAndExact) {
    const std::pair<std::string, bool> cases[] = {
        {"连接成功", true},      {"  连接成功 ", true}, {"\r\n连接成功\t", true},
        {"连接成功！", false},   {"连接 成功", false},  {"", false},
        {"正在打开端口", false},
    };
    for (const auto& [text, connected] : cases) {
        EXPECT_EQ(statusIs(text, status::kConnected), connected) << "[" << text << "]";
    }
}

TEST(StatusChannel, DialLeftNoTraceOnlyForEmptyStopAndRepairTexts) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"   ", true},
        {" 注意：已手动停止并成功断开连接，请重新连接使用。", true},
        {"自动修复故障已完成，请连接使用！ ", true},
        {"正在打开端口", false},
        {"连接成功", false},
        {"注意：已手动停止并成功断开连接", false},
    };
    for (const auto& [text, none] : cases) {
        EXPECT_EQ(dialLeftNoTrace(text), none) << "[" << text << "]";
    }
}

TEST(ShowMessage, DefaultsToInformationIconAndFriendlyTitle) {
    MemoryView view;
    view.showMessage("a");
    view.showMessage("b", message_style::kPlain, "特别提示");
    view.showMessage("c", message_style::kPlain);
    const auto m = view.messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(std::tie(m[0].text, m[0].style, m[0].title), std::make_tuple("a", 0x40, "友情提醒"));
    EXPECT_EQ(std::tie(m[1].text, m[1].style, m[1].title), std::make_tuple("b", 0, "特别提示"));
    EXPECT_EQ(std::tie(m[2].style, m[2].title), std::make_tuple(0, "友情提醒"));
}

TEST(ResultsBox, StartsWithNoticeAndOnlyGrowsAtTheEnd) {
    MemoryView view;
    EXPECT_EQ(view.text(kResultsBox), " 【严禁非法用途，所有使用后果自负！】");
    view.appendResult("\r\n1.2.3.4");
    view.appendResult("\r\n5.6.7.8");
    EXPECT_EQ(view.text(kResultsBox),
              " 【严禁非法用途，所有使用后果自负！】\r\n1.2.3.4\r\n5.6.7.8");
}

}  // namespace
}  // namespace veltrin::workflows
