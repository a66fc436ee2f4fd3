// The "Batch Progress" window, and the adapter through which a worker thread
// reports into it and asks its questions.
#include "app/batch/progress_window.h"
#include "app/batch/qt_batch_window.h"
#include "core/settings.h"
#include "tests/app/batch_test_util.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace batchtest;

Q_DECLARE_METATYPE(OverwriteAnswer)
Q_DECLARE_METATYPE(AbortOrSkip)

namespace {

template <class T> T* Child(QWidget* w, const char* name) {
    return w->findChild<T*>(QLatin1String(name));
}

// A worker thread running f, joined on destruction.
class Worker {
  public:
    explicit Worker(std::function<void()> f)
        : thread_([this, f = std::move(f)] {
              f();
              done_ = true;
          }) {}
    ~Worker() { thread_.join(); }
    bool done() const { return done_; }

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace

class BatchProgressTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->path() + QLatin1Char('/') + name; }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        FreshSettings(*dir_);
    }
    void cleanup() { dir_.reset(); }

    // ---- the window ----

    void startsReadyForARun() {
        BatchProgressWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Batch Progress"));
        QVERIFY(!Child<QPushButton>(&w, "ok")->isEnabled());
        QVERIFY(!Child<QPushButton>(&w, "saveLog")->isEnabled());
        QVERIFY(Child<QPushButton>(&w, "abort")->isEnabled());
        QCOMPARE(Child<QPushButton>(&w, "saveLog")->text(), QStringLiteral("&Save Log..."));
        QCOMPARE(Child<QPushButton>(&w, "abort")->text(), QStringLiteral("&Abort"));
        QCOMPARE(Child<QLabel>(&w, "lineProgressLabel")->text(),
                 QStringLiteral("Script Line Progress"));
        QVERIFY(!w.runFinished());
        QVERIFY(!w.isModal());
    }

    void logShowsEveryLineWithTheNewestSelected() {
        BatchProgressWindow w;
        w.addLogLine("Reading /a.png");
        w.addLogLine("Executing Script Commands...");
        auto* list = Child<QListWidget>(&w, "log");
        QCOMPARE(list->currentRow(), 1);
        w.addLogLine("Generating Palette...");
        w.replaceLastLogLine("Generating Palette...12 Colors Found");
        QCOMPARE(list->currentRow(), 2);
        QCOMPARE(w.logLines(), (QStringList{"Reading /a.png", "Executing Script Commands...",
                                            "Generating Palette...12 Colors Found"}));
    }

    void barsAndTexts() {
        BatchProgressWindow w;
        w.setJobRange(9);
        w.setJobPosition(4);
        w.setLineProgress(140);
        w.setCounterText("Processing File 5 of 9");
        w.setStepText("Reading ");
        w.setFileName("été.png");
        w.setLineProgressLabel("Loading Watermarks");
        QCOMPARE(Child<QProgressBar>(&w, "jobProgress")->maximum(), 9);
        QCOMPARE(Child<QProgressBar>(&w, "jobProgress")->value(), 4);
        QCOMPARE(Child<QProgressBar>(&w, "lineProgress")->value(), 100);
        QCOMPARE(Child<QLabel>(&w, "fileCounter")->text(),
                 QStringLiteral("Processing File 5 of 9"));
        QCOMPARE(Child<QLabel>(&w, "currentStep")->text(), QStringLiteral("Reading "));
        QCOMPARE(Child<QLabel>(&w, "fileName")->text(), QStringLiteral("été.png"));
        QCOMPARE(Child<QLabel>(&w, "lineProgressLabel")->text(),
                 QStringLiteral("Loading Watermarks"));
    }

    void requestsDuringTheRun() {
        BatchProgressWindow w;
        w.show();
        QSignalSpy aborts(&w, &BatchProgressWindow::abortRequested);
        QSignalSpy escapes(&w, &BatchProgressWindow::escapeRequested);
        QSignalSpy closed(&w, &BatchProgressWindow::closedByUser);
        QVERIFY(Click(&w, "abort"));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.close()); // closing is an abort request, not a close
        QCOMPARE(aborts.count(), 2);
        QCOMPARE(escapes.count(), 1);
        QCOMPARE(closed.count(), 0);
        QVERIFY(w.isVisible());
    }

    void finishedWindowClosesWithOk_data() {
        QTest::addColumn<int>("how"); // 0 OK, 1 Escape, 2 close
        QTest::newRow("OK") << 0;
        QTest::newRow("Escape") << 1;
        QTest::newRow("close") << 2;
    }
    void finishedWindowClosesWithOk() {
        QFETCH(int, how);
        BatchProgressWindow w;
        w.show();
        w.finishRun();
        QVERIFY(w.runFinished());
        QVERIFY(Child<QPushButton>(&w, "ok")->isEnabled());
        QVERIFY(Child<QPushButton>(&w, "ok")->isDefault());
        QVERIFY(Child<QPushButton>(&w, "saveLog")->isEnabled());
        QVERIFY(!Child<QPushButton>(&w, "abort")->isEnabled());
        QSignalSpy closed(&w, &BatchProgressWindow::closedByUser);
        QSignalSpy escapes(&w, &BatchProgressWindow::escapeRequested);
        if (how == 0) QVERIFY(Click(&w, "ok"));
        if (how == 1) QTest::keyClick(&w, Qt::Key_Escape);
        if (how == 2) QVERIFY(w.close());
        QCOMPARE(closed.count(), 1);
        QCOMPARE(escapes.count(), 0);
        QVERIFY(!w.isVisible());
    }

    void logIsSavedWithCrLf() {
        BatchProgressWindow w;
        QString reason;
        QVERIFY(w.saveLog(path("empty.log"), &reason));
        QCOMPARE(ReadAll(path("empty.log")), QByteArray());
        w.addLogLine("Reading /x/été.png");
        w.addLogLine("1  File(s) successfully converted.");
        QVERIFY(w.saveLog(path("run.log"), &reason));
        QCOMPARE(ReadAll(path("run.log")),
                 QString("Reading /x/été.png\r\n1  File(s) successfully converted.\r\n").toUtf8());
        QVERIFY(!w.saveLog(path("no/such/folder/run.log"), &reason));
        QVERIFY(!reason.isEmpty());
    }

    void saveLogButtonStartsInTheLogFolderAndRemembersIt() {
        QDir().mkpath(path("logs"));
        QDir().mkpath(path("elsewhere"));
        AppSettings().Set(setting::LogDirectory, path("logs").toStdString());
        BatchProgressWindow w;
        w.addLogLine("Batch processing complete.");
        w.finishRun();
        w.show();
        QString started;
        auto answered = WhenShown("saveLogDialog", [&](QWidget* d) {
            auto* dialog = static_cast<QFileDialog*>(d);
            started = dialog->directory().absolutePath();
            dialog->setDirectory(path("elsewhere"));
            Child<QLineEdit>(dialog, "fileNameEdit")->setText("mine");
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        });
        QVERIFY(Click(&w, "saveLog"));
        QVERIFY(answered->ran);
        QCOMPARE(QFileInfo(started), QFileInfo(path("logs")));
        // The default extension is added.
        QCOMPARE(ReadAll(path("elsewhere/mine.log")), QByteArray("Batch processing complete.\r\n"));
        QCOMPARE(QFileInfo(QString::fromStdString(AppSettings().Get(setting::LogDirectory))),
                 QFileInfo(path("elsewhere")));
        SettingsStore saved(AppSettings().path());
        QVERIFY(saved.Load());
        QCOMPARE(QFileInfo(QString::fromStdString(saved.Get(setting::LogDirectory))),
                 QFileInfo(path("elsewhere")));
    }

    void saveLogFromAFolderThatIsGoneStartsAtHome() {
        AppSettings().Set(setting::LogDirectory, path("gone").toStdString());
        BatchProgressWindow w;
        w.finishRun();
        w.show();
        QString started;
        WhenShown("saveLogDialog", [&](QWidget* d) {
            started = static_cast<QFileDialog*>(d)->directory().absolutePath();
            static_cast<QFileDialog*>(d)->reject();
        });
        QVERIFY(Click(&w, "saveLog"));
        QCOMPARE(QFileInfo(started), QFileInfo(QString::fromStdString(HomeFolder())));
    }

    void failedSaveIsReported() {
        BatchProgressWindow w;
        w.finishRun();
        w.show();
        WhenShown("saveLogDialog", [&](QWidget* d) {
            auto* dialog = static_cast<QFileDialog*>(d);
            dialog->setDirectory(dir_->path());
            Child<QLineEdit>(dialog, "fileNameEdit")->setText("missing/run.log");
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        });
        QString message;
        auto answered = WhenShown("batchMessage", [&](QWidget* box) {
            message = static_cast<QMessageBox*>(box)->text();
            Click(box, "ok");
        });
        QVERIFY(Click(&w, "saveLog"));
        QTRY_VERIFY(answered->ran);
        QVERIFY2(message.startsWith("The log file could not be saved because "),
                 qPrintable(message));
        QVERIFY(message.size() > QString("The log file could not be saved because ").size());
        QVERIFY(!QFileInfo::exists(path("missing/run.log")));
    }

    // ---- the adapter, called from a worker thread ----

    void reportsArriveInOrderAndShowTheWindow() {
        BatchProgressWindow w;
        QtBatchWindow adapter(&w);
        QSignalSpy status(&adapter, &QtBatchWindow::mainStatusChanged);
        QSignalSpy lines(&adapter, &QtBatchWindow::scriptLineSelected);
        QSignalSpy counters(&adapter, &QtBatchWindow::counterTextChanged);
        {
            Worker worker([&] {
                adapter.setMainStatus("Running Batch Process");
                adapter.setJobRange(3);
                for (int i = 0; i < 200; ++i)
                    adapter.logLineAdded("line " + std::to_string(i));
                adapter.lastLogLineChanged("last");
                adapter.setCounterText("Processing File 1 of 3");
                adapter.selectScriptLine(2);
                adapter.setTitle("Batch Conversion Status (File 1 of 3)");
                for (int p = 0; p <= 100; ++p)
                    for (int k = 0; k < 50; ++k)
                        adapter.setLineProgress(p);
                adapter.setJobPosition(1);
                adapter.setMainStatus("Ready");
            });
        }
        QTRY_COMPARE(status.count(), 2);
        QVERIFY(w.isVisible());
        const QStringList log = w.logLines();
        QCOMPARE(log.size(), 200);
        QCOMPARE(log.first(), QStringLiteral("line 0"));
        QCOMPARE(log.at(198), QStringLiteral("line 198"));
        QCOMPARE(log.last(), QStringLiteral("last"));
        QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Running Batch Process"));
        QCOMPARE(status.at(1).at(0).toString(), QStringLiteral("Ready"));
        QCOMPARE(lines.count(), 1);
        QCOMPARE(lines.at(0).at(0).toInt(), 2);
        QCOMPARE(counters.count(), 1);
        QCOMPARE(w.windowTitle(), QStringLiteral("Batch Conversion Status (File 1 of 3)"));
        QCOMPARE(Child<QProgressBar>(&w, "lineProgress")->value(), 100);
        QCOMPARE(Child<QProgressBar>(&w, "jobProgress")->value(), 1);
    }

    void overwriteQuestion_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<OverwriteAnswer>("answer");
        QTest::newRow("Yes") << "yes" << OverwriteAnswer::Yes;
        QTest::newRow("Yes All") << "yesAll" << OverwriteAnswer::YesAll;
        QTest::newRow("No") << "no" << OverwriteAnswer::No;
        QTest::newRow("No All") << "noAll" << OverwriteAnswer::NoAll;
        QTest::newRow("Cancel") << "cancel" << OverwriteAnswer::Cancel;
    }
    void overwriteQuestion() {
        QFETCH(QString, button);
        QFETCH(OverwriteAnswer, answer);
        BatchProgressWindow w;
        QtBatchWindow adapter(&w);
        std::atomic<int> got{-1};
        QString text;
        QStringList texts;
        int whileOpen = 0;
        auto answered = WhenShown("overwriteQuestion", [&](QWidget* box) {
            text = static_cast<QMessageBox*>(box)->text();
            for (const char* b : {"yes", "yesAll", "no", "noAll", "cancel"})
                texts << Child<QPushButton>(box, b)->text();
            whileOpen = got.load(); // the worker waits for the answer
            Click(box, button);
        });
        Worker worker([&] { got = int(adapter.askOverwrite("The filename \"/o/a.png\" ...")); });
        QTRY_VERIFY(worker.done());
        QVERIFY(answered->ran);
        QCOMPARE(text, QStringLiteral("The filename \"/o/a.png\" ..."));
        QCOMPARE(texts, (QStringList{"&Yes", "Yes &All", "&No", "N&o All", "Cancel"}));
        QCOMPARE(whileOpen, -1);
        QCOMPARE(got.load(), int(answer));
    }

    void abortOrSkipQuestion_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<AbortOrSkip>("answer");
        QTest::newRow("Abort") << "abort" << AbortOrSkip::Abort;
        QTest::newRow("Skip File") << "skip" << AbortOrSkip::Skip;
        QTest::newRow("Cancel") << "cancel" << AbortOrSkip::Cancel;
    }
    void abortOrSkipQuestion() {
        QFETCH(QString, button);
        QFETCH(AbortOrSkip, answer);
        BatchProgressWindow w;
        QtBatchWindow adapter(&w);
        std::atomic<int> got{-1};
        QString title, text, skipText;
        WhenShown("abortOrSkipQuestion", [&](QWidget* box) {
            title = box->windowTitle();
            text = static_cast<QMessageBox*>(box)->text();
            skipText = Child<QPushButton>(box, "skip")->text();
            Click(box, button);
        });
        Worker worker([&] { got = int(adapter.askAbortOrSkip()); });
        QTRY_VERIFY(worker.done());
        QCOMPARE(title, QStringLiteral("Abort or Skip File?"));
        QCOMPARE(text, QStringLiteral("Do you want to abort the script or skip the current file?"));
        QCOMPARE(skipText, QStringLiteral("&Skip File"));
        QCOMPARE(got.load(), int(answer));
    }

    void abortConfirmation_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("answer");
        QTest::newRow("Yes") << "yes" << true;
        QTest::newRow("No") << "no" << false;
    }
    void abortConfirmation() {
        QFETCH(QString, button);
        QFETCH(bool, answer);
        BatchProgressWindow w;
        QtBatchWindow adapter(&w);
        std::atomic<int> got{-1};
        QString text;
        WhenShown("abortQuestion", [&](QWidget* box) {
            text = static_cast<QMessageBox*>(box)->text();
            Click(box, button);
        });
        Worker worker([&] { got = adapter.confirmAbort() ? 1 : 0; });
        QTRY_VERIFY(worker.done());
        QCOMPARE(text, QStringLiteral("Are you sure you want to abort processing?"));
        QCOMPARE(got.load(), answer ? 1 : 0);
    }

    void messagesWaitForOk() {
        BatchProgressWindow w;
        QtBatchWindow adapter(&w);
        QString text;
        int icon = -1;
        bool doneWhileOpen = true;
        std::unique_ptr<Worker> worker;
        WhenShown("batchMessage", [&](QWidget* shown) {
            auto* box = static_cast<QMessageBox*>(shown);
            text = box->text();
            icon = box->icon();
            doneWhileOpen = worker->done();
            Click(box, "ok");
        });
        worker = std::make_unique<Worker>([&] {
            adapter.showMessage("Unable to open the image list file.", MessageIcon::Exclamation);
        });
        QTRY_VERIFY(worker->done());
        QCOMPARE(text, QStringLiteral("Unable to open the image list file."));
        QCOMPARE(icon, int(QMessageBox::Warning));
        QVERIFY(!doneWhileOpen);
    }

    void pollHandsOverEachRequestOnce() {
        BatchProgressWindow w;
        w.show();
        QtBatchWindow adapter(&w);
        QCOMPARE(adapter.poll().abort, false);
        QVERIFY(Click(&w, "abort"));
        QTest::keyClick(&w, Qt::Key_Escape);
        UserRequests first, second;
        {
            Worker worker([&] {
                first = adapter.poll();
                second = adapter.poll();
            });
        }
        QVERIFY(first.abort);
        QVERIFY(first.escape);
        QVERIFY(!second.abort);
        QVERIFY(!second.escape);
    }

    void waitUntilClosedOffersOkEvenAfterAnAbort() {
        BatchProgressWindow w;
        QtBatchWindow adapter(&w);
        QSignalSpy waiting(&adapter, &QtBatchWindow::waitingForClose);
        Worker worker([&] {
            adapter.logLineAdded("User abort. Processing halted.");
            adapter.waitUntilClosed();
        });
        QTRY_VERIFY(w.runFinished());
        QTRY_COMPARE(waiting.count(), 1);
        QVERIFY(w.isVisible());
        QVERIFY(!worker.done());
        QVERIFY(Click(&w, "ok"));
        QTRY_VERIFY(worker.done());
    }

    void detachEndsEveryWait() {
        BatchProgressWindow w;
        auto adapter = std::make_unique<QtBatchWindow>(&w);
        std::atomic<int> overwrite{-1}, confirm{-1}, skip{-1};
        std::atomic<bool> pollAbort{false};
        std::unique_ptr<Worker> worker;
        bool workerEnded = false, stillOpen = false;
        // Detached while its question is open: the worker goes on at once,
        // and the box stays until it is answered.
        auto answered = WhenShown("overwriteQuestion", [&](QWidget* box) {
            adapter->detach();
            workerEnded = QTest::qWaitFor([&] { return worker->done(); }, 10000);
            adapter.reset();
            stillOpen = box->isVisible();
            Click(box, "yes");
        });
        worker = std::make_unique<Worker>([&] {
            overwrite = int(adapter->askOverwrite("q"));
            confirm = adapter->confirmAbort() ? 1 : 0;
            skip = int(adapter->askAbortOrSkip());
            adapter->showMessage("m", MessageIcon::Error);
            adapter->waitUntilClosed();
            pollAbort = adapter->poll().abort;
        });
        QTRY_VERIFY(answered->ran);
        QVERIFY(workerEnded);
        QVERIFY(stillOpen);
        QCOMPARE(overwrite.load(), int(OverwriteAnswer::Cancel));
        QCOMPARE(confirm.load(), 1);
        QCOMPARE(skip.load(), int(AbortOrSkip::Abort));
        QVERIFY(pollAbort.load());
        QVERIFY(!ModalNamed("overwriteQuestion"));
    }

    void questionOpenWhenItsWindowGoesAway() {
        auto* w = new BatchProgressWindow;
        QtBatchWindow adapter(w);
        std::atomic<int> got{-1};
        auto answered = WhenShown("overwriteQuestion", [w](QWidget*) { delete w; });
        Worker worker([&] { got = int(adapter.askOverwrite("q")); });
        QTRY_VERIFY(worker.done());
        QVERIFY(answered->ran);
        QCOMPARE(got.load(), int(OverwriteAnswer::Cancel));
        QVERIFY(!ModalNamed("overwriteQuestion"));
    }
};

QTEST_MAIN(BatchProgressTest)
#include "batch_progress_test.moc"
