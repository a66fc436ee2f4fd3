// The string-table numbers of the batch windows' texts, and the few helpers
// that turn table texts into what Qt's widgets take.
#pragma once

#include "batch/batch_strings.h"
#include "core/errors.h"

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ids {
// Batch input dialog.
inline constexpr int InputTitle = 6200;
inline constexpr int InputNext = 6201;
inline constexpr int InputInterrupt = 6202;
inline constexpr int InputUseScriptOutput = 6203;
inline constexpr int InputSelectAll = 6204;
inline constexpr int Help = 6205;
inline constexpr int InputHelpText = 6206;
// Batch output dialog.
inline constexpr int OutputTitle = 6210;
inline constexpr int OutputFinish = 6211;
inline constexpr int OutputSaveIn = 6212;
inline constexpr int OutputSaveAsType = 6213;
inline constexpr int OutputSubType = 6214;
inline constexpr int OutputFolderLabel = 6215;
inline constexpr int OutputOptions = 6216;
inline constexpr int OutputBrowse = 6217;
inline constexpr int OutputRetain = 6218;
inline constexpr int OutputNotWritable = 6219; // %s extension
inline constexpr int OutputChooseFolder = 6220;
inline constexpr int OutputHelpText = 6221;
inline constexpr int OutputTypeEntry = 6222; // %s extension, %s description
// Format options pages.
inline constexpr int PageTitle = 6230;
inline constexpr int PageCompression = 6231;
inline constexpr int PageSetDpi = 6232;
inline constexpr int PageMaintainDpi = 6233;
inline constexpr int PageTransKeep = 6234;
inline constexpr int PageTransNone = 6235;
inline constexpr int PageTransColor = 6236;
inline constexpr int PageColorButton = 6237;
inline constexpr int PageTransIndex = 6238;
inline constexpr int PageVersion = 6239;
inline constexpr int PageQzm5 = 6240;
inline constexpr int PageQzm6 = 6241;
inline constexpr int PageQzm7 = 6242;
inline constexpr int PageChannels = 6243;
inline constexpr int PageRgb = 6244;
inline constexpr int PageCmyk = 6245;
inline constexpr int Ok = 6246;
inline constexpr int PageResolutionGroup = 6247;
inline constexpr int PageCompressionGroup = 6248;
inline constexpr int PageTransparencyGroup = 6249;
inline constexpr int PageHelpText = 6250;
inline constexpr int PageColorTitle = 6251;
inline constexpr int PageRange = 6252; // %d, %d
// Progress window.
inline constexpr int CurrentStepTitle = 6047;
inline constexpr int JobProgressTitle = 6048;
inline constexpr int SaveLog = 6260;
inline constexpr int LogFilter = 6261;
inline constexpr int SaveLogTitle = 6262;
inline constexpr int FileLabel = 6263;
inline constexpr int StepLabel = 6264;
} // namespace ids

// The table's text as a QString (UTF-8).
QString UiText(int id);
template <class... A> QString UiFormat(int id, A&&... args) {
    return QString::fromStdString(FormatString(id, std::forward<A>(args)...));
}
inline QString ToQt(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string FromQt(const QString& s) {
    return s.toStdString();
}

// A dialog filter of the form "Description|pattern|Description|pattern|"
// (an empty pair ends it) as Qt's name filters, "Description (pattern)".
// "*.*" becomes "*", which is what it means for names without a dot.
struct DialogFilter {
    QStringList qtFilters;
    // The extension of each filter's pattern ("" for "*.*" and for lists).
    std::vector<std::string> extensions;
};
DialogFilter ParseDialogFilter(std::string_view filter);
