#pragma once
// The numbers of the texts in strings_en.txt and strings_ja.txt, by what each says. The program
// asks for a text only by one of these names; the numbers are the machine release's own and stay.

// Menu and message boxes.
constexpr unsigned kIdsAbout = 101;              // "&About..."
constexpr unsigned kIdsSending = 104;            // progress dialog title
constexpr unsigned kIdsUpgradeUnnecessary = 105; // the machine already has this version
constexpr unsigned kIdsWrongModel = 106;
constexpr unsigned kIdsWrongPort = 107;
constexpr unsigned kIdsTransmissionFailed = 108;
// A chosen file refused before anything is sent: the box's text (%1 the file), and its detail,
// the first fault (%1 its offset, %2 the reader's words) or the size. Ours, not the release's.
constexpr unsigned kIdsNotAPackage = 109;
constexpr unsigned kIdsPackageFault = 110;
constexpr unsigned kIdsPackageTooLarge = 125;

// The detail of "Wrong port." when the port's link cannot be looked at: %1 the ports folder,
// %2 the OS's words.
constexpr unsigned kIdsPortsFolderUnreadable = 201;

// The instruction line of each step.
constexpr unsigned kIdsPutScanUnit = 111;
constexpr unsigned kIdsConnectMachine = 112;
constexpr unsigned kIdsCheckingVersion = 113;
constexpr unsigned kIdsUnplugAdapter = 115;
constexpr unsigned kIdsUpgrading = 116; // also the progress dialog's message
constexpr unsigned kIdsTransferDone = 117;
constexpr unsigned kIdsUnplugJ1J2 = 118;
constexpr unsigned kIdsPlugJ9J10 = 119;
constexpr unsigned kIdsUpgradeCompleted = 120;
constexpr unsigned kIdsUnplugJ9J10 = 121;
constexpr unsigned kIdsPlugJ1J2 = 122;
constexpr unsigned kIdsPlugAdapter = 123;

// The built-in package's version digits, "260" for V260.
constexpr unsigned kIdsPackageVersion = 32774;
