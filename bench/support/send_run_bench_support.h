// What the send-run benchmarks share: the whole program started in the current folder with a
// TSY2.ini of theirs and a mail to many members written, and one click of TB_Send timed.
#pragma once

#include "app/program.h"
#include "common/secret_store.h"
#include "tests/fixtures/reporting_dialogs.h"

#include <QString>
#include <optional>

class TTSY_MainF;

namespace bench {

class ProgramRun {
public:
    // Writes `iniText` as TSY2.ini into the current folder, starts the program and writes the mail:
    // `recipients` entries "会員N <memberN@example.jp>", the Subject and the body.
    ProgramRun(const QString& iniText, int recipients, const QString& subject, const QString& body);

    TTSY_MainF& main() { return program_.mainWindow(); }
    // Opens the merge table at `path` from TB_Send's menu and closes its window, as a user does:
    // the table's rows are the recipients then.
    void openTable(const QString& path);
    // Clicks TB_Send: the seconds until the run ended, or none when it did not complete (a prompt
    // came, which nobody answers, or the run failed).
    std::optional<double> send();

private:
    struct IniFile {
        explicit IniFile(const QString& text);
    };
    IniFile ini_; // first: the program finds its settings when it starts
    ReportingDialogs dialogs_;
    tessaly::NoSecretStore keyring_;
    tessaly::Program program_;
};

} // namespace bench
