// The editing operations on the script, without a window.
#include "app/script_document.h"

#include "app_test_support.h"

#include <QtTest>

using namespace apptest;

namespace {

// A script of the given kinds, as the window would hold it.
void Fill(ScriptDocument& doc, std::initializer_list<int32_t> ids) {
    for (int32_t id : ids)
        doc.add(id, doc.count() - 1, [](CScriptCommand&) { return true; });
}

std::vector<int32_t> Ids(const ScriptDocument& doc) {
    std::vector<int32_t> out;
    for (int i = 0; i < doc.count(); ++i)
        out.push_back(doc.script().GetCommand(i)->m_nID);
    return out;
}

} // namespace

class ScriptDocumentTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        QVERIFY(dir_.isValid());
        FreshSettings(dir_);
        blocks_ = KML_LiveBlockCount();
    }
    void cleanup() { QCOMPARE(KML_LiveBlockCount(), blocks_); }

    void startsUntitledAndUnmodified() {
        ScriptDocument doc;
        QCOMPARE(doc.path(), std::string("UNTITLED"));
        QVERIFY(doc.untitled());
        QVERIFY(!doc.modified());
        QCOMPARE(doc.caption(), std::string("Brellix - UNTITLED"));
    }

    void addInsertsAfterTheSelectedLineOrAppends_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("no selection appends") << -1 << QList<int>{CMD_FLIP, CMD_MIRROR, CMD_BLUR};
        QTest::newRow("after the first line") << 0 << QList<int>{CMD_FLIP, CMD_BLUR, CMD_MIRROR};
        QTest::newRow("after the last line") << 1 << QList<int>{CMD_FLIP, CMD_MIRROR, CMD_BLUR};
    }
    void addInsertsAfterTheSelectedLineOrAppends() {
        QFETCH(int, selected);
        QFETCH(QList<int>, expected);
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP, CMD_MIRROR});
        const auto r = doc.add(CMD_BLUR, selected, [](CScriptCommand&) { return true; });
        QCOMPARE(r.outcome, ScriptDocument::AddOutcome::Added);
        QCOMPARE(doc.script().GetCommand(r.line)->m_nID, CMD_BLUR);
        const std::vector<int32_t> ids = Ids(doc);
        QCOMPARE(QList<int>(ids.begin(), ids.end()), expected);
        QVERIFY(doc.modified());
    }

    void addRunsTheEditorOnTheNewCommandWithItsKind() {
        ScriptDocument doc;
        int32_t seen = 0;
        const auto r = doc.add(CMD_GAMMA, -1, [&seen](CScriptCommand& c) {
            seen = c.m_nID;
            c.m_fParam[0] = 2.5f;
            return true;
        });
        QCOMPARE(seen, CMD_GAMMA);
        QCOMPARE(doc.script().GetCommand(r.line)->m_fParam[0], 2.5f);
    }

    void cancellingANewCommandLeavesTheScriptAsBefore() {
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP, CMD_MIRROR});
        QVERIFY(doc.saveAs(dir_.filePath("a.ksc").toStdString(), nullptr));
        const auto r = doc.add(CMD_GAMMA, 0, [](CScriptCommand&) { return false; });
        QCOMPARE(r.outcome, ScriptDocument::AddOutcome::Cancelled);
        QCOMPARE(Ids(doc), (std::vector<int32_t>{CMD_FLIP, CMD_MIRROR}));
        QVERIFY(!doc.modified());
    }

    void aSecondSettingsCommandIsRefusedAndNamesTheFirst_data() {
        QTest::addColumn<int>("id");
        QTest::newRow("Set Output Options") << int(CMD_SET_OUTPUT_OPTIONS);
        QTest::newRow("Set Input Options") << int(CMD_SET_INPUT_OPTIONS);
    }
    void aSecondSettingsCommandIsRefusedAndNamesTheFirst() {
        QFETCH(int, id);
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP, id, CMD_MIRROR});
        int edits = 0;
        const auto r = doc.add(id, 2, [&edits](CScriptCommand&) { return ++edits > 0; });
        QCOMPARE(r.outcome, ScriptDocument::AddOutcome::OnlyOnce);
        QCOMPARE(r.line, 1);
        QCOMPARE(doc.count(), 3);
        QCOMPARE(edits, 0);
    }

    void anUnknownKindIsNotAdded() {
        ScriptDocument doc;
        QCOMPARE(doc.add(562, -1, [](CScriptCommand&) { return true; }).outcome,
                 ScriptDocument::AddOutcome::Unknown);
        QCOMPARE(doc.count(), 0);
    }

    void deleteSelectsTheLineNowAtThatPlace_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("select");
        QTest::addColumn<QList<int>>("left");
        QTest::newRow("first") << 0 << 0 << QList<int>{CMD_MIRROR, CMD_BLUR};
        QTest::newRow("middle") << 1 << 1 << QList<int>{CMD_FLIP, CMD_BLUR};
        QTest::newRow("last selects the new last") << 2 << 1 << QList<int>{CMD_FLIP, CMD_MIRROR};
        QTest::newRow("no line") << -1 << -1 << QList<int>{CMD_FLIP, CMD_MIRROR, CMD_BLUR};
    }
    void deleteSelectsTheLineNowAtThatPlace() {
        QFETCH(int, line);
        QFETCH(int, select);
        QFETCH(QList<int>, left);
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP, CMD_MIRROR, CMD_BLUR});
        QVERIFY(doc.saveAs(dir_.filePath("d.ksc").toStdString(), nullptr));
        QCOMPARE(doc.remove(line), select);
        const std::vector<int32_t> ids = Ids(doc);
        QCOMPARE(QList<int>(ids.begin(), ids.end()), left);
        QCOMPARE(doc.modified(), line >= 0);
    }

    void deletingTheOnlyLineLeavesNothingSelected() {
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP});
        QCOMPARE(doc.remove(0), -1);
        QCOMPARE(doc.count(), 0);
    }

    void moveExchangesNeighboursAndFollowsTheCommand_data() {
        QTest::addColumn<bool>("up");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("moved");
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("up from the middle")
            << true << 1 << 0 << QList<int>{CMD_MIRROR, CMD_FLIP, CMD_BLUR};
        QTest::newRow("down from the middle")
            << false << 1 << 2 << QList<int>{CMD_FLIP, CMD_BLUR, CMD_MIRROR};
        QTest::newRow("up on the first line")
            << true << 0 << -1 << QList<int>{CMD_FLIP, CMD_MIRROR, CMD_BLUR};
        QTest::newRow("down on the last line")
            << false << 2 << -1 << QList<int>{CMD_FLIP, CMD_MIRROR, CMD_BLUR};
        QTest::newRow("no line") << false << -1 << -1 << QList<int>{CMD_FLIP, CMD_MIRROR, CMD_BLUR};
    }
    void moveExchangesNeighboursAndFollowsTheCommand() {
        QFETCH(bool, up);
        QFETCH(int, line);
        QFETCH(int, moved);
        QFETCH(QList<int>, order);
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP, CMD_MIRROR, CMD_BLUR});
        QVERIFY(doc.saveAs(dir_.filePath("m.ksc").toStdString(), nullptr));
        const CScriptCommand* c = doc.script().GetCommand(line);
        QCOMPARE(up ? doc.moveUp(line) : doc.moveDown(line), moved);
        const std::vector<int32_t> ids = Ids(doc);
        QCOMPARE(QList<int>(ids.begin(), ids.end()), order);
        QCOMPARE(doc.modified(), moved >= 0);
        if (moved >= 0) QCOMPARE(doc.script().IndexOf(c), moved);
    }

    void editSetsTheFlagOnlyWhenConfirmed() {
        ScriptDocument doc;
        Fill(doc, {CMD_GAMMA});
        QVERIFY(doc.saveAs(dir_.filePath("e.ksc").toStdString(), nullptr));
        QVERIFY(!doc.edit(0, [](CScriptCommand&) { return false; }));
        QVERIFY(!doc.modified());
        QVERIFY(!doc.edit(3, [](CScriptCommand&) { return true; }));
        QVERIFY(doc.edit(0, [](CScriptCommand& c) { return c.m_nID == CMD_GAMMA; }));
        QVERIFY(doc.modified());
    }

    void parameterlessKindsNeedNoDialogAndALockablePreviewIsRequired() {
        int dialogs = 0;
        auto dialog = [&dialogs](CScriptCommand&) {
            ++dialogs;
            return false;
        };
        CScriptCommand blur(CMD_BLUR), gamma(CMD_GAMMA);
        QVERIFY(EditCommand(blur, nullptr, dialog));
        QCOMPARE(dialogs, 0);
        QVERIFY(!EditCommand(gamma, nullptr, dialog));
        QCOMPARE(dialogs, 0);
        KOwnedHandle preview(MakeImage(4, 4, 24, 1));
        QVERIFY(!EditCommand(gamma, preview.get(), dialog));
        QCOMPARE(dialogs, 1);
    }

    void theClipboardBlockIsTheRecordAndFourSpareBytes_data() {
        QTest::addColumn<QString>("s0");
        QTest::addColumn<QString>("s1");
        QTest::newRow("empty strings") << ""
                                       << "";
        QTest::newRow("a watermark path") << "/home/u/marks/été.png"
                                          << "";
        QTest::newRow("both strings") << "a"
                                      << "bc";
    }
    void theClipboardBlockIsTheRecordAndFourSpareBytes() {
        QFETCH(QString, s0);
        QFETCH(QString, s1);
        ScriptDocument doc;
        Fill(doc, {CMD_OVERLAY_WATERMARK});
        CScriptCommand& c = *doc.script().GetCommand(0);
        c.m_nParam = {1, -2, 3, PARAM_UNSET, 5, 6, 7, 8, 9, 10};
        c.m_fParam = {1.5f, PARAM_UNSET_FLOAT};
        c.m_strParam = {s0.toStdString(), s1.toStdString()};
        c.m_crColor = {RGB(1, 2, 3), RGB(250, 251, 252)};
        const std::vector<uint8_t> block = doc.copy(0);
        const QByteArray record = HandMadeRecord(c);
        QCOMPARE(block.size(), size_t(record.size()) + 4);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(block.data()), record.size()), record);
        QCOMPARE(record.size(), 62 + s0.toUtf8().size() + s1.toUtf8().size());
    }

    void copyOfNoLineIsEmpty() {
        ScriptDocument doc;
        QVERIFY(doc.copy(0).empty());
        QVERIFY(doc.copy(-1).empty());
    }

    void pasteInsertsAfterTheSelectionEveryFieldIntact() {
        ScriptDocument from;
        Fill(from, {CMD_ADD_BORDERS});
        CScriptCommand& c = *from.script().GetCommand(0);
        c.m_nParam = {11, 12, 13, 14, PARAM_UNSET, 0, -7, 0, 0, 2147483647};
        c.m_fParam = {PARAM_UNSET_FLOAT, -0.25f};
        c.m_strParam = {"left", ""};
        c.m_crColor = {RGB(9, 8, 7), 0};
        const std::vector<uint8_t> block = from.copy(0);

        ScriptDocument to;
        Fill(to, {CMD_FLIP, CMD_MIRROR});
        QVERIFY(to.saveAs(dir_.filePath("p.ksc").toStdString(), nullptr));
        const auto r = to.paste(block, 0);
        QCOMPARE(r.outcome, ScriptDocument::PasteOutcome::Pasted);
        QCOMPARE(r.line, 1);
        QVERIFY(to.modified());
        const CScriptCommand& p = *to.script().GetCommand(1);
        QCOMPARE(p.m_nID, c.m_nID);
        QVERIFY(p.m_nParam == c.m_nParam);
        QCOMPARE(std::memcmp(p.m_fParam.data(), c.m_fParam.data(), 8), 0);
        QVERIFY(p.m_strParam == c.m_strParam);
        QVERIFY(p.m_crColor == c.m_crColor);
        QCOMPARE(to.paste(block, -1).line, 3);
    }

    void pasteRefusesDamagedRecordsAndASecondSettingsCommand_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("outcome");
        CScriptCommand blur(CMD_BLUR);
        const QByteArray good = HandMadeRecord(blur);
        CScriptCommand bad(600);
        CScriptCommand output(CMD_SET_OUTPUT_OPTIONS);
        const int damaged = int(ScriptDocument::PasteOutcome::Damaged);
        QTest::newRow("shorter than the fixed part") << good.left(59) << damaged;
        QTest::newRow("S1 without its terminator") << good.left(good.size() - 1) << damaged;
        QTest::newRow("no bytes") << QByteArray() << damaged;
        QTest::newRow("not a command ID") << HandMadeRecord(bad) << damaged;
        QTest::newRow("a second Set Output Options")
            << HandMadeRecord(output) << int(ScriptDocument::PasteOutcome::OnlyOnce);
        QTest::newRow("a good record") << good << int(ScriptDocument::PasteOutcome::Pasted);
    }
    void pasteRefusesDamagedRecordsAndASecondSettingsCommand() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, outcome);
        ScriptDocument doc;
        Fill(doc, {CMD_SET_OUTPUT_OPTIONS});
        QVERIFY(doc.saveAs(dir_.filePath("r.ksc").toStdString(), nullptr));
        const auto r = doc.paste(
            std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())),
            0);
        QCOMPARE(int(r.outcome), outcome);
        const bool pasted = r.outcome == ScriptDocument::PasteOutcome::Pasted;
        QCOMPARE(doc.count(), pasted ? 2 : 1);
        QCOMPARE(doc.modified(), pasted);
        if (r.outcome == ScriptDocument::PasteOutcome::OnlyOnce) QCOMPARE(r.line, 0);
    }

    void openReplacesTheScriptAndSavingWritesWhatTheConsoleWrites() {
        CScript console;
        auto c = std::make_unique<CScriptCommand>(CMD_ROTATE);
        c->m_nParam[0] = 33;
        c->m_strParam[1] = "kept";
        console.InsertCommand(std::move(c), -1);
        console.InsertCommand(std::make_unique<CScriptCommand>(CMD_BLUR), 0);
        const QString a = dir_.filePath("console.ksc");
        QVERIFY(console.Save(a.toStdString()));

        ScriptDocument doc;
        Fill(doc, {CMD_FLIP});
        std::string message;
        QVERIFY(doc.open(a.toStdString(), &message));
        QCOMPARE(doc.path(), a.toStdString());
        QCOMPARE(doc.caption(), "Brellix - " + a.toStdString());
        QVERIFY(!doc.modified());
        QCOMPARE(Ids(doc), (std::vector<int32_t>{CMD_ROTATE, CMD_BLUR}));
        const QString b = dir_.filePath("window.ksc");
        QVERIFY(doc.saveAs(b.toStdString(), &message));
        QCOMPARE(FileBytes(b), FileBytes(a));
        QCOMPARE(doc.path(), b.toStdString());
    }

    void anOlderFileVersionOpensModified_data() {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<bool>("modified");
        QTest::newRow("1.1 is older") << 1 << 1 << true;
        QTest::newRow("1.2 is current") << 1 << 2 << false;
        QTest::newRow("0.7 is accepted as it is") << 0 << 7 << false;
    }
    void anOlderFileVersionOpensModified() {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(bool, modified);
        QByteArray file("KERV Batch Script", 17);
        file.append('\0').append(char(major)).append(char(minor));
        file.append(QByteArray(4, '\0'));
        const QString path = dir_.filePath("v.ksc");
        QVERIFY(WriteBytes(path, file));
        ScriptDocument doc;
        QVERIFY(doc.open(path.toStdString(), nullptr));
        QCOMPARE(doc.modified(), modified);
        QCOMPARE(doc.count(), 0);
    }

    void aFileThatCannotBeLoadedLeavesEverythingAsItWas_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QByteArray header("KERV Batch Script", 17);
        header.append('\0').append(char(1)).append(char(2));
        QByteArray hugeCount = header;
        hugeCount.append(QByteArray::fromHex("ffffff7f"));
        QTest::newRow("not a script")
            << QByteArray("hello, world") << "This does not appear to be a valid script file";
        QTest::newRow("count beyond the file")
            << hugeCount << "This does not appear to be a valid script file";
        QByteArray newer("KERV Batch Script", 17);
        newer.append('\0').append(char(1)).append(char(3)).append(QByteArray(4, '\0'));
        QTest::newRow("a newer version") << newer
                                         << "This is not a valid script file or it was written by "
                                            "a newer version of Kerv Brellix.";
    }
    void aFileThatCannotBeLoadedLeavesEverythingAsItWas() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString damaged = dir_.filePath("damaged.ksc");
        QVERIFY(WriteBytes(damaged, bytes));
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP, CMD_BLUR});
        const std::string kept = dir_.filePath("kept.ksc").toStdString();
        QVERIFY(doc.saveAs(kept, nullptr));
        doc.add(CMD_MIRROR, -1, [](CScriptCommand&) { return true; });
        std::string text;
        QVERIFY(!doc.open(damaged.toStdString(), &text));
        QCOMPARE(QString::fromStdString(text), message);
        QCOMPARE(Ids(doc), (std::vector<int32_t>{CMD_FLIP, CMD_BLUR, CMD_MIRROR}));
        QCOMPARE(doc.path(), kept);
        QVERIFY(doc.modified());
        QCOMPARE(FileBytes(damaged), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    void aMissingFileIsReportedWithTheSystemsReason() {
        ScriptDocument doc;
        std::string text;
        QVERIFY(!doc.open(dir_.filePath("none.ksc").toStdString(), &text));
        QVERIFY2(QString::fromStdString(text).startsWith("The script could not be loaded because "),
                 text.c_str());
        QVERIFY(doc.untitled());
    }

    void aFailedSaveKeepsTheFlagAndThePath() {
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP});
        std::string text;
        QVERIFY(!doc.saveAs(dir_.filePath("no/such/folder/x.ksc").toStdString(), &text));
        QVERIFY(
            QString::fromStdString(text).startsWith("The script file could not be saved because "));
        QVERIFY(doc.modified());
        QVERIFY(doc.untitled());
    }

    void newEmptiesTheScript() {
        ScriptDocument doc;
        Fill(doc, {CMD_FLIP});
        QVERIFY(doc.saveAs(dir_.filePath("n.ksc").toStdString(), nullptr));
        doc.add(CMD_BLUR, -1, [](CScriptCommand&) { return true; });
        doc.reset();
        QCOMPARE(doc.count(), 0);
        QVERIFY(doc.untitled());
        QVERIFY(!doc.modified());
    }

    void recentFilesKeepTheFourNewestWithoutRepeats() {
        RecentFiles recent;
        for (const char* p : {"/a.ksc", "/b.ksc", "/c.ksc", "/d.ksc", "/e.ksc", "/c.ksc"})
            recent.add(p);
        QCOMPARE(recent.files(),
                 (std::vector<std::string>{"/c.ksc", "/e.ksc", "/d.ksc", "/b.ksc"}));
        recent.store(AppSettings());
        QCOMPARE(AppSettings().GetText("Recent File List", "File1", ""), std::string("/c.ksc"));
        QCOMPARE(AppSettings().GetText("Recent File List", "File4", ""), std::string("/b.ksc"));
        RecentFiles again;
        again.load(AppSettings());
        QCOMPARE(again.files(), recent.files());
        again.remove("/e.ksc");
        again.store(AppSettings());
        QVERIFY(!AppSettings().GetRaw("Recent File List", "File4"));
        RecentFiles third;
        third.load(AppSettings());
        QCOMPARE(third.files(), (std::vector<std::string>{"/c.ksc", "/d.ksc", "/b.ksc"}));
    }

  private:
    QTemporaryDir dir_;
    size_t blocks_ = 0;
};

QTEST_MAIN(ScriptDocumentTest)
#include "script_document_test.moc"
