// Pictures of the batch windows, for looking at them:
//
//   brellix-screenshots-batch OUTDIR [SAMPLES]
//
// SAMPLES is the folder of sample images (default samples/images). Writes
//   batch-input.png          the batch input dialog in the samples folder
//   batch-output.png         the output dialog, JPG chosen
//   batch-output-options.png the JPG options page
//   batch-output-gif.png     the GIF transparency page
//   batch-output-qzm.png     the output dialog on a format not writable yet
//   batch-progress-run.png   the progress window during a run over the samples
//   batch-progress-end.png   the progress window at the end of that run
// The settings and the run's outputs go to a temporary folder.
#include "app/batch/batch_controller.h"
#include "app/batch/batch_input_dialog.h"
#include "app/batch/batch_output_dialog.h"
#include "app/batch/format_options_page.h"
#include "app/batch/progress_window.h"
#include "script/commands.h"
#include "script/script.h"
#include "batch/cmdline.h"
#include "core/settings.h"
#include "formats/format_table.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMainWindow>
#include <QPixmap>
#include <QPushButton>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>

#include <cstdio>
#include <memory>

namespace {

QString g_out;

void Save(QWidget* w, const char* name) {
    w->repaint();
    QApplication::processEvents();
    const QString path = g_out + QLatin1Char('/') + QLatin1String(name);
    if (!w->grab().save(path)) std::fprintf(stderr, "could not save %s\n", qPrintable(path));
}

// Shows w, lets it lay itself out, saves it and closes it.
void Shoot(QWidget* w, const char* name) {
    w->show();
    (void)QTest::qWaitForWindowExposed(w);
    QTest::qWait(150);
    Save(w, name);
    w->hide();
}

void SelectType(CBatchOutputDlg& dialog, int id) {
    auto* type = dialog.findChild<QComboBox*>(QStringLiteral("outputType"));
    type->setCurrentIndex(type->findData(id));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [SAMPLES]\n", argv[0]);
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    const QString samples =
        QDir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("samples/images"))
            .absolutePath();
    QTemporaryDir temp;
    AppSettings() = SettingsStore((temp.path() + QStringLiteral("/Brellix.conf")).toStdString());
    qputenv("XDG_STATE_HOME", temp.path().toLocal8Bit());

    InputDialogStart start;
    start.folder = samples.toStdString();
    start.scriptHasOutput = true;
    {
        CBatchInputDlg input(start);
        Shoot(&input, "batch-input.png");
    }

    OutputSettings proposal;
    proposal.id = 10;
    proposal.folder = (temp.path() + QStringLiteral("/a rather long output folder name/"
                                                    "with/several/levels/below/it"))
                          .toStdString();
    {
        CBatchOutputDlg output(proposal, AppSettings());
        Shoot(&output, "batch-output.png");
        FormatOptionsPage jpg(OptionsPage::CompressionAndResolution, proposal.options);
        Shoot(&jpg, "batch-output-options.png");
        OutputOptions gif = proposal.options;
        gif.transparencyType = 2;
        gif.transparentColor = 0x00FF00FF;
        FormatOptionsPage gifPage(OptionsPage::Transparency, gif);
        Shoot(&gifPage, "batch-output-gif.png");
        SelectType(output, 32);
        Shoot(&output, "batch-output-qzm.png");
    }

    // A run over the samples, from a command line that keeps the window open.
    QMainWindow main;
    main.setWindowTitle(QStringLiteral("Brellix - shots.ksc"));
    main.resize(700, 500);
    main.show();
    CScript script;
    auto resize = std::make_unique<CScriptCommand>(501);
    resize->m_nParam = {5,           1,           2400,        1800,        0,
                        PARAM_UNSET, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET};
    script.InsertCommand(std::move(resize), -1);
    script.InsertCommand(std::make_unique<CScriptCommand>(537), -1);
    auto out = std::make_unique<CScriptCommand>(544);
    out->m_nParam[0] = 0; // BMP
    out->m_nParam[1] = 1;
    out->m_strParam[0] = (temp.path() + QStringLiteral("/out")).toStdString();
    script.InsertCommand(std::move(out), -1);
    CommandLine cl;
    cl.scriptPath = "shots.ksc";
    cl.inputSpec = (samples + QStringLiteral("/*.*")).toStdString();
    cl.allFiles = false;
    cl.keepOpen = true;
    cl.mode = CommandLine::RunRequested;
    BatchController controller(&main);
    BatchStart how;
    how.commandLine = &cl;
    controller.start(script, QStringLiteral("shots.ksc"), how);
    BatchProgressWindow* progress = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            progress = main.findChild<BatchProgressWindow*>();
            return progress && progress->logLines().size() > 14;
        },
        60000);
    if (progress) {
        Save(progress, "batch-progress-run.png");
        (void)QTest::qWaitFor([&] { return progress->runFinished(); }, 300000);
        QTest::qWait(200);
        Save(progress, "batch-progress-end.png");
        progress->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    }
    (void)QTest::qWaitFor([&] { return !controller.running(); }, 60000);
    return 0;
}
