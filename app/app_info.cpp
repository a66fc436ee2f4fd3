#include "app/app_info.h"

#include "app/main_strings.h"
#include "app/qt_text.h"

#include <QtGlobal>

QString ApplicationName() {
    return QText(appids::ApplicationName);
}

QString ApplicationVersion() {
    return QStringLiteral(BRELLIX_VERSION);
}

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitBrellixResources() {
    Q_INIT_RESOURCE(brellix);
}

void InitAppResources() {
    static const bool done = (InitBrellixResources(), true);
    (void)done;
}
