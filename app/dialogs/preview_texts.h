// Numbers of the preview dialogs' texts in the string table
// (core/strings/app_preview_dialogs.inc).
#pragma once

namespace previewids {
// Field labels of the shared templates, by command.
inline constexpr int Brightness = 2000;
inline constexpr int Contrast = 2001;
inline constexpr int Highlight = 2002;
inline constexpr int Midtone = 2003;
inline constexpr int Shadow = 2004;
inline constexpr int HuePercent = 2005;
inline constexpr int SaturationPercent = 2006;
inline constexpr int Luminance = 2007;
inline constexpr int Red = 2008;
inline constexpr int Green = 2009;
inline constexpr int Blue = 2010;
inline constexpr int Hue = 2011;
inline constexpr int Saturation = 2012;
inline constexpr int BitsPerChannel = 2013;
inline constexpr int Threshold = 2014;

// In the plain dialogs' texts; shared by every background colour chooser.
inline constexpr int SelectBackgroundColor = 2517;

inline constexpr int Before = 8300;
inline constexpr int After = 8301;
inline constexpr int Correction = 8302;
inline constexpr int Difference = 8303;
inline constexpr int Color = 8304;
inline constexpr int WarpCaption = 8305;
inline constexpr int Effect = 8306;
inline constexpr int Clipping = 8307;
inline constexpr int Strength = 8308;
inline constexpr int FromRight = 8309;
inline constexpr int FromLeft = 8310;
inline constexpr int Direction = 8311;
inline constexpr int Degrees = 8312;
inline constexpr int Intensity = 8313;
inline constexpr int Pixels = 8314;
inline constexpr int Horizontal = 8315;
inline constexpr int Vertical = 8316;
inline constexpr int Random = 8317;
inline constexpr int Uniform = 8318;
inline constexpr int Noise = 8319;
inline constexpr int Symmetric = 8320;
inline constexpr int BlockWidth = 8321;
inline constexpr int BlockHeight = 8322;
inline constexpr int NoPreviewImage = 8323;

// Messages of the OK checks.
inline constexpr int NonZeroValue = 5019;
inline constexpr int DifferenceRange = 5030;
} // namespace previewids
