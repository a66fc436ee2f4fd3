#include "app/main_window.h"

#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/app_info.h"
#include "app/app_start.h"
#include "app/batch/batch_controller.h"
#include "app/main_strings.h"
#include "app/preview/preview_box.h"
#include "app/preview/preview_image.h"
#include "app/preview/preview_session.h"
#include "app/qt_text.h"
#include "batch/batch_strings.h"
#include "core/settings.h"
#include "formats/format_table.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QPushButton* Button(int textId, int tipId, const char* name) {
    auto* b = new QPushButton(QText(textId));
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(ToolTipText(tipId));
    b->setStatusTip(StatusTipText(tipId));
    return b;
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback, const QStyle* style) {
    return QIcon::fromTheme(QString::fromLatin1(name), style->standardIcon(fallback));
}

int ScreenDepth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return StoredScreenDepth(screen ? screen->depth() : 24);
}

} // namespace

MainWindow::MainWindow(std::unique_ptr<UserDialogs> dialogs, std::unique_ptr<BatchStarter> starter,
                       QWidget* parent)
    : QMainWindow(parent),
      dialogs_(dialogs ? std::move(dialogs) : std::make_unique<QtUserDialogs>()),
      starter_(starter ? std::move(starter) : MakeBatchStarter(this)) {
    InitAppResources();
    setObjectName(QStringLiteral("mainWindow"));
    setWindowIcon(ApplicationIcon());
    session_ = std::make_unique<PreviewSession>(*dialogs_, this);
    session_->setScreenDepth(ScreenDepth());
    buildActions();
    buildMenus();
    buildToolBar();
    buildCentre();
    statusText_ = new QLabel(QText(ids::Ready));
    statusText_->setObjectName(QStringLiteral("statusText"));
    statusBar()->addWidget(statusText_, 1);
    recent_.load(AppSettings());
    rebuildRecentMenu();
    connectSignals();
    updateCaption();
    updateInfoLine();
    updatePane();
    updateAvailability();
    resize(1080, 660);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildActions() {
    auto make = [this](int textId, const char* name, QKeySequence key = {}) {
        auto* a = new QAction(QText(textId), this);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) a->setShortcut(key);
        return a;
    };
    const QStyle* s = style();
    actNew_ = make(appids::MenuNew, "actionNew", QKeySequence(Qt::CTRL | Qt::Key_N));
    actNew_->setIcon(ThemeIcon("document-new", QStyle::SP_FileIcon, s));
    actOpen_ = make(appids::MenuOpen, "actionOpen", QKeySequence(Qt::CTRL | Qt::Key_O));
    actOpen_->setIcon(ThemeIcon("document-open", QStyle::SP_DialogOpenButton, s));
    actSave_ = make(appids::MenuSave, "actionSave", QKeySequence(Qt::CTRL | Qt::Key_S));
    actSave_->setIcon(ThemeIcon("document-save", QStyle::SP_DialogSaveButton, s));
    actSaveAs_ = make(appids::MenuSaveAs, "actionSaveAs", QKeySequence(Qt::Key_F12));
    actPreferences_ = make(appids::MenuPreferences, "actionPreferences");
    actExit_ = make(appids::MenuExit, "actionExit");
    actCut_ = make(appids::MenuCut, "actionCut", QKeySequence(Qt::CTRL | Qt::Key_X));
    actCut_->setIcon(QIcon::fromTheme(QStringLiteral("edit-cut")));
    actCopy_ = make(appids::MenuCopy, "actionCopy", QKeySequence(Qt::CTRL | Qt::Key_C));
    actCopy_->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
    actPaste_ = make(appids::MenuPaste, "actionPaste", QKeySequence(Qt::CTRL | Qt::Key_V));
    actPaste_->setIcon(QIcon::fromTheme(QStringLiteral("edit-paste")));
    actImageList_ =
        make(appids::MenuImageList, "actionImageList", QKeySequence(Qt::CTRL | Qt::Key_I));
    actImageList_->setIcon(ThemeIcon("emblem-photos", QStyle::SP_FileDialogDetailedView, s));
    actHelpTopics_ = make(appids::MenuHelpTopics, "actionHelpTopics");
    actHelpTopics_->setIcon(ThemeIcon("help-browser", QStyle::SP_DialogHelpButton, s));
    actAbout_ = make(appids::MenuAbout, "actionAbout");
    actStop_ = make(appids::Stop, "actionStop", QKeySequence(Qt::Key_Escape));
    actStop_->setShortcutContext(Qt::WindowShortcut);
    addAction(actStop_);
}

