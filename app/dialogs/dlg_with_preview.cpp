#include "app/dialogs/dlg_with_preview.h"

#include "app/dialogs/preview_texts.h"
#include "app/preview/preview_image.h"
#include "app/preview/preview_worker.h"
#include "app/qt_text.h"
#include "core/dib.h"
#include "formats/dibroutines.h"
#include "imaging/resample.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>

QSize ThumbnailSize(int imageWidth, int imageHeight, int areaWidth, int areaHeight) {
    if (imageWidth <= 0 || imageHeight <= 0 || areaWidth <= 0 || areaHeight <= 0) return {1, 1};
    const double aspect = static_cast<double>(imageWidth) / imageHeight;
    int width = areaWidth;
    int height = static_cast<int>(areaWidth / aspect);
    if (height > areaHeight) {
        height = areaHeight;
        width = static_cast<int>(areaHeight * aspect);
    }
    return {std::max(width, 1), std::max(height, 1)};
}

KervErrorCode MakeThumbnail(KHANDLE image, int areaWidth, int areaHeight, KHANDLE* result) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    int width = 0, height = 0, bits = 0;
    if (!DIBSize(image, &width, &height, &bits)) return KERV_INVALID_PARAM;
    const QSize size = ThumbnailSize(width, height, areaWidth, areaHeight);
    // Resampling averages colours, which only 24-bit and grey pixels allow;
    // a palette image keeps its palette by taking the nearest pixel.
    if (bits == 24 || (bits == 8 && IsDIBGreyScaled(image)))
        return ResampleDIB(nullptr, image, result, static_cast<int16_t>(size.width()),
                           static_cast<uint16_t>(size.height()));
    return ResizeDIB(nullptr, image, result, size.width(), size.height());
}

// ---- PreviewPane ----

PreviewPane::PreviewPane(QSize area, QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(1);
    // The thumbnail was made for this area: the pane neither grows nor shrinks.
    setFixedSize(area.width() + 8, area.height() + 8);
}

void PreviewPane::setPicture(const QImage& picture) {
    picture_ = picture;
    message_.clear();
    update();
}

void PreviewPane::setMessage(const QString& message) {
    picture_ = QImage();
    message_ = message;
    update();
}

void PreviewPane::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    const QRect inside = contentsRect();
    p.fillRect(inside, Qt::white);
    const QRect area = rect().adjusted(4, 4, -4, -4);
    if (!picture_.isNull()) {
        // Operations that grow the picture (skew) are shown brought down
        // to the area, so the whole result stays in view.
        QSize size = picture_.size();
        if (size.width() > area.width() || size.height() > area.height()) {
            size.scale(area.size(), Qt::KeepAspectRatio);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
        }
        const QRect target(area.left() + (area.width() - size.width()) / 2,
                           area.top() + (area.height() - size.height()) / 2, size.width(),
                           size.height());
        p.drawImage(target, picture_);
    } else if (!message_.isEmpty()) {
        p.setPen(Qt::darkGray);
        p.drawText(area.adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap, message_);
    }
}

// ---- DlgWithPreview ----

DlgWithPreview::DlgWithPreview(KHANDLE preview, int delayTicks, QWidget* parent)
    : QDialog(parent), delayTicks_(delayTicks) {
    const QSize area(kAreaWidth, kAreaHeight);
    panes_ = new QWidget(this);
    panes_->setObjectName(QStringLiteral("previewPanes"));
    before_ = new PreviewPane(area, panes_);
    before_->setObjectName(QStringLiteral("beforePane"));
    afterPane_ = new PreviewPane(area, panes_);
    afterPane_->setObjectName(QStringLiteral("afterPane"));
    auto* grid = new QGridLayout(panes_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(2);
    grid->addWidget(new QLabel(QText(previewids::Before)), 0, 0);
    grid->addWidget(new QLabel(QText(previewids::After)), 0, 1);
    grid->addWidget(before_, 1, 0);
    grid->addWidget(afterPane_, 1, 1);

    KHANDLE made = nullptr;
    const KervErrorCode code = preview ? MakeThumbnail(preview, kAreaWidth, kAreaHeight, &made)
                                       : KERV_INVALID_PARAM;
    thumbnail_.reset(made);
    if (code == KERV_OK) {
        before_->setPicture(DIBToQImage(thumbnail_.get()));
    } else {
        const QString why = preview ? QString::fromStdString(ErrorCodeToText(code))
                                    : QText(previewids::NoPreviewImage);
        before_->setMessage(why);
        afterPane_->setMessage(why);
    }
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &DlgWithPreview::onTick);
}

DlgWithPreview::~DlgWithPreview() { stopPreview(); }

void DlgWithPreview::done(int result) {
    stopPreview();
    QDialog::done(result);
}

bool DlgWithPreview::computing() const { return worker_ && worker_->running(); }

void DlgWithPreview::startPreview() {
    if (!thumbnail_) return;
    compute();
    ticks_ = 0;
    dirty_ = false;
    timer_.start();
}

void DlgWithPreview::parameterChanged() {
    ++changes_;
    dirty_ = true;
    ticks_ = 0;
    // The running computation is out of date: let it end early.
    if (computing()) worker_->requestStop();
}

void DlgWithPreview::onTick() {
    ++ticks_;
    if (ticks_ > delayTicks_ && dirty_ && !computing()) {
        dirty_ = false;
        beforeRecompute();
        compute();
    }
}

void DlgWithPreview::compute() {
    if (!thumbnail_ || computing()) return;
    if (!worker_) {
        worker_ = std::make_unique<PreviewWorker>();
        connect(worker_.get(), &PreviewWorker::finished, this, &DlgWithPreview::onFinished);
    }
    worker_->clearStop();
    computedFor_ = changes_;
    pending_ = std::make_shared<KHANDLE>(nullptr);
    afterPane_->setCursor(Qt::BusyCursor);
    worker_->start([op = operation(), source = thumbnail_.get(),
                    out = pending_](StatusControlBlock* status) {
        const KervErrorCode code = op(status, source, out.get());
        if (code != KERV_OK && *out) {
            KML_GlobalFree(*out);
            *out = nullptr;
        }
        return code;
    });
}

void DlgWithPreview::onFinished(KervErrorCode code) {
    afterPane_->unsetCursor();
    KOwnedHandle image(pending_ ? *pending_ : nullptr);
    pending_.reset();
    // A newer change is waiting for its own computation; a stopped one has
    // nothing to show.
    if (computedFor_ != changes_ || code == KERV_STOPPED) return;
    code_ = code;
    after_ = std::move(image);
    if (code != KERV_OK)
        afterPane_->setMessage(QString::fromStdString(ErrorCodeToText(code)));
    else
        afterPane_->setPicture(DIBToQImage(after_ ? after_.get() : thumbnail_.get()));
    emit previewShown();
}

void DlgWithPreview::stopPreview() {
    timer_.stop();
    dirty_ = false;
    // Deleting the worker asks the job to stop and waits for it; its result
    // never reaches onFinished, so it is freed here.
    worker_.reset();
    if (pending_) {
        KOwnedHandle leftover(*pending_);
        pending_.reset();
    }
    after_.reset();
    thumbnail_.reset();
}
