// Whole send runs to 200 recipients, each message carrying one 5 MB file, through the main window
// against Postfix's smtp-sink, beside the minimal blocking client sending the same bytes over one
// connection. Each run of the program is a child process of its own, so that its peak memory is
// its own (the kernel's ru_maxrss of that child) and not the client's or the file's copies here.
// See README.md.
#include "app/attachment_window.h"
#include "app/main_window.h"
#include "bench/support/send_run_bench_support.h"
#include "bench/support/smtp_bench_support.h"
#include "common/text.h"
#include "sending/attachments.h"
#include "smtp/message_builder.h"
#include "smtp/smtp_client.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kRecipients = 200;
constexpr qint64 kFileSize = 5 * 1000 * 1000;
const char* const kChildFlag = "--one-run";

const QString kSubject = QStringLiteral("定例会議の資料");

QString bodyText() {
    QString body;
    for (int i = 0; i < 8; ++i)
        body += QStringLiteral("回覧%1：来週の定例会議の資料を添付いたします。ご確認ください。\n").arg(i);
    return body;
}

QString iniText(quint16 port) {
    return QStringLiteral("[Settei]\r\nHost=127.0.0.1\r\nPort=%1\r\nUser=pc01\r\n"
                          "From=bench@tessaly.test\r\nUserMei=山田太郎\r\nChkBox_Atesaki=1\r\n")
        .arg(port);
}

// --- the child: one send run, its rate written to a file --------------------------------------

int oneRun(int argc, char** argv) {
    // argv: program --one-run port file-or-empty rate-file
    QApplication app(argc, argv);
    const quint16 port = static_cast<quint16>(QString::fromLocal8Bit(argv[2]).toUInt());
    const QString attached = QString::fromLocal8Bit(argv[3]);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    bench::ProgramRun run(iniText(port), kRecipients, kSubject, bodyText());
    if (!attached.isEmpty())
        run.main().attachWindow().addPaths({attached});
    const std::optional<double> seconds = run.send();
    if (!seconds)
        return 3;
    QFile rate(QString::fromLocal8Bit(argv[4]));
    if (!rate.open(QIODevice::WriteOnly))
        return 2;
    rate.write(QByteArray::number(kRecipients / *seconds, 'f', 3));
    return 0;
}

// --- the parent ---------------------------------------------------------------------------------

quint16 g_port = 0;
QString g_file;      // the 5 MB file
std::string g_bytes; // one message of the run as it goes on the wire
std::vector<double> g_attachedRates, g_minimalRates, g_attachedPeaks, g_plainPeaks;

struct ChildRun {
    double rate = 0;
    double peakMb = 0;
    double cpuSeconds = 0; // user and system, of the whole child
};

