#include "app/batch/batch_controller.h"

#include "app/batch/batch_input_dialog.h"
#include "app/batch/batch_output_dialog.h"
#include "app/batch/batch_texts.h"
#include "app/batch/progress_window.h"
#include "app/batch/qt_batch_window.h"
#include "script/commands.h"
#include "script/script.h"
#include "batch/batch_log.h"
#include "batch/batch_mode.h"
#include "batch/cmdline.h"
#include "batch/run_setup.h"
#include "batch/runner.h"
#include "core/settings.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QThread>
#include <QWidget>

#include <memory>

namespace {

// The set-up's dialogs, modal over the main window.
class DialogSetupUi : public RunSetupUi {
  public:
    explicit DialogSetupUi(QWidget* parent) : parent_(parent) {}

    bool chooseInput(const InputDialogStart& start, InputChoice* choice) override {
        CBatchInputDlg dialog(start, parent_);
        if (dialog.exec() != QDialog::Accepted) return false;
        *choice = dialog.choice();
        return true;
    }
    bool chooseOutput(OutputSettings* settings) override {
        CBatchOutputDlg dialog(*settings, AppSettings(), parent_);
        if (dialog.exec() != QDialog::Accepted) return false;
        *settings = dialog.settings();
        return true;
    }
    void showMessage(const std::string& text, MessageIcon icon) override {
        ShowBatchMessage(parent_, ToQt(text), icon);
    }

  private:
    QWidget* parent_;
};

// Relative paths of the script's settings commands are taken from the
// script's folder; an untitled script has none, so the home folder serves.
std::string BaseFolder(const QString& scriptPath) {
    const QFileInfo info(scriptPath);
    if (scriptPath.isEmpty() || info.isRelative()) return HomeFolder();
    return FromQt(info.absolutePath());
}

// The run works on a copy of the script, so the main window may go on
// reading (and describing) its own while the worker runs.
std::shared_ptr<CScript> CopyOf(const CScript& script) {
    auto copy = std::make_shared<CScript>();
    for (int i = 0; i < script.GetCount(); ++i)
        if (const CScriptCommand* c = script.GetCommand(i))
            copy->InsertCommand(std::make_unique<CScriptCommand>(*c), copy->GetCount());
    return copy;
}

} // namespace

BatchController::BatchController(QWidget* mainWindow)
    : QObject(mainWindow), mainWindow_(mainWindow) {
    if (mainWindow) mainWindow->installEventFilter(this);
}

BatchController::~BatchController() {
    if (!thread_) return;
    adapter_->detach();
    thread_->wait();
    delete thread_;
    delete adapter_;
    delete window_;
}

bool BatchController::start(CScript& script, const QString& scriptPath, const BatchStart& how) {
    if (running_) return false;
    if (how.commandLine) {
        const CommandLine cl = *how.commandLine;
        const std::string cwd = FromQt(QDir::currentPath());
        launch(scriptPath, cl.minimise, [run = CopyOf(script), cl, cwd](BatchWindow& window) {
            RunBatchMode(*run, cl, window, cwd, CurrentLogPath());
        });
        return true;
    }
    DialogSetupUi ui(mainWindow_);
    RunSetup setup;
    if (!SetUpInteractiveRun(script, BaseFolder(scriptPath), ui, AppSettings(), &setup))
        return false;
    setup.state.currentLogPath = CurrentLogPath();
    launch(scriptPath, false, [run = CopyOf(script), setup](BatchWindow& window) {
        BatchRunner runner(*run, window, setup.state);
        if (setup.print)
            runner.RunPrint();
        else
            runner.RunConversion();
    });
    return true;
}

void BatchController::launch(const QString& scriptPath, bool minimise,
                             std::function<void(BatchWindow&)> run) {
    running_ = true;
    scriptName_ = scriptPath.isEmpty() ? UiText(IDS_UNTITLED) : QFileInfo(scriptPath).fileName();
    window_ = new BatchProgressWindow(mainWindow_);
    adapter_ = new QtBatchWindow(window_);
    connect(adapter_, &QtBatchWindow::mainStatusChanged, this, &BatchController::mainStatusChanged);
    connect(adapter_, &QtBatchWindow::scriptLineSelected, this,
            &BatchController::scriptLineSelected);
    connect(adapter_, &QtBatchWindow::counterTextChanged, this,
            &BatchController::showCounterInTitle);
    connect(adapter_, &QtBatchWindow::waitingForClose, this, [this] {
        restoreTitle();
        if (mainWindow_ && mainWindow_->isMinimized()) mainWindow_->showNormal();
    });
    emit runningChanged(true);
    if (minimise && mainWindow_) mainWindow_->showMinimized();

    QtBatchWindow* adapter = adapter_;
    thread_ = QThread::create([adapter, run = std::move(run)] { run(*adapter); });
    connect(thread_, &QThread::finished, this, &BatchController::runEnded);
    thread_->start();
}

void BatchController::runEnded() {
    thread_->wait();
    thread_->deleteLater();
    thread_ = nullptr;
    delete adapter_;
    adapter_ = nullptr;
    window_->hide();
    window_->deleteLater();
    window_ = nullptr;
    restoreTitle();
    running_ = false;
    emit runningChanged(false);
    emit finished();
}

void BatchController::showCounterInTitle(const QString& counter) {
    if (!mainWindow_ || !mainWindow_->isMinimized()) return;
    // The closing counter is no progress; the normal title comes back then.
    if (counter == UiText(ids::ProcessingComplete)) return;
    const QString title = scriptName_ + QStringLiteral(" - ") + counter;
    if (mainWindow_->windowTitle() == title) return;
    if (!titleChanged_) savedTitle_ = mainWindow_->windowTitle();
    titleChanged_ = true;
    mainWindow_->setWindowTitle(title);
}

void BatchController::restoreTitle() {
    if (!titleChanged_) return;
    titleChanged_ = false;
    if (mainWindow_ && mainWindow_->windowTitle() != savedTitle_)
        mainWindow_->setWindowTitle(savedTitle_);
}

bool BatchController::eventFilter(QObject* watched, QEvent* event) {
    // The progress title belongs to the minimised window only.
    if (watched == mainWindow_ && event->type() == QEvent::WindowStateChange &&
        !mainWindow_->isMinimized())
        restoreTitle();
    return QObject::eventFilter(watched, event);
}