void MainWindow::buildMenus() {
    QMenu* script = menuBar()->addMenu(QText(appids::MenuScript));
    script->setObjectName(QStringLiteral("menuScript"));
    script->addAction(actNew_);
    script->addAction(actOpen_);
    script->addAction(actSave_);
    script->addAction(actSaveAs_);
    script->addSeparator();
    script->addAction(actPreferences_);
    script->addSeparator();
    recentMenu_ = script->addMenu(QText(appids::MenuRecent));
    recentMenu_->setObjectName(QStringLiteral("recentMenu"));
    script->addSeparator();
    script->addAction(actExit_);
    QMenu* edit = menuBar()->addMenu(QText(appids::MenuEdit));
    edit->setObjectName(QStringLiteral("menuEdit"));
    edit->addAction(actCut_);
    edit->addAction(actCopy_);
    edit->addAction(actPaste_);
    edit->addSeparator();
    edit->addAction(actImageList_);
    QMenu* help = menuBar()->addMenu(QText(appids::MenuHelp));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(actHelpTopics_);
    help->addSeparator();
    help->addAction(actAbout_);
}

void MainWindow::buildToolBar() {
    QToolBar* bar = addToolBar(QText(appids::MenuScript).remove('&'));
    bar->setObjectName(QStringLiteral("mainToolBar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(22, 22));
    bar->addAction(actNew_);
    bar->addAction(actOpen_);
    bar->addAction(actSave_);
    bar->addSeparator();
    bar->addAction(actCut_);
    bar->addAction(actCopy_);
    bar->addAction(actPaste_);
    bar->addSeparator();
    bar->addAction(actImageList_);
    bar->addSeparator();
    bar->addAction(actHelpTopics_);
}

void MainWindow::buildCentre() {
    // Left: every command kind, and Add.
    commandList_ = new QListWidget;
    commandList_->setObjectName(QStringLiteral("availableCommands"));
    commandList_->setToolTip(ToolTipText(appids::TipAllCommands));
    commandList_->setStatusTip(StatusTipText(appids::TipAllCommands));
    for (int32_t id = FIRST_COMMAND_ID;; ++id) {
        const char* name = GetString(id);
        if (!name || id > LAST_COMMAND_ID) break;
        auto* item = new QListWidgetItem(QString::fromUtf8(name), commandList_);
        item->setData(Qt::UserRole, id);
    }
    addButton_ = Button(appids::AddCommand, appids::TipAdd, "addButton");
    auto* commandsGroup = new QGroupBox(QText(appids::AvailableCommands));
    commandsGroup->setObjectName(QStringLiteral("commandsGroup"));
    auto* commandsLayout = new QVBoxLayout(commandsGroup);
    commandsLayout->addWidget(commandList_, 1);
    commandsLayout->addWidget(addButton_);

    // Centre: the preview.
    previewBox_ = new PreviewBox;
    previewBox_->setObjectName(QStringLiteral("previewBox"));
    previewBox_->setToolTip(ToolTipText(appids::TipPreview));
    previewBox_->setStatusTip(StatusTipText(appids::TipPreview));
    previewInfo_ = new QLabel(QText(appids::NoPreviewImage));
    previewInfo_->setObjectName(QStringLiteral("previewInfo"));
    previewInfo_->setToolTip(ToolTipText(appids::TipPreviewInfo));
    previewInfo_->setStatusTip(StatusTipText(appids::TipPreviewInfo));
    newImageButton_ = Button(appids::NewImage, appids::TipNewImage, "newImageButton");
    revertButton_ = Button(appids::Revert, appids::TipRevert, "revertButton");
    auto* previewButtons = new QHBoxLayout;
    previewButtons->addWidget(previewInfo_, 1);
    previewButtons->addWidget(newImageButton_);
    previewButtons->addWidget(revertButton_);
    auto* previewGroup = new QGroupBox(QText(appids::PreviewGroup));
    previewGroup->setObjectName(QStringLiteral("previewGroup"));
    auto* previewLayout = new QVBoxLayout(previewGroup);
    previewLayout->addWidget(previewBox_, 1);
    previewLayout->addLayout(previewButtons);

    // Right: the script, its editing buttons, the parameters and the runs.
    scriptList_ = new QListWidget;
    scriptList_->setObjectName(QStringLiteral("scriptList"));
    scriptList_->setToolTip(ToolTipText(appids::TipScript));
    scriptList_->setStatusTip(StatusTipText(appids::TipScript));
    deleteButton_ = Button(appids::Delete, appids::TipDelete, "deleteButton");
    moveUpButton_ = Button(appids::MoveUp, appids::TipMoveUp, "moveUpButton");
    moveDownButton_ = Button(appids::MoveDown, appids::TipMoveDown, "moveDownButton");
    editButton_ = Button(appids::Edit, appids::TipEdit, "editButton");
    auto* editRow = new QGridLayout;
    editRow->addWidget(deleteButton_, 0, 0);
    editRow->addWidget(editButton_, 0, 1);
    editRow->addWidget(moveUpButton_, 1, 0);
    editRow->addWidget(moveDownButton_, 1, 1);
    auto* parametersLabel = new QLabel(QText(appids::SelectedParameters));
    parameterPane_ = new QLabel;
    parameterPane_->setObjectName(QStringLiteral("parameterPane"));
    parameterPane_->setTextFormat(Qt::PlainText);
    parameterPane_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    parameterPane_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    parameterPane_->setMargin(4);
    parameterPane_->setToolTip(ToolTipText(appids::TipParameters));
    parameterPane_->setStatusTip(StatusTipText(appids::TipParameters));
    QFont small = parameterPane_->font();
    small.setPointSizeF(small.pointSizeF() * 0.92);
    parameterPane_->setFont(small);
    auto* paneScroll = new QScrollArea;
    paneScroll->setObjectName(QStringLiteral("parameterScroll"));
    paneScroll->setWidget(parameterPane_);
    paneScroll->setWidgetResizable(true);
    paneScroll->setBackgroundRole(QPalette::Window);
    paneScroll->setMinimumHeight(130);
    execButton_ = Button(appids::ExecCmd, appids::TipExec, "execButton");
    testButton_ = Button(appids::TestScript, appids::TipTest, "testButton");
    startButton_ = Button(appids::Start, appids::TipStart, "startButton");
    QFont bold = startButton_->font();
    bold.setBold(true);
    startButton_->setFont(bold);
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(execButton_);
    runRow->addWidget(testButton_);
    runRow->addWidget(startButton_);
    auto* scriptGroup = new QGroupBox(QText(appids::CurrentScript));
    scriptGroup->setObjectName(QStringLiteral("scriptGroup"));
    auto* scriptLayout = new QVBoxLayout(scriptGroup);
    scriptLayout->addWidget(scriptList_, 3);
    scriptLayout->addLayout(editRow);
    scriptLayout->addSpacing(6);
    scriptLayout->addWidget(parametersLabel);
    scriptLayout->addWidget(paneScroll, 2);
    scriptLayout->addSpacing(6);
    scriptLayout->addLayout(runRow);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("mainSplitter"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(commandsGroup);
    splitter->addWidget(previewGroup);
    splitter->addWidget(scriptGroup);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 0);
    splitter->setSizes({250, 480, 330});

    // Bottom: the current step's caption, its progress and Stop.
    stepText_ = new QLabel(QText(appids::StepProgress));
    stepText_->setObjectName(QStringLiteral("stepText"));
    stepText_->setMinimumWidth(160);
    stepProgress_ = new QProgressBar;
    stepProgress_->setObjectName(QStringLiteral("stepProgress"));
    stepProgress_->setRange(0, 100);
    stepProgress_->setValue(0);
    QSizePolicy keep = stepProgress_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    stepProgress_->setSizePolicy(keep);
    stepProgress_->hide();
    stopButton_ = Button(appids::Stop, appids::TipStop, "stopButton");
    stopButton_->setIcon(ThemeIcon("process-stop", QStyle::SP_BrowserStop, style()));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(stepText_);
    bottom->addWidget(stepProgress_, 1);
    bottom->addWidget(stopButton_);

    auto* centre = new QWidget;
    auto* layout = new QVBoxLayout(centre);
    layout->addWidget(splitter, 1);
    layout->addLayout(bottom);
    setCentralWidget(centre);
}

void MainWindow::connectSignals() {
    connect(addButton_, &QPushButton::clicked, this, &MainWindow::onAdd);
    connect(commandList_, &QListWidget::itemDoubleClicked, this, &MainWindow::onAdd);
    connect(deleteButton_, &QPushButton::clicked, this, &MainWindow::onDelete);
    connect(moveUpButton_, &QPushButton::clicked, this, &MainWindow::onMoveUp);
    connect(moveDownButton_, &QPushButton::clicked, this, &MainWindow::onMoveDown);
    connect(editButton_, &QPushButton::clicked, this, &MainWindow::onEdit);
    connect(scriptList_, &QListWidget::itemDoubleClicked, this, &MainWindow::onEdit);
    // The current row changes before the selection follows it: both count.
    auto selectionChanged = [this] {
        updatePane();
        updateAvailability();
    };
    connect(scriptList_, &QListWidget::currentRowChanged, this, selectionChanged);
    connect(scriptList_, &QListWidget::itemSelectionChanged, this, selectionChanged);
    connect(execButton_, &QPushButton::clicked, this, &MainWindow::onExec);
    connect(testButton_, &QPushButton::clicked, this, &MainWindow::onTest);
    connect(startButton_, &QPushButton::clicked, this, &MainWindow::onStart);
    connect(newImageButton_, &QPushButton::clicked, this, &MainWindow::onNewImage);
    connect(revertButton_, &QPushButton::clicked, this, &MainWindow::onRevert);
    connect(stopButton_, &QPushButton::clicked, session_.get(), &PreviewSession::stop);
    connect(actStop_, &QAction::triggered, session_.get(), &PreviewSession::stop);

    connect(actNew_, &QAction::triggered, this, &MainWindow::onNew);
    connect(actOpen_, &QAction::triggered, this, &MainWindow::onOpen);
    connect(actSave_, &QAction::triggered, this, &MainWindow::onSave);
    connect(actSaveAs_, &QAction::triggered, this, &MainWindow::onSaveAs);
    connect(actExit_, &QAction::triggered, this, &QWidget::close);
    connect(actCut_, &QAction::triggered, this, &MainWindow::onCut);
    connect(actCopy_, &QAction::triggered, this, &MainWindow::onCopy);
    connect(actPaste_, &QAction::triggered, this, &MainWindow::onPaste);
    connect(actAbout_, &QAction::triggered, this, &MainWindow::onAbout);
    connect(actPreferences_, &QAction::triggered, this, &MainWindow::onNotAvailable);
    connect(actImageList_, &QAction::triggered, this, [this] {
        if (!refuseEditing(true)) dialogs_->editImageList(this, {});
    });
    connect(actHelpTopics_, &QAction::triggered, this, &MainWindow::onNotAvailable);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &MainWindow::updateAvailability);

    connect(previewBox_, &PreviewBox::boxResized, session_.get(), &PreviewSession::setBox);
    connect(session_.get(), &PreviewSession::imageChanged, this, [this] {
        previewBox_->setPicture(session_->picture());
        updateInfoLine();
    });
    connect(session_.get(), &PreviewSession::runStarted, this, &MainWindow::onPreviewRunChanged);
    connect(session_.get(), &PreviewSession::runFinished, this, &MainWindow::onPreviewRunChanged);
    connect(session_.get(), &PreviewSession::progress, stepProgress_, &QProgressBar::setValue);
    connect(session_.get(), &PreviewSession::captionChanged, this, [this](const QString& caption) {
        stepText_->setText(caption.isEmpty() ? QText(appids::StepProgress) : caption);
        stepProgress_->setVisible(!caption.isEmpty());
    });
    connect(session_.get(), &PreviewSession::statusChanged, statusText_, &QLabel::setText);
    connect(session_.get(), &PreviewSession::lineSelected, this, &MainWindow::selectLine);

    if (starter_) {
        connect(starter_.get(), &BatchStarter::runningChanged, this, [this](bool running) {
            busy_.batch = running;
            session_->setBatchRunning(running);
            updateAvailability();
        });
        connect(starter_.get(), &BatchStarter::mainStatusChanged, statusText_, &QLabel::setText);
        connect(starter_.get(), &BatchStarter::scriptLineSelected, this, &MainWindow::selectLine);
        connect(starter_.get(), &BatchStarter::finished, this, [this] {
            if (!runCommandLine_) return;
            busy_.batch = starter_->running();
            closeWithoutQuestion_ = true;
            close();
        });
    }
}

void MainWindow::initialise(const CommandLine* commandLine) {
    previewPath_ = AppSettings().Get(setting::PreviewImage);
    session_->setBox(previewBox_->boxSize());
    session_->load(previewPath_, false);
    if (!commandLine || commandLine->mode == CommandLine::Nothing) return;
    if (IsImageListName(commandLine->scriptPath)) {
        // An image list is not a script: it opens in its editor, once the
        // window is up.
        const QString list = FromPath(commandLine->scriptPath);
        QTimer::singleShot(0, this, [this, list] { dialogs_->editImageList(this, list); });
        return;
    }
    openScript(FromPath(commandLine->scriptPath));
    if (commandLine->mode == CommandLine::RunRequested) {
        runCommandLine_ = *commandLine;
        // The run starts once the preview image is in, so the two never
        // read the settings at the same time.
        if (session_->running())
            connect(session_.get(), &PreviewSession::runFinished, this,
                    &MainWindow::runCommandLineBatch, Qt::SingleShotConnection);
        else
            QTimer::singleShot(0, this, &MainWindow::runCommandLineBatch);
    } else if (!commandLine->inputSpec.empty() || !commandLine->imageListPath.empty()) {
        startCommandLine_ = *commandLine;
    }
}

void MainWindow::runCommandLineBatch() {
    if (!starter_ ||
        !starter_->start(document_.script(), FromPath(document_.path()), &*runCommandLine_)) {
        closeWithoutQuestion_ = true;
        close();
    }
}

bool MainWindow::openScript(const QString& path) {
    std::string message;
    const std::string file = ToPath(path);
    if (!document_.open(file, &message)) {
        dialogs_->tell(this, QString::fromStdString(message), BoxIcon::Exclamation);
        return false;
    }
    rememberRecent(file);
    refillScript(document_.count() > 0 ? 0 : -1);
    updateCaption();
    return true;
}

int MainWindow::selectedLine() const {
    const int row = scriptList_->currentRow();
    return row >= 0 && scriptList_->currentItem() && scriptList_->currentItem()->isSelected() ? row
                                                                                              : -1;
}

void MainWindow::selectLine(int line) {
    if (line < 0 || line >= scriptList_->count()) {
        scriptList_->setCurrentRow(-1);
    } else {
        scriptList_->setCurrentRow(line);
        scriptList_->scrollToItem(scriptList_->item(line));
    }
    updatePane();
    updateAvailability();
}

void MainWindow::refillScript(int select) {
    const QSignalBlocker block(scriptList_);
    scriptList_->clear();
    for (int i = 0; i < document_.count(); ++i) {
        const int32_t id = document_.script().GetCommand(i)->m_nID;
        std::string name = CommandDisplayName(id);
        if (name.empty()) name = std::to_string(id);
        scriptList_->addItem(QString::fromStdString(name));
    }
    selectLine(select);
}

void MainWindow::updatePane() {
    const int line = selectedLine();
    std::string text;
    if (line >= 0) document_.script().GetCommandDescription(line, text);
    parameterPane_->setText(QString::fromStdString(text));
}

void MainWindow::updateCaption() {
    const QString caption = ApplicationName() + QStringLiteral(" - ") + FromPath(document_.path());
    if (windowTitle() != caption) setWindowTitle(caption);
}

void MainWindow::updateInfoLine() {
    int w = 0, h = 0, bits = 0;
    if (DIBSize(session_->image(), &w, &h, &bits))
        previewInfo_->setText(QFormat(appids::PreviewInfo, w, h, bits));
    else
        previewInfo_->setText(QText(appids::NoPreviewImage));
}

bool MainWindow::clipboardHasCommand() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasFormat(QString::fromLatin1(kCommandMimeType));
}

