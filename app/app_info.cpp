#include "app/app_info.h"

QString ApplicationName() { return QStringLiteral("Brellix"); }

QString ApplicationVersion() { return QStringLiteral(BRELLIX_VERSION); }
