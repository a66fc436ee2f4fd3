#include "app/batch/progress_window.h"

#include "app/app_info.h"
#include "app/batch/batch_texts.h"
#include "batch/batch_log.h"
#include "core/settings.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QPushButton* Button(int textId, const char* name) {
    auto* b = new QPushButton(UiText(textId));
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QLabel* ValueLabel(const char* name) {
    auto* l = new QLabel;
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setMinimumWidth(200);
    return l;
}

QPushButton* AddButton(QMessageBox& box, int textId, const char* name,
                       QMessageBox::ButtonRole role) {
    QPushButton* b = box.addButton(UiText(textId), role);
    b->setObjectName(QLatin1String(name));
    if (!box.defaultButton()) box.setDefaultButton(b);
    return b;
}

QMessageBox* NewBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                    QWidget* parent, const char* name) {
    auto* box = new QMessageBox(icon, title, text, QMessageBox::NoButton, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

// Runs a box made on the heap and answers the objectName of the button
// pressed. The box may go away with its parent while it is open (the
// program closing); the answer is then empty.
QString RunBox(QMessageBox* box) {
    QPointer<QMessageBox> guard(box);
    box->exec();
    if (!guard) return {};
    const QAbstractButton* clicked = box->clickedButton();
    const QString answer = clicked ? clicked->objectName() : QString();
    delete box;
    return answer;
}

} // namespace

BatchProgressWindow::BatchProgressWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("batchProgress"));
    setWindowTitle(UiText(ids::ProgressWindowTitle));
    setModal(false);

    counter_ = ValueLabel("fileCounter");
    QFont big = counter_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.15);
    counter_->setFont(big);
    fileName_ = ValueLabel("fileName");
    step_ = ValueLabel("currentStep");
    auto* facts = new QFormLayout;
    facts->setLabelAlignment(Qt::AlignLeft);
    facts->addRow(UiText(ids::FileLabel), fileName_);
    facts->addRow(UiText(ids::StepLabel), step_);

    auto* logGroup = new QGroupBox(UiText(ids::CurrentStepTitle));
    log_ = new QListWidget;
    log_->setObjectName(QStringLiteral("log"));
    log_->setSelectionMode(QAbstractItemView::SingleSelection);
    log_->setUniformItemSizes(true);
    log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* logLayout = new QVBoxLayout(logGroup);
    logLayout->addWidget(log_);

    job_ = new QProgressBar;
    job_->setObjectName(QStringLiteral("jobProgress"));
    job_->setRange(0, 0);
    job_->setValue(0);
    job_->setFormat(QStringLiteral("%v / %m"));
    lineLabel_ = new QLabel(UiText(ids::ScriptLineProgress));
    lineLabel_->setObjectName(QStringLiteral("lineProgressLabel"));
    line_ = new QProgressBar;
    line_->setObjectName(QStringLiteral("lineProgress"));
    line_->setRange(0, 100);
    line_->setValue(0);
    auto* bars = new QGridLayout;
    bars->addWidget(new QLabel(UiText(ids::JobProgressTitle)), 0, 0);
    bars->addWidget(job_, 0, 1);
    bars->addWidget(lineLabel_, 1, 0);
    bars->addWidget(line_, 1, 1);
    bars->setColumnStretch(1, 1);

    saveLog_ = Button(ids::SaveLog, "saveLog");
    abort_ = Button(ids::ButtonAbort, "abort");
    ok_ = Button(ids::Ok, "ok");
    saveLog_->setEnabled(false);
    ok_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(saveLog_);
    buttons->addStretch(1);
    buttons->addWidget(abort_);
    buttons->addWidget(ok_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(counter_);
    layout->addLayout(facts);
    layout->addWidget(logGroup, 1);
    layout->addLayout(bars);
    layout->addLayout(buttons);

    connect(abort_, &QPushButton::clicked, this, &BatchProgressWindow::abortRequested);
    connect(ok_, &QPushButton::clicked, this, &BatchProgressWindow::closeFinished);
    connect(saveLog_, &QPushButton::clicked, this, &BatchProgressWindow::chooseAndSaveLog);
    resize(620, 520);
}

void BatchProgressWindow::addLogLine(const QString& line) {
    log_->addItem(line);
    log_->setCurrentRow(log_->count() - 1);
    log_->scrollToItem(log_->currentItem());
}

void BatchProgressWindow::replaceLastLogLine(const QString& line) {
    if (log_->count() == 0) {
        addLogLine(line);
        return;
    }
    log_->item(log_->count() - 1)->setText(line);
}

void BatchProgressWindow::setCounterText(const QString& text) {
    counter_->setText(text);
}
void BatchProgressWindow::setStepText(const QString& text) {
    step_->setText(text);
}
void BatchProgressWindow::setFileName(const QString& name) {
    fileName_->setText(name);
}
void BatchProgressWindow::setLineProgressLabel(const QString& text) {
    lineLabel_->setText(text);
}
void BatchProgressWindow::setJobRange(int files) {
    job_->setRange(0, std::max(files, 0));
}
void BatchProgressWindow::setJobPosition(int file) {
    job_->setValue(std::clamp(file, job_->minimum(), job_->maximum()));
}
void BatchProgressWindow::setLineProgress(int percent) {
    line_->setValue(std::clamp(percent, 0, 100));
}