void MainWindow::updateAvailability() {
    const Availability a = ComputeAvailability(busy_, selectedLine() >= 0, clipboardHasCommand());
    actNew_->setEnabled(a.newOpen);
    actOpen_->setEnabled(a.newOpen);
    recentMenu_->setEnabled(a.newOpen && !recent_.files().empty());
    actSave_->setEnabled(a.save);
    actSaveAs_->setEnabled(a.save);
    actCut_->setEnabled(a.cutCopy);
    actCopy_->setEnabled(a.cutCopy);
    actPaste_->setEnabled(a.paste);
    actPreferences_->setEnabled(a.preferences);
    actExit_->setEnabled(a.exit);
    actImageList_->setEnabled(a.imageList);
    actHelpTopics_->setEnabled(a.about);
    actAbout_->setEnabled(a.about);
    for (QWidget* w : std::initializer_list<QWidget*>{
             commandList_, scriptList_, addButton_, deleteButton_, moveUpButton_, moveDownButton_,
             editButton_, execButton_, testButton_, newImageButton_, revertButton_})
        w->setEnabled(a.controls);
    startButton_->setEnabled(a.controls && starter_ != nullptr);
    stopButton_->setEnabled(a.stop);
    actStop_->setEnabled(a.stop);
    if (recentPending_ && !busy_.any()) persistRecent();
}

