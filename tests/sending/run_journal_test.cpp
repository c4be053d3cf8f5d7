#include "sending/run_journal.h"

#include "common/errors.h"
#include "fixtures/file_size_limit.h"
#include "fixtures/temp_start_dir.h"

#include <gtest/gtest.h>

using namespace tessaly;

namespace {

using Outcome = JournalOutcome;

class RunJournalTest : public ::testing::Test {
protected:
    TempStartDir dir;
    std::string path = dir.filePathBytes(QStringLiteral("Tessaly-run.journal"));
    const QString name = QStringLiteral("Tessaly-run.journal");

    std::vector<Outcome> outcomes(const JournalState& state) const {
        std::vector<Outcome> out;
        for (const JournalRecipient& r : state.recipients)
            out.push_back(r.outcome);
        return out;
    }
};

TEST_F(RunJournalTest, RecordsReadBackAsTheRunLeftThem) {
    {
        RunJournal journal = RunJournal::create(path, "0123456789abcdef", "\x88\xc4\x93\xe0", 5);
        journal.sending(0, "\x8d\xb2\x93\xa1 <sato@example.jp>");
        journal.accepted(0);
        journal.sending(1, "bad@example.jp");
        journal.refused(1, "550 5.1.1 no such user\r\n550 5.1.1 really");
        journal.sending(2, "kato@example.jp");
        journal.accepted(2);
        journal.sending(4, "abe@example.jp");
        journal.notDelivered(4); // refused after its "." (a refusal is an answer)
        journal.sending(3, "ito@example.jp"); // "." went out, then the program died
    }
    // The form a person can read, Shift-JIS and CR LF; a reply of several lines stays one record.
    EXPECT_EQ(dir.read(name), QByteArray("TSYJ1,0123456789abcdef,5,\x88\xc4\x93\xe0\r\n"
                                         "S,1,\x8d\xb2\x93\xa1 <sato@example.jp>\r\n"
                                         "A,1\r\n"
                                         "S,2,bad@example.jp\r\n"
                                         "R,2,550 5.1.1 no such user  550 5.1.1 really\r\n"
                                         "S,3,kato@example.jp\r\n"
                                         "A,3\r\n"
                                         "S,5,abe@example.jp\r\n"
                                         "X,5\r\n"
                                         "S,4,ito@example.jp\r\n"));

    const JournalState state = RunJournal_Read(path);
    EXPECT_TRUE(state.resumable("0123456789abcdef", 5));
    EXPECT_FALSE(state.resumable("0123456789abcdef", 4));
    EXPECT_FALSE(state.resumable("fedcba9876543210", 5));
    EXPECT_EQ(outcomes(state),
              (std::vector<Outcome>{Outcome::Accepted, Outcome::Refused, Outcome::Accepted,
                                    Outcome::InFlight, Outcome::NotSent}));
    EXPECT_EQ(state.recipients[1].reply, "550 5.1.1 no such user  550 5.1.1 really");
    EXPECT_EQ(state.recipients[3].entrySjis, "ito@example.jp");
    EXPECT_EQ(state.acceptedCount(), 2u);
    EXPECT_EQ(state.stoppedAt(), 3u);
    EXPECT_EQ(state.inFlight(), std::vector<std::size_t>{3});

    // The resumed run sends the one in flight again after asking, and the rest; then it is over.
    {
        RunJournal journal = RunJournal::resume(path);
        journal.sending(3, "ito@example.jp");
        journal.accepted(3);
        journal.sending(4, "abe@example.jp");
        journal.noAnswer(4);
        journal.sentDataWritten();
        journal.sync();
    }
    const JournalState resumed = RunJournal_Read(path);
    EXPECT_TRUE(resumed.sentDataWritten);
    EXPECT_FALSE(resumed.notifySent);
    EXPECT_EQ(outcomes(resumed).back(), Outcome::InFlight);
    EXPECT_EQ(resumed.stoppedAt(), 4u);
    EXPECT_EQ(resumed.acceptedCount(), 3u);
    {
        RunJournal journal = RunJournal::resume(path);
        journal.sending(4, "abe@example.jp");
        journal.accepted(4);
        journal.notifySent();
        journal.finish();
    }
    EXPECT_FALSE(dir.exists(name));
    EXPECT_FALSE(RunJournal_Read(path).present);
}

// A kill can come between any two bytes of a write. Whatever prefix of the file survives, the
// reader must see only whole records and the writer must carry on from there.
TEST_F(RunJournalTest, AnyCutOfTheFileReadsAsItsWholeRecordsAndCanBeContinued) {
    {
        RunJournal journal = RunJournal::create(path, "0123456789abcdef", "Subject", 3);
        journal.sending(0, "a@example.jp");
        journal.accepted(0);
        journal.sending(1, "b@example.jp");
        journal.refused(1, "550 no");
        journal.sending(2, "c@example.jp");
        journal.accepted(2);
    }
    const QByteArray whole = dir.read(name);
    for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
        const QByteArray prefix = whole.left(cut);
        dir.write(name, prefix);
        const JournalState state = RunJournal_Read(path);

        // What the reader says must equal what the complete records in the prefix say.
        const qsizetype lastLineEnd = prefix.lastIndexOf("\r\n");
        const QByteArray records = lastLineEnd < 0 ? QByteArray() : prefix.left(lastLineEnd + 2);
        ASSERT_EQ(state.present, records.size() > 0) << "cut at " << cut;
        if (!state.present)
            continue;
        EXPECT_EQ(state.acceptedCount(), static_cast<std::size_t>(records.count("\r\nA,")))
            << "cut at " << cut;
        const bool cIsAccepted = records.endsWith("A,3\r\n");
        EXPECT_EQ(state.recipients[2].outcome == Outcome::Accepted, cIsAccepted);
        const bool cWasSent = records.contains("S,3,");
        EXPECT_EQ(state.recipients[2].outcome == Outcome::InFlight, cWasSent && !cIsAccepted)
            << "cut at " << cut;

        // The next record lands on a line of its own and is read.
        {
            RunJournal journal = RunJournal::resume(path);
            journal.sending(2, "c@example.jp");
            journal.accepted(2);
        }
        const JournalState continued = RunJournal_Read(path);
        EXPECT_EQ(continued.recipients[2].outcome, Outcome::Accepted) << "cut at " << cut;
        EXPECT_EQ(dir.read(name), records + "S,3,c@example.jp\r\nA,3\r\n") << "cut at " << cut;
    }
}