// Starts this program for one run and waits for it; the peak is that child's alone.
ChildRun runChild(bool withFile) {
    QTemporaryDir dir;
    const std::string rateFile = (dir.path() + QStringLiteral("/rate")).toStdString();
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const std::string port = std::to_string(g_port);
    const std::string file = withFile ? g_file.toStdString() : std::string();
    std::vector<char*> args{const_cast<char*>(self.c_str()), const_cast<char*>(kChildFlag),
                            const_cast<char*>(port.c_str()), const_cast<char*>(file.c_str()),
                            const_cast<char*>(rateFile.c_str()), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, self.c_str(), nullptr, nullptr, args.data(), environ) != 0)
        throw std::runtime_error("cannot start the run");
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the run did not complete");
    QFile rate(QString::fromStdString(rateFile));
    if (!rate.open(QIODevice::ReadOnly))
        throw std::runtime_error("the run left no rate");
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return {rate.readAll().toDouble(), usage.ru_maxrss / 1024.0,
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// state.range(0): 1 with the file attached, 0 without (the program's own memory at this size).
void BM_SendRun(benchmark::State& state) {
    const bool withFile = state.range(0) != 0;
    for (auto _ : state) {
        ChildRun run;
        try {
            run = runChild(withFile);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        if (withFile)
            g_attachedRates.push_back(run.rate);
        (withFile ? g_attachedPeaks : g_plainPeaks).push_back(run.peakMb);
        state.SetIterationTime(kRecipients / run.rate);
        state.counters["peak_MB"] = run.peakMb;
        state.counters["child_cpu_s"] = run.cpuSeconds;
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kRecipients, benchmark::Counter::kIsRate);
}

void BM_MinimalBlockingClient(benchmark::State& state) {
    for (auto _ : state) {
        const double rate = bench::minimalClientRound(
            g_port, kRecipients, "bench@tessaly.test",
            [](int i) { return "member" + std::to_string(i) + "@example.jp"; }, g_bytes, std::string());
        g_minimalRates.push_back(rate);
        state.SetIterationTime(kRecipients / rate);
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kRecipients, benchmark::Counter::kIsRate);
}

// The first recipient's message, built by the program's own builder from the same texts and file.
std::string messageBytes() {
    tessaly::MessageTexts texts;
    texts.fromAddress = "bench@tessaly.test";
    texts.fromNameSjis = tessaly::toSjis(QStringLiteral("山田太郎"), QString());
    texts.localProgram = "Tessaly27S";
    texts.subjectSjis = tessaly::toSjis(kSubject, QString());
    for (const QString& line : bodyText().split(QLatin1Char('\n')))
        texts.bodySjis.push_back(tessaly::toSjis(line, QString()));
    texts.attachments = tessaly::ReadAttachments({tessaly::AttachedFileOf(tessaly::toSjis(g_file, QString()))},
                                                 texts.bodySjis);
    const tessaly::MessageBuilder builder(texts, tessaly::MessageCharset::Iso2022Jp);
    const tessaly::WireMessage wire = builder.build(
        {"member0@example.jp", tessaly::toSjis(QStringLiteral("会員0 様"), QString()),
         "Mon, 07 Dec 2026 22:00:00 +0900", "<20261207220000000.1.1.00000000@tessaly.test>", ""});
    return tessaly::MessageData(wire).toStdString();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 5 && std::string(argv[1]) == kChildFlag)
        return oneRun(argc, argv);

    QCoreApplication app(argc, argv);
    bench::SmtpSink sink;
    if (!sink.start())
        return 1;
    g_port = sink.port();

    // Incompressible bytes behind a PDF's first line, so that the part is typed as a PDF.
    QTemporaryDir dir;
    g_file = dir.path() + QStringLiteral("/report.pdf");
    {
        QFile file(g_file);
        QByteArray bytes("%PDF-1.4\n");
        bytes.resize(kFileSize);
        QRandomGenerator generator(20);
        for (qint64 i = 9; i < kFileSize; ++i)
            bytes[i] = static_cast<char>(generator.generate() & 0xFF);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != kFileSize)
            return 1;
    }
    g_bytes = messageBytes();

    const int rounds = qEnvironmentVariableIsSet("SEND_RUN_BENCH_ROUNDS")
                           ? qEnvironmentVariableIntValue("SEND_RUN_BENCH_ROUNDS")
                           : 3;
    for (int r = 1; r <= rounds; ++r) {
        const std::string round = "/round:" + std::to_string(r);
        benchmark::RegisterBenchmark(("SendRun200Attached5MB" + round).c_str(), BM_SendRun)
            ->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("MinimalBlockingClient200Attached5MB" + round).c_str(),
                                     BM_MinimalBlockingClient)
            ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("SendRun200WithoutFiles", BM_SendRun)
        ->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double run = bench::median(g_attachedRates);
    const double minimal = bench::median(g_minimalRates);
    if (minimal > 0 && !g_attachedPeaks.empty())
        std::printf("\nmedian messages per second: minimal blocking client %.1f; send run %.1f (%.1f %%)\n"
                    "largest peak memory of a run: %.1f MB with the file, %.1f MB without files\n",
                    minimal, run, 100.0 * run / minimal,
                    *std::max_element(g_attachedPeaks.begin(), g_attachedPeaks.end()),
                    g_plainPeaks.empty() ? 0.0 : *std::max_element(g_plainPeaks.begin(), g_plainPeaks.end()));
    return 0;
}
