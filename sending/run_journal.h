// The run journal: what a send run has done, kept on disk while it runs, so that a run that was
// stopped, failed or killed can be continued without sending anyone the mail twice and without
// forgetting anyone.
//
// One file per run, named after the run's identity (a hash of the Subject, the converted body and
// the recipient list), in the folder of the send log, or in the start directory when the log is
// off. Shift-JIS text with CR LF, one record per line, each record written whole with one write()
// before the run takes its next step, so that a kill at any moment leaves whole records and at
// most one broken last line, which the reader ignores. Plain standard C++ on byte strings.
//
// While a run writes, the file may end in zero bytes: records go into a shared memory map of the
// file, which is allocated ahead in chunks so that a record costs no system call; the reader
// stops at the last CR LF, and the file is cut to its records when the run syncs or closes it.
//
//   "TSYJ1,<identity>,<count>,<Subject>"   first line: the run this journal belongs to
//   "M,<mail identity>"                    the Subject and body alone (see RunJournal_MailIdentity)
//   "T,<n>,<recipient entry>"              recipient n of the run's list, one record for each
//   "S,<n>,<recipient entry>"             recipient n (from 1) is being sent: "." comes next
//   "A,<n>"                                the server accepted recipient n's message
//   "R,<n>,<server reply>"                 the server refused recipient n; the run went on
//   "U,<n>"                                the run ended with no answer to recipient n's "."
//   "X,<n>"                                the server refused recipient n's message after its
//                                          "." and the run ended there: it has not got it
//   "N"                                    the notify copy was accepted
//   "D"                                    the body was appended to the sent-data file
//   "F"                                    the run finished (the file is removed right after)
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The identity of a run, 16 lower-case hex digits: 64-bit FNV-1a over the Subject, the converted
// body lines and the recipient entries, each framed by its length so that moving a byte from one
// field to the next changes it. FNV-1a is fixed by its definition, so the identity is the same in
// every run and every build of the program.
std::string RunJournal_Identity(std::string_view subjectSjis,
                                const std::vector<std::string>& bodyLines,
                                const std::vector<std::string>& recipientsSjis);

// The identity of the mail alone (the Subject and the body lines as sent, Shift-JIS), in the same
// form: a later run of the same mail to a list that holds the stopped run's recipients and more
// is found by it.
std::string RunJournal_MailIdentity(std::string_view subjectSjis,
                                    const std::vector<std::string>& bodyLinesSjis);

// Where the journal lives: the folder of the send log when logging is on, the start directory
// otherwise (Shift-JIS bytes, without a trailing "/").
std::string RunJournal_Folder(bool logOn, const std::string& logPathSjis,
                              const std::string& startDirectorySjis);
// folder + "/Tessaly-" + identity + ".journal" (Shift-JIS bytes).
std::string RunJournal_Path(const std::string& folderSjis, std::string_view identity);

enum class JournalOutcome {
    NotSent,  // nothing recorded, or sending was interrupted before "."
    InFlight, // "." may have gone out, and no answer was recorded: the server may have the message
    Accepted,
    Refused,
};

struct JournalRecipient {
    JournalOutcome outcome = JournalOutcome::NotSent;
    std::string entrySjis; // the recipient entry as the run took it (empty when never sent)
    std::string reply;     // the server's reply when refused
};

// What a journal file says, as read back.
struct JournalState {
    bool present = false;  // a file with a readable first line
    bool finished = false; // the run recorded its end
    std::string pathSjis; // where it was read from
    std::string identity;
    std::string mailIdentity;              // empty in a journal written before it was kept
    std::string subjectSjis;
    std::vector<std::string> entriesSjis;  // the run's whole list, when the journal has it
    bool notifySent = false;
    bool sentDataWritten = false;
    std::vector<JournalRecipient> recipients; // one per recipient of the run, in order

