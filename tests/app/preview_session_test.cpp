// Loading the preview image, Exec Cmd and Test Script on the worker
// thread, stopping, and the messages of failing lines.
#include "app/preview/preview_image.h"
#include "app/preview/preview_session.h"

#include "app_test_support.h"
#include "imaging/depth.h"
#include "imaging/optpal.h"
#include "tests/support/test_support.h"

#include <QSignalSpy>
#include <QtTest>

using namespace apptest;
using brellix::test::BlockBytes;
using brellix::test::PixelAt;

namespace {

const QString kNeedsTrueColour = "A True Color or Greyscale image is required for this function";

std::unique_ptr<CScript> Script(std::initializer_list<int32_t> ids) {
    auto s = std::make_unique<CScript>();
    for (int32_t id : ids)
        s->InsertCommand(std::make_unique<CScriptCommand>(id), s->GetCount());
    return s;
}

QSize SizeOf(KHANDLE dib) {
    int w = 0, h = 0, bits = 0;
    DIBSize(dib, &w, &h, &bits);
    return {w, h};
}

int BitsOf(KHANDLE dib) {
    int w = 0, h = 0, bits = 0;
    DIBSize(dib, &w, &h, &bits);
    return bits;
}

} // namespace

class PreviewSessionTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        FreshSettings(*dir_);
        blocks_ = KML_LiveBlockCount();
        dialogs_ = std::make_unique<ScriptedDialogs>();
        session_ = std::make_unique<PreviewSession>(*dialogs_, nullptr);
        session_->setBox(QSize(200, 150));
    }
    void cleanup() {
        session_.reset();
        dialogs_.reset();
        QCOMPARE(KML_LiveBlockCount(), blocks_);
    }

    void loadingReadsTheFileAndFitsTheDisplayCopy() {
        KOwnedHandle image(MakeImage(640, 480, 8, 1));
        const QString path = dir_->filePath("p.bmp");
        QVERIFY(WriteImage(image.get(), path));
        QSignalSpy changed(session_.get(), &PreviewSession::imageChanged);
        QVERIFY(session_->load(path.toStdString(), true));
        QVERIFY(session_->running());
        QTRY_VERIFY(!session_->running());
        QVERIFY(session_->lastLoadReadFile());
        QCOMPARE(BlockBytes(session_->image()), BlockBytes(image.get()));
        QCOMPARE(SizeOf(session_->displayCopy()), QSize(200, 150));
        QCOMPARE(session_->picture().size(), QSize(200, 150));
        QVERIFY(changed.count() >= 1);
        QVERIFY(dialogs_->asked.empty());
    }

    void anUnreadableFileShowsTheBuiltInPicture_data() {
        QTest::addColumn<bool>("report");
        QTest::newRow("reported when asked") << true;
        QTest::newRow("silent at start-up") << false;
    }
    void anUnreadableFileShowsTheBuiltInPicture() {
        QFETCH(bool, report);
        const QString path = dir_->filePath("broken.png");
        QVERIFY(WriteBytes(path, "\x89PNG\r\n\x1a\n but nothing after"));
        QVERIFY(session_->load(path.toStdString(), report));
        QTRY_VERIFY(!session_->running());
        QVERIFY(!session_->lastLoadReadFile());
        QCOMPARE(SizeOf(session_->image()), QSize(320, 200));
        QCOMPARE(dialogs_->asked.size(), size_t(report ? 1 : 0));
        if (report) {
            QVERIFY(dialogs_->asked[0].text.contains(path));
            QVERIFY(dialogs_->asked[0].text.contains("The built-in picture is shown instead."));
        }
    }

    void theBuiltInPathReadsNoFile() {
        QVERIFY(session_->load("/nowhere/Internal Preview", true));
        QTRY_VERIFY(!session_->running());
        QCOMPARE(SizeOf(session_->image()), QSize(320, 200));
        QVERIFY(!session_->lastLoadReadFile());
        QVERIFY(dialogs_->asked.empty());
    }

    void executeReplacesTheImageWithTheCommandsResult() {
        usePreview(MakeImage(37, 23, 24, 4));
        KHANDLE copy = nullptr;
        QCOMPARE(CopyDIB(session_->image(), &copy), KERV_OK);
        KOwnedHandle original(copy);
        auto script = Script({CMD_MIRROR, CMD_FLIP});
        QSignalSpy finished(session_.get(), &PreviewSession::runFinished);
        QVERIFY(session_->execute(*script, 1));
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(dialogs_->asked.empty());
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x)
                QCOMPARE(PixelAt(session_->image(), x, y), PixelAt(original.get(), x, 22 - y));
        QCOMPARE(session_->picture().size(), QSize(37, 23));
    }

    void aFailingLineIsReportedWithItsNumberAndTheImageIsKept() {
        usePreview(MakeImage(20, 10, 8, 2));
        const KHANDLE before = session_->image();
        const std::vector<uint8_t> bytes = BlockBytes(before);
        auto script = Script({CMD_FLIP, CMD_BLUR});
        QVERIFY(session_->execute(*script, 1));
        QTRY_VERIFY(!session_->running());
        QCOMPARE(dialogs_->texts(), QStringList{"Script Line 2 Error: " + kNeedsTrueColour});
        QCOMPARE(dialogs_->asked[0].icon, BoxIcon::Error);
        QCOMPARE(session_->image(), before);
        QCOMPARE(BlockBytes(before), bytes);
    }

    void aSettingsCommandLeavesTheImageAndSaysNothing() {
        usePreview(MakeImage(8, 8, 24, 3));
        const KHANDLE before = session_->image();
        auto script = Script({CMD_SET_OUTPUT_OPTIONS});
        QSignalSpy changed(session_.get(), &PreviewSession::imageChanged);
        QVERIFY(session_->execute(*script, 0));
        QTRY_VERIFY(!session_->running());
        QCOMPARE(session_->image(), before);
        QCOMPARE(changed.count(), 0);
        QVERIFY(dialogs_->asked.empty());
    }

    void executeWithoutALineDoesNothing() {
        usePreview(MakeImage(8, 8, 24, 3));
        auto script = Script({CMD_FLIP});
        QVERIFY(!session_->execute(*script, -1));
        QVERIFY(!session_->execute(*script, 1));
        QVERIFY(!session_->running());
        QCOMPARE(dialogs_->beeps, 0);
    }

    void testScriptGoesOnAfterAFailureWhenTheUserSaysOk_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK runs line 4") << true;
        QTest::newRow("Cancel stops the test") << false;
    }
    void testScriptGoesOnAfterAFailureWhenTheUserSaysOk() {
        QFETCH(bool, ok);
        // A 256-colour preview: "Filter: Blur" on line 3 needs true colour.
        usePreview(MakeImage(9, 5, 8, 6));
        KHANDLE copy = nullptr;
        QCOMPARE(CopyDIB(session_->image(), &copy), KERV_OK);
        KOwnedHandle original(copy);
        auto script = Script({CMD_FLIP, CMD_MIRROR, CMD_BLUR, CMD_NEGATIVE});
        dialogs_->answers = {ok ? BoxAnswer::Ok : BoxAnswer::Cancel};
        QSignalSpy lines(session_.get(), &PreviewSession::lineSelected);
        QVERIFY(session_->test(*script));
        QVERIFY(session_->run() == PreviewSession::Run::Test);
        QTRY_VERIFY(!session_->running());
        QCOMPARE(dialogs_->texts(), QStringList{"Script Line 3 Error: " + kNeedsTrueColour});
        QCOMPARE(dialogs_->asked[0].buttons, BoxButtons::OkCancel);
        QCOMPARE(dialogs_->asked[0].icon, BoxIcon::Error);
        QList<int> selected;
        for (const QList<QVariant>& l : lines)
            selected << l[0].toInt();
        const QList<int> expected = ok ? QList<int>{0, 1, 2, 3} : QList<int>{0, 1, 2};
        QCOMPARE(selected, expected);
        // Flip and mirror turn the picture half round; the negative (line 4)
        // inverts the palette and keeps the indexes.
        DIBLock now(session_->image()), was(original.get());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x)
                QCOMPARE(PixelAt(session_->image(), x, y), PixelAt(original.get(), 8 - x, 4 - y));
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD a = now.palette()[i], b = was.palette()[i];
            const uint8_t flip = ok ? 255 : 0;
            QCOMPARE(a.rgbRed, uint8_t(b.rgbRed ^ flip));
            QCOMPARE(a.rgbGreen, uint8_t(b.rgbGreen ^ flip));
            QCOMPARE(a.rgbBlue, uint8_t(b.rgbBlue ^ flip));
        }
    }

    void stopEndsALongCommandSilently() {
        usePreview(MakeImage(3000, 2000, 24, 8));
        const std::vector<uint8_t> bytes = BlockBytes(session_->image());
        auto script = Script({CMD_MOTION_BLUR, CMD_FLIP});
        script->GetCommand(0)->m_nParam[1] = 40;
        QSignalSpy progress(session_.get(), &PreviewSession::progress);
        QSignalSpy imageChanged(session_.get(), &PreviewSession::imageChanged);
        QVERIFY(session_->execute(*script, 0));
        QTRY_VERIFY(std::any_of(progress.begin(), progress.end(),
                                [](const QList<QVariant>& a) { return a[0].toInt() > 0; }));
        session_->stop();
        QTRY_VERIFY(!session_->running());
        QVERIFY(dialogs_->asked.empty());
        QCOMPARE(imageChanged.count(), 0);
        QCOMPARE(BlockBytes(session_->image()), bytes);
    }

    void stopEndsAScriptTestWithoutRunningTheRest() {
        usePreview(MakeImage(3000, 2000, 24, 8));
        auto script = Script({CMD_MOTION_BLUR, CMD_FLIP});
        script->GetCommand(0)->m_nParam[1] = 40;
        QSignalSpy lines(session_.get(), &PreviewSession::lineSelected);
        QSignalSpy progress(session_.get(), &PreviewSession::progress);
        QVERIFY(session_->test(*script));
        QTRY_VERIFY(std::any_of(progress.begin(), progress.end(),
                                [](const QList<QVariant>& a) { return a[0].toInt() > 0; }));
        session_->stop();
        QTRY_VERIFY(!session_->running());
        QCOMPARE(lines.count(), 1);
        QVERIFY(dialogs_->asked.empty());
    }

    void newWorkIsRefusedWhileWorkRunsOrABatchRuns() {
        usePreview(MakeImage(3000, 2000, 24, 8));
        auto script = Script({CMD_MOTION_BLUR});
        script->GetCommand(0)->m_nParam[1] = 40;
        QVERIFY(session_->execute(*script, 0));
        QVERIFY(!session_->execute(*script, 0));
        QVERIFY(!session_->test(*script));
        QVERIFY(!session_->load("", false));
        QCOMPARE(dialogs_->beeps, 3);
        session_->stop();
        QTRY_VERIFY(!session_->running());
        session_->setBatchRunning(true);
        QVERIFY(!session_->execute(*script, 0));
        QVERIFY(!session_->test(*script));
        QCOMPARE(dialogs_->beeps, 3);
        session_->setBatchRunning(false);
    }

    void theWatermarkIsReadAndRaisedToTrueColour() {
        usePreview(MakeImage(40, 30, 24, 9));
        KOwnedHandle mark(MakeImage(12, 8, 8, 10));
        const QString markPath = dir_->filePath("mark.bmp");
        QVERIFY(WriteImage(mark.get(), markPath));
        auto script = Script({CMD_OVERLAY_WATERMARK});
        CScriptCommand& c = *script->GetCommand(0);
        c.m_strParam[0] = markPath.toStdString();
        c.m_nParam = {50, 50, 100, 0, 0, 0, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET};
        // What the command gives with the watermark raised by hand.
        KHANDLE raised = nullptr, expected = nullptr;
        QCOMPARE(IncreaseDepthDIB(nullptr, mark.get(), &raised, 24), KERV_OK);
        KOwnedHandle raisedOwned(raised);
        QCOMPARE(
            script->DoCommand(0, session_->image(), &expected, raised, "x", nullptr, nullptr, 0),
            KERV_OK);
        KOwnedHandle expectedOwned(expected);
        QVERIFY(BlockBytes(expected) != BlockBytes(session_->image()));
        QVERIFY(session_->execute(*script, 0));
        QTRY_VERIFY(!session_->running());
        QVERIFY(dialogs_->asked.empty());
        QCOMPARE(BlockBytes(session_->image()), BlockBytes(expected));
    }

    void aWatermarkThatCannotBeReadIsTheCommandsError() {
        usePreview(MakeImage(40, 30, 24, 9));
        auto script = Script({CMD_FLIP, CMD_OVERLAY_WATERMARK});
        script->GetCommand(1)->m_strParam[0] = dir_->filePath("missing.png").toStdString();
        const KHANDLE before = session_->image();
        QVERIFY(session_->execute(*script, 1));
        QTRY_VERIFY(!session_->running());
        QCOMPARE(dialogs_->asked.size(), size_t(1));
        QVERIFY(dialogs_->asked[0].text.startsWith("Script Line 2 Error: "));
        QVERIFY(dialogs_->asked[0].text.size() > QString("Script Line 2 Error: ").size());
        QCOMPARE(session_->image(), before);
    }

    void theOptimizedPaletteComesFromThePreviewImage() {
        usePreview(MakeImage(31, 17, 24, 12));
        auto script = Script({CMD_OPTIMIZED_PALETTE});
        script->GetCommand(0)->m_nParam = {
            16, 0, 1, 0, 1, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET};
        PaletteAccumulator own;
        QCOMPARE(own.Begin(kPaletteOctree, 16, 8), KERV_OK);
        QCOMPARE(own.AddImage(session_->image()), KERV_OK);
        std::array<RGBQUAD, 256> palette{};
        const uint16_t count = own.Generate(palette.data(), false);
        QVERIFY(count > 0 && count <= 16);
        QVERIFY(session_->execute(*script, 0));
        QTRY_VERIFY(!session_->running());
        QVERIFY(dialogs_->asked.empty());
        QCOMPARE(BitsOf(session_->image()), 8);
        DIBLock d(session_->image());
        QCOMPARE(std::memcmp(d.palette(), palette.data(), count * sizeof(RGBQUAD)), 0);
    }

    void theDisplayCopyFollowsTheBox() {
        usePreview(MakeImage(400, 100, 24, 13));
        QCOMPARE(SizeOf(session_->displayCopy()), QSize(200, 50));
        session_->setBox(QSize(100, 100));
        QCOMPARE(SizeOf(session_->displayCopy()), QSize(100, 25));
        session_->setBox(QSize(500, 500));
        QCOMPARE(SizeOf(session_->displayCopy()), QSize(400, 100));
        QCOMPARE(session_->picture().size(), QSize(400, 100));
    }

  private:
    // Makes image the preview image through a load of its file.
    void usePreview(KHANDLE image) {
        KOwnedHandle owned(image);
        const QString path = dir_->filePath(QStringLiteral("preview%1.bmp").arg(++previews_));
        QVERIFY(WriteImage(image, path));
        QVERIFY(session_->load(path.toStdString(), true));
        QTRY_VERIFY_WITH_TIMEOUT(!session_->running(), 20000);
        QCOMPARE(BlockBytes(session_->image()), BlockBytes(image));
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<PreviewSession> session_;
    size_t blocks_ = 0;
    int previews_ = 0;
};

QTEST_MAIN(PreviewSessionTest)
#include "preview_session_test.moc"
