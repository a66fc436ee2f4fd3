#include "app/preview/preview_session.h"

#include "app/main_strings.h"
#include "app/preview/preview_image.h"
#include "app/preview/preview_worker.h"
#include "app/qt_text.h"
#include "script/commands.h"
#include "script/script.h"
#include "batch/batch_strings.h"
#include "batch/runner.h"
#include "core/settings.h"
#include "formats/imagefile.h"
#include "imaging/depth.h"
#include "imaging/dither.h"

struct PreviewOutput {
    KOwnedHandle image;
    KOwnedHandle display;
    QImage picture;
    QSize box;
    KervErrorCode readCode = KERV_OK; // loading: the file's read
};

namespace {

// The display copy and its picture for a new preview image.
void MakeDisplay(KHANDLE image, QSize box, int screenDepth, KOwnedHandle* display,
                 QImage* picture) {
    KHANDLE made = nullptr;
    if (MakeDisplayCopy(image, box.width(), box.height(), screenDepth, &made) != KERV_OK) {
        display->reset();
        *picture = QImage();
        return;
    }
    display->reset(made);
    *picture = DIBToQImage(made);
}

// The palette of "Apply Fully Optimized Palette", gathered from the preview
// image alone with the command's colour count, Windows-colours flag and
// kind; 0 colours when it cannot be made (the command then reports it).
int OptimizedPalette(const CScriptCommand& c, KHANDLE image, RGBQUAD* palette) {
    AccumulatingPaletteBuilder builder;
    const int colours =
        ParamOr(c.m_nParam[0], IntSlotDefault(CMD_OPTIMIZED_PALETTE, Slot::P0, 256));
    if (builder.begin(colours, ParamOr(c.m_nParam[1], 0), ParamOr(c.m_nParam[4], 0)) != KERV_OK)
        return 0;
    builder.addImage(image, nullptr);
    int count = 0;
    return builder.finish(palette, &count) == KERV_OK ? count : 0;
}

// The 24-bit watermark of an "Overlay Watermark" command; null when the file
// cannot be read (the command then reports it).
KOwnedHandle LoadWatermark(const CScriptCommand& c, StatusControlBlock* status) {
    const std::string& named = c.m_strParam[0];
    const std::string path = named.empty() ? HomeFolder() : named;
    KHANDLE dib = nullptr;
    int format = 0;
    if (ReadImageFile(path, &format, &dib, status, nullptr) != KERV_OK) return {};
    KOwnedHandle read(dib);
    int w = 0, h = 0, bits = 0;
    if (!DIBSize(read.get(), &w, &h, &bits)) return {};
    if (bits == 24) return read;
    KHANDLE raised = nullptr;
    if (IncreaseDepthDIB(nullptr, read.get(), &raised, 24) != KERV_OK) return {};
    return KOwnedHandle(raised);
}

// One command on the preview image; a new image (with its display copy)
// lands in out.
KervErrorCode RunCommand(CScript& commands, int index, KHANDLE image, KHANDLE watermark,
                         const RGBQUAD* palette, int paletteCount, StatusControlBlock* status,
                         int screenDepth, PreviewOutput* out) {
    KHANDLE result = nullptr;
    const KervErrorCode code =
        commands.DoCommand(index, image, &result, watermark, LoadString(appids::PreviewFileName),
                           status, palette, paletteCount);
    ReleaseDitherCache();
    KOwnedHandle made(result);
    if (code != KERV_OK) return code;
    if (made) {
        MakeDisplay(made.get(), out->box, screenDepth, &out->display, &out->picture);
        out->image = std::move(made);
    }
    return KERV_OK;
}

} // namespace

PreviewSession::PreviewSession(UserDialogs& dialogs, QWidget* dialogParent, QObject* parent)
    : QObject(parent), dialogs_(dialogs), dialogParent_(dialogParent),
      worker_(std::make_unique<PreviewWorker>()) {
    connect(worker_.get(), &PreviewWorker::progress, this, &PreviewSession::progress);
    connect(worker_.get(), &PreviewWorker::statusText, this, &PreviewSession::statusChanged);
    connect(worker_.get(), &PreviewWorker::finished, this, &PreviewSession::onJobFinished);
}

PreviewSession::~PreviewSession() {
    worker_.reset();
}

