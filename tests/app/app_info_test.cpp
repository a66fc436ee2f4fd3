#include "app/app_info.h"

#include <QtTest>

class AppInfoTest : public QObject {
    Q_OBJECT
  private slots:
    void nameAndVersion() {
        QCOMPARE(ApplicationName(), QStringLiteral("Brellix"));
        QCOMPARE(ApplicationVersion(), QStringLiteral(BRELLIX_VERSION));
        QVERIFY(ApplicationVersion().count('.') == 2);
    }
};

QTEST_MAIN(AppInfoTest)
#include "app_info_test.moc"
