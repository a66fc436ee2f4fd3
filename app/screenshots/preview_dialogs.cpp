// Pictures of the parameter dialogs with a live preview, for the docs and
// for looking at their layout:
//
//   brellix-screenshots-preview_dialogs FOLDER
//
// dialog-brightness-contrast.png          opened on an unset command
// dialog-brightness-contrast-changed.png  the same after a change, preview redone
// dialog-hue-saturation.png, dialog-posterize.png, dialog-gamma.png,
// dialog-perspective.png, dialog-warp.png, dialog-unsharpen.png,
// dialog-wind.png, dialog-motion-blur.png, dialog-skew.png,
// dialog-add-noise.png, dialog-mosaic.png  one each, on an unset command
// dialog-perspective-refused.png          OK refused with its message
//
// The preview is samples/images/landscape.jpg below $BRELLIX_SOURCE_DIR
// (default: the current folder).
#include "app/screenshots/shot.h"
#include "app/dialogs/command_dialog.h"
#include "app/dialogs/dlg_with_preview.h"
#include "app/qt_text.h"
#include "batch/startup.h"
#include "formats/imagefile.h"
#include "script/script.h"

#include <QApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using shot::Save;
using shot::Settle;

namespace {

// Until the preview has shown `count` results.
bool WaitShown(DlgWithPreview& d, int count) {
    int shown = 0;
    const QMetaObject::Connection c =
        QObject::connect(&d, &DlgWithPreview::previewShown, [&shown] { ++shown; });
    QElapsedTimer t;
    t.start();
    while (shown < count && t.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    QObject::disconnect(c);
    Settle();
    return shown >= count;
}

struct Shot {
    int32_t id;
    const char* name;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    if (!std::getenv("BRELLIX_CONFIG"))
        setenv("BRELLIX_CONFIG", qPrintable(home.filePath("Brellix.conf")), 1);
    StartupInfo info;
    std::string message;
    if (!StartUp(ProgramPath(argv[0]), &info, &message)) return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const char* source = std::getenv("BRELLIX_SOURCE_DIR");
    const QDir root(source && *source ? QString::fromLocal8Bit(source) : QDir::currentPath());
    QCursor::setPos(1590, 990);
    int failures = 0;
    {
        KHANDLE read = nullptr;
        int format = 0;
        if (ReadImageFile(ToPath(root.filePath("samples/images/landscape.jpg")), &format, &read,
                          nullptr, nullptr) != KERV_OK) {
            std::fprintf(stderr, "the sample picture cannot be read\n");
            return 1;
        }
        KOwnedHandle preview(read);

        // Before and after a change.
        {
            CScriptCommand command(CMD_BRIGHTNESS_CONTRAST);
            const std::unique_ptr<QDialog> dialog =
                MakeCommandDialog(command, preview.get(), nullptr);
            auto& d = dynamic_cast<DlgWithPreview&>(*dialog);
            d.show();
            failures += !WaitShown(d, 1);
            failures += !Save(d, folder, "dialog-brightness-contrast.png");
            d.findChild<QSpinBox*>("slot_P0")->setValue(25);
            d.findChild<QSpinBox*>("slot_P1")->setValue(40);
            failures += !WaitShown(d, 1);
            failures += !Save(d, folder, "dialog-brightness-contrast-changed.png");
            d.reject();
        }

        const Shot shots[] = {
            {CMD_HUE_SATURATION_LUM, "dialog-hue-saturation.png"},
            {CMD_POSTERIZE, "dialog-posterize.png"},
            {CMD_GAMMA, "dialog-gamma.png"},
            {CMD_HORIZONTAL_PERSPECTIVE, "dialog-perspective.png"},
            {CMD_PINCH, "dialog-warp.png"},
            {CMD_UNSHARPEN, "dialog-unsharpen.png"},
            {CMD_WIND, "dialog-wind.png"},
            {CMD_MOTION_BLUR, "dialog-motion-blur.png"},
            {CMD_SKEW, "dialog-skew.png"},
            {CMD_ADD_NOISE, "dialog-add-noise.png"},
            {CMD_MOSAIC, "dialog-mosaic.png"},
        };
        for (const Shot& shot : shots) {
            CScriptCommand command(shot.id);
            const std::unique_ptr<QDialog> dialog =
                MakeCommandDialog(command, preview.get(), nullptr);
            auto& d = dynamic_cast<DlgWithPreview&>(*dialog);
            d.show();
            failures += !WaitShown(d, 1);
            failures += !Save(d, folder, QString::fromLatin1(shot.name));
            d.reject();
        }

        // A refused OK: the message over the dialog.
        {
            CScriptCommand command(CMD_VERTICAL_PERSPECTIVE);
            const std::unique_ptr<QDialog> dialog =
                MakeCommandDialog(command, preview.get(), nullptr);
            auto& d = dynamic_cast<DlgWithPreview&>(*dialog);
            d.move(40, 40);
            d.show();
            failures += !WaitShown(d, 1);
            d.findChild<QSpinBox*>("slot_P0")->setValue(2);
            QTimer::singleShot(600, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box) {
                    ++failures;
                    return;
                }
                Settle();
                failures += !Save(*box, folder, "dialog-perspective-refused.png");
                box->accept();
            });
            d.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
            d.reject();
        }
    }
    ShutDown();
    return failures == 0 ? 0 : 1;
}
