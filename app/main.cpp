// brellix: the desktop program. Start-up (settings, user folder, memory
// manager, blend tables, data folder, command line), then the main window
// until it closes.
#include "app/app_icon.h"
#include "app/app_info.h"
#include "app/app_start.h"
#include "app/main_strings.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "batch/batch_strings.h"
#include "batch/cmdline.h"
#include "batch/startup.h"
#include "core/settings.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <clocale>

namespace {

int Fail(const QString& text) {
    QMessageBox::critical(nullptr, ApplicationName(), text);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The user's locale, except for numbers: descriptions and files write
    // them as the console program does.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("brellix"));
    QApplication::setApplicationVersion(ApplicationVersion());
    QApplication::setWindowIcon(ApplicationIcon());
    SetUpIconTheme();

    StartupInfo info;
    std::string message;
    if (!StartUp(ProgramPath(argv[0]), &info, &message))
        return Fail(QString::fromStdString(message));
    struct Shutdown {
        ~Shutdown() { ShutDown(); }
    } shutdown;

    const UserFolder folder = CheckUserFolder(AppSettings());
    AppSettings().Save();
    if (folder.fellBack)
        QMessageBox::warning(
            nullptr, ApplicationName(),
            QFormat(appids::UserFolderNotWritable, folder.configured, folder.folder));

    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(ToPath(arguments[i]));
    CommandLine commandLine;
    if (!ParseCommandLine(args, &commandLine)) return Fail(QText(ids::InvalidCommandLine));
    if (commandLine.mode != CommandLine::Nothing &&
        !PrepareCommandLineScript(&commandLine, ToPath(QDir::currentPath()), &message))
        return Fail(QString::fromStdString(message));

    int status = 0;
    {
        MainWindow window;
        window.show();
        window.initialise(&commandLine);
        status = app.exec();
    }
    return status;
}