void PreviewSession::setBox(QSize box) {
    box_ = QSize(std::max(box.width(), 1), std::max(box.height(), 1));
    if (!running()) rebuildDisplay();
}

void PreviewSession::rebuildDisplay() {
    if (!image_ || displayBox_ == box_) return;
    MakeDisplay(image_.get(), box_, screenDepth_, &display_, &picture_);
    displayBox_ = box_;
    emit imageChanged();
}

bool PreviewSession::refuse() {
    if (batchRunning_) return true;
    if (running()) {
        dialogs_.beep();
        return true;
    }
    return false;
}

void PreviewSession::begin(Run run, const QString& caption) {
    run_ = run;
    worker_->clearStop();
    output_ = std::make_shared<PreviewOutput>();
    output_->box = box_;
    emit runStarted();
    emit progress(0);
    emit captionChanged(caption);
}

void PreviewSession::end() {
    commands_.reset();
    watermarks_.clear();
    output_.reset();
    run_ = Run::None;
    emit statusChanged(QText(ids::Ready));
    emit progress(0);
    emit captionChanged(QString());
    rebuildDisplay();
    emit runFinished();
}

void PreviewSession::adopt(PreviewOutput& out) {
    image_ = std::move(out.image);
    display_ = std::move(out.display);
    picture_ = std::move(out.picture);
    displayBox_ = out.box;
    emit imageChanged();
}

void PreviewSession::stop() {
    if (running()) worker_->requestStop();
}

bool PreviewSession::load(const std::string& path, bool reportFailure) {
    if (refuse()) return false;
    loadPath_ = path;
    reportLoadFailure_ = reportFailure;
    const bool builtIn = IsBuiltInPreviewPath(path);
    begin(Run::Load, builtIn ? QString() : QText(appids::LoadingPreview));
    std::shared_ptr<PreviewOutput> out = output_;
    const int depth = screenDepth_;
    worker_->start([out, path, builtIn, depth](StatusControlBlock* status) {
        KHANDLE dib = nullptr;
        if (!builtIn) {
            int format = 0;
            out->readCode = ReadImageFile(path, &format, &dib, status, nullptr);
        }
        if (builtIn || out->readCode != KERV_OK) {
            const KervErrorCode code = LoadBuiltInPicture(&dib);
            if (code != KERV_OK) return code;
        }
        out->image.reset(dib);
        MakeDisplay(dib, out->box, depth, &out->display, &out->picture);
        return KERV_OK;
    });
    return true;
}

bool PreviewSession::execute(const CScript& script, int line) {
    if (refuse() || !script.GetCommand(line)) return false;
    line_ = line;
    commands_ = std::make_unique<CScript>();
    commands_->InsertCommand(std::make_unique<CScriptCommand>(*script.GetCommand(line)), -1);
    begin(Run::Command, QText(appids::ExecutingCommand));
    emit statusChanged(QText(appids::ExecutingCommand));
    std::shared_ptr<PreviewOutput> out = output_;
    CScript* commands = commands_.get();
    KHANDLE image = image_.get();
    RGBQUAD* palette = palette_.data();
    const int depth = screenDepth_;
    worker_->start([out, commands, image, palette, depth](StatusControlBlock* status) {
        const CScriptCommand& c = *commands->GetCommand(0);
        std::fill(palette, palette + 256, RGBQUAD{});
        int count = 0;
        if (c.m_nID == CMD_OPTIMIZED_PALETTE) count = OptimizedPalette(c, image, palette);
        KOwnedHandle watermark;
        if (c.m_nID == CMD_OVERLAY_WATERMARK) watermark = LoadWatermark(c, status);
        return RunCommand(*commands, 0, image, watermark.get(), palette, count, status, depth,
                          out.get());
    });
    return true;
}

