// The main window driven through its widgets: the lists, editing, the
// clipboard, script files, the preview runs, the busy rules, the batch
// side and the command line.
#include "app/dialogs/plain_dialog.h"
#include "app/main_window.h"
#include "app/preview/preview_image.h"
#include "app/preview/preview_session.h"

#include "app_test_support.h"
#include "imaging/rotate.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>

using namespace apptest;
using brellix::test::BlockBytes;

namespace {

const QString kMime = QString::fromLatin1(kCommandMimeType);

// A UserDialogs whose message boxes are the real ones (the test answers
// them through the widgets); everything else as ScriptedDialogs.
class RealBoxes : public ScriptedDialogs {
  public:
    BoxAnswer ask(QWidget* parent, const QString& text, BoxButtons buttons, BoxIcon icon) override {
        asked.push_back({text, buttons, icon});
        return QtUserDialogs().ask(parent, text, buttons, icon);
    }
};

// Clicks the button of the next modal message box whose text is `button`.
void AnswerNextBox(const QString& button) {
    QTimer::singleShot(0, [button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            AnswerNextBox(button);
            return;
        }
        for (QAbstractButton* b : box->buttons())
            if (b->text().remove('&') == button) b->click();
    });
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        FreshSettings(*dir_);
        QGuiApplication::clipboard()->clear();
        starterAnswer_ = true;
        blocks_ = KML_LiveBlockCount();
    }
    void cleanup() {
        window_.reset();
        lastPreviewImage_.reset();
        QCOMPARE(KML_LiveBlockCount(), blocks_);
    }

    void theCommandListHoldsEveryKindWithItsID() {
        open();
        auto* list = W<QListWidget>("availableCommands");
        QCOMPARE(list->count(), 61);
        for (int i = 0; i < list->count(); ++i) {
            QCOMPARE(list->item(i)->data(Qt::UserRole).toInt(), 501 + i);
            QCOMPARE(list->item(i)->text(), QString::fromUtf8(GetString(501 + i)));
        }
        QCOMPARE(list->item(36)->text(), QStringLiteral("Filter: Blur"));
    }

    void controlsCarryTheirTextsAndTips_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("tip");
        QTest::newRow("add") << "addButton"
                             << ">>  &Add Command To Script...  >>"
                             << "Add Command";
        QTest::newRow("new image") << "newImageButton"
                                   << "Ne&w Image..."
                                   << "New Preview Image";
        QTest::newRow("revert") << "revertButton"
                                << "&Revert"
                                << "Revert Preview Image";
        QTest::newRow("delete") << "deleteButton"
                                << "&Delete"
                                << "Delete Command";
        QTest::newRow("move up") << "moveUpButton"
                                 << "Move &Up"
                                 << "Move Command Up";
        QTest::newRow("move down") << "moveDownButton"
                                   << "Mo&ve Down"
                                   << "Move Command Down";
        QTest::newRow("edit") << "editButton"
                              << "Ed&it..."
                              << "Edit Command Parameters";
        QTest::newRow("exec") << "execButton"
                              << "Exe&c Cmd"
                              << "Execute Command";
        QTest::newRow("test") << "testButton"
                              << "Test Scri&pt"
                              << "Test Script";
        QTest::newRow("start") << "startButton"
                               << "S&tart..."
                               << "Start Batch Process";
    }
    void controlsCarryTheirTextsAndTips() {
        QFETCH(QString, name);
        open();
        auto* b = W<QPushButton>(name.toLatin1());
        QTEST(b->text(), "text");
        QTEST(b->toolTip(), "tip");
    }

    void menusHaveTheirShortcuts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QKeySequence>("key");
        QTest::newRow("new") << "actionNew"
                             << "&New" << QKeySequence("Ctrl+N");
        QTest::newRow("open") << "actionOpen"
                              << "&Open..." << QKeySequence("Ctrl+O");
        QTest::newRow("save") << "actionSave"
                              << "&Save" << QKeySequence("Ctrl+S");
        QTest::newRow("save as") << "actionSaveAs"
                                 << "Save &As..." << QKeySequence("F12");
        QTest::newRow("exit") << "actionExit"
                              << "E&xit" << QKeySequence();
        QTest::newRow("cut") << "actionCut"
                             << "Cu&t" << QKeySequence("Ctrl+X");
        QTest::newRow("copy") << "actionCopy"
                              << "&Copy" << QKeySequence("Ctrl+C");
        QTest::newRow("paste") << "actionPaste"
                               << "&Paste" << QKeySequence("Ctrl+V");
        QTest::newRow("image list") << "actionImageList"
                                    << "&Image List..." << QKeySequence("Ctrl+I");
        QTest::newRow("about") << "actionAbout"
                               << "&About Kerv Brellix..." << QKeySequence();
    }
    void menusHaveTheirShortcuts() {
        QFETCH(QString, name);
        open();
        auto* a = W<QAction>(name.toLatin1());
        QTEST(a->text(), "text");
        QTEST(a->shortcut(), "key");
    }

    void theWindowStartsUntitledWithTheBuiltInPicture() {
        open();
        QCOMPARE(window_->windowTitle(), QStringLiteral("Brellix - UNTITLED"));
        QCOMPARE(W<QLabel>("statusText")->text(), QStringLiteral("Ready"));
        QCOMPARE(W<QLabel>("previewInfo")->text(), QStringLiteral("Image: 320 x 200 x 24bpp"));
        QCOMPARE(W<QLabel>("stepText")->text(), QStringLiteral("Step Progress"));
        QVERIFY(!W<QProgressBar>("stepProgress")->isVisible());
        QVERIFY(!W<QAction>("actionCut")->isEnabled());
        QVERIFY(!W<QAction>("actionPaste")->isEnabled());
        QVERIFY(!W<QPushButton>("stopButton")->isEnabled());
    }

    void theInformationLineShowsThePreviewImageNotItsDisplayCopy() {
        open();
        choosePreview(MakeImage(640, 480, 8, 1));
        QCOMPARE(W<QLabel>("previewInfo")->text(), QStringLiteral("Image: 640 x 480 x 8bpp"));
        const QSize box = window_->preview().box();
        QVERIFY(box.width() < 640);
        QCOMPARE(window_->preview().picture().width(), box.width());
        QCOMPARE(AppSettings().Get(setting::PreviewImage), lastPreview_.toStdString());
    }

    void doubleClickingAKindAddsItAfterTheSelectedLine() {
        open();
        doubleClickKind(CMD_BLUR);
        QCOMPARE(scriptTexts(), QStringList{"Filter: Blur"});
        QCOMPARE(window_->selectedLine(), 0);
        QVERIFY(window_->document().modified());
        QCOMPARE(dialogs_->edits, 0);
        QCOMPARE(W<QLabel>("parameterPane")->text(), QStringLiteral("None"));
        doubleClickKind(CMD_MIRROR);
        selectLine(0);
        chooseKind(CMD_FLIP);
        W<QPushButton>("addButton")->click();
        QCOMPARE(scriptTexts(), (QStringList{"Filter: Blur", "Flip Image", "Mirror Image"}));
        QCOMPARE(window_->selectedLine(), 1);
    }

    void cancellingTheParametersOfANewCommandAddsNothing() {
        open();
        dialogs_->editHook = [](CScriptCommand&) { return false; };
        doubleClickKind(CMD_GAMMA);
        QCOMPARE(dialogs_->edits, 1);
        QCOMPARE(W<QListWidget>("scriptList")->count(), 0);
        QVERIFY(!window_->document().modified());
    }

    void aSecondSettingsCommandIsRefusedWithItsMessage() {
        open();
        doubleClickKind(CMD_SET_OUTPUT_OPTIONS);
        doubleClickKind(CMD_FLIP);
        doubleClickKind(CMD_SET_OUTPUT_OPTIONS);
        QCOMPARE(dialogs_->texts(),
                 QStringList{"Only one occurrence of this command is allowed in a single script."});
        QCOMPARE(scriptTexts(), (QStringList{"Set Output Options", "Flip Image"}));
        QCOMPARE(window_->selectedLine(), 0);
    }

    void editingGoesThroughTheParameterEditor() {
        open();
        dialogs_->realEditor = true;
        // The "Add Borders" dialog: all four margins 0 is refused and the
        // dialog stays open; a left margin of 12 is then confirmed.
        QStringList told;
        DialogHooks().message = [&told](QWidget*, const QString& text) { told << text; };
        QString title;
        bool stayedOpen = false;
        dialogs_->editorHook = [&](QDialog& e) {
            title = e.windowTitle();
            for (const char* name : {"slot_P0", "slot_P1", "slot_P2", "slot_P3"})
                e.findChild<QSpinBox*>(name)->setValue(0);
            QPushButton* ok = e.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok);
            ok->click();
            stayedOpen = e.isVisible();
            e.findChild<QSpinBox*>("slot_P0")->setValue(12);
            ok->click();
        };
        doubleClickKind(CMD_ADD_BORDERS);
        DialogHooks().message = nullptr;
        QCOMPARE(title, QString("Add Borders"));
        QVERIFY(stayedOpen);
        QCOMPARE(told, QStringList{"You must specify at least one non-zero value"});
        QCOMPARE(window_->document().script().GetCommand(0)->m_nParam[0], 12);
        QVERIFY(W<QLabel>("parameterPane")->text().startsWith("Left: 12\nRight: 0\n"));
        // Double-clicking the line opens the editor again; Cancel keeps it.
        dialogs_->editorHook = [](QDialog& e) {
            e.findChild<QSpinBox*>("slot_P0")->setValue(99);
            e.reject();
        };
        QVERIFY(window_->document().saveAs(dir_->filePath("e.ksc").toStdString(), nullptr));
        doubleClickLine(0);
        QCOMPARE(dialogs_->edits, 2);
        QCOMPARE(window_->document().script().GetCommand(0)->m_nParam[0], 12);
        QVERIFY(!window_->document().modified());
        dialogs_->editorHook = [](QDialog& e) {
            e.findChild<QSpinBox*>("slot_P1")->setValue(3);
            e.accept();
        };
        W<QPushButton>("editButton")->click();
        QCOMPARE(window_->document().script().GetCommand(0)->m_nParam[1], 3);
        QVERIFY(window_->document().modified());
        QVERIFY(W<QLabel>("parameterPane")->text().startsWith("Left: 12\nRight: 3\n"));
    }

    void movingAndDeletingKeepTheCommandSelected() {
        open();
        for (int32_t id : {CMD_FLIP, CMD_MIRROR, CMD_BLUR})
            doubleClickKind(id);
        selectLine(2);
        W<QPushButton>("moveUpButton")->click();
        QCOMPARE(scriptTexts(), (QStringList{"Flip Image", "Filter: Blur", "Mirror Image"}));
        QCOMPARE(window_->selectedLine(), 1);
        W<QPushButton>("moveUpButton")->click();
        W<QPushButton>("moveUpButton")->click();
        QCOMPARE(scriptTexts(), (QStringList{"Filter: Blur", "Flip Image", "Mirror Image"}));
        QCOMPARE(window_->selectedLine(), 0);
        W<QPushButton>("moveDownButton")->click();
        QCOMPARE(scriptTexts(), (QStringList{"Flip Image", "Filter: Blur", "Mirror Image"}));
        selectLine(2);
        W<QPushButton>("deleteButton")->click();
        QCOMPARE(scriptTexts(), (QStringList{"Flip Image", "Filter: Blur"}));
        QCOMPARE(window_->selectedLine(), 1);
    }

    void copyAndPasteCarryEveryField() {
        open();
        doubleClickKind(CMD_FLIP);
        doubleClickKind(CMD_OVERLAY_WATERMARK);
        CScriptCommand& c = *window_->document().script().GetCommand(1);
        c.m_strParam[0] = "/marks/badge.png";
        c.m_nParam[2] = 55;
        c.m_crColor[0] = RGB(4, 5, 6);
        selectLine(1);
        QVERIFY(W<QAction>("actionCopy")->isEnabled());
        W<QAction>("actionCopy")->trigger();
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data && data->hasFormat(kMime));
        const QByteArray bytes = data->data(kMime);
        const QByteArray record = HandMadeRecord(c);
        QCOMPARE(bytes.size(), record.size() + 4);
        QCOMPARE(bytes.left(record.size()), record);
        QTRY_VERIFY(W<QAction>("actionPaste")->isEnabled());
        selectLine(0);
        W<QAction>("actionPaste")->trigger();
        QCOMPARE(scriptTexts(),
                 (QStringList{"Flip Image", "Overlay Watermark", "Overlay Watermark"}));
        QCOMPARE(window_->selectedLine(), 1);
        const CScriptCommand& p = *window_->document().script().GetCommand(1);
        QCOMPARE(HandMadeRecord(p), record);
    }

    void cutMovesACommandThroughTheClipboard() {
        open();
        for (int32_t id : {CMD_FLIP, CMD_MIRROR, CMD_BLUR})
            doubleClickKind(id);
        selectLine(0);
        QVERIFY(W<QAction>("actionCut")->isEnabled());
        W<QAction>("actionCut")->trigger();
        QCOMPARE(scriptTexts(), (QStringList{"Mirror Image", "Filter: Blur"}));
        QCOMPARE(window_->selectedLine(), 0);
        selectLine(1);
        W<QAction>("actionPaste")->trigger();
        QCOMPARE(scriptTexts(), (QStringList{"Mirror Image", "Filter: Blur", "Flip Image"}));
    }

    void foreignClipboardDataIsLeftAlone() {
        open();
        doubleClickKind(CMD_FLIP);
        QGuiApplication::clipboard()->setText(QStringLiteral("hello"));
        QTRY_VERIFY(!W<QAction>("actionPaste")->isEnabled());
        W<QAction>("actionPaste")->trigger();
        QCOMPARE(scriptTexts(), QStringList{"Flip Image"});
        QVERIFY(dialogs_->asked.empty());
    }

    void aDamagedRecordIsRefusedWithTheClipboardMessage() {
        open();
        doubleClickKind(CMD_FLIP);
        auto* data = new QMimeData;
        data->setData(kMime, QByteArray("0123456789"));
        QGuiApplication::clipboard()->setMimeData(data);
        QTRY_VERIFY(W<QAction>("actionPaste")->isEnabled());
        W<QAction>("actionPaste")->trigger();
        QCOMPARE(dialogs_->texts(), QStringList{"Clipboard in use; unable to get contents."});
        QCOMPARE(scriptTexts(), QStringList{"Flip Image"});
    }

    void openAndSaveWriteWhatTheConsoleWrites() {
        open();
        const QString a = consoleScript("console.ksc");
        dialogs_->openNames = {a};
        W<QAction>("actionOpen")->trigger();
        QCOMPARE(dialogs_->openTitles, QStringList{"Open Script File"});
        QCOMPARE(dialogs_->openFilters, QStringList{"Script Files (*.ksc);;All Files (*)"});
        QCOMPARE(scriptTexts(), (QStringList{"Rotate Image", "Add Borders"}));
        QCOMPARE(window_->selectedLine(), 0);
        QCOMPARE(window_->windowTitle(), "Brellix - " + a);
        QCOMPARE(AppSettings().Get(setting::ScriptDir), dir_->path().toStdString());
        const QString b = dir_->filePath("window.ksc");
        dialogs_->saveNames = {b};
        W<QAction>("actionSaveAs")->trigger();
        QCOMPARE(dialogs_->saveTitles, QStringList{"Save Script File As"});
        QCOMPARE(FileBytes(b), FileBytes(a));
        QCOMPARE(window_->windowTitle(), "Brellix - " + b);
        // Save writes to the current path without asking.
        selectLine(0);
        W<QPushButton>("deleteButton")->click();
        W<QAction>("actionSave")->trigger();
        QCOMPARE(dialogs_->saveTitles.size(), 1);
        CScript again;
        QVERIFY(again.Load(b.toStdString()));
        QCOMPARE(again.GetCount(), 1);
        QVERIFY(!window_->document().modified());
    }

    void saveOfAnUntitledScriptAsksForAName() {
        open();
        doubleClickKind(CMD_FLIP);
        W<QAction>("actionSave")->trigger();
        QCOMPARE(dialogs_->saveTitles, QStringList{"Save Script File As"});
        QVERIFY(window_->document().modified());
        const QString name = dir_->filePath("named.ksc");
        dialogs_->saveNames = {name};
        W<QAction>("actionSave")->trigger();
        QVERIFY(QFile::exists(name));
        QVERIFY(!window_->document().modified());
    }

    void aDamagedScriptFileIsReportedAndNothingIsLost() {
        open();
        for (int32_t id : {CMD_FLIP, CMD_MIRROR})
            doubleClickKind(id);
        const QString damaged = dir_->filePath("damaged.ksc");
        QVERIFY(WriteBytes(damaged, QByteArray("KERV Batch Scrip!\0\1\2", 21)));
        dialogs_->openNames = {damaged};
        dialogs_->answers = {BoxAnswer::Yes};
        W<QAction>("actionOpen")->trigger();
        QCOMPARE(dialogs_->texts(),
                 (QStringList{"The current script has been modified.  Are you sure you want to "
                              "lose your changes?",
                              "This does not appear to be a valid script file"}));
        QCOMPARE(scriptTexts(), (QStringList{"Flip Image", "Mirror Image"}));
        QCOMPARE(window_->windowTitle(), QStringLiteral("Brellix - UNTITLED"));
        QVERIFY(window_->document().modified());
        QVERIFY(W<QMenu>("recentMenu")->actions().isEmpty());
    }

    void anImageListOpensInItsEditorNotAsAScript() {
        open();
        const QString list = dir_->filePath("photos.BRL");
        QVERIFY(WriteBytes(list, "BRL\r\n/a.png\r\n"));
        dialogs_->openNames = {list};
        W<QAction>("actionOpen")->trigger();
        QCOMPARE(dialogs_->imageLists, QStringList{list});
        QVERIFY(dialogs_->asked.empty());
        QVERIFY(window_->document().untitled());
        W<QAction>("actionImageList")->trigger();
        QCOMPARE(dialogs_->imageLists, (QStringList{list, QString()}));
    }

    void newAsksBeforeLosingChanges_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("left");
        QTest::newRow("Yes empties the script") << int(BoxAnswer::Yes) << 0;
        QTest::newRow("No keeps it") << int(BoxAnswer::No) << 1;
    }
    void newAsksBeforeLosingChanges() {
        QFETCH(int, answer);
        open();
        doubleClickKind(CMD_FLIP);
        dialogs_->answers = {BoxAnswer(answer)};
        W<QAction>("actionNew")->trigger();
        QCOMPARE(dialogs_->asked.size(), size_t(1));
        QCOMPARE(dialogs_->asked[0].buttons, BoxButtons::YesNo);
        QTEST(W<QListWidget>("scriptList")->count(), "left");
    }

    void closingAModifiedScriptAsksToSave_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("giveName");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("saved");
        QTest::newRow("Yes saves, then closes") << int(BoxAnswer::Yes) << true << true << true;
        QTest::newRow("Yes with the name cancelled stays")
            << int(BoxAnswer::Yes) << false << false << false;
        QTest::newRow("No discards and closes") << int(BoxAnswer::No) << false << true << false;
        QTest::newRow("Cancel stays") << int(BoxAnswer::Cancel) << false << false << false;
    }
    void closingAModifiedScriptAsksToSave() {
        QFETCH(int, answer);
        QFETCH(bool, giveName);
        open();
        doubleClickKind(CMD_FLIP);
        const QString name = dir_->filePath("closing.ksc");
        dialogs_->answers = {BoxAnswer(answer)};
        if (giveName) dialogs_->saveNames = {name};
        QTEST(window_->close(), "closed");
        QCOMPARE(dialogs_->texts(),
                 QStringList{"The script has changed, would you like to save the changes?"});
        QCOMPARE(dialogs_->asked[0].buttons, BoxButtons::YesNoCancel);
        QTEST(QFile::exists(name), "saved");
    }

    void theRealQuestionBoxAnswersClose() {
        open(std::make_unique<RealBoxes>());
        doubleClickKind(CMD_FLIP);
        AnswerNextBox(QStringLiteral("No"));
        QVERIFY(window_->close());
        QCOMPARE(dialogs_->asked.size(), size_t(1));
    }

    void anUnmodifiedScriptClosesWithoutAQuestion() {
        open();
        QVERIFY(window_->close());
        QVERIFY(dialogs_->asked.empty());
    }

    void testScriptReportsTheFailingLineAndGoesOn() {
        open();
        choosePreview(MakeImage(64, 48, 8, 3));
        const std::vector<uint8_t> before = BlockBytes(window_->preview().image());
        for (int32_t id : {CMD_FLIP, CMD_MIRROR, CMD_BLUR, CMD_NEGATIVE})
            doubleClickKind(id);
        W<QPushButton>("testButton")->click();
        QTRY_VERIFY(!window_->preview().running());
        QCOMPARE(dialogs_->texts(),
                 QStringList{"Script Line 3 Error: A True Color or Greyscale image is required "
                             "for this function"});
        QCOMPARE(window_->selectedLine(), 3);
        QCOMPARE(W<QLabel>("statusText")->text(), QStringLiteral("Ready"));
        QVERIFY(BlockBytes(window_->preview().image()) != before);
        QCOMPARE(W<QLabel>("previewInfo")->text(), QStringLiteral("Image: 64 x 48 x 8bpp"));
        // Revert reads the file again.
        W<QPushButton>("revertButton")->click();
        QTRY_VERIFY(!window_->preview().running());
        QCOMPARE(BlockBytes(window_->preview().image()), before);
    }

    void execCmdRunsTheSelectedLineOnly() {
        open();
        choosePreview(MakeImage(30, 20, 24, 4));
        dialogs_->editHook = [](CScriptCommand& c) {
            c.m_nParam[1] = 0; // a quarter turn
            c.m_nParam[2] = 0;
            return true;
        };
        for (int32_t id : {CMD_FLIP, CMD_ROTATE})
            doubleClickKind(id);
        selectLine(1);
        W<QPushButton>("execButton")->click();
        QTRY_VERIFY(!window_->preview().running());
        QCOMPARE(W<QLabel>("previewInfo")->text(), QStringLiteral("Image: 20 x 30 x 24bpp"));
        QVERIFY(dialogs_->asked.empty());
    }

    void aPreviewImageThatCannotBeReadIsReportedAndNothingIsLost() {
        open();
        doubleClickKind(CMD_FLIP);
        const QString bad = dir_->filePath("bad.jpg");
        QVERIFY(WriteBytes(bad, "\xff\xd8\xff\xe0 not really a JPEG"));
        dialogs_->openNames = {bad};
        W<QPushButton>("newImageButton")->click();
        QCOMPARE(dialogs_->openTitles, QStringList{"Open Preview Image"});
        QTRY_VERIFY(!window_->preview().running());
        QCOMPARE(dialogs_->asked.size(), size_t(1));
        QVERIFY(dialogs_->asked[0].text.contains(bad));
        QCOMPARE(W<QLabel>("previewInfo")->text(), QStringLiteral("Image: 320 x 200 x 24bpp"));
        QCOMPARE(scriptTexts(), QStringList{"Flip Image"});
    }

    void aScriptTestDisablesEditingAndEscapeStopsIt() {
        open();
        choosePreview(MakeImage(3000, 2000, 24, 5));
        const std::vector<uint8_t> before = BlockBytes(window_->preview().image());
        doubleClickKind(CMD_FLIP);
        dialogs_->editHook = [](CScriptCommand& c) {
            c.m_nParam[1] = 40;
            return true;
        };
        doubleClickKind(CMD_MOTION_BLUR);
        doubleClickKind(CMD_MIRROR);
        selectLine(0);
        QGuiApplication::clipboard()->clear();
        QTRY_VERIFY(W<QAction>("actionCopy")->isEnabled());
        W<QPushButton>("testButton")->click();
        QTRY_COMPARE(window_->selectedLine(), 1);
        QTRY_VERIFY(W<QProgressBar>("stepProgress")->value() > 0);
        QVERIFY(window_->busy().scriptTest);
        for (const char* name : {"actionNew", "actionOpen", "actionCut", "actionCopy",
                                 "actionPaste", "actionExit", "actionPreferences"})
            QVERIFY2(!W<QAction>(name)->isEnabled(), name);
        for (const char* name : {"availableCommands", "scriptList", "addButton", "deleteButton",
                                 "moveUpButton", "moveDownButton", "editButton", "execButton",
                                 "testButton", "startButton", "newImageButton", "revertButton"})
            QVERIFY2(!W<QWidget>(name)->isEnabled(), name);
        QVERIFY(W<QAction>("actionSave")->isEnabled());
        QVERIFY(W<QAction>("actionImageList")->isEnabled() == false);
        QVERIFY(W<QPushButton>("stopButton")->isEnabled());
        QCOMPARE(W<QLabel>("stepText")->text(), QStringLiteral("Simulating Script"));
        QCOMPARE(W<QLabel>("statusText")->text(), QStringLiteral("Simulating Script"));
        QVERIFY(W<QProgressBar>("stepProgress")->isVisible());
        // Closing is refused while it runs.
        QVERIFY(!window_->close());
        QCOMPARE(dialogs_->texts(),
                 QStringList{"An image processing function is currently in progress.\nPlease wait "
                             "for it to complete before closing.\n"});
        QTest::keyClick(window_.get(), Qt::Key_Escape);
        QTRY_VERIFY(!window_->preview().running());
        QCOMPARE(dialogs_->asked.size(), size_t(1));
        QCOMPARE(window_->selectedLine(), 1);
        for (const char* name :
             {"actionNew", "actionOpen", "actionCut", "actionCopy", "actionExit"})
            QVERIFY2(W<QAction>(name)->isEnabled(), name);
        QVERIFY(W<QWidget>("scriptList")->isEnabled());
        QVERIFY(!W<QPushButton>("stopButton")->isEnabled());
        QVERIFY(!W<QProgressBar>("stepProgress")->isVisible());
        QCOMPARE(W<QLabel>("stepText")->text(), QStringLiteral("Step Progress"));
        // Line 1 (the flip) ran; line 2 was stopped; line 3 never ran.
        KHANDLE flipped = nullptr;
        QCOMPARE(FlipDIB(nullptr, lastPreviewImage_.get(), &flipped), KERV_OK);
        KOwnedHandle owned(flipped);
        QCOMPARE(BlockBytes(window_->preview().image()), BlockBytes(flipped));
        QVERIFY(BlockBytes(flipped) != before);
    }

    void theStopButtonEndsExecCmd() {
        open();
        choosePreview(MakeImage(3000, 2000, 24, 6));
        const KHANDLE image = window_->preview().image();
        dialogs_->editHook = [](CScriptCommand& c) {
            c.m_nParam[1] = 40;
            return true;
        };
        doubleClickKind(CMD_MOTION_BLUR);
        W<QPushButton>("execButton")->click();
        QVERIFY(window_->busy().previewCommand);
        QCOMPARE(W<QLabel>("stepText")->text(), QStringLiteral("Executing Command"));
        QTRY_VERIFY(W<QProgressBar>("stepProgress")->value() > 0);
        QVERIFY(!W<QAction>("actionNew")->isEnabled());
        QVERIFY(!W<QAction>("actionCopy")->isEnabled());
        W<QPushButton>("stopButton")->click();
        QTRY_VERIFY(!window_->preview().running());
        QVERIFY(dialogs_->asked.empty());
        QCOMPARE(window_->preview().image(), image);
    }

    void startHandsTheScriptToTheBatchSide() {
        open();
        const QString a = consoleScript("batch.ksc");
        QVERIFY(window_->openScript(a));
        W<QPushButton>("startButton")->click();
        QCOMPARE(starter_->starts.size(), size_t(1));
        QCOMPARE(starter_->starts[0].script, &window_->document().script());
        QCOMPARE(starter_->starts[0].commands, 2);
        QCOMPARE(starter_->starts[0].path, a);
        QVERIFY(!starter_->starts[0].commandLine);
    }

    void aRunningBatchMakesTheWindowBusy() {
        open();
        doubleClickKind(CMD_FLIP);
        doubleClickKind(CMD_MIRROR);
        starter_->setRunning(true);
        QVERIFY(window_->busy().batch);
        for (const char* name : {"scriptList", "addButton", "execButton", "testButton",
                                 "startButton", "newImageButton"})
            QVERIFY2(!W<QWidget>(name)->isEnabled(), name);
        QVERIFY(!W<QAction>("actionNew")->isEnabled());
        QVERIFY(!W<QAction>("actionPaste")->isEnabled());
        QVERIFY(W<QAction>("actionSave")->isEnabled());
        // Edits and preview work are refused, silently.
        W<QAction>("actionNew")->trigger();
        QVERIFY(!window_->preview().execute(window_->document().script(), 0));
        QCOMPARE(window_->document().count(), 2);
        QCOMPARE(dialogs_->beeps, 0);
        emit starter_->mainStatusChanged(QStringLiteral("Running Batch Process"));
        QCOMPARE(W<QLabel>("statusText")->text(), QStringLiteral("Running Batch Process"));
        emit starter_->scriptLineSelected(0);
        QCOMPARE(window_->selectedLine(), 0);
        QVERIFY(!window_->close());
        QCOMPARE(dialogs_->asked.size(), size_t(1));
        starter_->finish();
        QVERIFY(!window_->busy().batch);
        QVERIFY(W<QWidget>("scriptList")->isEnabled());
        QVERIFY(window_->isVisible());
    }

    void theCommandLineRunStartsOnceTheWindowIsUpAndEndsWithIt() {
        CommandLine cl;
        cl.scriptPath = consoleScript("run.ksc").toStdString();
        cl.mode = CommandLine::RunRequested;
        cl.inputSpec = "*.png";
        open(nullptr, &cl);
        QTRY_COMPARE(starter_->starts.size(), size_t(1));
        QCOMPARE(starter_->starts[0].commands, 2);
        QCOMPARE(starter_->starts[0].path, QString::fromStdString(cl.scriptPath));
        QVERIFY(starter_->starts[0].commandLine);
        QCOMPARE(starter_->starts[0].commandLineScript, cl.scriptPath);
        starter_->setRunning(true);
        QVERIFY(window_->isVisible());
        starter_->finish();
        QTRY_VERIFY(!window_->isVisible());
        QVERIFY(dialogs_->asked.empty());
    }

    void aCommandLineRunThatDoesNotStartClosesTheWindow() {
        CommandLine cl;
        cl.scriptPath = consoleScript("run.ksc").toStdString();
        cl.mode = CommandLine::RunRequested;
        starterAnswer_ = false;
        open(nullptr, &cl);
        QTRY_COMPARE(starter_->starts.size(), size_t(1));
        QTRY_VERIFY(!window_->isVisible());
    }

    void commandLineFilesWaitForStart() {
        CommandLine cl;
        cl.scriptPath = consoleScript("files.ksc").toStdString();
        cl.mode = CommandLine::ScriptGiven;
        cl.inputSpec = "photos/*.jpg";
        cl.allFiles = false;
        open(nullptr, &cl);
        QCOMPARE(scriptTexts(), (QStringList{"Rotate Image", "Add Borders"}));
        QTest::qWait(50);
        QVERIFY(starter_->starts.empty());
        W<QPushButton>("startButton")->click();
        QCOMPARE(starter_->starts.size(), size_t(1));
        QVERIFY(starter_->starts[0].commandLine);
        QCOMPARE(starter_->starts[0].commandLine->inputSpec, std::string("photos/*.jpg"));
    }

    void anImageListOnTheCommandLineOpensInItsEditor() {
        const QString list = dir_->filePath("photos.brl");
        QVERIFY(WriteBytes(list, "BRL\r\n"));
        CommandLine cl;
        cl.scriptPath = list.toStdString();
        cl.mode = CommandLine::ScriptGiven;
        open(nullptr, &cl);
        QTRY_COMPARE(dialogs_->imageLists, QStringList{list});
        QCOMPARE(dialogs_->beeps, 0);
        QVERIFY(window_->document().untitled());
        QVERIFY(dialogs_->asked.empty());
    }

    void recentScriptsReopenAndForgetMissingFiles() {
        open();
        const QString a = consoleScript("a.ksc");
        const QString b = consoleScript("b.ksc");
        QVERIFY(window_->openScript(a));
        QVERIFY(window_->openScript(b));
        QMenu* recent = W<QMenu>("recentMenu");
        QCOMPARE(recent->actions().size(), 2);
        QCOMPARE(recent->actions()[0]->text(), "&1 " + b);
        QCOMPARE(recent->actions()[1]->text(), "&2 " + a);
        QCOMPARE(AppSettings().GetText("Recent File List", "File1", ""), b.toStdString());
        recent->actions()[1]->trigger();
        QCOMPARE(window_->windowTitle(), "Brellix - " + a);
        QFile::remove(b);
        recent = W<QMenu>("recentMenu");
        recent->actions()[1]->trigger();
        QCOMPARE(dialogs_->asked.size(), size_t(1));
        QVERIFY(dialogs_->asked[0].text.startsWith("The script could not be loaded because "));
        QCOMPARE(W<QMenu>("recentMenu")->actions().size(), 1);
        QVERIFY(!AppSettings().GetRaw("Recent File List", "File2"));
    }

    void theAboutBoxListsTheBuildInformation() {
        open();
        QString name, header;
        bool hasOsGroup = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) return;
            name = box->objectName();
            if (auto* list = box->findChild<QTreeWidget*>("buildInfo")) {
                header = list->headerItem()->text(0);
                hasOsGroup =
                    !list->findItems("Operating System Information:", Qt::MatchExactly).isEmpty();
            }
            qobject_cast<QDialog*>(box)->accept();
        });
        W<QAction>("actionAbout")->trigger();
        QCOMPARE(name, QStringLiteral("aboutBox"));
        QCOMPARE(header, QStringLiteral("Kerv Brellix Build Information"));
        QVERIFY(hasOsGroup);
    }

  private:
    template <class T> T* W(const char* name) {
        T* w = window_->findChild<T*>(QString::fromLatin1(name));
        if (!w) qFatal("no %s", name);
        return w;
    }

    void open(std::unique_ptr<ScriptedDialogs> dialogs = nullptr,
              const CommandLine* commandLine = nullptr) {
        auto ownDialogs = dialogs ? std::move(dialogs) : std::make_unique<ScriptedDialogs>();
        dialogs_ = ownDialogs.get();
        auto starter = std::make_unique<FakeBatchStarter>();
        starter->answer = starterAnswer_;
        starter_ = starter.get();
        window_ = std::make_unique<MainWindow>(std::move(ownDialogs), std::move(starter));
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        window_->initialise(commandLine);
        QTRY_VERIFY(!window_->preview().running());
    }

    // Chooses a new preview image through "New Image...", from a file.
    void choosePreview(KHANDLE image) {
        lastPreviewImage_.reset(image);
        lastPreview_ = dir_->filePath(QStringLiteral("preview%1.bmp").arg(++files_));
        QVERIFY(WriteImage(image, lastPreview_));
        dialogs_->openNames = {lastPreview_};
        W<QPushButton>("newImageButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window_->preview().running(), 20000);
        QCOMPARE(BlockBytes(window_->preview().image()), BlockBytes(image));
    }

    // A script written by the script layer, as the console program writes it.
    QString consoleScript(const char* name) {
        CScript s;
        auto rotate = std::make_unique<CScriptCommand>(CMD_ROTATE);
        rotate->m_nParam[1] = 0;
        rotate->m_nParam[2] = 1;
        s.InsertCommand(std::move(rotate), -1);
        auto borders = std::make_unique<CScriptCommand>(CMD_ADD_BORDERS);
        borders->m_strParam[1] = "carried";
        borders->m_crColor[0] = RGB(1, 2, 3);
        s.InsertCommand(std::move(borders), 0);
        const QString path = dir_->filePath(QString::fromLatin1(name));
        if (!s.Save(path.toStdString())) qFatal("cannot write %s", name);
        return path;
    }

    void chooseKind(int32_t id) {
        auto* list = W<QListWidget>("availableCommands");
        list->setCurrentRow(id - FIRST_COMMAND_ID);
    }

    void doubleClickKind(int32_t id) {
        auto* list = W<QListWidget>("availableCommands");
        QListWidgetItem* item = list->item(id - FIRST_COMMAND_ID);
        list->scrollToItem(item);
        const QPoint at = list->visualItemRect(item).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }

    void doubleClickLine(int line) {
        auto* list = W<QListWidget>("scriptList");
        const QPoint at = list->visualItemRect(list->item(line)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }

    void selectLine(int line) {
        auto* list = W<QListWidget>("scriptList");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(line)).center());
        QCOMPARE(window_->selectedLine(), line);
    }

    QStringList scriptTexts() {
        QStringList out;
        auto* list = W<QListWidget>("scriptList");
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<MainWindow> window_;
    ScriptedDialogs* dialogs_ = nullptr;
    FakeBatchStarter* starter_ = nullptr;
    bool starterAnswer_ = true;
    KOwnedHandle lastPreviewImage_;
    QString lastPreview_;
    int files_ = 0;
    size_t blocks_ = 0;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
