#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "workflows/MainContext.h"

// Small steps the main window's workflows share.
namespace veltrin::workflows {

std::string trimmedText(View& view, std::string_view control);

// Starts the action on a worker of its own when there is one.
void startIf(const std::function<void()>& action);

// The server list the user sees: the search result while it is shown, else the full list.
std::string_view visibleServerList(View& view);
// Column 7 of a row that stands for a random pick from the pool list.
bool isMixMarker(std::string_view marker);
// A uniform pick in [0, count), from a generator seeded by the clock; 0 when count is 0.
int drawRow(int count);

// The address in the column of the selected row of the visible list; for a mix row, of a row
// drawn from the pool list (its index comes back as drawnRow). Nothing when no row is selected.
struct RowAddress {
    std::string address;
    std::optional<int> drawnRow;
};
std::optional<RowAddress> selectedRowAddress(View& view, int column);

// The protocol of the first ticked radio button (the other two are cleared and protocolCode is
// set), or 0 when none is ticked.
int takeProtocolFromRadios(MainContext& context);

// The controls a running connection keeps locked.
void setLockedControls(View& view, bool enabled);

// Writes the entry for the current server and protocol, and dials it, with the account as the
// window holds it (trimmed); progress goes to the status line.
void provisionCurrentLine(MainContext& context, const std::string& entryName);
void dialFromWindow(MainContext& context, const std::string& entryName);

}  // namespace veltrin::workflows
