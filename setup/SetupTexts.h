// SPDX-License-Identifier: GPL-2.0-or-later
// The wizard's own words: page texts, option captions and the messages of its OK buttons.
#pragma once

namespace tessaro::setup::text {

// Install page.
inline constexpr const char* kInstallQuestionScanner =
    "Do you want to install the scanner software?";
inline constexpr const char* kInstallQuestionPrinter =
    "Do you want to install the printer software or MFP utility?";
inline constexpr const char* kInstallNoteScanner =
    "You can view the scanner software status through Printers and Other Hardware (Printer and "
    "Faxes) from the Control Panel of Windows.";
inline constexpr const char* kInstallNotePrinter =
    "You can view the printer software or MFP utility status through Printers and Other Hardware "
    "(Printers and Faxes) from the Control Panel of Windows.";
inline constexpr const char* kYes = "Yes";
inline constexpr const char* kNo = "No";
// On this system there is no disc to install from: the page offers a print queue instead.
inline constexpr const char* kAddQueueButton = "Add a print queue for this device";

// CD-ROM page.
inline constexpr const char* kCdNoteScanner =
    "Please put the scanner software CD in the CD-ROM to install.";
inline constexpr const char* kCdNotePrinter =
    "Please put the printer software / MFP utility CD in the CD-ROM to install.";
inline constexpr const char* kCdFollowNote =
    "Follow the installation, then come back here and press Next.";

// Connect pages.
inline constexpr const char* kPrinterInstallNote =
    "If the printer software installation process has not been completed.  Please finish then go "
    "back to this page. Press Next to continue.";
inline constexpr const char* kMfpInstallNote =
    "If the MFP utility installation process has not been completed.  Please finish then go back "
    "to this page. Press Next to continue.";
inline constexpr const char* kSupportScan = "The device also support scan function.";
inline constexpr const char* kChooseScanner =
    "Please choose the desired scanner from the below list.";
inline constexpr const char* kEndRecognize =
    "Press OK to end the system recognize scanner process.";
inline constexpr const char* kScannerConfirmInstalling =
    "Please finish the scanner software installation, then press OK.";

// Auto-print page.
inline constexpr const char* kAutoPrintNote =
    "When you press OK, the device will connect automatically whenever jobs are issued to the "
    "printer you choose.";

// Troubleshooting page.
inline constexpr const char* kTroublePrinterTitle = "Printer && MFP TroubleShooting";
inline constexpr const char* kTroubleScannerTitle = "Scanner TroubleShooting";
inline constexpr const char* kTroubleUnknownTitle = "USB Device TroubleShooting";
inline constexpr const char* kTroublePrinterFirst = "You cannot issue the printer or scanner jobs.";
inline constexpr const char* kTroubleScannerFirst = "You cannot issue the scanner jobs.";
inline constexpr const char* kTroubleUnknownFirst = "You cannot use the USB device.";
inline constexpr const char* kTroubleAutoConnect = "You cannot auto connect  devices.";
inline constexpr const char* kTroubleScannerOption = "Remove or recognize the scanner.";
inline constexpr const char* kTroubleRemoveScanner = "Remove the scanner.";
inline constexpr const char* kTroubleRemoveScannerNote =
    "If you would like to remove the scanner, please choose it then press OK to finish.";
inline constexpr const char* kTroublePrinterHelp =
    "Make sure the server is switched on and reachable, and that no other PC is using the "
    "device. A job issued to the auto-connect printer connects the device by itself; scanning "
    "needs the device to be free as well.";
inline constexpr const char* kTroubleScannerHelp =
    "Make sure the server is switched on and reachable, and that no other PC is using the "
    "scanner, then start the scan again.";
inline constexpr const char* kTroubleUnknownHelp =
    "Make sure the server is switched on and reachable, and that no other PC is using the "
    "device. Connect it from the device list before using it.";
inline constexpr const char* kTroubleAutoConnectHelp =
    "Choose the printer to connect automatically, or uncheck it to stop, then press OK.";
inline constexpr const char* kTroubleScannerHelpChoose =
    "Check the scanner to recognize it, or uncheck it to remove it, then press OK.";
inline constexpr const char* kAutoConnectCanceled =
    "You have successfully canceled auto connect printer\nfeature of ";
inline constexpr const char* kDirectPrint = "You can directly issue the printer job to\n";
inline constexpr const char* kScannerRecognized =
    "You have successfully recognized the scanner. Please\nnotice that the \"Scanning Now\" "
    "feature will be supported\n";
inline constexpr const char* kScannerRemoved =
    "You have successfully removed recognition of scanner.\nPlease notice that the \"Scanning "
    "Now\" feature will not be\nsupported\n";

// Tips of printer rows by their mark.
inline constexpr const char* kTipUnsuitablePort =
    "The port of auto-connect can not be a LPR / Raw TCP / SMB port.";
inline constexpr const char* kTipSameKindTaken =
    "This driver already be set to auto-connect printer.";
inline constexpr const char* kTipOtherMaker = "This driver is not be recommended.";
inline constexpr const char* kTipOtherKindTaken = "This driver already be set to auto-connect fax.";

// The install page's answer once a queue was added.
inline constexpr const char* kQueueAdded = "The print queue was added: ";

// A queue that went away while the wizard was open.
inline constexpr const char* kQueueGone =
    "This printer no longer exists. Please choose another one from the list.";

}  // namespace tessaro::setup::text
