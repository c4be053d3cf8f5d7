// Reading a 1,000,000-record send log into the viewer's entries, beside Python's csv module
// reading the same file; peak memory of the run.
#include "log/send_log.h"
#include "bench/support/python_csv_peer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRecords = 1000000;
constexpr int kRecipientsPerRun = 40;

// Shift-JIS titles and names: 定例会議のご案内, 年末のご挨拶, 山田, 佐藤.
const char* const kTitles[] = {"\x92\xe8\x97\xe1\x89\xef\x8b\x63\x82\xcc\x82\xb2\x88\xc4\x93\xe0",
                               "\x94\x4e\x96\x96\x82\xcc\x82\xb2\x88\xa5\x8e\x41", "Newsletter"};
const char* const kNames[] = {"\x8e\x52\x93\x63", "\x8d\xb2\x93\xa1", "tanaka"};

struct Fixture {
    std::string dir;
    std::string path;
    bench::CountingDialogs dialogs;

    // Written line by line: nothing of the file stays in this process's memory.
    Fixture() {
        char name[] = "/tmp/bench_send_log_XXXXXX";
        dir = ::mkdtemp(name);
        path = dir + "/Log.txt";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            throw std::runtime_error("cannot write the log");
        tessaly::LocalTime t{2020, 1, 1, 8, 0, 0};
        for (int i = 0; i < kRecords; ++i) {
            const int run = i / kRecipientsPerRun;
            t.day = 1 + (run / 20) % 28;
            t.month = 1 + (run / 560) % 12;
            t.hour = 8 + run % 10;
            t.second = i % 60;
            std::fprintf(f, "\"%s\",\"%s\",\"%s%d\"\r\n", tessaly::SendLog_TimeText(t).c_str(), kTitles[run % 3],
                         kNames[i % 3], i);
        }
        std::fclose(f);
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_SendLogLoad(benchmark::State& state) {
    Fixture& f = fixture();
    tessaly::SendLogEntries entries;
    for (auto _ : state) {
        if (!tessaly::SendLog_Load(f.path, f.dialogs, nullptr, {}, entries))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(entries.tempEntries.data());
    }
    state.counters["temp_entries"] = static_cast<double>(entries.tempEntries.size());
    state.counters["title_entries"] = static_cast<double>(entries.titleEntries.size());
    state.counters["peak_rss_MB"] = bench::peakRssMb();
}
BENCHMARK(BM_SendLogLoad)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PythonCsvRead(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        state.SetIterationTime(bench::pythonCsvReadSeconds(f.path));
}
BENCHMARK(BM_PythonCsvRead)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
