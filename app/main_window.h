// The main window: the script editor with the list of all command kinds,
// the current script, the selected command's parameters, the preview image
// with its information line, the buttons that run a command, test the
// script or start a batch, the menu, the tool bar and the status bar.
//
// The window only routes: editing goes to ScriptDocument, preview work to
// PreviewSession, batches to the BatchStarter, questions to UserDialogs.
// Every control has an objectName (tests find them by it).
//
// The clipboard carries one command as the record "KBM Script Command"
// under the MIME type kCommandMimeType; other clipboard contents are left
// alone (Paste is then unavailable).
#pragma once

#include "app/batch_starter.h"
#include "app/enabling.h"
#include "app/script_document.h"
#include "app/user_dialogs.h"
#include "batch/cmdline.h"

#include <QMainWindow>

#include <memory>
#include <optional>
#include <string>

class PreviewBox;
class PreviewSession;
class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;

inline constexpr char kCommandMimeType[] = "application/x-kbm-script-command";

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // dialogs: how the window asks the user (the real dialogs when null);
    // starter: the batch side (MakeBatchStarter's when null).
    explicit MainWindow(std::unique_ptr<UserDialogs> dialogs = nullptr,
                        std::unique_ptr<BatchStarter> starter = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The rest of the start-up, once the window is shown: the preview image
    // named in the settings, then what the command line asks (a script to
    // open, input files for the next Start, or a batch to run, after which
    // the window closes).
    void initialise(const CommandLine* commandLine = nullptr);

    // Opens a script as the Open command does after its dialog; false (the
    // message shown) when it cannot be loaded.
    bool openScript(const QString& path);

    ScriptDocument& document() { return document_; }
    PreviewSession& preview() { return *session_; }
    const BusyMarks& busy() const { return busy_; }
    int selectedLine() const;
    const std::string& previewPath() const { return previewPath_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildCentre();
    void connectSignals();

    void onAdd();
    void onDelete();
    void onMoveUp();
    void onMoveDown();
    void onEdit();
    void onExec();
    void onTest();
    void onStart();
    void onNewImage();
    void onRevert();
    void onNew();
    void onOpen();
    void onOpenRecent(const QString& path);
    void onSave();
    void onSaveAs();
    void onCut();
    void onCopy();
    void onPaste();
    void onAbout();
    void onNotAvailable();

    // Editing is refused while the window is busy: silently during a batch;
    // during preview work with the alert sound when beep is set.
    bool refuseEditing(bool beep);
    bool confirmLoseChanges();
    bool saveDocument();
    bool saveDocumentAs();
    bool copySelected();
    void rememberRecent(const std::string& path);
    void persistRecent();
    void rebuildRecentMenu();
    bool editCommand(CScriptCommand& command);

    void refillScript(int select);
    void selectLine(int line);
    void updatePane();
    void updateCaption();
    void updateInfoLine();
    void updateAvailability();
    void onPreviewRunChanged();
    void runCommandLineBatch();
    bool clipboardHasCommand() const;

    std::unique_ptr<UserDialogs> dialogs_;
    std::unique_ptr<BatchStarter> starter_;
    ScriptDocument document_;
    RecentFiles recent_;
    bool recentPending_ = false;
    BusyMarks busy_;
    std::string previewPath_;
    // Input files named on the command line (without "r"): handed to the
    // batch side when the user presses Start.
    std::optional<CommandLine> startCommandLine_;
    std::optional<CommandLine> runCommandLine_;
    bool closeWithoutQuestion_ = false;
    bool boxKnown_ = false;

    QListWidget* commandList_ = nullptr;
    QListWidget* scriptList_ = nullptr;
    QLabel* parameterPane_ = nullptr;
    PreviewBox* previewBox_ = nullptr;
    QLabel* previewInfo_ = nullptr;
    QLabel* stepText_ = nullptr;
    QProgressBar* stepProgress_ = nullptr;
    QLabel* statusText_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* newImageButton_ = nullptr;
    QPushButton* revertButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* moveUpButton_ = nullptr;
    QPushButton* moveDownButton_ = nullptr;
    QPushButton* editButton_ = nullptr;
    QPushButton* execButton_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;

    QAction* actNew_ = nullptr;
    QAction* actOpen_ = nullptr;
    QAction* actSave_ = nullptr;
    QAction* actSaveAs_ = nullptr;
    QAction* actPreferences_ = nullptr;
    QAction* actExit_ = nullptr;
    QAction* actCut_ = nullptr;
    QAction* actCopy_ = nullptr;
    QAction* actPaste_ = nullptr;
    QAction* actImageList_ = nullptr;
    QAction* actHelpTopics_ = nullptr;
    QAction* actAbout_ = nullptr;
    QAction* actStop_ = nullptr;
    QMenu* recentMenu_ = nullptr;

    // Declared last: destroyed first, so its running work ends while
    // everything above still exists.
    std::unique_ptr<PreviewSession> session_;
};
