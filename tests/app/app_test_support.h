// Shared pieces of the desktop program's tests: a UserDialogs that answers
// in place of the user and records what it was asked, a batch side that
// records its starts, fresh settings, and test images on disk.
#pragma once

#include "app/batch_starter.h"
#include "script/commands.h"
#include "script/script.h"
#include "app/dialogs/command_dialog.h"
#include "app/slot_editor.h"
#include "app/user_dialogs.h"
#include "batch/cmdline.h"
#include "core/dib.h"
#include "core/settings.h"
#include "formats/imagefile.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace apptest {

struct Asked {
    QString text;
    BoxButtons buttons;
    BoxIcon icon;
};

// Answers from queues (Ok / Yes when a queue is empty) and records every
// question; parameters are confirmed unchanged unless editHook says
// otherwise, or the real parameter editor runs when realEditor is set (the
// test then drives it through editorHook, called once it is showing).
class ScriptedDialogs : public UserDialogs {
  public:
    std::vector<Asked> asked;
    std::deque<BoxAnswer> answers;
    std::deque<QString> openNames;
    std::deque<QString> saveNames;
    QStringList openTitles, saveTitles, openFilters;
    std::function<bool(CScriptCommand&)> editHook;
    bool realEditor = false;
    std::function<void(QDialog&)> editorHook;
    int edits = 0;
    int beeps = 0;

    BoxAnswer ask(QWidget*, const QString& text, BoxButtons buttons, BoxIcon icon) override {
        asked.push_back({text, buttons, icon});
        if (!answers.empty()) {
            const BoxAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == BoxButtons::YesNo || buttons == BoxButtons::YesNoCancel ? BoxAnswer::Yes
                                                                                  : BoxAnswer::Ok;
    }
    QString openFileName(QWidget*, const QString& title, const QString&, const QString& filter,
                         int*) override {
        openTitles.push_back(title);
        openFilters.push_back(filter);
        if (openNames.empty()) return {};
        const QString n = openNames.front();
        openNames.pop_front();
        return n;
    }
    QString saveFileName(QWidget*, const QString& title, const QString&, const QString&,
                         const QString&) override {
        saveTitles.push_back(title);
        if (saveNames.empty()) return {};
        const QString n = saveNames.front();
        saveNames.pop_front();
        return n;
    }
    bool editParameters(QWidget* parent, CScriptCommand& command, KHANDLE preview) override {
        ++edits;
        if (realEditor) {
            const std::unique_ptr<QDialog> editor = MakeCommandDialog(command, preview, parent);
            QTimer::singleShot(0, editor.get(), [this, &editor] {
                if (editorHook) editorHook(*editor);
            });
            return editor->exec() == QDialog::Accepted;
        }
        return editHook ? editHook(command) : true;
    }
    QStringList imageLists;
    void editImageList(QWidget*, const QString& path) override { imageLists << path; }
    void beep() override { ++beeps; }

    QStringList texts() const {
        QStringList out;
        for (const Asked& a : asked)
            out << a.text;
        return out;
    }
};

// Records the runs it is asked to start; emits the signals a test asks for.
class FakeBatchStarter : public BatchStarter {
  public:
    struct Start {
        CScript* script;
        int commands;
        QString path;
        const CommandLine* commandLine;
        std::string commandLineScript;
    };
    std::vector<Start> starts;
    bool answer = true;
    bool isRunning = false;

    bool start(CScript& script, const QString& path, const CommandLine* cl) override {
        starts.push_back({&script, script.GetCount(), path, cl, cl ? cl->scriptPath : ""});
        return answer;
    }
    bool running() const override { return isRunning; }
    void setRunning(bool r) {
        isRunning = r;
        emit runningChanged(r);
    }
    void finish() {
        setRunning(false);
        emit finished();
    }
};

// Points the program's settings at a fresh file in dir.
inline void FreshSettings(const QTemporaryDir& dir) {
    AppSettings() =
        SettingsStore(std::filesystem::path(dir.filePath("Brellix.conf").toStdString()));
}

inline std::vector<uint8_t> FileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray b = f.readAll();
    return std::vector<uint8_t>(b.begin(), b.end());
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A pseudo-random DIB: 24 bits, or 8 bits with a palette of random colours
// (not grey).
inline KHANDLE MakeImage(int width, int height, int bits, uint32_t seed) {
    KHANDLE dib = AllocDIB(width, height, bits, bits == 24 ? 0 : 1u << bits);
    DIBLock d(dib);
    uint32_t s = seed * 2654435761u + 1;
    auto next = [&s] {
        s = s * 1664525u + 1013904223u;
        return static_cast<uint8_t>(s >> 24);
    };
    for (uint32_t i = 0; i < DIBPaletteEntries(d.header()); ++i)
        d.palette()[i] = {next(), next(), next(), 0};
    const uint32_t stride = d.stride();
    for (int y = 0; y < height; ++y)
        for (uint32_t x = 0; x < stride; ++x)
            d.row(y)[x] = next();
    return dib;
}

// Writes the image as a Windows bitmap (output format 1, its default sub-type).
inline bool WriteImage(KHANDLE dib, const QString& path) {
    return WriteImageFile(path.toStdString(), dib, 1, 1, OutputOptions{}) == KERV_OK;
}

// The command record of the clipboard, written out by hand from its layout.
inline QByteArray HandMadeRecord(const CScriptCommand& c) {
    QByteArray out;
    auto put = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(static_cast<uint32_t>(c.m_nID));
    for (int32_t p : c.m_nParam)
        put(static_cast<uint32_t>(p));
    for (float f : c.m_fParam) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put(bits);
    }
    for (COLORREF col : c.m_crColor)
        put(col);
    for (const std::string& s : c.m_strParam) {
        out.append(s.data(), static_cast<qsizetype>(s.size()));
        out.append('\0');
    }
    return out;
}

} // namespace apptest
