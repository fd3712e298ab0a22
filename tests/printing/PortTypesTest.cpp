// SPDX-License-Identifier: GPL-2.0-or-later
// Port types, the auto-connect port check and the printer list over a private cupsd.
#include <gtest/gtest.h>

#include "platform/linux/CupsSpooler.h"
#include "printing/PortTypes.h"
#include "tests/printing/PrintingFakes.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/Watchdog.h"

namespace tessaro {
namespace {

using testing::PrivateCups;

// A spooler listing Windows-style ports, for the rules CUPS's own names never reach.
class ListedPorts : public UnboundSpooler {
 public:
  explicit ListedPorts(std::vector<SpoolerPort> ports) : ports_(std::move(ports)) {}
  std::optional<std::vector<SpoolerPort>> Ports() override { return ports_; }

 private:
  std::vector<SpoolerPort> ports_;
};

TEST(PortTypeOf, DescriptionFirstThenNameInTheirOrder) {
  ListedPorts spooler({
      {"FILE:", "Local Port"},
      {"COM3:", "Local Port"},
      {"LPT1:", "Local Port"},
      {"FPR1:", "Local Port"},
      {"PDF:", "Fax Port"},
      {"Microsoft Document Writer:", "Local Port"},
      {"COMPANY_FILE:", "Local Port"},  // FILE: is looked for before COM
      {"IP_COM1", "Standard TCP/IP Port"},
      {"NE01:", "Lan Manager printer port"},
      {"http://host/", "Internet Port"},
      {"USB001", "Virtual printer port for USB"},
      {"LPTCOM:", "Some TCP/IP Port and Local Port"},  // local wins over TCP/IP
  });
  const struct {
    const char* port;
    int32_t type;
  } cases[] = {
      {"file:", porttype::kFile},         {"COM3:", porttype::kSerial},
      {"LPT1:", porttype::kParallel},     {"FPR1:", porttype::kFpr},
      {"PDF:", porttype::kPdf},           {"Microsoft Document Writer:", porttype::kMicrosoft},
      {"COMPANY_FILE:", porttype::kFile}, {"IP_COM1", porttype::kTcpIp},
      {"NE01:", porttype::kLanManager},   {"http://host/", porttype::kInternet},
      {"USB001", porttype::kOther},       {"LPTCOM:", porttype::kParallel},
      {"COM9:", porttype::kNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    EXPECT_EQ(PortTypeOf(spooler, c.port), c.type);
  }
  ListedPorts none({});
  EXPECT_EQ(PortTypeOf(none, "FILE:"), porttype::kListUnavailable);
}

TEST(PortAllowsAutoConnect, DescriptionsAreComparedWithTheirCase) {
  ListedPorts spooler({{"LPT1:", "local port"}, {"IP_COM1", "Standard TCP/IP Port"}});
  // "local port" is no "Local Port"; a Windows TCP/IP port named COM.
  EXPECT_EQ(PortAllowsAutoConnect(spooler, "LPT1:"), PortVerdict::Allowed);
  EXPECT_EQ(PortAllowsAutoConnect(spooler, "ip_com1"), PortVerdict::Allowed);
}

class PortTypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cups_.Running());
    // One queue per kind of port, named so CUPS lists them in this order.
    ASSERT_TRUE(cups_.AddQueue("a_file", "file:///dev/null"));
    ASSERT_TRUE(cups_.AddQueue("b_lpt", "parallel:/dev/lp0"));
    ASSERT_TRUE(cups_.AddQueue("c_com", "serial:/dev/ttyS0?baud=9600"));
    ASSERT_TRUE(cups_.AddQueue("d_raw", "socket://printer.example.com:9100"));
    ASSERT_TRUE(cups_.AddQueue("e_ipp", "ipp://127.0.0.1/printers/x"));
    ASSERT_TRUE(cups_.AddQueue("f_dev", "tessaro://02-00-00-00-00-02/04F9/0042?serial=COMPDF"));
    ASSERT_TRUE(cups_.AddQueue("g_smb", "smb://user:pw@filer/laser"));
  }

