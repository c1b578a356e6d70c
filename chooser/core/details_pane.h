// The details pane: rows for a clicked device and the column widths that fit them.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chooser/core/device_record.h"

namespace velcorin {

inline constexpr std::u16string_view kNoneAssigned = u"(None Assigned)";

// Text width in the form's font, in twips.
using MeasureText = std::function<float(std::u16string_view)>;

inline constexpr std::array<std::u16string_view, 2> kDetailHeaders = {u"Parameter Name", u"Parameter Value"};

// Column widths after a fill: each header followed by five spaces, measured as one text.
std::array<float, 2> FillColumnWidths(const std::array<std::u16string_view, 2>& headers, const MeasureText& measure);

struct DetailRow {
  std::u16string name;
  std::u16string value;
  bool operator==(const DetailRow&) const = default;
};

// Rows 1-5 (model, serial, firmware, description, channel count), then one
// row per channel 1..ChannelCount. Blank (spaces only) descriptions and
// channel names, and channel names the record lacks, read "(None Assigned)".
// A count outside 1..32767 adds no channel rows: above that the pane's 16-bit
// count would overflow, so only the fixed rows are shown.
std::vector<DetailRow> DetailRows(const DeviceRecord& record);

// Widest row text per column (strictly wider wins), then the headers, each
// plus the width of five spaces; all in single precision.
std::array<float, 2> ColumnWidths(std::span<const DetailRow> rows, const std::array<std::u16string_view, 2>& headers,
                                  const MeasureText& measure);

// First record whose DevicePath equals the key exactly; nullptr if none.
const DeviceRecord* FindDeviceByPath(std::span<const DeviceRecord> devices, std::u16string_view key);

struct NodeClickPlan {
  bool openEnabled = false;
  std::vector<DetailRow> rows;                       // the pane is cleared first
  std::optional<std::array<float, 2>> columnWidths;  // nullopt: keep the widths
};

// Root and class nodes empty the pane, disable Open and keep the widths. A
// device node enables Open and shows its record's rows; a device key with no
// record (not produced by a fill) leaves the pane empty, columns fitted to the
// headers.
NodeClickPlan PlanNodeClick(std::span<const DeviceRecord> devices, std::u16string_view key, const MeasureText& measure,
                            const std::array<std::u16string_view, 2>& headers = kDetailHeaders);

}  // namespace velcorin
