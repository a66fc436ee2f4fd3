// The batch runner's own cost: a run over photo-sized BMP files against the
// bare read and write of the same files. The difference is everything the
// runner adds (list, log, checks, "CURRENT.LOG" after each file).
#include "batch/output_options.h"
#include "batch/runner.h"
#include "formats/imagefile.h"
#include "script/commands.h"
#include "script/script.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 20;

struct QuietWindow : BatchWindow {
    void logLineAdded(const std::string&) override {}
    void lastLogLineChanged(const std::string&) override {}
    void setCounterText(const std::string&) override {}
    void setStepText(const std::string&) override {}
    void setTitle(const std::string&) override {}
    void setFileName(const std::string&) override {}
    void setLineProgressLabel(const std::string&) override {}
    void setJobRange(int) override {}
    void setJobPosition(int) override {}
    void setLineProgress(int) override {}
    OverwriteAnswer askOverwrite(const std::string&) override { return OverwriteAnswer::Yes; }
    bool confirmAbort() override { return true; }
    AbortOrSkip askAbortOrSkip() override { return AbortOrSkip::Cancel; }
    void showMessage(const std::string&, MessageIcon) override {}
    UserRequests poll() override { return {}; }
    void finish() override {}
};

struct Photos {
    fs::path dir;
    std::vector<std::string> paths;
    Photos() {
        char tmpl[] = "/tmp/brellix-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        fs::create_directories(dir / "out");
        KHANDLE dib = AllocDIB(1920, 1280, 24, 0);
        {
            DIBLock d(dib);
            for (int y = 0; y < 1280; ++y)
                for (int x = 0; x < 1920 * 3; ++x)
                    d.row(y)[x] = static_cast<uint8_t>(x * 7 + y * 3);
        }
        for (int i = 0; i < kFiles; ++i) {
            paths.push_back((dir / ("p" + std::to_string(i) + ".bmp")).string());
            WriteImageFile(paths.back(), dib, 1, 1, OutputOptions{});
        }
        KML_GlobalFree(dib);
    }
    ~Photos() { fs::remove_all(dir); }
};

Photos& Inputs() {
    static Photos p;
    return p;
}

void BM_RunnerBmpToBmp(benchmark::State& st) {
    Photos& p = Inputs();
    CScript script;
    auto out = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    out->m_nParam[0] = 0;
    out->m_nParam[1] = 1;
    out->m_strParam[0] = (p.dir / "out").string();
    script.InsertCommand(std::move(out), -1);
    std::string list;
    for (const auto& f : p.paths)
        list += f + "\n";
    std::ofstream(p.dir / "list.txt") << list;
    for (auto _ : st) {
        BatchRunState s;
        s.batchListPath = (p.dir / "list.txt").string();
        s.output = OutputSettingsFromCommand(*script.FindCommand(CMD_SET_OUTPUT_OPTIONS), "/");
        s.currentLogPath = (p.dir / "CURRENT.LOG").string();
        QuietWindow w;
        BatchRunner r(script, w, s);
        r.RunConversion();
    }
    st.SetItemsProcessed(st.iterations() * kFiles);
}

void BM_ReadWriteBmpToBmp(benchmark::State& st) {
    Photos& p = Inputs();
    for (auto _ : st) {
        for (const auto& f : p.paths) {
            KHANDLE dib = nullptr;
            int format = 0;
            ReadImageFile(f, &format, &dib, nullptr, nullptr);
            const std::string outPath = (p.dir / "out" / fs::path(f).filename()).string();
            WriteImageFile(outPath, dib, 1, 1, OutputOptions{});
            KML_GlobalFree(dib);
        }
    }
    st.SetItemsProcessed(st.iterations() * kFiles);
}

BENCHMARK(BM_RunnerBmpToBmp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadWriteBmpToBmp)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
