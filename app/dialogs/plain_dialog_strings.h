// Numbers of the texts of the parameter dialogs without a preview in the
// string table (core/strings/app_plain_dialogs.inc).
#pragma once

namespace dlgids {
// Colour pickers' titles.
inline constexpr int SelectTransparentColor = 2516;
inline constexpr int SelectBackgroundColor = 2517;
inline constexpr int SelectBorderColor = 2518;
// Refused OK of "Add Borders".
inline constexpr int NeedNonZeroValue = 5019;

inline constexpr int Color = 8400;
inline constexpr int Symmetric = 8401;
inline constexpr int Top = 8402;
inline constexpr int Bottom = 8403;
inline constexpr int Left = 8404;
inline constexpr int Right = 8405;
inline constexpr int Width = 8406;
inline constexpr int Height = 8407;
inline constexpr int NearestColor = 8408;
inline constexpr int OrderedDither = 8409;
inline constexpr int ErrorDiffusion = 8410;
inline constexpr int ReduceBleeding = 8411;
inline constexpr int IncludeWindowsColors = 8412;
inline constexpr int OptimizedMedianCut = 8413;
inline constexpr int OptimizedOctree = 8414;
inline constexpr int MethodGroup = 8415;
inline constexpr int PaletteGroup = 8416;

inline constexpr int ImageSize = 8420;
inline constexpr int TileSize = 8421;
inline constexpr int UseBoth = 8422;
inline constexpr int UseWidth = 8423;
inline constexpr int UseHeight = 8424;
inline constexpr int Percentage = 8425;
inline constexpr int TileWidth = 8426;
inline constexpr int TileHeight = 8427;
inline constexpr int TileColor = 8428;
inline constexpr int ResizeOrResample = 8429;
inline constexpr int ResampleOnly = 8430;
inline constexpr int ResizeOnly = 8431;
inline constexpr int TileHint = 8432;

inline constexpr int RotateRight = 8435;
inline constexpr int RotateLeft = 8436;
inline constexpr int Angle90 = 8437;
inline constexpr int Angle180 = 8438;
inline constexpr int Angle270 = 8439;
inline constexpr int AngleFree = 8440;
inline constexpr int FreeRange = 8441;
inline constexpr int DirectionGroup = 8442;
inline constexpr int AngleGroup = 8443;

inline constexpr int CenterImage = 8445;

inline constexpr int PaletteFile = 8450;
inline constexpr int Browse = 8451;
inline constexpr int NearestColorMatching = 8452;
inline constexpr int ErrorDiffusionDithering = 8453;
inline constexpr int MaintainIndexes = 8454;
inline constexpr int PaletteFilter = 8455;
inline constexpr int ChoosePaletteFile = 8456;
inline constexpr int PaletteNotRead = 8457;  // %s path, %s reason
inline constexpr int PaletteColors = 8458;   // %d
inline constexpr int NoFile = 8459;
inline constexpr int OpenPaletteTitle = 8460;

inline constexpr int TotalColors = 8465;
inline constexpr int MedianCut = 8466;
inline constexpr int Octree = 8467;
inline constexpr int MapToNearest = 8468;
inline constexpr int DiffusionDither = 8469;

inline constexpr int GreyValues = 8475;
inline constexpr int RedComponents = 8476;
inline constexpr int GreenComponents = 8477;
inline constexpr int BlueComponents = 8478;
inline constexpr int Weighted = 8479;
inline constexpr int NonWeighted = 8480;
inline constexpr int FloydSteinberg = 8481;
inline constexpr int Burkes = 8482;
inline constexpr int Stucki = 8483;
inline constexpr int ConvertGroup = 8484;
inline constexpr int WindowsPalette = 8485;
inline constexpr int StandardPalette = 8486;
inline constexpr int TwoColorsTitle = 8490;
inline constexpr int SixteenColorsTitle = 8491;
inline constexpr int ColorsTitle256 = 8492;

inline constexpr int CropEdge = 8500;
inline constexpr int CropCenter = 8501;
inline constexpr int EdgeSymmetric = 8502;
inline constexpr int CenterSymmetric = 8503;

inline constexpr int OriginalColor = 8510;
inline constexpr int ReplacementColor = 8511;
inline constexpr int OriginalRed = 8512;
inline constexpr int OriginalGreen = 8513;
inline constexpr int OriginalBlue = 8514;
inline constexpr int Tolerance = 8515;
inline constexpr int ReplacementRed = 8516;
inline constexpr int ReplacementGreen = 8517;
inline constexpr int ReplacementBlue = 8518;
inline constexpr int ReplacementColorButton = 8519;

inline constexpr int WatermarkCenter = 8520;
inline constexpr int XOrigin = 8521;
inline constexpr int YOrigin = 8522;
inline constexpr int Opacity = 8523;
inline constexpr int WatermarkTolerance = 8524;
inline constexpr int UseTransparency = 8525;
inline constexpr int TransparentColor = 8526;
inline constexpr int LoadWatermark = 8527;
inline constexpr int WatermarkNotRead = 8528;  // %s path, %s reason
inline constexpr int NoWatermark = 8529;
inline constexpr int WatermarkInfo = 8530;     // %s name, %d width, %d height
inline constexpr int OpenWatermarkTitle = 8531;
} // namespace dlgids
