// Texts and paths between the string table, the layers below (UTF-8 bytes)
// and Qt.
#pragma once

#include "core/errors.h"

#include <QString>

#include <string>
#include <utility>

// The string-table entry, or "" when there is none.
QString QText(int id);
template <class... A> QString QFormat(int id, A&&... args) {
    return QString::fromStdString(FormatString(id, std::forward<A>(args)...));
}

// Tool-tip strings hold "long text\nshort text": the tip is the short text,
// the long one serves as the status-bar tip.
QString ToolTipText(int id);
QString StatusTipText(int id);

// A path as the layers below take it (the file system's bytes) and back.
std::string ToPath(const QString& path);
QString FromPath(const std::string& path);

// A file-dialog filter of the string table ("Script Files (*.ksc)|*.ksc|
// All Files (*.*)|*.*||", or "All Files|*.*|BMP - Windows Bitmap|*.bmp|")
// as Qt writes it ("Script Files (*.ksc);;All Files (*)"). Each pattern goes
// into the description's parentheses, where Qt reads it; "*.*" becomes "*"
// since file names here need not have a dot.
QString DialogFilter(const std::string& filter);
