#pragma once

#include <ctime>
#include <filesystem>
#include <string>

#include "workflows/View.h"

namespace veltrin::workflows {

// "2021年5月3日9时5分7秒", dropping trailing zero parts: seconds, then minutes, then the hour.
std::string resultsTimeText(const std::tm& local);

// Writes the results box to "运行结果<time text>.txt" in the directory and says so in a box; a
// failed write says that instead of claiming success.
bool saveResultsLog(View& view, const std::filesystem::path& directory, const std::tm& local);
void clearResults(View& view);

namespace results_text {
inline constexpr std::string_view kSavedTitle = "导出成功";
inline constexpr std::string_view kNotSavedTitle = "导出失败";
}  // namespace results_text

}  // namespace veltrin::workflows
