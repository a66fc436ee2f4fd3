#include "app/qt_text.h"

#include <QFile>
#include <QStringList>

QString QText(int id) {
    return QString::fromStdString(LoadString(id));
}

QString ToolTipText(int id) {
    const QString text = QText(id);
    const qsizetype nl = text.indexOf('\n');
    return nl < 0 ? text : text.mid(nl + 1);
}

QString StatusTipText(int id) {
    return QText(id).section('\n', 0, 0);
}

std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString DialogFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        QString patterns = parts[i + 1].trimmed();
        if (description.isEmpty() || patterns.isEmpty()) continue;
        patterns.replace(';', ' ');
        QStringList list = patterns.split(' ', Qt::SkipEmptyParts);
        for (QString& p : list)
            if (p == "*.*") p = "*";
        patterns = list.join(' ');
        const qsizetype paren = description.indexOf('(');
        if (paren >= 0) description = description.left(paren).trimmed();
        out << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return out.join(QStringLiteral(";;"));
}
