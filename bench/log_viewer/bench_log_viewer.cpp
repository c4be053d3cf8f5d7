// The send log viewer on a log of 1,000,000 records: opening it (the file read into the three
// lists and the window shown), then choosing TitleEntries; peak memory of the run.
#include "bench/support/python_csv_peer.h"
#include "common/sjis_list_model.h"
#include "log/log_window.h"
#include "log/send_log.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRecords = 1000000;
constexpr int kRecipientsPerRun = 50;
constexpr int kRunsPerDay = 20;

// Shift-JIS: 定例会議のご案内, 年末のご挨拶, 研修のお知らせ, 山田, 佐藤, 鈴木.
const char* const kTitles[] = {"\x92\xe8\x97\xe1\x89\xef\x8b\x63\x82\xcc\x82\xb2\x88\xc4\x93\xe0",
                               "\x94\x4e\x96\x96\x82\xcc\x82\xb2\x88\xa5\x8e\x41",
                               "\x8c\xa4\x8f\x43\x82\xcc\x82\xa8\x92\x6d\x82\xe7\x82\xb9", "Newsletter"};
const char* const kNames[] = {"\x8e\x52\x93\x63", "\x8d\xb2\x93\xa1", "\x97\xe9\x96\xd8", "tanaka"};

// 20,000 runs of 50 recipients, 20 runs a day over 1,000 days. Four titles take turns, so every
// title comes back several times a day: choosing an entry gathers the records of five runs.
// Written line by line, so nothing of the file stays in this process's memory.
struct Fixture {
    std::string dir;
    std::string path;
    bench::CountingDialogs dialogs;
    Settings settings;
    QWidget mainWindow;
    std::unique_ptr<TTSY_LogF> window;

    Fixture() {
        char name[] = "/tmp/bench_log_viewer_XXXXXX";
        if (::mkdtemp(name) == nullptr)
            throw std::runtime_error("cannot make a temporary folder");
        dir = name;
        path = dir + "/Log.txt";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            throw std::runtime_error("cannot write the log");
        for (int i = 0; i < kRecords; ++i) {
            const int run = i / kRecipientsPerRun;
            const int day = run / kRunsPerDay;
            tessaly::LocalTime t{2000 + day / 336, 1 + (day / 28) % 12, 1 + day % 28, 8 + (run % kRunsPerDay) / 2,
                                 (run % 2) * 30 + (i % kRecipientsPerRun) / 60, i % 60};
            std::fprintf(f, "\"%s\",\"%s\",\"%s%d\"\r\n", tessaly::SendLog_TimeText(t).c_str(), kTitles[run % 4],
                         kNames[i % 4], i % kRecipientsPerRun);
        }
        std::fclose(f);
        settings.Log = path;
        window = std::make_unique<TTSY_LogF>(dialogs, settings, &mainWindow, [] {});
    }
    ~Fixture() { std::filesystem::remove_all(dir); }

    void check() const {
        if (dialogs.messages != 0 || window->titleEntries().size() != kRecords / kRecipientsPerRun)
            throw std::runtime_error("the viewer did not read the log");
    }
};

// Made on first use and released before the application object goes.
std::unique_ptr<Fixture> theFixture;
Fixture& fixture() {
    if (!theFixture)
        theFixture = std::make_unique<Fixture>();
    return *theFixture;
}

void BM_OpenViewer(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.window->open();
        QApplication::processEvents(); // the first paint of the lists
        state.PauseTiming();
        f.check();
        f.window->close();
        state.ResumeTiming();
    }
    state.counters["records"] = static_cast<double>(f.window->tempEntries().size());
    state.counters["title_entries"] = static_cast<double>(f.window->titleEntries().size());
    state.counters["peak_rss_MB"] = bench::peakRssMb();
}
BENCHMARK(BM_OpenViewer)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SelectTitleEntry(benchmark::State& state) {
    Fixture& f = fixture();
    f.window->open();
    f.check();
    QListView* titles = f.window->Lst_Log_Title;
    const int rows = titles->model()->rowCount();
    int row = 0;
    std::size_t details = 0;
    for (auto _ : state) {
        // Spread over the whole list: early, middle and late entries.
        row = (row + 7919) % rows;
        titles->selectionModel()->setCurrentIndex(titles->model()->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect);
        QApplication::processEvents(); // the lower list drawn
        details = f.window->detailEntries().size();
    }
    f.window->close();
    if (details == 0)
        state.SkipWithError("a TitleEntry listed no recipients");
    state.counters["details"] = static_cast<double>(details);
    state.counters["peak_rss_MB"] = bench::peakRssMb();
}
BENCHMARK(BM_SelectTitleEntry)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theFixture.reset();
    return 0;
}