void MainWindow::onPreviewRunChanged() {
    busy_.previewCommand = session_->run() == PreviewSession::Run::Load ||
                           session_->run() == PreviewSession::Run::Command;
    busy_.scriptTest = session_->run() == PreviewSession::Run::Test;
    updateAvailability();
    if (!session_->running() && !QApplication::focusWidget() && isActiveWindow())
        scriptList_->setFocus();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!boxKnown_) {
        boxKnown_ = true;
        session_->setBox(previewBox_->boxSize());
    }
}

bool MainWindow::refuseEditing(bool beep) {
    if (busy_.batch) return true;
    if (busy_.previewRun()) {
        if (beep) dialogs_->beep();
        return true;
    }
    return false;
}

bool MainWindow::editCommand(CScriptCommand& command) {
    KHANDLE preview = session_->image();
    return EditCommand(command, preview, [this, preview](CScriptCommand& c) {
        return dialogs_->editParameters(this, c, preview);
    });
}

void MainWindow::onAdd() {
    if (refuseEditing(true)) return;
    const QListWidgetItem* item = commandList_->currentItem();
    if (!item || !item->isSelected()) return;
    const int32_t id = item->data(Qt::UserRole).toInt();
    const ScriptDocument::AddResult r =
        document_.add(id, selectedLine(), [this](CScriptCommand& c) { return editCommand(c); });
    switch (r.outcome) {
    case ScriptDocument::AddOutcome::OnlyOnce:
        dialogs_->tell(this, QText(IDS_ONLY_ONE_OCCURRENCE), BoxIcon::Exclamation);
        selectLine(r.line);
        break;
    case ScriptDocument::AddOutcome::Added:
        refillScript(r.line);
        break;
    case ScriptDocument::AddOutcome::Cancelled:
    case ScriptDocument::AddOutcome::Unknown:
        break;
    }
}

