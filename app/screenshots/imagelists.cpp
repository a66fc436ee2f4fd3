// Pictures of the image list windows, for looking at them:
//
//   brellix-screenshots-imagelists OUTDIR
//
// Writes
//   input-options.png        "Set Input Options" with a few recent lists
//   imagelist-editor.png     the editor on a list of a few photos, sorted by folder
//   imagelist-selected.png   the same with two items selected
//   imagelist-verifying.png  the editor while its verification pass waits for...
//   folder-error.png         ...the "Folder Error" dialog about a missing folder
// The settings and the list file go to a temporary folder.
#include "app/imagelist/folder_error_dialog.h"
#include "app/imagelist/image_list_editor.h"
#include "app/imagelist/image_list_ui.h"
#include "app/imagelist/input_options_dialog.h"
#include "app/user_dialogs.h"
#include "batch/image_list_model.h"
#include "core/settings.h"
#include "script/commands.h"
#include "script/script.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QPixmap>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>

#include <cstdio>

namespace {

QString g_out;

void Shoot(QWidget* w, const char* name) {
    w->show();
    (void)QTest::qWaitForWindowExposed(w);
    QTest::qWait(150);
    w->repaint();
    QApplication::processEvents();
    const QString path = g_out + QLatin1Char('/') + QLatin1String(name);
    if (!w->grab().save(path)) std::fprintf(stderr, "could not save %s\n", qPrintable(path));
    w->hide();
}

// Ignores every missing folder but the one on the USB disk, for which it
// takes the two pictures and aborts.
class ShotAsk : public QtImageListAsk {
  public:
    QWidget* editor = nullptr;
    FolderChoice folderError(QWidget*, const std::string& folder, UserDialogs& dialogs) override {
        if (folder.find("USB DISK") == std::string::npos) return {FolderChoice::Ignore, {}};
        editor->repaint();
        const QString path = g_out + QStringLiteral("/imagelist-verifying.png");
        if (!editor->grab().save(path)) std::fprintf(stderr, "could not save %s\n", qPrintable(path));
        CFolderErrorDlg error(folder, dialogs, *this, AppSettings(), editor);
        Shoot(&error, "folder-error.png");
        return {FolderChoice::Abort, {}};
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    QTemporaryDir temp;
    AppSettings() = SettingsStore((temp.path() + QStringLiteral("/Brellix.conf")).toStdString());
    QtUserDialogs dialogs;
    QtImageListAsk ask;

    const std::string lists = "/home/anna/Lists/";
    StoreRecentImageLists(AppSettings(), {lists + "holiday 2025.brl", lists + "scans.brl",
                                          lists + "catalogue.brl", ""});
    {
        CScriptCommand in(CMD_SET_INPUT_OPTIONS);
        in.m_strParam[0] = lists + "holiday 2025.brl";
        in.m_nParam[0] = 0;
        in.m_nParam[1] = 0;
        CInputOptionsDlg dialog(in, dialogs, ask);
        Shoot(&dialog, "input-options.png");
    }

    const std::string pics = "/home/anna/Pictures/Holiday 2025/";
    ImageListModel model;
    model.Add({pics + "IMG_0412.jpg", pics + "IMG_0413.jpg", pics + "IMG_0420.jpg",
               pics + "Beach/IMG_0431.jpg", pics + "Beach/IMG_0432.jpg",
               pics + "Beach/panorama 1.tif", "/home/anna/Scans/postcard front.png",
               "/home/anna/Scans/postcard back.png", "/media/anna/USB DISK/Scans 2019/map.bmp"},
              true);
    const QString listPath = temp.path() + QStringLiteral("/holiday 2025.brl");
    model.Save(listPath.toStdString());
    {
        CImageListFileDlg editor(dialogs, ask, listPath);
        editor.sortBy(1);
        Shoot(&editor, "imagelist-editor.png");
        auto* view = editor.findChild<QTreeView*>(QStringLiteral("imageList"));
        for (int row : {3, 4})
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select |
                                               QItemSelectionModel::Rows);
        Shoot(&editor, "imagelist-selected.png");
    }

    StoreVerifyFolders(AppSettings(), {"/home/anna/Scans/2019", "/mnt/backup/Scans 2019"});
    {
        ShotAsk shotAsk;
        CImageListFileDlg editor(dialogs, shotAsk, listPath);
        shotAsk.editor = &editor;
        editor.sortBy(1);
        editor.show();
        (void)QTest::qWaitForWindowExposed(&editor);
        editor.verify();
    }
    return 0;
}
