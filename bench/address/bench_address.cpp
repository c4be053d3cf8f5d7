// Loading a 100,000-entry address book and one search by name over it, beside Python's csv
// module reading the same file.
#include "address/address_book.h"
#include "bench/support/python_csv_peer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kGroups = 50;
constexpr int kMembersPerGroup = 20;
constexpr int kEntriesPerMember = 100; // 50 * 20 * 100 = 100,000 entries
const std::string kWanted = "\x93\x63\x92\x86\x91\xbe\x98\x59"; // 田中太郎, given to one entry only

// Shift-JIS family names: 山田, 佐藤, 鈴木, 高橋, 伊藤.
const char* const kFamilies[] = {"\x8e\x52\x93\x63", "\x8d\xb2\x93\xa1", "\x97\xe9\x96\xd8",
                                 "\x8d\x82\x8b\xb4", "\x88\xc9\x93\xa1"};

struct Fixture {
    std::string dir;
    std::string path; // file-system path, ASCII: the same bytes as Shift-JIS
    bench::CountingDialogs dialogs;

    Fixture() {
        char name[] = "/tmp/bench_address_XXXXXX";
        dir = ::mkdtemp(name);
        path = dir + "/Address.csv";
        tessaly::AddressBook book(dialogs);
        std::vector<std::string> records;
        records.emplace_back(tessaly::address::kBookMarker);
        std::uint32_t seed = 7;
        for (int g = 0; g < kGroups; ++g) {
            const std::string group = (g % 2 ? "Group" : "\x89\x63\x8b\xc6") + std::to_string(g); // 営業
            records.push_back(tessaly::AddressRecord_Join(group, "&DUMMY&", "&DUMMY&", "", "1"));
            for (int m = 0; m < kMembersPerGroup; ++m) {
                const std::string member = "Member" + std::to_string(m);
                records.push_back(tessaly::AddressRecord_Join(group, member, "&DUMMY&", "", "1"));
                for (int e = 0; e < kEntriesPerMember; ++e) {
                    seed = seed * 1664525u + 1013904223u;
                    const bool wanted = g == 17 && m == 3 && e == 42;
                    const std::string name =
                        wanted ? kWanted : kFamilies[(seed >> 8) % 5] + std::to_string((seed >> 12) % 100000);
                    const std::string mail = "user" + std::to_string(seed % 1000003) + "@example.jp";
                    records.push_back(tessaly::AddressRecord_Join(group, member, name, mail, (seed >> 20) % 4 ? "0" : "1"));
                }
            }
        }
        book.assignUnsorted(std::move(records));
        if (!tessaly::AddressBook_Save(book, path))
            throw std::runtime_error("cannot write the address book");
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_AddressBookLoad(benchmark::State& state) {
    Fixture& f = fixture();
    tessaly::AddressBook book(f.dialogs);
    for (auto _ : state) {
        const auto result = tessaly::AddressBook_Load(book, f.path, {});
        if (result != tessaly::AddressBookLoad::Loaded)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(book.records().data());
    }
    state.counters["records"] = static_cast<double>(book.size());
    state.counters["peak_rss_MB"] = bench::peakRssMb();
}
BENCHMARK(BM_AddressBookLoad)->Unit(benchmark::kMillisecond);

void BM_AddressBookFindByName(benchmark::State& state) {
    Fixture& f = fixture();
    tessaly::AddressBook book(f.dialogs);
    tessaly::AddressBook_Load(book, f.path, {});
    for (auto _ : state) {
        const auto result = tessaly::AddressBook_FindByName(book, kWanted);
        if (result.outcome != tessaly::AddressSearchResult::OneHit)
            state.SkipWithError("expected one hit");
        benchmark::DoNotOptimize(result.hits.data());
    }
}
BENCHMARK(BM_AddressBookFindByName)->Unit(benchmark::kMillisecond);

void BM_PythonCsvRead(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        state.SetIterationTime(bench::pythonCsvReadSeconds(f.path));
}
BENCHMARK(BM_PythonCsvRead)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
