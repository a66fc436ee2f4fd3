// Pictures of the main window for the docs and for looking at the layout:
//
//   brellix-screenshots-main FOLDER
//
// main-empty.png      the window as it starts: no script, the built-in picture
// main-demo.png       samples/demo.ksc loaded, a sample as the preview image
// main-tested.png     the same after Test Script ran the whole script
// main-running.png    a long command running on a large picture, with Stop
// slot-editor.png     the parameter editor of the demo's resize command
// about.png           the about box
//
// The samples are found below $BRELLIX_SOURCE_DIR (default: the current
// folder). The settings go to a file of their own unless BRELLIX_CONFIG
// names one.
#include "app/screenshots/shot.h"
#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/main_window.h"
#include "app/preview/preview_session.h"
#include "app/qt_text.h"
#include "batch/startup.h"
#include "core/settings.h"
#include "formats/imagefile.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>

using shot::Save;
using shot::Settle;

namespace {

// Answers every question with its first button; parameters are those of a
// long motion blur.
class SilentDialogs : public QtUserDialogs {
  public:
    void editImageList(QWidget*, const QString&) override {}
    bool editParameters(QWidget*, CScriptCommand& command, KHANDLE) override {
        command.m_nParam[0] = 45;
        command.m_nParam[1] = 40;
        return true;
    }
    BoxAnswer ask(QWidget*, const QString& text, BoxButtons buttons, BoxIcon) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return buttons == BoxButtons::YesNo || buttons == BoxButtons::YesNoCancel ? BoxAnswer::Yes
                                                                                  : BoxAnswer::Ok;
    }
};

bool WaitIdle(MainWindow& w) {
    QElapsedTimer t;
    t.start();
    while (w.preview().running() && t.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    Settle();
    return !w.preview().running();
}

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
    SetUpIconTheme();
    StartupInfo info;
    std::string message;
    if (!StartUp(ProgramPath(argv[0]), &info, &message)) return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const char* source = std::getenv("BRELLIX_SOURCE_DIR");
    const QDir root(source && *source ? QString::fromLocal8Bit(source) : QDir::currentPath());
    int failures = 0;
    {
        MainWindow window(std::make_unique<SilentDialogs>());
        window.resize(1120, 700);
        window.move(0, 0);
        window.show();
        // Keep the pointer off the window: hovering shows status tips.
        QCursor::setPos(1590, 990);
        window.initialise();
        if (!WaitIdle(window)) ++failures;
        failures += !Save(window, folder, "main-empty.png");

        AppSettings().Set(setting::PreviewImage,
                          ToPath(root.filePath("samples/images/sunset.tga")));
        window.initialise();
        if (!window.openScript(root.filePath("samples/demo.ksc"))) ++failures;
        window.findChild<QListWidget*>("scriptList")->setCurrentRow(1);
        window.findChild<QListWidget*>("availableCommands")->setCurrentRow(36);
        if (!WaitIdle(window)) ++failures;
        failures += !Save(window, folder, "main-demo.png");

        window.preview().test(window.document().script());
        if (!WaitIdle(window)) ++failures;
        failures += !Save(window, folder, "main-tested.png");

        // A long command on a large picture, caught while it runs.
        KOwnedHandle large(AllocDIB(3000, 2000, 24, 0));
        {
            DIBLock d(large.get());
            for (int y = 0; y < 2000; ++y)
                for (int x = 0; x < 3000; ++x) {
                    uint8_t* p = d.row(y) + 3 * x;
                    p[0] = static_cast<uint8_t>(x / 12);
                    p[1] = static_cast<uint8_t>(y / 8);
                    p[2] = static_cast<uint8_t>((x + y) / 20);
                }
        }
        const std::string largePath = ToPath(home.filePath("large.bmp"));
        if (WriteImageFile(largePath, large.get(), 1, 1, OutputOptions{}) != KERV_OK) ++failures;
        large.reset();
        AppSettings().Set(setting::PreviewImage, largePath);
        window.initialise();
        if (!WaitIdle(window)) ++failures;
        window.findChild<QListWidget*>("availableCommands")
            ->setCurrentRow(CMD_MOTION_BLUR - FIRST_COMMAND_ID);
        window.findChild<QPushButton*>("addButton")->click();
        window.findChild<QPushButton*>("execButton")->click();
        auto* bar = window.findChild<QProgressBar*>("stepProgress");
        QElapsedTimer t;
        t.start();
        while (bar->value() < 20 && window.preview().running() && t.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        failures += !Save(window, folder, "main-running.png");
        window.preview().stop();
        if (!WaitIdle(window)) ++failures;

        const QScreen* screen = QGuiApplication::primaryScreen();
        AboutBox about(
            GatherSystemFacts(screen->depth(), 24, screen->size().width(), screen->size().height()),
            &window);
        about.show();
        Settle();
        failures += !Save(about, folder, "about.png");
        about.reject();
        window.document().reset();
    }
    ShutDown();
    return failures == 0 ? 0 : 1;
}
