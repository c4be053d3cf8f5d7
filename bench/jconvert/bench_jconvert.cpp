// Mail lines to ISO-2022-JP the way a send run converts them (one line at a time, CR LF
// appended), against glibc iconv converting the same lines.
#include "jconvert/jconvert.h"

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Pieces of a circular: kanji with kana, some ASCII, some half-width katakana. The second
// member is the width in characters.
struct Piece {
    const char* utf8;
    int chars;
};
const Piece kPieces[] = {
    {"いつもお世話になっております。", 15}, {"株式会社", 4},         {"総務部の", 4},
    {"来週の定例会議について", 11},        {"ご連絡いたします。", 9}, {"日時は", 3},
    {"12月15日(火) 14:00-16:00", 24},      {"、場所は", 4},           {"本社3階第2会議室です。", 12},
    {"資料は", 3},                         {"添付のとおりです", 8},   {"ご確認ください。", 8},
    {"ｶﾞｲﾄﾞﾌﾞｯｸ", 9},                      {"ﾊﾟﾝﾌﾚｯﾄ", 7},            {"ﾃﾞｰﾀ", 4},
    {"URL: http://example.jp/info", 27},   {"よろしくお願い申し上げます。", 14},
    {"出欠のご返信を", 7},                 {"お待ちしております", 9}, {"なお、", 3},
    {"駐車場はありません", 9},             {"ので、", 3},             {"公共交通機関を", 7},
    {"ご利用ください", 7},                 {"TEL 03-1234-5678", 16},  {"担当:山田", 5},
    {" ", 1},                              {"【重要】", 4},           {"★", 1},
};

std::string ToCp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() * 2 + 8, '\0');
    char* src = const_cast<char*>(utf8.data());
    std::size_t srcLeft = utf8.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        throw std::runtime_error("bench text not in CP932");
    out.resize(out.size() - dstLeft);
    return out;
}

// Deterministic Shift-JIS lines of 40 to 80 characters, each with CR LF appended.
const std::vector<std::string>& MailLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> sjis;
        for (const Piece& p : kPieces)
            sjis.push_back(ToCp932(p.utf8));
        std::vector<std::string> v;
        std::uint32_t seed = 12345;
        auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        const std::size_t count = sizeof(kPieces) / sizeof(kPieces[0]);
        for (int n = 0; n < 2000; ++n) {
            const int want = 40 + static_cast<int>(next() % 41);
            std::string line;
            int chars = 0;
            while (chars < want) {
                const std::size_t k = next() % count;
                if (chars + kPieces[k].chars > 80)
                    continue;
                line += sjis[k];
                chars += kPieces[k].chars;
            }
            v.push_back(line + "\r\n");
        }
        return v;
    }();
    return lines;
}

std::int64_t TotalBytes(const std::vector<std::string>& lines) {
    std::int64_t n = 0;
    for (const std::string& l : lines)
        n += static_cast<std::int64_t>(l.size());
    return n;
}

void BM_JconvertToJis(benchmark::State& state) {
    const auto& lines = MailLines();
    for (auto _ : state) {
        for (const std::string& line : lines) {
            std::string jis = jconvert::Convert(line, jconvert::JIS);
            benchmark::DoNotOptimize(jis.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * TotalBytes(lines));
}
BENCHMARK(BM_JconvertToJis);

// iconv refuses half-width katakana in ISO-2022-JP unless asked to transliterate.
void BM_IconvToJis(benchmark::State& state) {
    const auto& lines = MailLines();
    iconv_t cd = iconv_open("ISO-2022-JP//TRANSLIT", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv cannot convert CP932 to ISO-2022-JP");
        return;
    }
    for (auto _ : state) {
        for (const std::string& line : lines) {
            std::string jis(line.size() * 4 + 16, '\0');
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            char* src = const_cast<char*>(line.data());
            std::size_t srcLeft = line.size();
            char* dst = jis.data();
            std::size_t dstLeft = jis.size();
            iconv(cd, &src, &srcLeft, &dst, &dstLeft);
            iconv(cd, nullptr, nullptr, &dst, &dstLeft);
            jis.resize(jis.size() - dstLeft);
            benchmark::DoNotOptimize(jis.data());
        }
    }
    iconv_close(cd);
    state.SetBytesProcessed(state.iterations() * TotalBytes(lines));
}
BENCHMARK(BM_IconvToJis);

} // namespace

BENCHMARK_MAIN();
