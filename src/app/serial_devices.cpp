#include "app/serial_devices.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "app/printable_text.h"

namespace tvx::app {

namespace {

constexpr std::size_t kColumns = 7;
using Row = std::array<std::string, kColumns>;

// A text from the system made safe to print; backslashes are kept as they are when nothing
// else needed escaping, so that a Windows device reads \\.\COM3.
std::string Shown(const std::string& text) {
  std::string escaped = PrintableText(text);
  const auto backslashes = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\\'));
  return escaped.size() == text.size() + backslashes ? text : escaped;
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : Shown(text);
}

std::string ComText(const std::vector<int>& com) {
  std::string text;
  for (const int n : com) text += (text.empty() ? "Com" : ",Com") + std::to_string(n);
  return text;
}

// The maker's text after the product's, unless the product already starts with it.
std::string ProductText(const SerialDevice& device) {
  if (device.product.empty()) return device.driver;
  if (device.manufacturer.empty() || device.product.starts_with(device.manufacturer)) {
    return device.product;
  }
  return device.product + " (" + device.manufacturer + ")";
}

Row RowOf(const SerialDevice& device) {
  return {OrDash(device.device),      OrDash(ComText(device.com)),  OrDash(device.stable_name),
          OrDash(device.usb_id),      OrDash(device.serial_number), device.in_use ? "yes" : "no",
          OrDash(ProductText(device))};
}

// A text from the system as JSON: escaped as the messages show it (\xHH for a byte that is not
// UTF-8 or a control, \\ for a backslash), so that two names never become one.
nlohmann::ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json(nullptr)
                      : nlohmann::ordered_json(PrintableText(text));
}

}  // namespace

std::string PortsTable(const std::vector<SerialDevice>& devices) {
  std::vector<Row> rows{{"DEVICE", "PORT", "STABLE NAME", "USB ID", "SERIAL", "IN USE", "PRODUCT"}};
  for (const SerialDevice& device : devices) rows.push_back(RowOf(device));
  std::array<std::size_t, kColumns> widths{};
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < kColumns; ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < kColumns; ++i) {
      line += row[i];
      if (i + 1 < kColumns) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    text += line + "\n";
  }
  return text;
}

std::string PortsJson(const std::vector<SerialDevice>& devices) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const SerialDevice& device : devices) {
    list.push_back(nlohmann::ordered_json{{"device", PrintableText(device.device)},
                                          {"stable_name", TextOrNull(device.stable_name)},
                                          {"com", device.com},
                                          {"usb_id", TextOrNull(device.usb_id)},
                                          {"serial_number", TextOrNull(device.serial_number)},
                                          {"product", TextOrNull(device.product)},
                                          {"manufacturer", TextOrNull(device.manufacturer)},
                                          {"driver", TextOrNull(device.driver)},
                                          {"in_use", device.in_use}});
  }
  // Every text is UTF-8 by now; were one not, it is replaced rather than refused.
  return list.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int ListPorts(const CommandLine& command, std::FILE* out, const DeviceSource& source) {
  const std::vector<SerialDevice> devices = source();
  const std::string text = command.json ? PortsJson(devices) : PortsTable(devices);
  std::fputs(text.c_str(), out);
  return std::fflush(out) == 0 && std::ferror(out) == 0 ? 0 : 1;
}

std::optional<int> ChooseDefaultPort(CommandLine& command, bool com1_bound,
                                     const DeviceSource& source, std::FILE* err) {
  if (!command.port.empty() || com1_bound) return std::nullopt;
  const std::vector<SerialDevice> devices = source();
  std::vector<const SerialDevice*> adapters;
  for (const SerialDevice& device : devices) {
    if (IsUsbAdapter(device)) adapters.push_back(&device);
  }
  if (adapters.size() == 1) {
    const SerialDevice& chosen = *adapters.front();
    command.port = chosen.device;
    if (command.ports.empty()) command.ports.push_back(chosen.device);
    std::string about = chosen.stable_name;
    const std::string product = ProductText(chosen);
    if (!product.empty()) about += (about.empty() ? "" : ", ") + product;
    std::string line = "torvandrix-upload: no --port given: using " + Shown(chosen.device);
    if (!about.empty()) line += " (" + Shown(about) + ")";
    line += ", the one USB serial adapter\n";
    std::fputs(line.c_str(), err);
    return std::nullopt;
  }
  const std::string why =
      adapters.empty() ? "no USB serial adapter is present"
                       : std::to_string(adapters.size()) + " USB serial adapters are present";
  std::fprintf(err,
               "torvandrix-upload: no --port given, and %s: name the device with --port, or "
               "bind Com1 with TORVANDRIX_COM1\n%s",
               why.c_str(), PortsTable(devices).c_str());
  return kExitUsage;
}

}  // namespace tvx::app