TEST_F(RunJournalTest, DamagedOrForeignFilesNeverStopARun) {
    struct Row {
        const char* name;
        QByteArray bytes;
        bool present;
    };
    const std::vector<Row> rows = {
        {"empty", "", false},
        {"garbage", "\0\0\0\xff\xfe\r\n", false},
        {"another format", "TSYJ2,0123456789abcdef,3,x\r\n", false},
        {"short identity", "TSYJ1,0123,3,x\r\n", false},
        {"records out of range and unknown kinds are skipped",
         "TSYJ1,0123456789abcdef,2,x\r\nA,0\r\nA,3\r\nA,01\r\nZ,1\r\nA,1,extra\r\nA,2\r\n", true},
    };
    for (const Row& row : rows) {
        dir.write(name, row.bytes);
        const JournalState state = RunJournal_Read(path);
        EXPECT_EQ(state.present, row.present) << row.name;
        if (state.present) {
            EXPECT_EQ(outcomes(state), (std::vector<Outcome>{Outcome::NotSent, Outcome::Accepted}))
                << row.name;
        }
    }
    // A fresh run replaces whatever was there.
    { RunJournal::create(path, "0123456789abcdef", "x", 1).sending(0, "a@example.jp"); }
    EXPECT_EQ(dir.read(name), QByteArray("TSYJ1,0123456789abcdef,1,x\r\nS,1,a@example.jp\r\n"));
}