bool PreviewSession::test(const CScript& script) {
    if (refuse()) return false;
    commands_ = std::make_unique<CScript>();
    for (int i = 0; i < script.GetCount(); ++i)
        commands_->InsertCommand(std::make_unique<CScriptCommand>(*script.GetCommand(i)),
                                 commands_->GetCount());
    begin(Run::Test, QText(appids::SimulatingScript));
    emit statusChanged(QText(appids::SimulatingScript));
    line_ = -1;
    CScript* commands = commands_.get();
    KHANDLE image = image_.get();
    RGBQUAD* palette = palette_.data();
    int* paletteCount = &paletteCount_;
    std::vector<KOwnedHandle>* watermarks = &watermarks_;
    // Before the first line: the palette every optimized-palette line uses,
    // made from the preview image as it is now, and every watermark in
    // script order.
    worker_->start([commands, image, palette, paletteCount, watermarks](StatusControlBlock* s) {
        std::fill(palette, palette + 256, RGBQUAD{});
        *paletteCount = 0;
        if (const CScriptCommand* c = commands->FindCommand(CMD_OPTIMIZED_PALETTE))
            *paletteCount = OptimizedPalette(*c, image, palette);
        for (int i = 0; i < commands->GetCount(); ++i)
            if (const CScriptCommand* c = commands->GetCommand(i);
                c->m_nID == CMD_OVERLAY_WATERMARK)
                watermarks->push_back(LoadWatermark(*c, s));
        return KERV_OK;
    });
    return true;
}

void PreviewSession::startTestLine(int line) {
    if (line >= commands_->GetCount() || worker_->stopRequested()) {
        end();
        return;
    }
    line_ = line;
    emit lineSelected(line);
    output_ = std::make_shared<PreviewOutput>();
    output_->box = box_;
    int mark = 0;
    for (int i = 0; i < line; ++i)
        if (commands_->GetCommand(i)->m_nID == CMD_OVERLAY_WATERMARK) ++mark;
    KHANDLE watermark = nullptr;
    if (commands_->GetCommand(line)->m_nID == CMD_OVERLAY_WATERMARK &&
        mark < static_cast<int>(watermarks_.size()))
        watermark = watermarks_[static_cast<size_t>(mark)].get();
    std::shared_ptr<PreviewOutput> out = output_;
    CScript* commands = commands_.get();
    KHANDLE image = image_.get();
    const RGBQUAD* palette = palette_.data();
    const int count = paletteCount_;
    const int depth = screenDepth_;
    worker_->start([=](StatusControlBlock* status) {
        return RunCommand(*commands, line, image, watermark, palette, count, status, depth,
                          out.get());
    });
}

void PreviewSession::onJobFinished(KervErrorCode code) {
    switch (run_) {
    case Run::Load:
        finishLoad(code);
        break;
    case Run::Command:
        finishCommand(code);
        break;
    case Run::Test:
        line_ < 0 ? finishTestPreparation(code) : finishTestLine(code);
        break;
    case Run::None:
        break;
    }
}

void PreviewSession::finishLoad(KervErrorCode code) {
    const KervErrorCode readCode = output_->readCode;
    lastLoadRead_ = !IsBuiltInPreviewPath(loadPath_) && readCode == KERV_OK;
    if (code == KERV_OK)
        adopt(*output_);
    else {
        image_.reset();
        display_.reset();
        picture_ = QImage();
        emit imageChanged();
    }
    end();
    if (reportLoadFailure_ && !IsBuiltInPreviewPath(loadPath_) && readCode != KERV_OK &&
        readCode != KERV_STOPPED)
        dialogs_.tell(dialogParent_,
                      QFormat(appids::PreviewNotRead, loadPath_, ErrorCodeToText(readCode)),
                      BoxIcon::Exclamation);
}

void PreviewSession::finishCommand(KervErrorCode code) {
    if (code == KERV_OK && output_->image) adopt(*output_);
    const int line = line_;
    end();
    if (code != KERV_OK && code != KERV_STOPPED)
        dialogs_.tell(dialogParent_,
                      QFormat(IDS_SCRIPT_LINE_ERROR, line + 1) +
                          QString::fromStdString(ErrorCodeToText(code)),
                      BoxIcon::Error);
}

void PreviewSession::finishTestPreparation(KervErrorCode) {
    startTestLine(0);
}

void PreviewSession::finishTestLine(KervErrorCode code) {
    if (code == KERV_STOPPED) {
        end();
        return;
    }
    if (code == KERV_OK) {
        if (output_->image) adopt(*output_);
    } else {
        const BoxAnswer answer = dialogs_.ask(dialogParent_,
                                              QFormat(IDS_SCRIPT_LINE_ERROR, line_ + 1) +
                                                  QString::fromStdString(ErrorCodeToText(code)),
                                              BoxButtons::OkCancel, BoxIcon::Error);
        if (answer == BoxAnswer::Cancel) {
            end();
            return;
        }
    }
    startTestLine(line_ + 1);
}