void MainWindow::onDelete() {
    if (refuseEditing(false) || selectedLine() < 0) return;
    refillScript(document_.remove(selectedLine()));
}

void MainWindow::onMoveUp() {
    if (refuseEditing(false)) return;
    const int moved = document_.moveUp(selectedLine());
    if (moved >= 0) refillScript(moved);
}

void MainWindow::onMoveDown() {
    if (refuseEditing(false)) return;
    const int moved = document_.moveDown(selectedLine());
    if (moved >= 0) refillScript(moved);
}

void MainWindow::onEdit() {
    if (refuseEditing(false) || selectedLine() < 0) return;
    if (document_.edit(selectedLine(), [this](CScriptCommand& c) { return editCommand(c); }))
        updatePane();
}

void MainWindow::onExec() {
    session_->execute(document_.script(), selectedLine());
}

void MainWindow::onTest() {
    session_->test(document_.script());
}

void MainWindow::onStart() {
    if (refuseEditing(true) || !starter_) return;
    starter_->start(document_.script(), FromPath(document_.path()),
                    startCommandLine_ ? &*startCommandLine_ : nullptr);
}

void MainWindow::onNewImage() {
    if (refuseEditing(true)) return;
    int index = static_cast<int>(AppSettings().Get(setting::PreviewIndex));
    const QString start =
        IsBuiltInPreviewPath(previewPath_) ? FromPath(HomeFolder()) : FromPath(previewPath_);
    const QString name = dialogs_->openFileName(this, QText(appids::OpenPreviewTitle), start,
                                                DialogFilter(OpenDialogFilter()), &index);
    if (name.isEmpty()) return;
    previewPath_ = ToPath(name);
    AppSettings().Set(setting::PreviewImage, previewPath_);
    AppSettings().Set(setting::PreviewIndex, index);
    AppSettings().Save();
    session_->load(previewPath_, true);
}

