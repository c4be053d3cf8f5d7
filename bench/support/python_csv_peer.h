// Helpers shared by the address book, send log and merge table benchmarks: the Python csv module
// as the peer that reads the same file, a dialogs object that only counts, and the peak memory.
#pragma once

#include "common/dialogs.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

// What a child process printed, and its peak resident memory alone (the kernel's ru_maxrss of
// that child, from wait4). A child's peak starts from its parent's at the time it is started:
// keep the parent small.
struct ChildOutput {
    std::string printed;
    double peakMb = 0;
};

inline ChildOutput runChild(std::vector<std::string> argv) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("cannot make a pipe");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    ::posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    ChildOutput child;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        child.printed.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " did not complete");
    child.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return child;
}

struct PythonCsvRead {
    double seconds = -1; // the reading alone (interpreter start-up excluded: the script times itself)
    double peakMb = 0;   // the peak resident memory of that Python process alone
};

// Python's csv module reading `path` into a list of rows, in a child process.
inline PythonCsvRead pythonCsvRead(const std::string& path) {
    const ChildOutput child = runChild({"/usr/bin/python3", TESSALY_CSV_READ_PY, path});
    PythonCsvRead read;
    long rows = 0;
    if (std::sscanf(child.printed.c_str(), "%lf %ld", &read.seconds, &rows) != 2 || read.seconds < 0)
        throw std::runtime_error("python3 csv_read.py gave no time");
    read.peakMb = child.peakMb;
    return read;
}

// Seconds Python's csv module takes to read `path` into a list of rows.
inline double pythonCsvReadSeconds(const std::string& path) { return pythonCsvRead(path).seconds; }

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