  testing::Watchdog watchdog_{std::chrono::seconds(60)};
  PrivateCups cups_;
  CupsSpooler spooler_{cups_.socket()};
};

TEST_F(PortTypesTest, TypesEveryPortByDescriptionThenName) {
  const struct {
    const char* port;
    int32_t type;
  } cases[] = {
      {"FILE:", porttype::kFile},
      {"file:", porttype::kFile},  // found without regard to case
      {"LPT1:", porttype::kParallel},
      {"COM1:", porttype::kSerial},
      {"socket://printer.example.com:9100", porttype::kTcpIp},
      {"ipp://127.0.0.1/printers/x", porttype::kInternet},
      {"smb://filer/laser", porttype::kLanManager},
      // A USB port whose serial spells COM and PDF is still a USB port.
      {"tessaro://02-00-00-00-00-02/04F9/0042?serial=COMPDF", porttype::kOther},
      {"COM7:", porttype::kNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    EXPECT_EQ(PortTypeOf(spooler_, c.port), c.type);
  }
}

TEST_F(PortTypesTest, OnlySerialAndUsbPortsAllowAutoConnect) {
  const struct {
    const char* port;
    bool allowed;
  } cases[] = {
      {"FILE:", false},
      {"LPT1:", false},
      {"COM1:", true},  // a serial port passes although it is a local port
      // "COM" in a network address does not make it a serial port.
      {"socket://printer.example.com:9100", false},
      {"ipp://127.0.0.1/printers/x", false},
      {"smb://filer/laser", false},
      {"tessaro://02-00-00-00-00-02/04F9/0042?serial=COMPDF", true},
      {"NOT-LISTED:", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    EXPECT_EQ(PortAllowsAutoConnect(spooler_, c.port),
              c.allowed ? PortVerdict::Allowed : PortVerdict::Refused);
  }
}

TEST_F(PortTypesTest, ListsPrintersWhosePortsCanBeBoundLastFirst) {
  ASSERT_EQ(cups_.Tool("lpadmin", {"-p", "a_file", "-c", "h_pool"}).exitCode, 0);
  ASSERT_EQ(cups_.Tool("lpadmin", {"-p", "b_lpt", "-c", "h_pool"}).exitCode, 0);
  std::vector<std::string> rows;
  for (const PrinterRow& row : ListWindowsPrinters(spooler_))
    rows.push_back(row.caption + "|" + row.port + "|" +
                   (row.type ? std::to_string(*row.type) : "-"));
  // The internet port and the pool of two ports are left out.
  EXPECT_EQ(rows,
            (std::vector<std::string>{"g_smb|smb://filer/laser|2",
                                      "f_dev|tessaro://02-00-00-00-00-02/04F9/0042?serial=COMPDF|0",
                                      "d_raw|socket://printer.example.com:9100|3", "c_com|COM1:|7",
                                      "b_lpt|LPT1:|6", "a_file|FILE:|5"}));
}

TEST_F(PortTypesTest, WithoutThePortListPrintersAreListedWithoutTypes) {
  testing::RecordingSpooler portless(spooler_);
  portless.portsFail = true;
  EXPECT_EQ(PortTypeOf(portless, "FILE:"), porttype::kListUnavailable);
  EXPECT_EQ(PortAllowsAutoConnect(portless, "COM1:"), PortVerdict::Unknown);
  const auto rows = ListWindowsPrinters(portless);
  ASSERT_EQ(rows.size(), 7u);
  for (const PrinterRow& row : rows) EXPECT_FALSE(row.type.has_value()) << row.caption;
}

TEST_F(PortTypesTest, NothingIsListedOrTypedWithoutCupsd) {
  cups_.Stop();
  EXPECT_EQ(PortTypeOf(spooler_, "FILE:"), porttype::kListUnavailable);
  EXPECT_EQ(PortAllowsAutoConnect(spooler_, "COM1:"), PortVerdict::Unknown);
  EXPECT_TRUE(ListWindowsPrinters(spooler_).empty());
}

}  // namespace
}  // namespace tessaro
