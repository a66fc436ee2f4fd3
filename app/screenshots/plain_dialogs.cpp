// Pictures of the parameter dialogs without a preview, for looking at them:
//
//   brellix-screenshots-plain_dialogs OUTDIR
//
// Writes dialog-<name>.png for the resize, rotate, borders, canvas, palette,
// optimized palette, 2-colour and 256-colour reduction, output options,
// crop, colour replacement and watermark dialogs. The watermark is
// samples/watermark.png below $BRELLIX_SOURCE_DIR (default: the current
// folder); the palette file is made in a temporary folder.
#include "app/dialogs/command_dialog.h"
#include "core/dib.h"
#include "script/commands.h"
#include "script/script.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

QString g_out;

void Shoot(int32_t id, const char* name, const std::function<void(CScriptCommand&)>& set = {}) {
    CScriptCommand command(id);
    if (set) set(command);
    std::unique_ptr<QDialog> dialog = MakeCommandDialog(command, nullptr, nullptr);
    dialog->show();
    (void)QTest::qWaitForWindowExposed(dialog.get());
    QTest::qWait(150);
    dialog->repaint();
    QApplication::processEvents();
    const QString path = g_out + QStringLiteral("/dialog-%1.png").arg(QLatin1String(name));
    if (!dialog->grab().save(path)) std::fprintf(stderr, "could not save %s\n", qPrintable(path));
    dialog->hide();
}

// A 16-colour palette file in the text form: a ramp from blue to orange.
QString WritePalette(const QTemporaryDir& dir) {
    QByteArray text = "KERV-PAL\r\n0100\r\n16\r\n";
    for (int i = 0; i < 16; ++i)
        text += QByteArray::number(16 * i + 15) + ' ' + QByteArray::number(8 * i + 40) + ' ' +
                QByteArray::number(240 - 15 * i) + "\r\n";
    const QString path = dir.filePath(QStringLiteral("sunset.pal"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(text);
    return path;
}

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
    const char* source = std::getenv("BRELLIX_SOURCE_DIR");
    const QString root = QDir(source ? QString::fromLocal8Bit(source) : QDir::currentPath())
                             .absolutePath();
    QTemporaryDir temp;

    {
        const int32_t id = CMD_RESIZE;
        Shoot(id, "resize", [](CScriptCommand& c) {
            c.m_nParam[0] = 6;
            c.m_nParam[2] = 1200;
        });
    }
    {
        const int32_t id = CMD_ROTATE;
        Shoot(id, "rotate", [](CScriptCommand& c) {
            c.m_nParam[1] = 3;
            c.m_nParam[0] = 15;
            c.m_crColor[0] = RGB(255, 255, 255);
        });
    }
    {
        const int32_t id = CMD_ADD_BORDERS;
        Shoot(id, "borders", [](CScriptCommand& c) { c.m_crColor[0] = RGB(30, 60, 120); });
    }
    {
        const int32_t id = CMD_ENLARGE_CANVAS;
        Shoot(id, "canvas", [](CScriptCommand& c) {
            c.m_nParam[1] = 1024;
            c.m_nParam[2] = 768;
        });
    }
    {
        const int32_t id = CMD_APPLY_PALETTE;
        const QString palette = WritePalette(temp);
        Shoot(id, "palette", [&palette](CScriptCommand& c) {
            c.m_strParam[0] = palette.toStdString();
            c.m_nParam[0] = 1;
        });
    }
    {
        const int32_t id = CMD_OPTIMIZED_PALETTE;
        Shoot(id, "optimized-palette");
    }
    {
        const int32_t id = CMD_TO_2_COLORS;
        Shoot(id, "2-colors", [](CScriptCommand& c) { c.m_nParam[2] = 2; });
    }
    {
        const int32_t id = CMD_TO_256_COLORS;
        Shoot(id, "256-colors", [](CScriptCommand& c) { c.m_nParam[0] = 2; });
    }
    {
        const int32_t id = CMD_SET_OUTPUT_OPTIONS;
        Shoot(id, "output-options", [&temp](CScriptCommand& c) {
            c.m_nParam[0] = 18; // PNG
            c.m_strParam[0] = temp.path().toStdString();
        });
    }
    {
        const int32_t id = CMD_CROP;
        Shoot(id, "crop", [](CScriptCommand& c) { c.m_nParam[7] = 1; });
    }
    {
        const int32_t id = CMD_COLOR_REPLACEMENT;
        Shoot(id, "color-replacement", [](CScriptCommand& c) {
            c.m_crColor[0] = RGB(250, 250, 250);
            c.m_crColor[1] = RGB(200, 40, 30);
            c.m_nParam[0] = 10;
        });
    }
    {
        const int32_t id = CMD_OVERLAY_WATERMARK;
        const std::string mark = (root + QStringLiteral("/samples/watermark.png")).toStdString();
        Shoot(id, "watermark", [&mark](CScriptCommand& c) {
            c.m_strParam[0] = mark;
            c.m_nParam[0] = 90;
            c.m_nParam[1] = 85;
            c.m_nParam[2] = 60;
            c.m_crColor[0] = RGB(255, 0, 255);
        });
    }
    return 0;
}
