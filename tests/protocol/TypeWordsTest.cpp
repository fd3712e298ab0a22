// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "protocol/TypeWords.h"

using tessaro::wire::IsPrinterType;

// hubd's print refusal, the backend's discovery, the device menu, Connect and auto-print add all
// ask this one question.
TEST(TypeWords, PrintersAreThePrinterAndMfpWordsInAnyCase) {
  for (const char* word : {"PRINTER", "printer", "Printer", "MFP", "mfp", "mFp"})
    EXPECT_TRUE(IsPrinterType(word)) << word;
  for (const char* word : {"", "SCANNER", "MASS STORAGE", "UNKNOWN", "Scanner", "PRINTERS",
                           " PRINTER", "MFP ", "PRINT", "MF"})
    EXPECT_FALSE(IsPrinterType(word)) << '"' << word << '"';
}