void MainWindow::onRevert() {
    if (refuseEditing(true)) return;
    session_->load(previewPath_, true);
}

bool MainWindow::confirmLoseChanges() {
    if (!document_.modified()) return true;
    return dialogs_->ask(this, QText(IDS_SCRIPT_MODIFIED_LOSE), BoxButtons::YesNo,
                         BoxIcon::Question) == BoxAnswer::Yes;
}

void MainWindow::onNew() {
    if (refuseEditing(true) || !confirmLoseChanges()) return;
    document_.reset();
    refillScript(-1);
    updateCaption();
}

void MainWindow::onOpen() {
    if (refuseEditing(true) || !confirmLoseChanges()) return;
    int index = 0;
    const QString name = dialogs_->openFileName(
        this, QText(IDS_OPEN_SCRIPT_TITLE), FromPath(AppSettings().Get(setting::ScriptDir)),
        DialogFilter(LoadString(IDS_SCRIPT_FILTER_OPEN)), &index);
    if (name.isEmpty()) return;
    AppSettings().Set(setting::ScriptDir, ToPath(QFileInfo(name).absolutePath()));
    AppSettings().Save();
    if (IsImageListName(ToPath(name))) {
        dialogs_->editImageList(this, name);
        return;
    }
    openScript(name);
}

