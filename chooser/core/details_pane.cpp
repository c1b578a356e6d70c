#include "chooser/core/details_pane.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "chooser/core/node_keys.h"

namespace velcorin {

namespace {

constexpr std::u16string_view kFiveSpaces = u"     ";

bool IsBlank(std::u16string_view text) { return text.find_first_not_of(u' ') == std::u16string_view::npos; }

std::u16string OrNoneAssigned(const std::u16string& text) {
  return IsBlank(text) ? std::u16string(kNoneAssigned) : text;
}

std::u16string Decimal(std::int64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string ChannelName(const DeviceRecord& record, std::int32_t channel) {
  const auto& names = record.ChannelNames;
  const auto index = static_cast<std::size_t>(channel - 1);
  return names && index < names->size() ? OrNoneAssigned((*names)[index]) : std::u16string(kNoneAssigned);
}

std::int32_t ChannelRowCount(std::int32_t channelCount) {
  return channelCount > std::numeric_limits<std::int16_t>::max() ? 0 : channelCount;
}

void Widen(float& width, float measured) {
  if (measured > width) width = measured;
}

}  // namespace

std::vector<DetailRow> DetailRows(const DeviceRecord& record) {
  std::vector<DetailRow> rows = {
      {u"Model Number", record.ModelNumber},
      {u"Serial Number", record.SerialNumber},
      {u"Firmware Version", record.FirmwareVersion},
      {u"Description", OrNoneAssigned(record.Description)},
      {u"Number of Channels", Decimal(record.ChannelCount)},
  };
  for (std::int32_t i = 1; i <= ChannelRowCount(record.ChannelCount); ++i)
    rows.push_back({u"Channel " + Decimal(i) + u" Description", ChannelName(record, i)});
  return rows;
}

std::array<float, 2> ColumnWidths(std::span<const DetailRow> rows, const std::array<std::u16string_view, 2>& headers,
                                  const MeasureText& measure) {
  std::array<float, 2> widths{0.0f, 0.0f};
  for (const auto& row : rows) {
    Widen(widths[0], measure(row.name));
    Widen(widths[1], measure(row.value));
  }
  for (std::size_t i = 0; i < headers.size(); ++i) Widen(widths[i], measure(headers[i]));
  for (auto& width : widths) width = measure(kFiveSpaces) + width;
  return widths;
}

const DeviceRecord* FindDeviceByPath(std::span<const DeviceRecord> devices, std::u16string_view key) {
  auto found = std::find_if(devices.begin(), devices.end(),
                            [key](const DeviceRecord& device) { return device.DevicePath == key; });
  return found == devices.end() ? nullptr : &*found;
}

NodeClickPlan PlanNodeClick(std::span<const DeviceRecord> devices, std::u16string_view key, const MeasureText& measure,
                            const std::array<std::u16string_view, 2>& headers) {
  NodeClickPlan plan;
  if (!IsDeviceNodeKey(key)) return plan;
  plan.openEnabled = true;
  if (const DeviceRecord* record = FindDeviceByPath(devices, key)) plan.rows = DetailRows(*record);
  plan.columnWidths = ColumnWidths(plan.rows, headers, measure);
  return plan;
}

std::array<float, 2> FillColumnWidths(const std::array<std::u16string_view, 2>& headers, const MeasureText& measure) {
  std::array<float, 2> widths{};
  for (std::size_t i = 0; i < headers.size(); ++i) widths[i] = measure(std::u16string(headers[i]) + u"     ");
  return widths;
}

}  // namespace velcorin