TEST_F(RunJournalTest, ARecordThatCannotBeWrittenIsTakenBackOut) {
    // The disk fills up during the run: room for the head, one record and a few bytes more.
    const QByteArray kept = "TSYJ1,0123456789abcdef,2,x\r\nS,1,a@example.jp\r\nA,1\r\n";
    bool threw = false;
    {
        FileSizeLimit limit(static_cast<std::size_t>(kept.size()) + 3);
        RunJournal journal = RunJournal::create(path, "0123456789abcdef", "x", 2);
        try {
            journal.sending(0, "a@example.jp");
            journal.accepted(0);
            journal.sending(1, "b@example.jp");
        } catch (const FileError&) {
            threw = true;
        }
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(dir.read(name), kept);
}

// While a run writes, its file is allocated ahead and ends in zero bytes; a kill leaves them, and
// perhaps a record cut short before them.
TEST_F(RunJournalTest, AKilledRunsZeroTailIsNoRecordAndGoesOnResume) {
    const QByteArray records =
        "TSYJ1,0123456789abcdef,3,x\r\nS,1,a@example.jp\r\nA,1\r\nS,2,b@example.jp\r\n";
    const QByteArray continued = records + "A,2\r\n";
    for (const QByteArray& left : {records + QByteArray(70000, '\0'), records + "A," + QByteArray(4000, '\0')}) {
        dir.write(name, left);
        EXPECT_EQ(outcomes(RunJournal_Read(path)),
                  (std::vector<Outcome>{Outcome::Accepted, Outcome::InFlight, Outcome::NotSent}));
        {
            RunJournal journal = RunJournal::resume(path);
            journal.accepted(1);
            // In the file at once, as a kill now would leave it.
            EXPECT_TRUE(dir.read(name).startsWith(continued));
            EXPECT_EQ(outcomes(RunJournal_Read(path)),
                      (std::vector<Outcome>{Outcome::Accepted, Outcome::Accepted, Outcome::NotSent}));
            // A run that ends syncs its file to the records, and may still add to it.
            journal.sync();
            EXPECT_EQ(dir.read(name), continued);
            journal.notifySent();
        }
        EXPECT_EQ(dir.read(name), continued + "N\r\n");
    }
}

// Two windows sending the same mail to the same list at once would send everyone two copies,
// and one cutting the file under the other would end the other's run.
TEST_F(RunJournalTest, ASecondWriterOfTheSameRunIsRefused) {
    RunJournal first = RunJournal::create(path, "0123456789abcdef", "x", 2);
    first.sending(0, "a@example.jp");
    EXPECT_THROW(RunJournal::create(path, "0123456789abcdef", "x", 2), FileError);
    EXPECT_THROW(RunJournal::resume(path), FileError);
    first.accepted(0);
    EXPECT_EQ(RunJournal_Read(path).acceptedCount(), 1u);
}

// A stopped run of the same mail is found for a list that holds all of its recipients (in any
// order, with more), seen as a run of the new list; any other journal is not.
TEST_F(RunJournalTest, AStoppedRunIsFoundForAListThatHoldsItsRecipients) {
    const std::vector<std::string> old = {"a@example.jp", "b@example.jp", "c@example.jp"};
    const std::string mail = RunJournal_MailIdentity("\x89\xf1\x97\x97", {"body"});
    const auto write = [&](const char* file, std::string_view mailId, bool finish) {
        RunJournal j = RunJournal::create(dir.filePathBytes(QString::fromLatin1(file)),
                                          "0123456789abcdef", "s", old.size(), mailId, old);
        j.sending(0, old[0]);
        j.accepted(0);
        j.sending(1, old[1]); // in flight
        if (finish)
            j.finish();
    };
    const std::string folder = dir.path().toStdString();
    write("Tessaly-0000000000000001.journal", mail, false);
    write("Tessaly-0000000000000002.journal", RunJournal_MailIdentity("s", {"other"}), false);
    write("Tessaly-0000000000000003.journal", mail, true);

    const JournalState found = RunJournal_FindCarried(
        folder, mail, {"d@example.jp", "c@example.jp", "b@example.jp", "a@example.jp"});
    ASSERT_TRUE(found.present);
    EXPECT_EQ(outcomes(found), (std::vector<Outcome>{Outcome::NotSent, Outcome::NotSent,
                                                     Outcome::InFlight, Outcome::Accepted}));
    EXPECT_EQ(found.addedCount, 1u);
    EXPECT_EQ(found.stoppedPosition(), 1u); // b, the second of the stopped run's own list
    EXPECT_EQ(found.unsentCount(), 2u);
    EXPECT_EQ(found.pathSjis, folder + "/Tessaly-0000000000000001.journal");

    EXPECT_FALSE(RunJournal_FindCarried(folder, mail, {"a@example.jp", "b@example.jp"}).present);
    EXPECT_FALSE(RunJournal_FindCarried(folder, mail, {"a@example.jp", "b@example.jp",
                                                       "c@example.jp ", "d@example.jp"})
                     .present);
    EXPECT_FALSE(RunJournal_FindCarried(folder, RunJournal_MailIdentity("s", {"x"}), old).present);
    RunJournal_Remove(found.pathSjis);
    EXPECT_FALSE(RunJournal_FindCarried(folder, mail, old).present);
}

TEST(RunJournalIdentity, IsFixedAndTellsRunsApart) {
    const std::vector<std::string> body = {"line 1", "line 2"};
    const std::vector<std::string> to = {"a@example.jp", "b@example.jp"};
    const std::string id = RunJournal_Identity("Subject", body, to);
    // Pinned: a change here would strand every journal an earlier version left behind.
    EXPECT_EQ(id, "d140eed4f6705354");
    EXPECT_EQ(RunJournal_Identity("Subject", body, to), id);

    EXPECT_NE(RunJournal_Identity("Subjec", {"tline 1", "line 2"}, to), id);
    EXPECT_NE(RunJournal_Identity("Subject", {"line 1line 2"}, to), id);
    EXPECT_NE(RunJournal_Identity("Subject", body, {"b@example.jp", "a@example.jp"}), id);
    EXPECT_NE(RunJournal_Identity("Subject", {"line 1", "line 2", ""}, to), id);
    EXPECT_NE(RunJournal_Identity("Subject", body, {"a@example.jp"}), id);

    EXPECT_EQ(RunJournal_Folder(true, "/logs/Log.txt", "/start"), "/logs");
    EXPECT_EQ(RunJournal_Folder(false, "/logs/Log.txt", "/start"), "/start");
    EXPECT_EQ(RunJournal_Path("/start", id), "/start/Tessaly-" + id + ".journal");
}

} // namespace
