#pragma once

#include <filesystem>

namespace veltrin::platform {

// Wipes the current user's Firefox, Chromium and Google Chrome traces under the given home
// folder, in this order: cookies, caches, typed addresses, history. Nothing outside the home
// folder is touched: a path that resolves outside it (a symlink pointing out) is skipped. Every
// failure is ignored and nothing is reported.
void clearBrowserTraces(const std::filesystem::path& home);

// Empties a folder the way history folders are emptied: read-only bits are cleared, subfolders
// are emptied and removed, "desktop.ini" stays, "index.dat" is overwritten with zeros from byte
// 64 on and then deleted, every other file is deleted (letter case of names ignored). Symlinks
// are neither followed nor deleted. Every failure is ignored; the folder itself stays.
void emptyFolder(const std::filesystem::path& folder);

}  // namespace veltrin::platform
