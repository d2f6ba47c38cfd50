#include "workflows/MemoryView.h"

#include "workflows/StatusChannel.h"

namespace veltrin::workflows {

MemoryView::MemoryView() {
    texts_[std::string(kResultsBox)] = std::string(kResultsStartText);
}

std::string MemoryView::text(std::string_view control) {
    std::lock_guard lock(mutex_);
    const auto it = texts_.find(control);
    return it == texts_.end() ? std::string() : it->second;
}

void MemoryView::setText(std::string_view control, const std::string& text) {
    std::function<void(std::string_view, const std::string&)> listener;
    {
        std::lock_guard lock(mutex_);
        texts_[std::string(control)] = text;
        history_[std::string(control)].push_back(text);
        listener = listener_;
    }
    // Listeners first: a waiter that wakes must find the change already handled.
    if (listener) {
        listener(control, text);
    }
    changed_.notify_all();
}

bool MemoryView::isTicked(std::string_view control) {
    std::lock_guard lock(mutex_);
    const auto it = ticked_.find(control);
    return it != ticked_.end() && it->second;
}

void MemoryView::setTicked(std::string_view control, bool ticked) {
    std::lock_guard lock(mutex_);
    ticked_[std::string(control)] = ticked;
}

void MemoryView::setEnabled(std::string_view control, bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_[std::string(control)] = enabled;
}

bool MemoryView::isEnabled(std::string_view control) {
    std::lock_guard lock(mutex_);
    const auto it = enabled_.find(control);
    return it == enabled_.end() || it->second;
}

void MemoryView::appendResult(const std::string& text) {
    std::string whole;
    {
        std::lock_guard lock(mutex_);
        whole = texts_[std::string(kResultsBox)] + text;
    }
    setText(kResultsBox, whole);
}

void MemoryView::setStatusColour(Rgb colour) {
    std::lock_guard lock(mutex_);
    statusColour_ = colour;
}

bool MemoryView::isVisible(std::string_view control) {
    std::lock_guard lock(mutex_);
    const auto it = visible_.find(control);
    return it == visible_.end() || it->second;
}

void MemoryView::setVisible(std::string_view control, bool visible) {
    std::lock_guard lock(mutex_);
    visible_[std::string(control)] = visible;
}

void MemoryView::setAlwaysOnTop(bool onTop) {
    std::lock_guard lock(mutex_);
    alwaysOnTop_ = onTop;
}

bool MemoryView::alwaysOnTop() {
    std::lock_guard lock(mutex_);
    return alwaysOnTop_;
}

int MemoryView::rowCount(std::string_view list) {
    std::lock_guard lock(mutex_);
    const auto it = rows_.find(list);
    return it == rows_.end() ? 0 : static_cast<int>(it->second.size());
}

int MemoryView::selectedRow(std::string_view list) {
    std::lock_guard lock(mutex_);
    const auto it = selection_.find(list);
    return it == selection_.end() ? -1 : it->second;
}

std::string MemoryView::cell(std::string_view list, int row, int column) {
    std::lock_guard lock(mutex_);
    const auto it = rows_.find(list);
    if (it == rows_.end() || row < 0 || row >= static_cast<int>(it->second.size()) || column < 0 ||
        column >= static_cast<int>(it->second[row].size())) {
        return {};
    }
    return it->second[row][column];
}

void MemoryView::setRows(std::string_view list, std::vector<std::vector<std::string>> rows) {
    std::lock_guard lock(mutex_);
    rows_[std::string(list)] = std::move(rows);
    selection_[std::string(list)] = -1;
}

void MemoryView::select(std::string_view list, int row) {
    std::lock_guard lock(mutex_);
    selection_[std::string(list)] = row;
}

std::vector<std::string> MemoryView::history(std::string_view control) {
    std::lock_guard lock(mutex_);
    const auto it = history_.find(control);
    return it == history_.end() ? std::vector<std::string>{} : it->second;
}

std::vector<MemoryView::Message> MemoryView::messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

Rgb MemoryView::statusColour() {
    std::lock_guard lock(mutex_);
    return statusColour_;
}

void MemoryView::onTextChanged(std::function<void(std::string_view, const std::string&)> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

bool MemoryView::waitForText(std::string_view control,
                             const std::function<bool(const std::string&)>& pred,
                             std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        const auto it = texts_.find(control);
        return pred(it == texts_.end() ? std::string() : it->second);
    });
}

void MemoryView::presentMessage(const std::string& text, int style, const std::string& title) {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, style, title});
}

}  // namespace veltrin::workflows
