// The base of the parameter dialogs that show their operation live: a
// "before" pane with a reduced copy of the preview image (the thumbnail) and
// an "after" pane with the operation applied to it.
//
// The thumbnail is made once, when the dialog opens, to fit the pane's
// picture area: 24-bit and 8-bit greyscale images are resampled, any other
// image resized (nearest pixel), so its colours stay those of the preview.
// The derived dialog supplies the operation with its fields' current values
// (see operation()); it runs on a worker thread, never on the GUI thread, so
// a slow one does not freeze the dialog. After each change of a field the
// preview waits for the dialog's delay (in ticks of 250 ms) to pass without
// another change before it computes again; a result that comes back after a
// newer change is thrown away, and a computation still running when the
// dialog closes is asked to stop and waited for. Every image the dialog made
// is freed when it closes.
#pragma once

#include "core/errors.h"
#include "core/kmem.h"

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QSize>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class PreviewWorker;

// The thumbnail's size for an imageWidth x imageHeight image in an area:
// the area's width with the height scaled by the image's aspect ratio
// (floating point, truncated); when that height does not fit, the area's
// height with the width scaled alike. Each side at least 1. Small images
// are enlarged to fill the area as well.
QSize ThumbnailSize(int imageWidth, int imageHeight, int areaWidth, int areaHeight);

// The thumbnail of image for an area: ResampleDIB for a 24-bit or 8-bit
// greyscale image, ResizeDIB for any other. Codes as those give them; 101
// for an image that cannot be locked.
KervErrorCode MakeThumbnail(KHANDLE image, int areaWidth, int areaHeight, KHANDLE* result);

// One pane: a sunken frame painting a picture centred on white, or a short
// message in its place.
class PreviewPane : public QFrame {
    Q_OBJECT
  public:
    // area: the size of the picture area inside the frame.
    explicit PreviewPane(QSize area, QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    void setMessage(const QString& message);
    const QImage& picture() const { return picture_; }
    const QString& message() const { return message_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
    QString message_;
};

class DlgWithPreview : public QDialog {
    Q_OBJECT
  public:
    // Applies the dialog's parameters to source. Runs on the worker thread:
    // it must hold copies of everything it reads.
    using Operation =
        std::function<KervErrorCode(StatusControlBlock* status, KHANDLE source, KHANDLE* result)>;

    // The picture area of each pane; the frame adds 4 pixels a side.
    static constexpr int kAreaWidth = 240;
    static constexpr int kAreaHeight = 180;
    static constexpr int kTickMilliseconds = 250;

    // preview: the main window's preview image (may be null: the panes then
    // say so); only read here. delayTicks: the ticks without a change
    // before the preview is computed again.
    DlgWithPreview(KHANDLE preview, int delayTicks, QWidget* parent = nullptr);
    ~DlgWithPreview() override;

    // Stops the preview (waiting for a running computation) and frees its
    // images, then closes.
    void done(int result) override;

    // The thumbnail and the latest "after" image taken in (null before the
    // first result, or when the operation failed or made no image).
    KHANDLE beforeImage() const { return thumbnail_.get(); }
    KHANDLE afterImage() const { return after_.get(); }
    // The code of the latest result taken in.
    KervErrorCode previewCode() const { return code_; }
    bool computing() const;
    int delayTicks() const { return delayTicks_; }
    const PreviewPane* beforePane() const { return before_; }
    const PreviewPane* afterPane() const { return afterPane_; }

  signals:
    // A result was taken in and the "after" pane redrawn (also for a failure).
    void previewShown();

  protected:
    // The operation with the fields' current values (called on the GUI
    // thread; the function it returns runs on the worker thread).
    virtual Operation operation() const = 0;
    // Called on the GUI thread before every computation after the first.
    virtual void beforeRecompute() {}

    // The two panes side by side, for the derived dialog's layout.
    QWidget* previewPanes() const { return panes_; }
    // Called by the derived constructor once its fields are built: the
    // first computation, then the timer.
    void startPreview();
    // Connected to every field: marks the preview out of date and restarts
    // the wait.
    void parameterChanged();

  private:
    void onTick();
    void compute();
    void onFinished(KervErrorCode code);
    void stopPreview();

    const int delayTicks_;
    KOwnedHandle thumbnail_;
    KOwnedHandle after_;
    KervErrorCode code_ = KERV_OK;
    QWidget* panes_;
    PreviewPane* before_;
    PreviewPane* afterPane_;
    QTimer timer_;
    int ticks_ = 0;
    bool dirty_ = false;
    // Counts the changes; a result computed for an older count is discarded.
    unsigned changes_ = 0;
    unsigned computedFor_ = 0;
    std::unique_ptr<PreviewWorker> worker_;
    // Where the running computation leaves its image (shared with the job).
    std::shared_ptr<KHANDLE> pending_;
};
