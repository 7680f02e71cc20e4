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
// The file-error report of a chosen file that is a FIFO, device or socket (%1 the file). Ours.
constexpr unsigned kIdsNotRegularFile = 126;
// 150 to 168: the package reader's sentences, in the detail of a package box (110, 442); the
// reader names them (ufw/PackageInspector.h, kFirstPackageFaultText).

// The detail of "Wrong port.": why the port would not open (device/OpenFailure.h). The first
// line names the device (%1 the port, %2 the device), the second the cause.
constexpr unsigned kIdsPortsFolderUnreadable = 201; // %1 the ports folder, %2 the OS's words
constexpr unsigned kIdsPortNoDevice = 202;          // %1 the port
constexpr unsigned kIdsPortIsDevice = 203;
constexpr unsigned kIdsPortNotPresent = 204;
constexpr unsigned kIdsPortInUse = 205;
constexpr unsigned kIdsPortDenied = 206;
constexpr unsigned kIdsPortNotSerial = 207;
constexpr unsigned kIdsPortOpenFailed = 208;      // %1 the OS's words
constexpr unsigned kIdsPortSettingsRefused = 209; // the OS's words when it gave none
// The detail of "Wrong port." when the driver read back other line settings than were set: %1
// which ones, as asked and as held ("9600 bps -> 4800 bps").
constexpr unsigned kIdsPortRefusedSettings = 210;

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

// The command line (versionup-cli). "%1".."%9" stand for what the program puts in.
constexpr unsigned kIdsCliUsage = 400;
// The same for Windows: any COMn, and no hang-up signal.
constexpr unsigned kIdsCliUsageWindows = 460;
constexpr unsigned kIdsCliTryHelp = 401; // after a wrong command line
constexpr unsigned kIdsCliUnknownArgument = 402;
constexpr unsigned kIdsCliMissingValue = 403;
constexpr unsigned kIdsCliBadPortName = 404;
constexpr unsigned kIdsCliBadTimeout = 405;
constexpr unsigned kIdsCliNoPort = 406;
constexpr unsigned kIdsCliSamePortTwice = 407;
constexpr unsigned kIdsCliConfirm = 408; // the question before an upgrade
constexpr unsigned kIdsCliNotConfirmed = 409;
constexpr unsigned kIdsCliNoTerminal = 410;
constexpr unsigned kIdsCliPresent = 411; // states of a port
constexpr unsigned kIdsCliAbsent = 412;
constexpr unsigned kIdsCliBusy = 413;
constexpr unsigned kIdsCliDenied = 414;
constexpr unsigned kIdsCliNotSerial = 415;
constexpr unsigned kIdsCliNoDevice = 416;
constexpr unsigned kIdsCliOpenError = 417;
constexpr unsigned kIdsCliCheckLine = 418; // port, reply, model, version, package
constexpr unsigned kIdsCliUpgradeNeeded = 419;
constexpr unsigned kIdsCliNothingFound = 420; // discovery found no machine
constexpr unsigned kIdsCliPhaseOpen = 421;    // phases of an upgrade
constexpr unsigned kIdsCliPhaseHandshake = 422;
constexpr unsigned kIdsCliPhaseLoader = 423;
constexpr unsigned kIdsCliPhasePackage = 424;
constexpr unsigned kIdsCliPhaseFinish = 425;
constexpr unsigned kIdsCliCancelled = 426;
constexpr unsigned kIdsCliWrongReply = 427; // why a transfer failed
constexpr unsigned kIdsCliNoReply = 428;
constexpr unsigned kIdsCliHungUp = 429;
constexpr unsigned kIdsCliWriteFailed = 430;
constexpr unsigned kIdsCliNoLoader = 431;
constexpr unsigned kIdsCliBadPackage = 432;
constexpr unsigned kIdsCliStepSync = 433; // where it failed
constexpr unsigned kIdsCliStepBitRate = 434;
constexpr unsigned kIdsCliStepLength = 435;
constexpr unsigned kIdsCliStepLoader = 436;
constexpr unsigned kIdsCliStepLoaderEnd = 437;
constexpr unsigned kIdsCliStepPackage = 438;
constexpr unsigned kIdsCliSummary = 439;
constexpr unsigned kIdsCliInterrupted = 440;
constexpr unsigned kIdsCliPackageUnreadable = 441;
constexpr unsigned kIdsCliPackageMalformed = 442;
constexpr unsigned kIdsCliPackageTooLarge = 443;
constexpr unsigned kIdsCliProgressLine = 444;    // port, phase, bytes, total, percent, rate, left
constexpr unsigned kIdsCliBytes = 445;           // a phase's size in the plain progress
constexpr unsigned kIdsCliBeforeRetry = 446;     // after a failed upgrade: texts 115 and 123
constexpr unsigned kIdsCliTraceNotWritten = 447; // path, cause
constexpr unsigned kIdsCliUnconfirmed = 470;     // step; a device server took every byte

// upgrade --confirm
constexpr unsigned kIdsCliRestartNow = 480;        // port, texts 115, 118, 119 and 123
constexpr unsigned kIdsCliRestartWaiting = 481;    // port, time since the transfer
constexpr unsigned kIdsCliConfirmed = 482;         // port, model, version, seconds
constexpr unsigned kIdsCliOtherVersion = 483;      // port, model, version, package, seconds
constexpr unsigned kIdsCliConfirmWrongModel = 484; // port, text 106, reply, seconds
constexpr unsigned kIdsCliNoRestartAnswer = 485;   // port, seconds
constexpr unsigned kIdsCliConfirmSummary = 486;    // upgraded, ports, confirmed
constexpr unsigned kIdsCliNeedsConfirm = 487;      // option
constexpr unsigned kIdsCliNoPackageVersion = 488;  // package file

// ports that discovery lists but does not search
constexpr unsigned kIdsCliBluetoothPort = 490;  // a port state beside the device
constexpr unsigned kIdsCliModemPort = 491;
constexpr unsigned kIdsPortItemBluetooth = 492; // a port dialog's item: the port name
constexpr unsigned kIdsPortItemModem = 493;
