// Numbers of the main window's texts in the string table
// (core/strings/app_main.inc).
#pragma once

namespace appids {
inline constexpr int ApplicationName = 128;

// Tool tips: "long text\nshort text"; the short text is the tip.
inline constexpr int TipAllCommands = 2500;
inline constexpr int TipAdd = 2501;
inline constexpr int TipNewImage = 2502;
inline constexpr int TipRevert = 2503;
inline constexpr int TipScript = 2504;
inline constexpr int TipDelete = 2505;
inline constexpr int TipMoveUp = 2506;
inline constexpr int TipMoveDown = 2507;
inline constexpr int TipEdit = 2508;
inline constexpr int TipExec = 2509;
inline constexpr int TipTest = 2510;
inline constexpr int TipStart = 2511;
inline constexpr int TipPreview = 2512;
inline constexpr int TipParameters = 2513;
inline constexpr int TipPreviewInfo = 2514;

inline constexpr int AvailableCommands = 8000;
inline constexpr int AddCommand = 8001;
inline constexpr int NewImage = 8002;
inline constexpr int Revert = 8003;
inline constexpr int PreviewGroup = 8004;
inline constexpr int NoPreviewImage = 8005;
inline constexpr int PreviewInfo = 8006; // %ld x %ld x %ld
inline constexpr int CurrentScript = 8007;
inline constexpr int SelectedParameters = 8008;
inline constexpr int Delete = 8009;
inline constexpr int MoveUp = 8010;
inline constexpr int MoveDown = 8011;
inline constexpr int Edit = 8012;
inline constexpr int ExecCmd = 8013;
inline constexpr int TestScript = 8014;
inline constexpr int Start = 8015;
inline constexpr int StepProgress = 8016;
inline constexpr int Stop = 8017;
inline constexpr int TipStop = 8018;

inline constexpr int MenuScript = 8020;
inline constexpr int MenuNew = 8021;
inline constexpr int MenuOpen = 8022;
inline constexpr int MenuSave = 8023;
inline constexpr int MenuSaveAs = 8024;
inline constexpr int MenuPreferences = 8025;
inline constexpr int MenuRecent = 8026;
inline constexpr int MenuExit = 8027;
inline constexpr int MenuEdit = 8028;
inline constexpr int MenuCut = 8029;
inline constexpr int MenuCopy = 8030;
inline constexpr int MenuPaste = 8031;
inline constexpr int MenuImageList = 8032;
inline constexpr int MenuHelp = 8033;
inline constexpr int MenuHelpTopics = 8034;
inline constexpr int MenuAbout = 8035;
inline constexpr int RecentEntry = 8036; // %i number, %s path
inline constexpr int NotAvailable = 8037;

inline constexpr int LoadingPreview = 8040;
inline constexpr int OpenPreviewTitle = 8041;
inline constexpr int ExecutingCommand = 8042;
inline constexpr int SimulatingScript = 8043;
inline constexpr int PreviewFileName = 8044;
inline constexpr int InternalPreview = 8045;
inline constexpr int PreviewNotRead = 8046; // %s path, %s reason

inline constexpr int BuildInfoTitle = 8050;
inline constexpr int BuildDate = 8051;
inline constexpr int BuildMode = 8052;
inline constexpr int BuildRelease = 8053;
inline constexpr int TargetProcessor = 8054;
inline constexpr int MemoryDriveStatus = 8055;
inline constexpr int MemoryLoad = 8056;        // %lu
inline constexpr int TotalPhysical = 8057;     // %lu%s
inline constexpr int AvailablePhysical = 8058; // %lu%s
inline constexpr int TotalPaging = 8059;       // %lu%s
inline constexpr int AvailablePaging = 8060;   // %lu%s
inline constexpr int TempFreeSpace = 8061;     // %lu%s
inline constexpr int UnitMB = 8062;
inline constexpr int UnitKB = 8063;
inline constexpr int VideoDriver = 8064;
inline constexpr int BitsPerPixel = 8065;   // %i
inline constexpr int NumberOfColors = 8066; // %lu
inline constexpr int DIBOutput = 8067;      // %i
inline constexpr int PaletteSize = 8068;    // %i
inline constexpr int PaletteSizeNone = 8069;
inline constexpr int Resolution = 8070; // %i x %i
inline constexpr int OperatingSystemInfo = 8071;
inline constexpr int OperatingSystem = 8072;
inline constexpr int OSVersion = 8073;      // %i.%i
inline constexpr int AdditionalInfo = 8074; // %s
inline constexpr int BuildDebug = 8075;
inline constexpr int AboutTitle = 8076;     // %s name
inline constexpr int NameAndVersion = 8077; // %s name, %s version
inline constexpr int AboutText = 8078;

inline constexpr int UserFolderNotWritable = 8090; // %s folder, %s home

inline constexpr int SlotEditorTitle = 8100; // %s command name
inline constexpr int ColorValue = 8101;      // %d red, %d green, %d blue
inline constexpr int ChooseColorTitle = 8102;
} // namespace appids
