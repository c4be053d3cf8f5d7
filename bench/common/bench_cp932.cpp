// Unicode <-> code page 932 at the sizes the program meets: an address book of 100,000 records
// decoded field by field for display, and names encoded back one by one.
#include "common/cp932.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

// Fields of a typical record: group, member, name (Japanese), address (ASCII), flag.
std::vector<std::string> addressBookFields(int records) {
    const std::string group = cp932::fromUtf8("営業部").bytes;
    const std::string member = cp932::fromUtf8("第一課　東京").bytes;
    const std::string name = cp932::fromUtf8("山田　太郎～ｶﾀｶﾅ").bytes;
    std::vector<std::string> fields;
    fields.reserve(static_cast<std::size_t>(records) * 5);
    for (int i = 0; i < records; ++i) {
        fields.push_back(group);
        fields.push_back(member);
        fields.push_back(name + std::to_string(i));
        fields.push_back("taro.yamada" + std::to_string(i) + "@example.co.jp");
        fields.push_back("0");
    }
    return fields;
}

void DecodeAddressBook(benchmark::State& state) {
    const auto fields = addressBookFields(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (const auto& f : fields)
        bytes += f.size();
    for (auto _ : state)
        for (const auto& f : fields)
            benchmark::DoNotOptimize(cp932::toUtf8(f));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["fields"] = static_cast<double>(fields.size());
}
BENCHMARK(DecodeAddressBook)->Arg(100000)->Unit(benchmark::kMillisecond);

void EncodeAddressBook(benchmark::State& state) {
    std::vector<std::string> fields;
    for (const auto& f : addressBookFields(static_cast<int>(state.range(0))))
        fields.push_back(cp932::toUtf8(f));
    for (auto _ : state)
        for (const auto& f : fields)
            benchmark::DoNotOptimize(cp932::fromUtf8(f));
}
BENCHMARK(EncodeAddressBook)->Arg(100000)->Unit(benchmark::kMillisecond);

// A body of 1,000 Japanese lines in one piece, both ways.
void LongText(benchmark::State& state) {
    std::string utf8;
    for (int i = 0; i < 1000; ++i)
        utf8 += "本日の会議は午後３時〜５時、第２会議室で行います。ご出席ください。\r\n";
    const std::string sjis = cp932::fromUtf8(utf8).bytes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cp932::fromUtf8(utf8));
        benchmark::DoNotOptimize(cp932::toUtf8(sjis));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (utf8.size() + sjis.size())));
}
BENCHMARK(LongText)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
