// Which commands of the main window are available in which busy state.
#include "app/enabling.h"

#include <QtTest>

Q_DECLARE_METATYPE(BusyMarks)

namespace {

BusyMarks Marks(bool batch, bool command, bool test) {
    BusyMarks m;
    m.batch = batch;
    m.previewCommand = command;
    m.scriptTest = test;
    return m;
}

} // namespace

class EnablingTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void rules_data() {
        QTest::addColumn<BusyMarks>("busy");
        QTest::addColumn<bool>("newOpen");
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("cutCopy");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<bool>("preferences");
        QTest::addColumn<bool>("exit");
        QTest::addColumn<bool>("imageList");
        QTest::addColumn<bool>("controls");
        QTest::addColumn<bool>("stop");
        // A line is selected and the clipboard holds a command throughout.
        //                                             new   save  cut   paste pref  exit  list ctrl
        //                                             stop
        QTest::newRow("idle") << Marks(0, 0, 0) << true << true << true << true << true << true
                              << true << true << false;
        QTest::newRow("batch") << Marks(1, 0, 0) << false << true << false << false << false
                               << false << true << false << false;
        QTest::newRow("preview command") << Marks(0, 1, 0) << false << true << false << false
                                         << true << false << true << false << true;
        QTest::newRow("script test") << Marks(0, 0, 1) << false << true << false << false << false
                                     << false << false << false << true;
    }
    void rules() {
        QFETCH(BusyMarks, busy);
        const Availability a = ComputeAvailability(busy, true, true);
        QTEST(a.newOpen, "newOpen");
        QTEST(a.save, "save");
        QTEST(a.cutCopy, "cutCopy");
        QTEST(a.paste, "paste");
        QTEST(a.preferences, "preferences");
        QTEST(a.exit, "exit");
        QTEST(a.imageList, "imageList");
        QTEST(a.controls, "controls");
        QTEST(a.stop, "stop");
        QVERIFY(a.about);
    }

    void cutAndCopyNeedASelectedLineAndPasteACommandOnTheClipboard() {
        const Availability none = ComputeAvailability({}, false, false);
        QVERIFY(!none.cutCopy);
        QVERIFY(!none.paste);
        QVERIFY(none.newOpen);
        const Availability line = ComputeAvailability({}, true, false);
        QVERIFY(line.cutCopy);
        QVERIFY(!line.paste);
        const Availability clip = ComputeAvailability({}, false, true);
        QVERIFY(!clip.cutCopy);
        QVERIFY(clip.paste);
    }
};

QTEST_MAIN(EnablingTest)
#include "enabling_test.moc"
