// The string-table numbers of the image list windows' texts
// (core/strings/imagelist.inc).
#pragma once

#include "batch/batch_strings.h"

namespace ids {
// "Set Input Options".
inline constexpr int InputOptionsTitle = 6300;
inline constexpr int InputOptionsList = 6301;
inline constexpr int InputOptionsBrowse = 6302;
inline constexpr int InputOptionsEdit = 6303;
inline constexpr int InputOptionsBrowseTitle = 6304;
// The editor.
inline constexpr int ListTitle = 6310;    // followed by the file name
inline constexpr int ListModified = 6311; // behind the name while modified
inline constexpr int ListColumnName = 6312;
inline constexpr int ListColumnFolder = 6313;
inline constexpr int ListNew = 6314;
inline constexpr int ListOpen = 6315;
inline constexpr int ListSave = 6316;
inline constexpr int ListSaveAs = 6317;
inline constexpr int ListAdd = 6318;
inline constexpr int ListDelete = 6319;
inline constexpr int ListImport = 6320;
inline constexpr int ListVerify = 6321;
inline constexpr int ListOk = 6322;
inline constexpr int ListCancel = 6323;
inline constexpr int ListCounts = 6324;   // %d files, %d folders
inline constexpr int ListSelected = 6325; // %d of %d
inline constexpr int ListEscHint = 6326;
inline constexpr int ListPreparing = 6327;
inline constexpr int ListVerifying = 6328; // %s folder or path
inline constexpr int ListSaveChanges = 6329;
inline constexpr int ListDiscardEmpty = 6330;
inline constexpr int ListFilter = 6331;
inline constexpr int ListOpenTitle = 6332;
inline constexpr int ListSaveAsTitle = 6333;
inline constexpr int ListAddTitle = 6334;
inline constexpr int ListImportTitle = 6335;
inline constexpr int ListNotSaved = 6336; // %s path
// "Folder Error".
inline constexpr int FolderErrorTitle = 6340;
inline constexpr int FolderErrorText = 6341;
inline constexpr int FolderErrorChange = 6342;
inline constexpr int FolderErrorDelete = 6343;
inline constexpr int FolderErrorIgnore = 6344;
inline constexpr int FolderErrorRetry = 6345;
inline constexpr int FolderErrorAbort = 6346;
inline constexpr int FolderMissing = 6347; // %s folder
inline constexpr int FolderBrowseTitle = 6348;
inline constexpr int ListAddButton = 6349;
} // namespace ids
