// Reading a merge table of 100,000 rows, from a UTF-8 CSV and from the same table as an .xlsx
// workbook, beside Python's csv module reading the same CSV. Every read is a child process of its
// own, timed by itself (start-up excluded, as the Python script does), so that its peak memory is
// the kernel's ru_maxrss of that child alone. See README.md.
#include "bench/support/python_csv_peer.h"
#include "bench/support/smtp_bench_support.h"
#include "fixtures/xlsx_writer.h"
#include "mailmerge/merge_table.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 100000;
const char* const kChildFlag = "--read-table";
const char* const kWriteFlag = "--write-tables";

std::string g_csv, g_xlsx;
std::vector<double> g_csvSeconds, g_xlsxSeconds, g_pythonSeconds;
std::vector<double> g_csvPeaks, g_xlsxPeaks, g_pythonPeaks;

// A list as an office keeps it: name, address, company, postal address, amount, date.
struct Person {
    QString name, mail, company, address;
    int amount;
    int day; // days after 2026/01/01
};

Person personAt(int i) {
    static const char16_t* const family[] = {u"山田", u"佐藤", u"鈴木", u"高橋", u"田中", u"渡辺", u"伊藤", u"中村"};
    static const char16_t* const given[] = {u"太郎", u"花子", u"一郎", u"美咲", u"健太", u"由美", u"翔太", u"陽子", u"大輔"};
    static const char16_t* const company[] = {u"株式会社東西商事", u"有限会社南北物産", u"合同会社青葉企画",
                                              u"株式会社みなと製作所", u"一般社団法人さくら会"};
    static const char16_t* const town[] = {u"東京都千代田区丸の内", u"大阪府大阪市北区梅田", u"愛知県名古屋市中区栄",
                                           u"福岡県福岡市博多区博多駅前", u"北海道札幌市中央区大通西"};
    return {QString::fromUtf16(family[i % 8]) + u' ' + QString::fromUtf16(given[(i / 8) % 9]),
            QStringLiteral("member%1@example.jp").arg(i),
            QString::fromUtf16(company[i % 5]) + QStringLiteral(" 総務部"),
            QString::fromUtf16(town[(i / 5) % 5]) + QStringLiteral("%1丁目%2番%3号").arg(i % 9 + 1).arg(i % 30 + 1).arg(i % 17 + 1),
            1000 + (i * 37) % 250000, i % 365};
}

void writeTables(const QString& folder) {
    const QStringList header{QStringLiteral("氏名"), QStringLiteral("メールアドレス"), QStringLiteral("会社名"),
                             QStringLiteral("住所"), QStringLiteral("請求額"), QStringLiteral("支払期日")};
    QByteArray csv = header.join(u',').toUtf8() + "\r\n";
    tessaly::test::XlsxSheet sheet{QStringLiteral("名簿"), {}};
    sheet.rows.reserve(kRows + 1);
    sheet.rows.emplace_back(header.begin(), header.end());
    const QDate first(2026, 1, 1);
    const QDate excelEpoch(1899, 12, 30);
    for (int i = 0; i < kRows; ++i) {
        const Person p = personAt(i);
        const QDate due = first.addDays(p.day);
        // Excel quotes a field that holds a comma; these hold none, as most lists do.
        csv += QStringLiteral("%1,%2,%3,%4,%5,%6\r\n")
                   .arg(p.name, p.mail, p.company, p.address)
                   .arg(p.amount)
                   .arg(due.toString(QStringLiteral("yyyy/MM/dd")))
                   .toUtf8();
        sheet.rows.push_back({p.name, p.mail, p.company, p.address, tessaly::test::num(p.amount, 2),
                              tessaly::test::num(static_cast<double>(excelEpoch.daysTo(due)), 1)});
    }
    QFile file(folder + QStringLiteral("/名簿.csv"));
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size())
        throw std::runtime_error("cannot write the CSV");
    file.close();
    if (!tessaly::test::WriteXlsx(folder + QStringLiteral("/名簿.xlsx"), {sheet}))
        throw std::runtime_error("cannot write the workbook");
}

// --- the child: one read, its seconds printed -------------------------------------------------

