// Texts between the string table and Qt.
#include "app/main_strings.h"
#include "app/qt_text.h"
#include "formats/format_table.h"

#include <QtTest>

class QtTextTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void dialogFilters_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("qt");
        QTest::newRow("script open filter") << "Script Files (*.ksc)|*.ksc|All Files (*.*)|*.*||"
                                            << "Script Files (*.ksc);;All Files (*)";
        QTest::newRow("script save filter") << "Script Files (*.ksc)|*.ksc||"
                                            << "Script Files (*.ksc)";
        QTest::newRow("descriptions without patterns")
            << "All Files|*.*|BMP - Windows Bitmap|*.bmp|"
            << "All Files (*);;BMP - Windows Bitmap (*.bmp)";
        QTest::newRow("several patterns") << "Images|*.png;*.jpg|"
                                          << "Images (*.png *.jpg)";
        QTest::newRow("empty") << ""
                               << "";
    }
    void dialogFilters() {
        QFETCH(QString, table);
        QTEST(DialogFilter(table.toStdString()), "qt");
    }

    void theReadableFormatsFilterListsEveryDecodableExtension() {
        const QString filter = DialogFilter(OpenDialogFilter());
        QVERIFY(filter.startsWith("All Files (*);;"));
        for (const ReadableFormatEntry& f : ReadableFormats()) {
            if (!f.decodable) continue;
            for (int i = 0; i < f.extCount; ++i)
                QVERIFY2(filter.contains(QStringLiteral("*.%1)").arg(f.exts[i])), f.exts[i]);
        }
    }

    void toolTipsAreTheShortTextAfterTheNewline() {
        QCOMPARE(ToolTipText(appids::TipAdd), QStringLiteral("Add Command"));
        QCOMPARE(StatusTipText(appids::TipAdd),
                 QStringLiteral("Add the selected command to the current script"));
        QCOMPARE(ToolTipText(appids::TipPreviewInfo), QStringLiteral("Preview Image Info"));
        QCOMPARE(ToolTipText(appids::AddCommand), QText(appids::AddCommand));
    }

    void pathsKeepTheirBytes() {
        const std::string path = "/tmp/\xc3\xa9t\xc3\xa9 \xc3\xa0 la plage.png";
        QCOMPARE(ToPath(FromPath(path)), path);
        QCOMPARE(FromPath(path), QString::fromUtf8("/tmp/été à la plage.png"));
    }
};

QTEST_MAIN(QtTextTest)
#include "qt_text_test.moc"
