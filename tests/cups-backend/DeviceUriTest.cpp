// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "cups-backend/PrintBackend.h"
#include "printing/DeviceUri.h"

using namespace tessaro;

TEST(DeviceUri, ReadsTheFormInAnyLetterCaseAndWritesItBack) {
  const struct Case {
    const char* text;
    uint16_t vid, pid;
    std::optional<std::string> serial;
    const char* written;
  } cases[] = {
      {"tessaro://02-00-00-00-00-02/04F9/0042", 0x04F9, 0x0042, std::nullopt,
       "tessaro://02-00-00-00-00-02/04F9/0042"},
      {"TESSARO://0a-1b-2c-3d-4e-5f/04f9/abcd?serial=LW2040-00731", 0x04F9, 0xABCD, "LW2040-00731",
       "tessaro://0A-1B-2C-3D-4E-5F/04F9/ABCD?serial=LW2040-00731"},
      {"tessaro://02-00-00-00-00-02/04F9/0042?SERIAL=a%20b%2Fc%25", 0x04F9, 0x0042, "a b/c%",
       "tessaro://02-00-00-00-00-02/04F9/0042?serial=a%20b%2Fc%25"},
      {"tessaro://02-00-00-00-00-02/04F9/0042?serial=%C3%A9%01", 0x04F9, 0x0042, "\xC3\xA9\x01",
       "tessaro://02-00-00-00-00-02/04F9/0042?serial=%C3%A9%01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const auto uri = ParseDeviceUri(c.text, error);
    ASSERT_TRUE(uri) << error;
    EXPECT_EQ(uri->vendorId, c.vid);
    EXPECT_EQ(uri->productId, c.pid);
    EXPECT_EQ(uri->serial, c.serial);
    EXPECT_EQ(FormatDeviceUri(*uri), c.written);
    EXPECT_EQ(ParseDeviceUri(FormatDeviceUri(*uri), error)->serial, c.serial);
  }
}

TEST(DeviceUri, AnythingElseIsRefusedWithAReason) {
  for (const char* text : {
           "",
           "usb://02-00-00-00-00-02/04F9/0042",
           "tessaro://02-00-00-00-00-02/04F9",
           "tessaro://02-00-00-00-00-02/04F9/0042/extra",
           "tessaro://02:00:00:00:00:02/04F9/0042",
           "tessaro://02-00-00-00-00/04F9/0042",
           "tessaro://02-00-00-00-00-0G/04F9/0042",
           "tessaro://02-00-00-00-00-02/4F9/0042",
           "tessaro://02-00-00-00-00-02/04F9/00420",
           "tessaro://02-00-00-00-00-02/04F9/0042?serial=%4",
           "tessaro://02-00-00-00-00-02/04F9/0042?serial=%zz",
           "tessaro://02-00-00-00-00-02/04F9/0042?serial=a%00b",
           "tessaro://02-00-00-00-00-02/04F9/0042?port=1",
       }) {
    std::string error;
    EXPECT_FALSE(ParseDeviceUri(text, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(PrinterStateReason, APrinterOutOfPaperAtTheServerIsMediaEmpty) {
  EXPECT_STREQ(backend::PrinterStateReason(28), "media-empty-error");
  for (const uint32_t other : {0u, 21u, 29u, 170u}) EXPECT_EQ(backend::PrinterStateReason(other), nullptr);
}