void BatchProgressWindow::finishRun() {
    finished_ = true;
    ok_->setEnabled(true);
    saveLog_->setEnabled(true);
    abort_->setEnabled(false);
    ok_->setDefault(true);
    ok_->setFocus();
}

QStringList BatchProgressWindow::logLines() const {
    QStringList lines;
    for (int i = 0; i < log_->count(); ++i)
        lines << log_->item(i)->text();
    return lines;
}

OverwriteAnswer BatchProgressWindow::askOverwrite(const QString& question) {
    auto* box =
        NewBox(QMessageBox::Question, ApplicationName(), question, this, "overwriteQuestion");
    AddButton(*box, ids::ButtonYes, "yes", QMessageBox::YesRole);
    AddButton(*box, ids::ButtonYesAll, "yesAll", QMessageBox::YesRole);
    AddButton(*box, ids::ButtonNo, "no", QMessageBox::NoRole);
    AddButton(*box, ids::ButtonNoAll, "noAll", QMessageBox::NoRole);
    box->setEscapeButton(AddButton(*box, ids::ButtonCancel, "cancel", QMessageBox::RejectRole));
    const QString answer = RunBox(box);
    if (answer == QLatin1String("yes")) return OverwriteAnswer::Yes;
    if (answer == QLatin1String("yesAll")) return OverwriteAnswer::YesAll;
    if (answer == QLatin1String("no")) return OverwriteAnswer::No;
    if (answer == QLatin1String("noAll")) return OverwriteAnswer::NoAll;
    return OverwriteAnswer::Cancel;
}

bool BatchProgressWindow::confirmAbort() {
    auto* box = NewBox(QMessageBox::Question, ApplicationName(), UiText(IDS_CONFIRM_ABORT), this,
                       "abortQuestion");
    AddButton(*box, ids::ButtonYes, "yes", QMessageBox::YesRole);
    box->setEscapeButton(AddButton(*box, ids::ButtonNo, "no", QMessageBox::NoRole));
    // A box that went away with its window leaves the abort standing.
    const QString answer = RunBox(box);
    return answer != QLatin1String("no");
}

AbortOrSkip BatchProgressWindow::askAbortOrSkip() {
    auto* box = NewBox(QMessageBox::Question, UiText(ids::AbortOrSkipTitle),
                       UiText(ids::AbortOrSkipQuestion), this, "abortOrSkipQuestion");
    AddButton(*box, ids::ButtonAbort, "abort", QMessageBox::DestructiveRole);
    box->setDefaultButton(AddButton(*box, ids::ButtonSkipFile, "skip", QMessageBox::AcceptRole));
    box->setEscapeButton(AddButton(*box, ids::ButtonCancel, "cancel", QMessageBox::RejectRole));
    const QString answer = RunBox(box);
    if (answer == QLatin1String("skip")) return AbortOrSkip::Skip;
    if (answer == QLatin1String("cancel")) return AbortOrSkip::Cancel;
    return AbortOrSkip::Abort;
}

void BatchProgressWindow::showMessage(const QString& text, MessageIcon icon) {
    // Before the window is shown (a set-up failure) the box sits over the
    // main window instead.
    ShowBatchMessage(isVisible() ? this : parentWidget(), text, icon);
}

void ShowBatchMessage(QWidget* parent, const QString& text, MessageIcon icon) {
    const QMessageBox::Icon qIcon = icon == MessageIcon::Error         ? QMessageBox::Critical
                                    : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                                       : QMessageBox::Information;
    auto* box = NewBox(qIcon, ApplicationName(), text, parent, "batchMessage");
    box->setEscapeButton(AddButton(*box, ids::Ok, "ok", QMessageBox::AcceptRole));
    RunBox(box);
}

bool BatchProgressWindow::saveLog(const QString& path, QString* reason) const {
    BatchLog log;
    for (const QString& line : logLines())
        log.add(FromQt(line));
    std::string why;
    if (log.save(FromQt(path), &why)) return true;
    if (reason) *reason = ToQt(why);
    return false;
}

void BatchProgressWindow::chooseAndSaveLog() {
    const DialogFilter filter = ParseDialogFilter(LoadString(ids::LogFilter));
    QFileDialog dialog(this, UiText(ids::SaveLogTitle));
    dialog.setObjectName(QStringLiteral("saveLogDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filter.qtFilters);
    dialog.setDefaultSuffix(QStringLiteral("log"));
    const QString start = ToQt(AppSettings().Get(setting::LogDirectory));
    dialog.setDirectory(QFileInfo(start).isDir() ? start : ToQt(HomeFolder()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().first();
    AppSettings().Set(setting::LogDirectory, FromQt(QFileInfo(path).absolutePath()));
    AppSettings().Save();
    QString reason;
    if (!saveLog(path, &reason))
        showMessage(UiFormat(ids::LogNotSaved, FromQt(reason)), MessageIcon::Error);
}

void BatchProgressWindow::closeFinished() {
    if (!finished_) return;
    hide();
    emit closedByUser();
}

void BatchProgressWindow::reject() {
    if (finished_)
        closeFinished();
    else
        emit escapeRequested();
}

void BatchProgressWindow::closeEvent(QCloseEvent* event) {
    if (finished_) {
        event->accept();
        if (isVisible()) emit closedByUser();
        return;
    }
    event->ignore();
    emit abortRequested();
}
