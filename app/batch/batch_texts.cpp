#include "app/batch/batch_texts.h"

QString UiText(int id) {
    return QString::fromStdString(LoadString(id));
}

DialogFilter ParseDialogFilter(std::string_view filter) {
    DialogFilter f;
    size_t pos = 0;
    while (pos < filter.size()) {
        const size_t bar = filter.find('|', pos);
        if (bar == std::string_view::npos || bar == pos) break;
        const std::string_view description = filter.substr(pos, bar - pos);
        size_t end = filter.find('|', bar + 1);
        if (end == std::string_view::npos) end = filter.size();
        std::string_view pattern = filter.substr(bar + 1, end - bar - 1);
        pos = end + 1;
        std::string ext;
        if (pattern == "*.*") {
            pattern = "*";
        } else if (pattern.rfind("*.", 0) == 0 && pattern.find_first_of(";* ", 2) == pattern.npos) {
            ext = std::string(pattern.substr(2));
        }
        f.qtFilters << QString::fromUtf8(description.data(),
                                         static_cast<qsizetype>(description.size())) +
                           QStringLiteral(" (") +
                           QString::fromUtf8(pattern.data(),
                                             static_cast<qsizetype>(pattern.size())) +
                           QStringLiteral(")");
        f.extensions.push_back(std::move(ext));
    }
    return f;
}
