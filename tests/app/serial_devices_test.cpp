// The serial device list as `ports` prints it (table and JSON, read field by field) and the
// port a sub-command takes without --port, from lists the test makes: one USB adapter, none,
// two, and the cases where the list must not be asked for at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/serial_devices.h"
#include "support/captured_text.h"

namespace tvx::testing {
namespace {

app::SerialDevice Adapter(const std::string& device, const std::string& serial) {
  app::SerialDevice adapter;
  adapter.device = device;
  adapter.stable_name = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0";
  adapter.usb_id = "0403:6001";
  adapter.serial_number = serial;
  adapter.product = "FT232R USB UART";
  adapter.manufacturer = "FTDI";
  adapter.driver = "ftdi_sio";
  return adapter;
}

app::SerialDevice Uart() {
  app::SerialDevice uart;
  uart.device = "/dev/ttyS0";
  uart.driver = "serial";
  return uart;
}

app::SerialDevice BoundLink() {
  app::SerialDevice pty;
  pty.device = "/dev/pts/7";
  pty.stable_name = "/tmp/radio";
  pty.com = {1, 4};
  pty.driver = "pseudo-terminal";
  pty.in_use = true;
  return pty;
}

TEST(SerialDevicesTest, TheTableAlignsItsColumnsAndMarksWhatIsNotKnown) {
  // Every column as wide as its widest entry and two spaces, the last one unpadded.
  EXPECT_EQ(app::PortsTable({Uart(), BoundLink(), Adapter("/dev/ttyUSB0", "A10K3ZQ2")}),
            "DEVICE        PORT       "
            "STABLE NAME                                                     USB ID     SERIAL    "
            "IN USE  PRODUCT\n"
            "/dev/ttyS0    -          "
            "-                                                               -          -         "
            "no      serial\n"
            "/dev/pts/7    Com1,Com4  "
            "/tmp/radio                                                      -          -         "
            "yes     pseudo-terminal\n"
            "/dev/ttyUSB0  -          "
            "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3ZQ2-if00-port0  0403:6001  A10K3ZQ2  "
            "no      FT232R USB UART (FTDI)\n");
  EXPECT_EQ(app::PortsTable({}), "DEVICE  PORT  STABLE NAME  USB ID  SERIAL  IN USE  PRODUCT\n");

  // A Windows device as it is written; a control byte from the system escaped.
  app::SerialDevice com;
  com.device = "\\\\.\\COM3";
  com.product = "USB\x1b[2JSerial";
  EXPECT_EQ(app::PortsTable({com}),
            "DEVICE    PORT  STABLE NAME  USB ID  SERIAL  IN USE  PRODUCT\n"
            "\\\\.\\COM3  -     -            -       -       no      USB\\x1B[2JSerial\n");
}

TEST(SerialDevicesTest, TheJsonArrayHoldsEveryFieldAndNullForWhatIsNotKnown) {
  app::SerialDevice odd = Adapter("/dev/ttyUSB\xff", "X");
  odd.product = "bad \xff text";  // what a device reports need not be UTF-8
  const std::string text = app::PortsJson({BoundLink(), Adapter("/dev/ttyUSB0", "A1"), odd});
  ASSERT_EQ(text.find('\n'), text.size() - 1) << "one line";
  const nlohmann::json list = nlohmann::json::parse(text);
  ASSERT_EQ(list.size(), 3u);
  const nlohmann::json& pty = list[0];
  EXPECT_EQ(pty["device"], "/dev/pts/7");
  EXPECT_EQ(pty["stable_name"], "/tmp/radio");
  EXPECT_EQ(pty["com"], nlohmann::json::array({1, 4}));
  EXPECT_TRUE(pty["usb_id"].is_null());
  EXPECT_TRUE(pty["serial_number"].is_null());
  EXPECT_TRUE(pty["product"].is_null());
  EXPECT_TRUE(pty["manufacturer"].is_null());
  EXPECT_EQ(pty["driver"], "pseudo-terminal");
  EXPECT_EQ(pty["in_use"], true);
  const nlohmann::json& usb = list[1];
  EXPECT_EQ(usb["stable_name"], "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
  EXPECT_EQ(usb["com"], nlohmann::json::array());
  EXPECT_EQ(usb["usb_id"], "0403:6001");
  EXPECT_EQ(usb["serial_number"], "A1");
  EXPECT_EQ(usb["product"], "FT232R USB UART");
  EXPECT_EQ(usb["manufacturer"], "FTDI");
  EXPECT_EQ(usb["in_use"], false);
  // Escaped as the messages show it, never replaced: two names stay two.
  EXPECT_EQ(list[2]["device"], "/dev/ttyUSB\\xFF");
  EXPECT_EQ(list[2]["product"], "bad \\xFF text");
  EXPECT_EQ(app::PortsJson({}), "[]\n");
}

struct Choice {
  std::optional<int> status;
  std::string port;
  std::string err;
  int asked = 0;
};

Choice Choose(const std::vector<app::SerialDevice>& devices, std::string port = "",
              bool com1_bound = false) {
  app::CommandLine command;
  command.action = app::CommandAction::kDirect;
  command.port = port;
  Choice choice;
  std::FILE* err = std::tmpfile();
  choice.status = app::ChooseDefaultPort(
      command, com1_bound,
      [&] {
        ++choice.asked;
        return devices;
      },
      err);
  choice.port = command.port;
  choice.err = Text(err);
  std::fclose(err);
  return choice;
}

TEST(SerialDevicesTest, WithoutAPortTheOneUsbAdapterIsTakenAndNamed) {
  const Choice one = Choose({Uart(), BoundLink(), Adapter("/dev/ttyUSB0", "A10K3ZQ2")});
  EXPECT_EQ(one.status, std::nullopt);
  EXPECT_EQ(one.port, "/dev/ttyUSB0");
  EXPECT_EQ(one.err,
            "torvandrix-upload: no --port given: using /dev/ttyUSB0 "
            "(/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3ZQ2-if00-port0, FT232R USB UART "
            "(FTDI)), the one USB serial adapter\n");
}

TEST(SerialDevicesTest, WithoutAPortNoneOrTwoAdaptersStopWithTheList) {
  struct Case {
    std::vector<app::SerialDevice> devices;
    const char* present;
  };
  const Case cases[] = {
      {{Uart(), BoundLink()}, "no USB serial adapter is present"},
      {{Adapter("/dev/ttyUSB0", "A"), Adapter("/dev/ttyUSB1", "B")},
       "2 USB serial adapters are present"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.present);
    const Choice chose = Choose(c.devices);
    EXPECT_EQ(chose.status, app::kExitUsage);
    EXPECT_EQ(chose.port, "");
    EXPECT_EQ(chose.err, std::string("torvandrix-upload: no --port given, and ") + c.present +
                             ": name the device with --port, or bind Com1 with TORVANDRIX_COM1\n" +
                             app::PortsTable(c.devices));
  }
}

TEST(SerialDevicesTest, AGivenPortOrABoundCom1IsKeptWithoutLookingForDevices) {
  const std::vector<app::SerialDevice> two{Adapter("/dev/ttyUSB0", "A"),
                                           Adapter("/dev/ttyUSB1", "B")};
  for (const Choice& kept : {Choose(two, "com2"), Choose(two, "", true),
                             Choose({Adapter("/dev/ttyUSB0", "A")}, "", true)}) {
    EXPECT_EQ(kept.status, std::nullopt);
    EXPECT_EQ(kept.asked, 0);
    EXPECT_EQ(kept.err, "");
  }
  EXPECT_EQ(Choose(two, "com2").port, "com2");
  EXPECT_EQ(Choose(two, "", true).port, "");  // the runner resolves Com1
}

}  // namespace
}  // namespace tvx::testing
