#pragma once

#include <string_view>

// The main window's controls by their form names, which are also their object names in the
// window, so code, tests and tools find them by the same name.
namespace veltrin::workflows::control {

inline constexpr std::string_view 按钮_保存结果 = "按钮_保存结果";
inline constexpr std::string_view 按钮_修复故障 = "按钮_修复故障";
inline constexpr std::string_view 按钮_刷新服务器列表 = "按钮_刷新服务器列表";
inline constexpr std::string_view 按钮_启用本地网络 = "按钮_启用本地网络";
inline constexpr std::string_view 按钮_断开 = "按钮_断开";
inline constexpr std::string_view 按钮_查询当前ip = "按钮_查询当前ip";
inline constexpr std::string_view 按钮_测试 = "按钮_测试";
inline constexpr std::string_view 按钮_清空结果 = "按钮_清空结果";
inline constexpr std::string_view 按钮_禁用本地网络 = "按钮_禁用本地网络";
inline constexpr std::string_view 按钮_记住所有配置 = "按钮_记住所有配置";
inline constexpr std::string_view 按钮_踢下线 = "按钮_踢下线";
inline constexpr std::string_view 按钮_连接 = "按钮_连接";
inline constexpr std::string_view 按钮_高级设置 = "按钮_高级设置";

inline constexpr std::string_view 选择框_IE缓存和cookie = "选择框_IE缓存和cookie";
inline constexpr std::string_view 选择框_启动过滤重复ip = "选择框_启动过滤重复ip";
inline constexpr std::string_view 选择框_定时连断 = "选择框_定时连断";
inline constexpr std::string_view 选择框_总在最前 = "选择框_总在最前";
inline constexpr std::string_view 选择框_找回指定ip = "选择框_找回指定ip";
inline constexpr std::string_view 选择框_掉线重拨 = "选择框_掉线重拨";
inline constexpr std::string_view 选择框_掉线音效 = "选择框_掉线音效";
inline constexpr std::string_view 选择框_是否断网 = "选择框_是否断网";
inline constexpr std::string_view 选择框_服务器列表拨号 = "选择框_服务器列表拨号";
inline constexpr std::string_view 选择框_热键 = "选择框_热键";
inline constexpr std::string_view 选择框_记录每次连接ip = "选择框_记录每次连接ip";
inline constexpr std::string_view 选择框_连接成功系统托盘 = "选择框_连接成功系统托盘";

inline constexpr std::string_view 单选框_L2TP = "单选框_L2TP";
inline constexpr std::string_view 单选框_PPTP = "单选框_PPTP";
inline constexpr std::string_view 单选框_SSTP = "单选框_SSTP";
inline constexpr std::string_view 单选框_分析IP前三组 = "单选框_分析IP前三组";
inline constexpr std::string_view 单选框_四组 = "单选框_四组";

inline constexpr std::string_view 编辑框_列表结果显示 = "编辑框_列表结果显示";
inline constexpr std::string_view 编辑框_密码 = "编辑框_密码";
inline constexpr std::string_view 编辑框_找回指定ip = "编辑框_找回指定ip";
inline constexpr std::string_view 编辑框_接收信息 = "编辑框_接收信息";
inline constexpr std::string_view 编辑框_搜索输入 = "编辑框_搜索输入";
inline constexpr std::string_view 编辑框_用户名 = "编辑框_用户名";
inline constexpr std::string_view 编辑框_监控时间秒 = "编辑框_监控时间秒";
inline constexpr std::string_view 编辑框_监控计次 = "编辑框_监控计次";
inline constexpr std::string_view 编辑框_连断时间秒 = "编辑框_连断时间秒";
inline constexpr std::string_view 编辑框_连断计次 = "编辑框_连断计次";

inline constexpr std::string_view 标签_热键标签 = "标签_热键标签";
inline constexpr std::string_view 标签_用户过期时间查询 = "标签_用户过期时间查询";

inline constexpr std::string_view 超级列表框_线路超级列表1 = "超级列表框_线路超级列表1";
inline constexpr std::string_view 超级列表框_线路超级列表2 = "超级列表框_线路超级列表2";
inline constexpr std::string_view 超级列表框_线路超级列表3 = "超级列表框_线路超级列表3";

inline constexpr std::string_view 时钟_定时自动换ip = "时钟_定时自动换ip";
inline constexpr std::string_view 时钟_时间大于50秒出现重复ip定时自动换ip =
    "时钟_时间大于50秒出现重复ip定时自动换ip";
inline constexpr std::string_view 时钟_自动列表循环 = "时钟_自动列表循环";

}  // namespace veltrin::workflows::control
