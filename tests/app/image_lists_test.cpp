// "Set Input Options", the image list editor, its verification pass and the
// "Folder Error" dialog, driven through their widgets; the user's answers
// come from ScriptedDialogs and ScriptedAsk, so no real modal box blocks.
#include "app/imagelist/add_images_dialog.h"
#include "app/imagelist/folder_error_dialog.h"
#include "app/imagelist/image_list_editor.h"
#include "app/imagelist/image_list_ui.h"
#include "app/imagelist/input_options_dialog.h"
#include "tests/app/app_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QtTest>

using namespace apptest;

namespace {

// Answers the image list windows' own questions from queues.
class ScriptedAsk : public ImageListAsk {
  public:
    std::deque<QStringList> picks; // "A&dd..." answers; none left is Cancel
    std::deque<QString> folders;   // Browse answers
    std::deque<FolderChoice> choices;
    QStringList missing; // the folders the pass asked about
    std::function<void()> duringFolderError;

    bool pickImages(QWidget*, const QString&, int* filterIndex, QStringList* paths,
                    QString* folder) override {
        if (picks.empty()) return false;
        *paths = picks.front();
        picks.pop_front();
        *folder = paths->isEmpty() ? QString() : QFileInfo(paths->first()).absolutePath();
        if (filterIndex) *filterIndex = 3;
        return true;
    }
    QString chooseFolder(QWidget*, const QString&, const QString&) override {
        if (folders.empty()) return {};
        const QString f = folders.front();
        folders.pop_front();
        return f;
    }
    FolderChoice folderError(QWidget*, const std::string& folder, UserDialogs&) override {
        missing << QString::fromStdString(folder);
        if (duringFolderError) duringFolderError();
        if (choices.empty()) return {FolderChoice::Abort, {}};
        FolderChoice c = choices.front();
        choices.pop_front();
        return c;
    }
};

template <class T> T* Child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QLatin1String(name));
    if (!c) qWarning("no child %s", name);
    return c;
}

void Click(QWidget* w, const char* name) {
    QTest::mouseClick(Child<QPushButton>(w, name), Qt::LeftButton);
}

// "name | folder" for each row the view shows.
QStringList ViewRows(CImageListFileDlg& editor) {
    QAbstractItemModel* m = Child<QTreeView>(&editor, "imageList")->model();
    QStringList rows;
    for (int r = 0; r < m->rowCount(); ++r)
        rows << m->index(r, 0).data().toString() + QStringLiteral(" | ") +
                    m->index(r, 1).data().toString();
    return rows;
}

QString StatusText(CImageListFileDlg& editor) {
    return Child<QLabel>(&editor, "status")->text();
}

QString FileText(const QString& path) {
    const std::vector<uint8_t> b = FileBytes(path);
    return QString::fromUtf8(reinterpret_cast<const char*>(b.data()),
                             static_cast<qsizetype>(b.size()));
}

} // namespace

class ImageListsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    ScriptedDialogs dialogs_;
    ScriptedAsk ask_;

    QString path(const QString& name) const { return dir_->path() + QLatin1Char('/') + name; }
    // An (empty) image file, with its folders.
    QString touch(const QString& name) {
        const QString p = path(name);
        QDir().mkpath(QFileInfo(p).absolutePath());
        if (!WriteBytes(p, "x")) qWarning("cannot write %s", qPrintable(p));
        return p;
    }
    void writeList(const QString& name, const QString& text) {
        QVERIFY(WriteBytes(path(name), text.toUtf8()));
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        FreshSettings(*dir_);
        dialogs_ = ScriptedDialogs{};
        ask_ = ScriptedAsk{};
    }
    void cleanup() { dir_.reset(); }

    // ---- "Set Input Options" ----

    void inputOptionsIsTheDialogOfCommand560() {
        CScriptCommand in(CMD_SET_INPUT_OPTIONS);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(in, nullptr, nullptr);
        QVERIFY(d);
        QCOMPARE(d->objectName(), QStringLiteral("inputOptionsDialog"));
        QCOMPARE(d->windowTitle(), QStringLiteral("Set Input Options"));
        CScriptCommand other(CMD_MIRROR);
        QVERIFY(!MakeInputOptionsDialog(other, nullptr));
    }

    void inputOptionsShowTheSlots_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("p0");
        QTest::addColumn<int>("p1");
        QTest::addColumn<bool>("interrupt");
        QTest::addColumn<bool>("useScript");
        QTest::newRow("new command: unset shows errors, uses the script's output")
            << "" << PARAM_UNSET << PARAM_UNSET << true << true;
        QTest::newRow("errors off, output dialog") << "/l/a.brl" << 0 << 1 << false << false;
        QTest::newRow("errors on, script output") << "/l/b.brl" << 1 << 0 << true << true;
    }
    void inputOptionsShowTheSlots() {
        QFETCH(QString, list);
        QFETCH(int, p0);
        QFETCH(int, p1);
        QFETCH(bool, interrupt);
        QFETCH(bool, useScript);
        CScriptCommand in(CMD_SET_INPUT_OPTIONS);
        in.m_strParam[0] = list.toStdString();
        in.m_nParam[0] = p0;
        in.m_nParam[1] = p1;
        CInputOptionsDlg d(in, dialogs_, ask_);
        QCOMPARE(Child<QComboBox>(&d, "imageListName")->currentText(), list);
        QCOMPARE(Child<QCheckBox>(&d, "interruptOnErrors")->isChecked(), interrupt);
        QCOMPARE(Child<QCheckBox>(&d, "useScriptOutput")->isChecked(), useScript);
    }

    void inputOptionsRefuseAMissingName() {
        CScriptCommand in(CMD_SET_INPUT_OPTIONS);
        const CScriptCommand before = in;
        CInputOptionsDlg d(in, dialogs_, ask_);
        d.show();
        Child<QComboBox>(&d, "imageListName")->setEditText(QStringLiteral("   "));
        d.accept();
        QCOMPARE(dialogs_.texts(), QStringList{"Must supply an Image List file."});
        QCOMPARE(dialogs_.asked[0].icon, BoxIcon::Exclamation);
        QVERIFY(d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(in.m_strParam[0] == before.m_strParam[0]);
        QCOMPARE(in.m_nParam[0], before.m_nParam[0]);
        QVERIFY(AppSettings().GetRaw("ImageList", "File0") == std::nullopt);
    }

    void inputOptionsOkWritesSlotsAndRecentLists() {
        SettingsStore& s = AppSettings();
        s.Set(setting::ImageListFile0, "/r/a.brl");
        s.Set(setting::ImageListFile1, "/r/b.brl");
        s.Set(setting::ImageListFile2, "/r/c.brl");
        s.Set(setting::ImageListFile3, "/r/d.brl");
        CScriptCommand in(CMD_SET_INPUT_OPTIONS);
        CInputOptionsDlg d(in, dialogs_, ask_);
        auto* combo = Child<QComboBox>(&d, "imageListName");
        QCOMPARE(combo->count(), 4);
        combo->setCurrentIndex(2); // "/r/c.brl"
        Child<QCheckBox>(&d, "interruptOnErrors")->setChecked(false);
        Child<QCheckBox>(&d, "useScriptOutput")->setChecked(false);
        d.accept();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(in.m_strParam[0], std::string("/r/c.brl"));
        QCOMPARE(in.m_nParam[0], 0);
        QCOMPARE(in.m_nParam[1], 1); // stored inverted: 1 shows the output dialog
        // The chosen one first, the others in their order; written to the file.
        SettingsStore back(s.path());
        QVERIFY(back.Load());
        QCOMPARE(back.Get(setting::ImageListFile0), std::string("/r/c.brl"));
        QCOMPARE(back.Get(setting::ImageListFile1), std::string("/r/a.brl"));
        QCOMPARE(back.Get(setting::ImageListFile2), std::string("/r/b.brl"));
        QCOMPARE(back.Get(setting::ImageListFile3), std::string("/r/d.brl"));
        QCOMPARE(back.Get(setting::InterruptOnErr), int64_t(0));

        // A new name pushes the oldest out; the flags the other way round.
        CScriptCommand again(CMD_SET_INPUT_OPTIONS);
        CInputOptionsDlg d2(again, dialogs_, ask_);
        Child<QComboBox>(&d2, "imageListName")->setEditText(QStringLiteral("/n/new.brl"));
        Child<QCheckBox>(&d2, "interruptOnErrors")->setChecked(true);
        Child<QCheckBox>(&d2, "useScriptOutput")->setChecked(true);
        d2.accept();
        QCOMPARE(again.m_nParam[0], 1);
        QCOMPARE(again.m_nParam[1], 0);
        QCOMPARE(LoadRecentImageLists(s),
                 (std::vector<std::string>{"/n/new.brl", "/r/c.brl", "/r/a.brl", "/r/b.brl"}));
        QCOMPARE(s.Get(setting::InterruptOnErr), int64_t(1));
    }

    void inputOptionsCancelChangesNothing() {
        CScriptCommand in(CMD_SET_INPUT_OPTIONS);
        in.m_strParam[0] = "/x.brl";
        CInputOptionsDlg d(in, dialogs_, ask_);
        Child<QComboBox>(&d, "imageListName")->setEditText(QStringLiteral("/other.brl"));
        d.reject();
        QCOMPARE(in.m_strParam[0], std::string("/x.brl"));
        QVERIFY(!AppSettings().GetRaw("ImageList", "File0"));
        QVERIFY(!AppSettings().GetRaw("BatchDialog", "InterruptOnErr"));
    }

    void inputOptionsBrowseAndEdit() {
        CScriptCommand in(CMD_SET_INPUT_OPTIONS);
        CInputOptionsDlg d(in, dialogs_, ask_);
        auto* combo = Child<QComboBox>(&d, "imageListName");
        dialogs_.openNames = {path("picked.brl")};
        Click(&d, "browse");
        QCOMPARE(combo->currentText(), path("picked.brl"));
        QCOMPARE(QString::fromStdString(AppSettings().Get(setting::ImageListBrowseDir)),
                 dir_->path());
        QVERIFY(dialogs_.openFilters.last().startsWith("Image List (*.brl)"));

        // Edit... opens the editor on the named list (missing here: reported,
        // the editor starts new); the list saved there becomes the name.
        ask_.picks = {{touch("a.png")}};
        dialogs_.saveNames = {path("made.brl")};
        QString title;
        QTimer::singleShot(0, this, [&] {
            auto* editor = qobject_cast<CImageListFileDlg*>(QApplication::activeModalWidget());
            QVERIFY(editor);
            title = editor->windowTitle();
            QVERIFY(editor->addImages());
            editor->accept();
        });
        Click(&d, "edit");
        QCOMPARE(title, QStringLiteral("Image List - UNTITLED"));
        QCOMPARE(dialogs_.texts(), QStringList{"Unable to open requested file."});
        QCOMPARE(combo->currentText(), path("made.brl"));
        QCOMPARE(FileText(path("made.brl")), "BRL\r\n" + path("a.png") + "\r\n");
    }

    // ---- The editor ----

    void editorTitleAndStatus() {
        CImageListFileDlg e(dialogs_, ask_);
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - UNTITLED"));
        QCOMPARE(StatusText(e), QStringLiteral("0 file(s), 0 folder(s)"));
        ask_.picks = {{path("a/1.png"), path("a/2.png"), path("b/3.png")}};
        QVERIFY(e.addImages());
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - UNTITLED *"));
        QCOMPARE(StatusText(e), QStringLiteral("3 file(s), 2 folder(s)"));
        auto* view = Child<QTreeView>(&e, "imageList");
        view->selectionModel()->select(view->model()->index(0, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(view->model()->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(StatusText(e), QStringLiteral("2 of 3 file(s) selected"));
        Click(&e, "delete");
        QCOMPARE(ViewRows(e), QStringList{"2.png | " + path("a")});
        QCOMPARE(StatusText(e), QStringLiteral("1 file(s), 1 folder(s)"));
        // The view's headers and the Add dialog's folder remembered.
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
        QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Folder"));
        QCOMPARE(QString::fromStdString(AppSettings().Get(setting::ImageListOpenDir)), path("a"));
        QCOMPARE(AppSettings().Get(setting::ImageListOpenIndex), int64_t(3));
    }

    void addTwiceIsOneItemOpenTwiceIsTwo() {
        CImageListFileDlg e(dialogs_, ask_);
        ask_.picks = {{path("a/x.png")}, {path("a/x.png"), path("a/X.PNG")}};
        QVERIFY(e.addImages());
        QVERIFY(e.addImages());
        QCOMPARE(ViewRows(e), QStringList{"x.png | " + path("a")});

        writeList("twice.brl", "BRL\r\n" + path("a/x.png") + "\r\n" + path("a/x.png") + "\r\n");
        dialogs_.answers = {BoxAnswer::No}; // do not save the modified list
        dialogs_.openNames = {path("twice.brl")};
        QVERIFY(e.openList());
        QCOMPARE(dialogs_.texts(), QStringList{"The image list has been modified.  Would you "
                                               "like to save the changes?"});
        QCOMPARE(ViewRows(e),
                 (QStringList{"x.png | " + path("a"), "x.png | " + path("a")}));
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - twice.brl"));
        QCOMPARE(QString::fromStdString(AppSettings().Get(setting::ImageListLoad)), dir_->path());

        // Import skips what the list has.
        writeList("more.brl", "BRL\r\n" + path("a/x.png") + "\r\n" + path("b/y.png") + "\r\n");
        dialogs_.openNames = {path("more.brl")};
        QVERIFY(e.importList());
        QCOMPARE(ViewRows(e).size(), 3);
        QCOMPARE(ViewRows(e).last(), "y.png | " + path("b"));
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - twice.brl *"));
    }

    void openRefusals_data() {
        QTest::addColumn<QString>("content"); // empty: no file at all
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << "" << "Unable to open requested file.";
        QTest::newRow("wrong first line")
            << "BRLX\r\n/a.png\r\n" << "This does not appear to be a valid image list file.";
        QTest::newRow("binary garbage")
            << QString::fromLatin1("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
            << "This does not appear to be a valid image list file.";
    }
    void openRefusals() {
        QFETCH(QString, content);
        QFETCH(QString, message);
        if (!content.isEmpty()) QVERIFY(WriteBytes(path("l.brl"), content.toLatin1()));
        CImageListFileDlg e(dialogs_, ask_);
        ask_.picks = {{path("keep/me.png")}};
        QVERIFY(e.addImages());
        for (bool import : {false, true}) {
            dialogs_.answers = {BoxAnswer::No};
            dialogs_.openNames = {path("l.brl")};
            dialogs_.asked.clear();
            QVERIFY(!(import ? e.importList() : e.openList()));
            QCOMPARE(dialogs_.texts().last(), message);
            QCOMPARE(dialogs_.asked.back().icon, BoxIcon::Exclamation);
            QCOMPARE(ViewRows(e), QStringList{"me.png | " + path("keep")});
            QCOMPARE(e.windowTitle(), QStringLiteral("Image List - UNTITLED *"));
        }
    }

    void saveWritesCrLfAndSaveAsAsksForAName() {
        CImageListFileDlg e(dialogs_, ask_);
        ask_.picks = {{path("p/b.png"), path("p/a.png")}};
        QVERIFY(e.addImages());
        dialogs_.saveNames = {path("out.brl")};
        Click(&e, "save"); // untitled: Save As
        QCOMPARE(dialogs_.saveTitles.size(), 1);
        QCOMPARE(FileText(path("out.brl")),
                 "BRL\r\n" + path("p/b.png") + "\r\n" + path("p/a.png") + "\r\n");
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - out.brl"));
        QCOMPARE(QString::fromStdString(AppSettings().Get(setting::ImageListSaveAs)),
                 dir_->path());
        // Save again: no name asked; the file is written whole.
        auto* view = Child<QTreeView>(&e, "imageList");
        view->selectionModel()->select(view->model()->index(0, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        Click(&e, "delete");
        Click(&e, "save");
        QCOMPARE(dialogs_.saveTitles.size(), 1);
        QCOMPARE(FileText(path("out.brl")), "BRL\r\n" + path("p/a.png") + "\r\n");
        // A file that cannot be written is reported; the list stays modified.
        e.newList();
        ask_.picks = {{path("p/c.png")}};
        QVERIFY(e.addImages());
        dialogs_.saveNames = {path("no/such/folder/x.brl")};
        QVERIFY(!e.save());
        QCOMPARE(dialogs_.texts().last(), "The image list file '" + path("no/such/folder/x.brl") +
                                              "' could not be saved.");
        QVERIFY(e.list().modified());
    }

    void savingAnEmptyModifiedListAsks() {
        CImageListFileDlg e(dialogs_, ask_);
        ask_.picks = {{path("p/a.png")}};
        QVERIFY(e.addImages());
        dialogs_.saveNames = {path("l.brl")};
        QVERIFY(e.save());
        Child<QTreeView>(&e, "imageList")->selectAll();
        Click(&e, "delete");
        QVERIFY(e.list().modified());
        const QString question = "The image list has changed, but there are no items to save. "
                                 "Would you like to continue and discard all modification to the "
                                 "image list?";
        dialogs_.answers = {BoxAnswer::No};
        QVERIFY(!e.save());
        QCOMPARE(dialogs_.texts(), QStringList{question});
        QVERIFY(e.list().modified());
        dialogs_.answers = {BoxAnswer::Yes};
        QVERIFY(e.save());
        QVERIFY(!e.list().modified());
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - l.brl"));
        // No file is written for it: the old one stays.
        QCOMPARE(FileText(path("l.brl")), "BRL\r\n" + path("p/a.png") + "\r\n");
    }

    void modifiedListQuestions() {
        const QString question =
            "The image list has been modified.  Would you like to save the changes?";
        CImageListFileDlg e(dialogs_, ask_);
        e.show();
        ask_.picks = {{path("p/a.png")}};
        QVERIFY(e.addImages());
        // New: Cancel keeps the list; No drops it.
        dialogs_.answers = {BoxAnswer::Cancel};
        QVERIFY(!e.newList());
        QCOMPARE(e.list().items().size(), size_t(1));
        dialogs_.answers = {BoxAnswer::No};
        QVERIFY(e.newList());
        QVERIFY(e.list().items().empty());
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - UNTITLED"));
        QCOMPARE(dialogs_.texts(), (QStringList{question, question}));
        // New: Yes saves first.
        ask_.picks = {{path("p/b.png")}};
        QVERIFY(e.addImages());
        dialogs_.answers = {BoxAnswer::Yes};
        dialogs_.saveNames = {path("kept.brl")};
        QVERIFY(e.newList());
        QCOMPARE(FileText(path("kept.brl")), "BRL\r\n" + path("p/b.png") + "\r\n");
        // Cancel on a modified list asks too, and Cancel there keeps the window.
        ask_.picks = {{path("p/c.png")}};
        QVERIFY(e.addImages());
        dialogs_.answers = {BoxAnswer::Cancel};
        Click(&e, "cancel");
        QVERIFY(e.isVisible());
        dialogs_.answers = {BoxAnswer::No};
        Click(&e, "cancel");
        QVERIFY(!e.isVisible());
        QCOMPARE(e.result(), int(QDialog::Rejected));
        QCOMPARE(dialogs_.texts().size(), 5);
    }

    void okSavesAModifiedList() {
        writeList("l.brl", "BRL\r\n" + path("p/a.png") + "\r\n");
        CImageListFileDlg e(dialogs_, ask_, path("l.brl"));
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - l.brl"));
        e.show();
        ask_.picks = {{path("p/b.png")}};
        QVERIFY(e.addImages());
        Click(&e, "ok");
        QCOMPARE(e.result(), int(QDialog::Accepted));
        QVERIFY(dialogs_.asked.empty());
        QCOMPARE(FileText(path("l.brl")),
                 "BRL\r\n" + path("p/a.png") + "\r\n" + path("p/b.png") + "\r\n");
    }

    void columnClickSortsAndReverses() {
        CImageListFileDlg e(dialogs_, ask_);
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        ask_.picks = {{path("b/Apple.png"), path("a/cherry.png"), path("c/banana.png")}};
        QVERIFY(e.addImages());
        QHeaderView* header = Child<QTreeView>(&e, "imageList")->header();
        auto clickColumn = [header](int c) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(c) + 10, header->height() / 2));
        };
        clickColumn(0);
        QCOMPARE(ViewRows(e), (QStringList{"Apple.png | " + path("b"), "banana.png | " + path("c"),
                                           "cherry.png | " + path("a")}));
        clickColumn(0);
        QCOMPARE(ViewRows(e), (QStringList{"cherry.png | " + path("a"), "banana.png | " + path("c"),
                                           "Apple.png | " + path("b")}));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        clickColumn(1);
        QCOMPARE(ViewRows(e), (QStringList{"cherry.png | " + path("a"), "Apple.png | " + path("b"),
                                           "banana.png | " + path("c")}));
        QCOMPARE(header->sortIndicatorSection(), 1);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    }

    // ---- Verification ----

    void verifyChangeRewritesFolderAndSubFolders() {
        touch("new/a.png");
        touch("new/sub/b.png");
        touch("keep/c.png");
        writeList("l.brl", "BRL\r\n" + path("old/a.png") + "\r\n" + path("old/sub/b.png") +
                               "\r\n" + path("keep/c.png") + "\r\n" + path("keep/gone.png") +
                               "\r\n");
        CImageListFileDlg e(dialogs_, ask_, path("l.brl"));
        ask_.choices = {{FolderChoice::Change, path("new").toStdString()}};
        QVERIFY(e.verify());
        QCOMPARE(ask_.missing, QStringList{path("old")});
        QCOMPARE(ViewRows(e), (QStringList{"a.png | " + path("new"), "b.png | " + path("new/sub"),
                                           "c.png | " + path("keep")}));
        QCOMPARE(e.windowTitle(), QStringLiteral("Image List - l.brl *"));
        QCOMPARE(StatusText(e), QStringLiteral("3 file(s), 3 folder(s)"));
        QVERIFY(Child<QPushButton>(&e, "verify")->isEnabled());
    }

    void verifyDeleteIgnoreAndAbort_data() {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<bool>("completed");
        QTest::newRow("delete") << int(FolderChoice::Delete) << QStringList{"ok.png"} << true;
        QTest::newRow("ignore") << int(FolderChoice::Ignore)
                                << QStringList{"x.png", "ok.png", "y.png"} << true;
        QTest::newRow("abort") << int(FolderChoice::Abort)
                               << QStringList{"x.png", "ok.png", "y.png", "none.png"} << false;
    }
    void verifyDeleteIgnoreAndAbort() {
        QFETCH(int, choice);
        QFETCH(QStringList, left);
        QFETCH(bool, completed);
        touch("in/ok.png");
        CImageListFileDlg e(dialogs_, ask_);
        ask_.picks = {{path("gone/x.png"), path("in/ok.png"), path("gone/deeper/y.png"),
                       path("in/none.png")}};
        QVERIFY(e.addImages());
        ask_.choices = {{FolderChoice::Kind(choice), {}}};
        QCOMPARE(e.verify(), completed);
        QStringList names;
        for (const QString& row : ViewRows(e))
            names << row.section(QStringLiteral(" | "), 0, 0);
        QCOMPARE(names, left);
    }

    void escapeEndsTheVerification() {
        touch("in/ok.png");
        CImageListFileDlg e(dialogs_, ask_);
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        ask_.picks = {{path("in/ok.png"), path("in/none.png"), path("gone/x.png")}};
        QVERIFY(e.addImages());
        // Escape is waiting when the pass starts pumping events.
        QWidget* view = Child<QTreeView>(&e, "imageList");
        QCoreApplication::postEvent(view,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QVERIFY(!e.verify());
        QVERIFY(ask_.missing.isEmpty());
        QCOMPARE(ViewRows(e).size(), 3);
        // Not taken as Cancel: the window is still open, and the bar is idle.
        QVERIFY(e.isVisible());
        QVERIFY(!e.verifying());
        QCOMPARE(StatusText(e), QStringLiteral("3 file(s), 2 folder(s)"));
    }

    void verifyShowsItsProgressTexts() {
        CImageListFileDlg e(dialogs_, ask_);
        ask_.picks = {{path("gone/x.png")}};
        QVERIFY(e.addImages());
        QString during;
        bool busy = false, hint = false;
        int maximum = 0;
        ask_.duringFolderError = [&] {
            during = StatusText(e);
            busy = !Child<QPushButton>(&e, "ok")->isEnabled();
            hint = !Child<QLabel>(&e, "escHint")->isHidden();
            maximum = e.findChild<QProgressBar*>()->maximum();
        };
        ask_.choices = {{FolderChoice::Delete, {}}};
        QVERIFY(e.verify());
        QCOMPARE(during, "Verifying '" + path("gone") + "'");
        QVERIFY(busy);
        QVERIFY(hint);
        QCOMPARE(maximum, 2); // one item, one folder
        QVERIFY(Child<QLabel>(&e, "escHint")->isHidden());
        QVERIFY(e.findChild<QProgressBar*>()->isHidden());
        QCOMPARE(StatusText(e), QStringLiteral("0 file(s), 0 folder(s)"));
    }

    // ---- "Folder Error" ----

    void folderErrorChoices_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("op");
        QTest::newRow("delete") << "ok" << "deleteFolder" << int(FolderChoice::Delete) << 1;
        QTest::newRow("ignore") << "ok" << "ignoreFolder" << int(FolderChoice::Ignore) << 2;
        QTest::newRow("retry") << "retry" << "ignoreFolder" << int(FolderChoice::Retry) << 2;
        QTest::newRow("abort") << "abort" << "deleteFolder" << int(FolderChoice::Abort) << 1;
    }
    void folderErrorChoices() {
        QFETCH(QString, button);
        QFETCH(QString, radio);
        QFETCH(int, kind);
        QFETCH(int, op);
        CFolderErrorDlg d("/gone/folder", dialogs_, ask_, AppSettings());
        QCOMPARE(d.windowTitle(), QStringLiteral("Folder Error"));
        QCOMPARE(Child<QLabel>(&d, "missingFolder")->text(), QStringLiteral("/gone/folder"));
        QVERIFY(Child<QRadioButton>(&d, "changeFolder")->isChecked()); // VerifyOp 0
        d.show();
        Child<QRadioButton>(&d, radio.toLatin1().constData())->setChecked(true);
        QVERIFY(!Child<QComboBox>(&d, "newFolder")->isEnabled());
        Click(&d, button.toLatin1().constData());
        QVERIFY(!d.isVisible());
        QCOMPARE(int(d.choice().kind), kind);
        QCOMPARE(AppSettings().Get(setting::VerifyOp), int64_t(op));
        // The next one starts with that choice.
        CFolderErrorDlg next("/gone/other", dialogs_, ask_, AppSettings());
        QVERIFY(Child<QRadioButton>(&next, radio.toLatin1().constData())->isChecked());
    }

    void folderErrorChangeNeedsAnExistingFolder() {
        StoreVerifyFolders(AppSettings(), {"/recent/one", "/recent/two"});
        CFolderErrorDlg d("/gone", dialogs_, ask_, AppSettings());
        auto* combo = Child<QComboBox>(&d, "newFolder");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(1), QStringLiteral("/recent/two"));
        d.show();
        combo->setEditText(path("nowhere"));
        Click(&d, "ok");
        QVERIFY(d.isVisible());
        QCOMPARE(dialogs_.texts(), QStringList{"The folder '" + path("nowhere") +
                                               "' does not exist."});
        // Browse fills the field; OK then takes it, and it heads the recent list.
        QDir().mkpath(path("there"));
        ask_.folders = {path("there")};
        Click(&d, "browse");
        QCOMPARE(combo->currentText(), path("there"));
        Click(&d, "ok");
        QVERIFY(!d.isVisible());
        QCOMPARE(int(d.choice().kind), int(FolderChoice::Change));
        QCOMPARE(QString::fromStdString(d.choice().folder), path("there"));
        QCOMPARE(LoadVerifyFolders(AppSettings()),
                 (std::vector<std::string>{path("there").toStdString(), "/recent/one",
                                           "/recent/two"}));
    }

    void folderErrorRemembersItsPosition() {
        QCOMPARE(AppSettings().Get(setting::ErrDlgPosLeft), int64_t(-32768));
        {
            CFolderErrorDlg d("/gone", dialogs_, ask_, AppSettings());
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            d.move(40, 30);
            Click(&d, "abort");
        }
        QCOMPARE(AppSettings().Get(setting::ErrDlgPosLeft), int64_t(40));
        QCOMPARE(AppSettings().Get(setting::ErrDlgPosTop), int64_t(30));
        CFolderErrorDlg again("/gone", dialogs_, ask_, AppSettings());
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QCOMPARE(again.pos(), QPoint(40, 30));
        again.reject();
        // Far off any screen: brought back onto it.
        AppSettings().Set(setting::ErrDlgPosLeft, 100000);
        AppSettings().Set(setting::ErrDlgPosTop, -100000);
        CFolderErrorDlg off("/gone", dialogs_, ask_, AppSettings());
        off.show();
        QVERIFY(QTest::qWaitForWindowExposed(&off));
        const QRect screen = off.screen()->availableGeometry();
        QVERIFY2(screen.contains(off.pos()), qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
        off.reject();
    }

    // ---- The Add dialog's "Select All" ----

    void addDialogSelectAllTakesMatchingFiles() {
        for (const char* n : {"b.png", "a.PNG", "c.jpg", ".hidden.png"})
            touch(QStringLiteral("pics/") + QLatin1String(n));
        QDir().mkpath(path("pics/folder.png"));
        CAddImagesDlg d(path("pics"), 0);
        d.show();
        auto* name = d.fileChooser()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(QStringLiteral("*.png"));
        Click(&d, "selectAll");
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.paths(), (QStringList{path("pics/a.PNG"), path("pics/b.png")}));
        QCOMPARE(d.folder(), path("pics"));
    }
};

QTEST_MAIN(ImageListsTest)
#include "image_lists_test.moc"