    // True when a run with `identity` and `count` recipients can continue this journal.
    bool resumable(std::string_view identity, std::size_t count) const;
    std::size_t acceptedCount() const;
    // Index (from 0) of the first recipient that has neither been accepted nor refused; the size
    // of the run when every one has. This is where the run stopped.
    std::size_t stoppedAt() const;
    // Indexes (from 0) of recipients whose message may or may not have reached the server.
    std::vector<std::size_t> inFlight() const;
    // How many have not been sent at all: neither accepted nor in flight.
    std::size_t unsentCount() const;
    // Where the run stopped (from 0) in the list it had: stoppedAt(), or for a run carried onto a
    // longer list (RunJournal_FindCarried) the place in its own.
    std::size_t stoppedPosition() const { return carriedStop ? *carriedStop : stoppedAt(); }
    // Recipients added to the list since the run stopped (RunJournal_FindCarried).
    std::size_t addedCount = 0;
    std::optional<std::size_t> carriedStop;
};

// The unfinished run in `folderSjis` of the same mail (`mailIdentity`) whose whole list is part
// of `recipientsSjis` (each entry, byte for byte, as often as it was there), seen as a run of
// `recipientsSjis`: every recipient of the new list takes the outcome of the same entry in the
// stopped run; the others are not sent. When several qualify, the one with the most accepted
// recipients. Not present when there is none.
JournalState RunJournal_FindCarried(const std::string& folderSjis, std::string_view mailIdentity,
                                    const std::vector<std::string>& recipientsSjis);

// Reads the journal at `pathSjis`. A missing or unreadable file, or one whose first line is
// damaged, reads as not present; a damaged line elsewhere (a kill in the middle of a write leaves
// at most the last one so) is skipped. Never throws.
JournalState RunJournal_Read(const std::string& pathSjis);

// Removes a journal another run has taken over; a file that is already gone is no error.
void RunJournal_Remove(const std::string& pathSjis);

// The writer, held by the run from its first message to its end. Every record is in the file's
// pages (seen by any reader, kept by the kernel if the program dies) before the call returns; a
// record that cannot be written throws tessaly::FileError naming the file, and is taken back out,
// so that the file never holds half a record it knows of. The writer holds an exclusive lock on
// the file: a second writer for the same run (the same mail and list sent from another window at
// the same time) is refused with that error instead of cutting the file under the first.
class RunJournal {
public:
    // A fresh journal for a run, replacing whatever file was at the path.
    // `mailIdentity` and `entriesSjis` let a later run with more recipients find it.
    static RunJournal create(const std::string& pathSjis, std::string_view identity,
                             std::string_view subjectSjis, std::size_t count,
                             std::string_view mailIdentity = {},
                             const std::vector<std::string>& entriesSjis = {});
    // Continues the journal at the path, first cutting off a damaged last line.
    static RunJournal resume(const std::string& pathSjis);

    RunJournal(RunJournal&& other) noexcept;
    RunJournal& operator=(RunJournal&& other) noexcept;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;
    ~RunJournal(); // closes the file; what was written stays

    // `index` counts from 0 here; the file counts from 1 for the reader's eyes.
    void sending(std::size_t index, std::string_view entrySjis);
    void accepted(std::size_t index);
    void refused(std::size_t index, std::string_view reply);
    void noAnswer(std::size_t index);
    void notDelivered(std::size_t index);
    void notifySent();
    // The sent-data file has this run's body: a stopped run writes it, and the run that later
    // completes it must not write it again.
    void sentDataWritten();
    // Forces everything written so far to the disk; the run calls it when it ends in any way.
    void sync();
    // Records the end and removes the file (syncing it only when it cannot be removed).
    void finish();

    const std::string& pathSjis() const { return pathSjis_; }

private:
    RunJournal(std::string pathSjis, int fd, bool mappable);
    // Opens and locks the file; `fresh` makes it and empties it.
    static RunJournal open(const std::string& pathSjis, bool fresh);
    void append(std::string line);
    void appendByCall(std::string_view bytes);
    // Makes the file at least `need` bytes long for the map; false when the map is given up for
    // plain writes. Throws when the disk cannot take the bytes.
    bool reserve(std::size_t need);
    void writeByCalls();
    // Cuts the zero bytes allocated ahead off the file.
    void trim();
    void release() noexcept;

    std::string pathSjis_;
    int fd_ = -1;
    bool mappable_ = false;     // false once the map is given up (or was never possible)
    char* map_ = nullptr;       // the file's first mapLength_ bytes, or null for plain writes
    std::size_t mapLength_ = 0;
    std::size_t fileLength_ = 0; // the file's size: the records and the zero bytes ahead of them
    std::size_t length_ = 0;     // the records' bytes
};

} // namespace tessaly
