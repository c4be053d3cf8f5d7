// Unicode <-> code page 932 at the sizes the program meets: an address book of 100,000 records
// decoded field by field for display, and names encoded back one by one; and code page 932 to
// UTF-8 beside glibc iconv in the same run.
#include "common/cp932.h"

#include <benchmark/benchmark.h>
#include <iconv.h>
#include <stdexcept>
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

// The peer: glibc iconv CP932 -> UTF-8 with one descriptor kept open, as a careful caller would.
class IconvDecoder {
public:
    IconvDecoder() : cd_(iconv_open("UTF-8", "CP932")) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert CP932 to UTF-8");
    }
    ~IconvDecoder() { iconv_close(cd_); }
    IconvDecoder(const IconvDecoder&) = delete;
    IconvDecoder& operator=(const IconvDecoder&) = delete;

    std::string operator()(const std::string& bytes) {
        std::string out(bytes.size() * 3, '\0');
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        char* o = out.data();
        std::size_t outLeft = out.size();
        if (iconv(cd_, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1))
            throw std::runtime_error("iconv refused the text");
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    iconv_t cd_;
};

// What the UTF-8 messages convert: a body line by line (1,000 lines of Japanese with NEC and
// IBM extension characters), and the address book's fields one by one.
std::vector<std::string> bodyLines() {
    std::vector<std::string> lines;
    for (int i = 0; i < 1000; ++i)
        lines.push_back(cp932::fromUtf8("①髙橋様、㈱テサリーの会議は午後３時〜５時、第２会議室です。ｶﾀｶﾅ" +
                                        std::to_string(i))
                            .bytes);
    return lines;
}

template <typename Decode>
void decodeAll(benchmark::State& state, const std::vector<std::string>& texts, Decode decode) {
    std::size_t bytes = 0;
    for (const auto& t : texts)
        bytes += t.size();
    for (auto _ : state)
        for (const auto& t : texts)
            benchmark::DoNotOptimize(decode(t));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void ToUtf8Body_Ours(benchmark::State& state) {
    decodeAll(state, bodyLines(), [](const std::string& t) { return cp932::toUtf8(t); });
}
BENCHMARK(ToUtf8Body_Ours)->Unit(benchmark::kMicrosecond);

void ToUtf8Body_Iconv(benchmark::State& state) {
    IconvDecoder iconvDecode;
    decodeAll(state, bodyLines(), [&](const std::string& t) { return iconvDecode(t); });
}
BENCHMARK(ToUtf8Body_Iconv)->Unit(benchmark::kMicrosecond);

void ToUtf8AddressBook_Iconv(benchmark::State& state) {
    IconvDecoder iconvDecode;
    decodeAll(state, addressBookFields(static_cast<int>(state.range(0))),
              [&](const std::string& t) { return iconvDecode(t); });
}
BENCHMARK(ToUtf8AddressBook_Iconv)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
