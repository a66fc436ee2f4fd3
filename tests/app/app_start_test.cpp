// The start-up steps of the desktop program that need no window.
#include "app/app_start.h"

#include "app_test_support.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace apptest;

class AppStartTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        FreshSettings(*dir_);
    }

    void screenDepth_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("stored");
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("4") << 4 << 4;
        QTest::newRow("8") << 8 << 8;
        QTest::newRow("15 counts as 24") << 15 << 24;
        QTest::newRow("16 counts as 24") << 16 << 24;
        QTest::newRow("24") << 24 << 24;
        QTest::newRow("32 counts as 24") << 32 << 24;
    }
    void screenDepth() {
        QFETCH(int, bits);
        QTEST(StoredScreenDepth(bits), "stored");
    }

    void aWritableFolderIsTestedWithoutLeavingTheProbe() {
        const std::string folder = dir_->path().toStdString();
        QVERIFY(IsFolderWritable(folder));
        QVERIFY(IsFolderWritable(folder + "/"));
        QVERIFY(!QFile::exists(dir_->filePath("WRITE.TST")));
        QVERIFY(!IsFolderWritable(folder + "/missing"));
        QVERIFY(!IsFolderWritable(""));
    }

    void aFolderOtherThanHomeIsWrittenBackWithASlash() {
        AppSettings().Set(setting::UserDirectory, dir_->path().toStdString());
        const UserFolder f = CheckUserFolder(AppSettings());
        QVERIFY(!f.fellBack);
        QCOMPARE(f.folder, dir_->path().toStdString());
        QCOMPARE(AppSettings().Get(setting::UserDirectory), dir_->path().toStdString() + "/");
        // A second start finds the same value.
        CheckUserFolder(AppSettings());
        QCOMPARE(AppSettings().Get(setting::UserDirectory), dir_->path().toStdString() + "/");
    }

    void theHomeFolderIsNotWrittenBack() {
        const UserFolder f = CheckUserFolder(AppSettings());
        QCOMPARE(f.folder, HomeFolder());
        QVERIFY(!AppSettings().GetRaw("General", "UserDirectory"));
    }

    void anUnwritableFolderFallsBackToHomeForThisRun() {
        const std::string missing = dir_->filePath("gone").toStdString();
        AppSettings().Set(setting::UserDirectory, missing);
        const UserFolder f = CheckUserFolder(AppSettings());
        QVERIFY(f.fellBack);
        QCOMPARE(f.configured, missing);
        QCOMPARE(f.folder, HomeFolder());
        QCOMPARE(AppSettings().Get(setting::UserDirectory), missing);
    }

    void theCommandLineScriptGetsItsExtensionAndAnAbsolutePath_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name without a dot") << "demo"
                                            << "demo.ksc";
        QTest::newRow("name with an extension") << "demo.ksc"
                                                << "demo.ksc";
        QTest::newRow("other extension kept") << "list.brl"
                                              << "list.brl";
        QTest::newRow("dot in the folder only") << "v1.2/demo"
                                                << "v1.2/demo.ksc";
    }
    void theCommandLineScriptGetsItsExtensionAndAnAbsolutePath() {
        QFETCH(QString, given);
        QFETCH(QString, expected);
        QDir(dir_->path()).mkpath("v1.2");
        for (const char* name : {"demo.ksc", "list.brl", "v1.2/demo.ksc"})
            QVERIFY(WriteBytes(dir_->filePath(name), "x"));
        CommandLine cl;
        cl.scriptPath = given.toStdString();
        std::string message;
        QVERIFY(PrepareCommandLineScript(&cl, dir_->path().toStdString(), &message));
        QCOMPARE(QString::fromStdString(cl.scriptPath), dir_->filePath(expected));
    }

    void aScriptThatCannotBeOpenedIsReported() {
        CommandLine cl;
        cl.scriptPath = dir_->filePath("absent").toStdString();
        std::string message;
        QVERIFY(!PrepareCommandLineScript(&cl, "/", &message));
        QCOMPARE(QString::fromStdString(message),
                 QStringLiteral("The script could not be loaded because ") +
                     QString::fromLocal8Bit(std::strerror(ENOENT)));
    }

  private:
    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(AppStartTest)
#include "app_start_test.moc"
