// Helpers shared by the address book and send log benchmarks: the Python csv module as the peer
// that reads the same file, a dialogs object that only counts, and the peak memory of the run.
#pragma once

#include "common/dialogs.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/resource.h>

namespace bench {

// Seconds Python's csv module takes to read `path` into a list of rows (interpreter start-up
// excluded: the script times itself).
inline double pythonCsvReadSeconds(const std::string& path) {
    const std::string command = std::string("/usr/bin/python3 ") + TESSALY_CSV_READ_PY + " '" + path + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot start python3");
    double seconds = -1;
    long rows = 0;
    const int got = std::fscanf(pipe, "%lf %ld", &seconds, &rows);
    ::pclose(pipe);
    if (got != 2 || seconds < 0)
        throw std::runtime_error("python3 csv_read.py gave no time");
    return seconds;
}

// Peak resident memory of this process (not of Python, which runs as a child), in MB.
inline double peakRssMb() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

class CountingDialogs : public tessaly::Dialogs {
public:
    int messages = 0;
    void message(QWidget*, const QString&) override { ++messages; }
    void error(QWidget*, const QString&) override { ++messages; }
    bool askYesNo(QWidget*, const QString&, const QString&) override { return false; }
    tessaly::Choice askYesNoCancel(QWidget*, const QString&, const QString&) override {
        return tessaly::Choice::Cancel;
    }
    QString openFile(QWidget*, const tessaly::FileDialogOptions&) override { return {}; }
    QString saveFile(QWidget*, const tessaly::FileDialogOptions&) override { return {}; }
    std::optional<QString> askPassword(QWidget*, const QString&, const QString&) override {
        ++messages;
        return std::nullopt;
    }
};

} // namespace bench