int readOnce(const char* path) {
    const auto start = std::chrono::steady_clock::now();
    const tessaly::MergeTable table = tessaly::ReadMergeTable(QString::fromUtf8(path));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (table.rows.size() != static_cast<std::size_t>(kRows) || table.columnsSjis.size() != 6)
        return 2;
    std::printf("%.6f %zu\n", seconds, table.rows.size());
    return 0;
}

// --- the parent ---------------------------------------------------------------------------------

struct ChildRead {
    double seconds = 0;
    double peakMb = 0;
};

// This program run with `flag` and `path`: the seconds it printed, and its peak memory.
ChildRead runSelf(const char* flag, const std::string& path) {
    const bench::ChildOutput child =
        bench::runChild({QCoreApplication::applicationFilePath().toStdString(), flag, path});
    ChildRead read{0, child.peakMb};
    if (std::sscanf(child.printed.c_str(), "%lf", &read.seconds) != 1)
        throw std::runtime_error("the child gave no time");
    return read;
}

// state.range(0): 0 the CSV, 1 the workbook, 2 Python reading the CSV.
void BM_ReadTable(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    std::vector<double>* seconds[] = {&g_csvSeconds, &g_xlsxSeconds, &g_pythonSeconds};
    std::vector<double>* peaks[] = {&g_csvPeaks, &g_xlsxPeaks, &g_pythonPeaks};
    for (auto _ : state) {
        ChildRead read;
        try {
            if (which == 2) {
                const bench::PythonCsvRead py = bench::pythonCsvRead(g_csv);
                read = {py.seconds, py.peakMb};
            } else {
                read = runSelf(kChildFlag, which == 0 ? g_csv : g_xlsx);
            }
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        seconds[which]->push_back(read.seconds);
        peaks[which]->push_back(read.peakMb);
        state.SetIterationTime(read.seconds);
        state.counters["peak_MB"] = read.peakMb;
    }
    state.counters["rows_per_s"] = benchmark::Counter(kRows, benchmark::Counter::kIsRate);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kChildFlag)
        return readOnce(argv[2]);
    if (argc == 3 && std::string(argv[1]) == kWriteFlag) {
        writeTables(QString::fromUtf8(argv[2]));
        std::printf("0\n");
        return 0;
    }
    QCoreApplication app(argc, argv);
    // The tables are made by a child: a child's peak starts from its parent's at the time it is
    // started, which must stay small.
    QTemporaryDir dir;
    g_csv = (dir.path() + QStringLiteral("/名簿.csv")).toStdString();
    g_xlsx = (dir.path() + QStringLiteral("/名簿.xlsx")).toStdString();
    try {
        runSelf(kWriteFlag, dir.path().toStdString());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot make the tables: %s\n", e.what());
        return 1;
    }

    // The three alternate round by round, so that a change of load falls on all of them.
    const int rounds = qEnvironmentVariableIsSet("MERGE_TABLE_BENCH_ROUNDS")
                           ? qEnvironmentVariableIntValue("MERGE_TABLE_BENCH_ROUNDS")
                           : 5;
    for (int r = 1; r <= rounds; ++r) {
        const std::string round = "/round:" + std::to_string(r);
        const char* names[] = {"ReadCsv100000", "ReadXlsx100000", "PythonCsvRead100000"};
        for (int which = 0; which < 3; ++which)
            benchmark::RegisterBenchmark((names[which] + round).c_str(), BM_ReadTable)
                ->Arg(which)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double csv = bench::median(g_csvSeconds), xlsx = bench::median(g_xlsxSeconds),
                 python = bench::median(g_pythonSeconds);
    if (python > 0 && csv > 0)
        std::printf("\nmedian seconds (peak MB): Python csv %.3f (%.0f); our CSV %.3f (%.0f), %.2f x "
                    "Python's speed; our .xlsx %.3f (%.0f), %.2f x Python's speed\n",
                    python, bench::median(g_pythonPeaks), csv, bench::median(g_csvPeaks), python / csv,
                    xlsx, bench::median(g_xlsxPeaks), python / xlsx);
    return 0;
}