void MainWindow::onOpenRecent(const QString& path) {
    if (refuseEditing(true) || !confirmLoseChanges()) return;
    if (!openScript(path)) {
        recent_.remove(ToPath(path));
        rebuildRecentMenu();
        persistRecent();
    }
}

bool MainWindow::saveDocument() {
    if (document_.untitled()) return saveDocumentAs();
    std::string message;
    if (!document_.save(&message)) {
        dialogs_->tell(this, QString::fromStdString(message), BoxIcon::Error);
        return false;
    }
    updateCaption();
    return true;
}

bool MainWindow::saveDocumentAs() {
    const QString proposed =
        document_.untitled()
            ? FromPath(AppSettings().Get(setting::ScriptDir) + "/" + document_.path() + ".ksc")
            : FromPath(document_.path());
    const QString name = dialogs_->saveFileName(this, QText(IDS_SAVE_SCRIPT_TITLE), proposed,
                                                DialogFilter(LoadString(IDS_SCRIPT_FILTER_SAVE)),
                                                QStringLiteral("ksc"));
    if (name.isEmpty()) return false;
    rememberRecent(ToPath(name));
    std::string message;
    if (!document_.saveAs(ToPath(name), &message)) {
        dialogs_->tell(this, QString::fromStdString(message), BoxIcon::Error);
        return false;
    }
    updateCaption();
    return true;
}

void MainWindow::onSave() {
    saveDocument();
}

void MainWindow::onSaveAs() {
    saveDocumentAs();
}

bool MainWindow::copySelected() {
    const std::vector<uint8_t> block = document_.copy(selectedLine());
    if (block.empty()) {
        dialogs_->tell(this, QText(IDS_CLIPBOARD_NO_SET), BoxIcon::Exclamation);
        return false;
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kCommandMimeType),
                  QByteArray(reinterpret_cast<const char*>(block.data()),
                             static_cast<qsizetype>(block.size())));
    QGuiApplication::clipboard()->setMimeData(data);
    return true;
}

void MainWindow::onCopy() {
    if (refuseEditing(false) || selectedLine() < 0) return;
    copySelected();
}

void MainWindow::onCut() {
    if (refuseEditing(false) || selectedLine() < 0) return;
    if (copySelected()) refillScript(document_.remove(selectedLine()));
}

