// Numbers of the batch layer's texts in the string table (core/strings/batch.inc).
#pragma once

namespace ids {
inline constexpr int RunningBatch = 6000;
inline constexpr int LoadingWatermarks = 6001;
inline constexpr int LoadingWatermark = 6002; // %s path
inline constexpr int UserAbort = 6003;
inline constexpr int UserSkip = 6004;
inline constexpr int WatermarkNotRead = 6005;
inline constexpr int ScriptLineProgress = 6006;
inline constexpr int GatheringPalette = 6007;
inline constexpr int TempFileFailed = 6008;
inline constexpr int CannotOpenList = 6009;
inline constexpr int ProcessingFile = 6010;  // %i of %i
inline constexpr int ConversionTitle = 6011; // %i of %i
inline constexpr int Reading = 6012;
inline constexpr int UnknownFormatSkipped = 6013;
inline constexpr int MissingSkipped = 6014;
inline constexpr int UnreadableSkipped = 6015;
inline constexpr int NotConverted = 6016;
inline constexpr int ExecutingCommands = 6017;
inline constexpr int ExecutingLine = 6018; // %i of %i
inline constexpr int ScriptComplete = 6019;
inline constexpr int WritingFile = 6020;
inline constexpr int Saving = 6021;
inline constexpr int OverwriteQuestion = 6022; // %s
inline constexpr int NotOverwriting = 6023;
inline constexpr int Overwriting = 6024;
inline constexpr int ProcessingComplete = 6025;
inline constexpr int BatchComplete = 6026;
inline constexpr int CountFormat = 6027; // "%i "
inline constexpr int FilesConverted = 6028;
inline constexpr int FilesPrinted = 6029;
inline constexpr int ProcessComplete = 6030;
inline constexpr int Ready = 6031;
inline constexpr int Scanning = 6032;
inline constexpr int ScanningFile = 6033; // %i of %i
inline constexpr int GeneratingOptimum = 6034;
inline constexpr int GeneratingPalette = 6035;
inline constexpr int ColorsFound = 6036; // %i
inline constexpr int AbortOrSkipTitle = 6037;
inline constexpr int AbortOrSkipQuestion = 6038;
inline constexpr int ButtonYes = 6039;
inline constexpr int ButtonYesAll = 6040;
inline constexpr int ButtonNo = 6041;
inline constexpr int ButtonNoAll = 6042;
inline constexpr int ButtonCancel = 6043;
inline constexpr int ButtonAbort = 6044;
inline constexpr int ButtonSkipFile = 6045;
inline constexpr int ProgressWindowTitle = 6046;

inline constexpr int ListTooLarge = 6050;   // %s path, %d KB
inline constexpr int ListCannotOpen = 6051; // %s path
inline constexpr int CannotOpenRequested = 6052;
inline constexpr int NotAnImageList = 6053;
inline constexpr int ListRequired = 6054;

inline constexpr int LogNotSaved = 6060; // %s reason

inline constexpr int OutputFolderNotMade = 6065; // %s folder, %s reason

inline constexpr int InvalidCommandLine = 6070;

inline constexpr int ConsoleUsage = 6100;
inline constexpr int ConsoleVersion = 6101; // %s version
inline constexpr int ConsoleQuoteHint = 6102;
inline constexpr int ConsoleScript = 6103;    // %s path
inline constexpr int ConsoleImageList = 6104; // %s path
inline constexpr int ConsoleEmptyScript = 6105;
inline constexpr int ConsoleRunHint = 6106;
inline constexpr int ConsoleNoPrinting = 6107;
inline constexpr int ConsoleOverwritePrompt = 6108;
inline constexpr int ConsoleAbortPrompt = 6109;
inline constexpr int ConsoleBadVersion = 6110;
inline constexpr int ConsoleStateFolder = 6111; // %s reason
inline constexpr int ConsoleListNotRead = 6112; // %s path
inline constexpr int ConsoleListLine = 6113;    // %i, %s
inline constexpr int ConsoleBadJobs = 6114;
inline constexpr int ConsoleBadShard = 6115;
inline constexpr int ConsoleNoiseOneAtATime = 6116;
} // namespace ids