void MainWindow::onPaste() {
    if (refuseEditing(false)) return;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasFormat(QString::fromLatin1(kCommandMimeType))) return;
    const QByteArray bytes = data->data(QString::fromLatin1(kCommandMimeType));
    const ScriptDocument::PasteResult r =
        document_.paste(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                  static_cast<size_t>(bytes.size())),
                        selectedLine());
    switch (r.outcome) {
    case ScriptDocument::PasteOutcome::Damaged:
        dialogs_->tell(this, QText(IDS_CLIPBOARD_NO_GET), BoxIcon::Exclamation);
        break;
    case ScriptDocument::PasteOutcome::OnlyOnce:
        dialogs_->tell(this, QText(IDS_ONLY_ONE_OCCURRENCE), BoxIcon::Exclamation);
        selectLine(r.line);
        break;
    case ScriptDocument::PasteOutcome::Pasted:
        refillScript(r.line);
        break;
    }
}

void MainWindow::onAbout() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int bits = screen ? screen->depth() : 24;
    const QSize size = screen ? screen->size() : QSize();
    AboutBox box(GatherSystemFacts(bits, StoredScreenDepth(bits), size.width(), size.height()),
                 this);
    box.exec();
}

void MainWindow::onNotAvailable() {
    dialogs_->tell(this, QText(appids::NotAvailable), BoxIcon::Information);
}

void MainWindow::rememberRecent(const std::string& path) {
    recent_.add(path);
    rebuildRecentMenu();
    persistRecent();
}

void MainWindow::persistRecent() {
    // The settings store is read by background work (image decoding reads
    // its options there): it is written only while nothing runs.
    if (busy_.any()) {
        recentPending_ = true;
        return;
    }
    recentPending_ = false;
    recent_.store(AppSettings());
    AppSettings().Save();
}

void MainWindow::rebuildRecentMenu() {
    recentMenu_->clear();
    int n = 0;
    for (const std::string& file : recent_.files()) {
        const QString path = FromPath(file);
        QString shown = path;
        shown.replace('&', QStringLiteral("&&"));
        QAction* a = recentMenu_->addAction(QFormat(appids::RecentEntry, ++n, ToPath(shown)));
        a->setObjectName(QStringLiteral("recent%1").arg(n));
        connect(a, &QAction::triggered, this, [this, path] { onOpenRecent(path); });
    }
    recentMenu_->setEnabled(!recent_.files().empty() && !busy_.any());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (busy_.batch || busy_.previewRun()) {
        dialogs_->tell(this, QText(IDS_BUSY_CLOSING), BoxIcon::Exclamation);
        event->ignore();
        return;
    }
    if (!closeWithoutQuestion_ && document_.modified()) {
        switch (dialogs_->ask(this, QText(IDS_SCRIPT_MODIFIED_SAVE), BoxButtons::YesNoCancel,
                              BoxIcon::Question)) {
        case BoxAnswer::Yes:
            if (!saveDocument()) {
                event->ignore();
                return;
            }
            break;
        case BoxAnswer::No:
            break;
        default:
            event->ignore();
            return;
        }
    }
    event->accept();
}

namespace {

// The program's batch side: the controller of the batch dialogs and the
// progress window, behind the interface the window uses.
class ControllerBatchStarter : public BatchStarter {
  public:
    explicit ControllerBatchStarter(QWidget* mainWindow) : controller_(mainWindow) {
        connect(&controller_, &BatchController::runningChanged, this,
                &BatchStarter::runningChanged);
        connect(&controller_, &BatchController::mainStatusChanged, this,
                &BatchStarter::mainStatusChanged);
        connect(&controller_, &BatchController::scriptLineSelected, this,
                &BatchStarter::scriptLineSelected);
        connect(&controller_, &BatchController::finished, this, &BatchStarter::finished);
    }
    bool start(CScript& script, const QString& scriptPath,
               const CommandLine* commandLine) override {
        return controller_.start(script, scriptPath, BatchStart{commandLine});
    }
    bool running() const override { return controller_.running(); }

  private:
    BatchController controller_;
};

} // namespace

std::unique_ptr<BatchStarter> MakeBatchStarter(QWidget* mainWindow) {
    return std::make_unique<ControllerBatchStarter>(mainWindow);
}
