#include "sending/run_journal.h"

#include "common/cp932.h"
#include "common/errors.h"
#include "common/regular_file.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tessaly {

namespace {

constexpr std::string_view kMagic = "TSYJ1";

class Fnv1a64 {
public:
    void bytes(std::string_view s) {
        // In a local, eight bytes a step: a merged mail's identity covers every row's texts,
        // and the hash is the same either way.
        std::uint64_t h = hash_;
        const auto* p = reinterpret_cast<const unsigned char*>(s.data());
        const unsigned char* const end = p + s.size();
        const auto step = [&h](unsigned char c) { h = (h ^ c) * 0x100000001b3ULL; };
        for (; end - p >= 8; p += 8) {
            step(p[0]);
            step(p[1]);
            step(p[2]);
            step(p[3]);
            step(p[4]);
            step(p[5]);
            step(p[6]);
            step(p[7]);
        }
        for (; p < end; ++p)
            step(*p);
        hash_ = h;
    }
    void number(std::uint64_t n) {
        char le[8];
        for (char& b : le) {
            b = static_cast<char>(n & 0xff);
            n >>= 8;
        }
        bytes(std::string_view(le, sizeof le));
    }
    void field(std::string_view s) {
        number(s.size());
        bytes(s);
    }
    std::string hex() const {
        static constexpr char digits[] = "0123456789abcdef";
        std::string out(16, '0');
        std::uint64_t h = hash_;
        for (int i = 15; i >= 0; --i, h >>= 4)
            out[static_cast<std::size_t>(i)] = digits[h & 0xf];
        return out;
    }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

// A record is one line: the server's reply and the entry must not break it.
std::string oneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

bool parseIndex(std::string_view text, std::size_t& value) {
    if (text.empty() || text.front() == '0')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// "kind,n[,text]" with 1 <= n <= count; gives the index from 0 and the text.
bool parseRecipientRecord(std::string_view rest, std::size_t count, bool withText,
                          std::size_t& index, std::string_view& text) {
    const std::size_t comma = rest.find(',');
    const std::string_view number = comma == std::string_view::npos ? rest : rest.substr(0, comma);
    if (withText != (comma != std::string_view::npos))
        return false;
    if (!parseIndex(number, index) || index < 1 || index > count)
        return false;
    --index;
    text = withText ? rest.substr(comma + 1) : std::string_view();
    return true;
}

bool parseHeader(std::string_view line, JournalState& state) {
    // TSYJ1,<16 hex>,<count>,<Subject>
    if (line.substr(0, kMagic.size() + 1) != std::string(kMagic) + ",")
        return false;
    line.remove_prefix(kMagic.size() + 1);
    const std::size_t c1 = line.find(',');
    if (c1 != 16)
        return false;
    const std::size_t c2 = line.find(',', c1 + 1);
    if (c2 == std::string_view::npos)
        return false;
    std::size_t count = 0;
    const std::string_view countText = line.substr(c1 + 1, c2 - c1 - 1);
    if (countText != "0" && !parseIndex(countText, count))
        return false;
    state.identity.assign(line.substr(0, c1));
    state.subjectSjis.assign(line.substr(c2 + 1));
    state.recipients.assign(count, JournalRecipient{});
    return true;
}

void applyRecord(std::string_view line, JournalState& state) {
    if (line == "N") {
        state.notifySent = true;
        return;
    }
    if (line == "D") {
        state.sentDataWritten = true;
        return;
    }
    if (line == "F") {
        state.finished = true;
        return;
    }
    if (line.size() < 3 || line[1] != ',')
        return;
    const char kind = line[0];
    const std::string_view rest = line.substr(2);
    const std::size_t count = state.recipients.size();
    std::size_t index = 0;
    std::string_view text;
    switch (kind) {
    case 'M':
        state.mailIdentity.assign(rest);
        break;
    case 'T':
        if (parseRecipientRecord(rest, count, true, index, text)) {
            if (state.entriesSjis.size() != count)
                state.entriesSjis.assign(count, std::string());
            state.entriesSjis[index].assign(text);
            if (state.recipients[index].entrySjis.empty())
                state.recipients[index].entrySjis.assign(text);
        }
        break;
    case 'S':
        if (parseRecipientRecord(rest, count, true, index, text)) {
            state.recipients[index].outcome = JournalOutcome::InFlight;
            state.recipients[index].entrySjis.assign(text);
            state.recipients[index].reply.clear();
        }
        break;
    case 'A':
        if (parseRecipientRecord(rest, count, false, index, text))
            state.recipients[index].outcome = JournalOutcome::Accepted;
        break;
    case 'R':
        if (parseRecipientRecord(rest, count, true, index, text)) {
            state.recipients[index].outcome = JournalOutcome::Refused;
            state.recipients[index].reply.assign(text);
        }
        break;
    case 'U':
        if (parseRecipientRecord(rest, count, false, index, text))
            state.recipients[index].outcome = JournalOutcome::InFlight;
        break;
    case 'X':
        if (parseRecipientRecord(rest, count, false, index, text))
            state.recipients[index].outcome = JournalOutcome::NotSent;
        break;
    default:
        break;
    }
}

bool readWholeFile(const std::string& fsPath, std::string& bytes) {
    const int fd = ::open(fsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

FileError writeError(const std::string& pathSjis) {
    return FileError(cp932::toUtf8(pathSjis) + " に書き込めません");
}

int openRetrying(const std::string& fsPath, int flags) {
    int fd;
    do {
        fd = ::open(fsPath.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The file is allocated ahead by this much: a run of about a thousand recipients grows it once.
constexpr std::size_t kGrowth = 64 * 1024;
// The map reaches this much further than the file needs, so that growing it seldom maps anew.
constexpr std::size_t kMapStep = 1024 * 1024;

std::size_t roundUp(std::size_t n, std::size_t step) { return (n + step - 1) / step * step; }

// Should a cut fail, the zero bytes left after the last record are skipped by the reader and cut
// off by the next resume.
bool cutTo(int fd, std::size_t length) { return ::ftruncate(fd, static_cast<off_t>(length)) == 0; }

// Makes the file `to` bytes long from `from`, with blocks behind every byte; an errno value on
// failure, after which the file has its old size again.
int allocate(int fd, std::size_t from, std::size_t to) {
    int error;
    do {
        error = ::posix_fallocate(fd, static_cast<off_t>(from), static_cast<off_t>(to - from));
    } while (error == EINTR);
    if (error != 0)
        cutTo(fd, from);
    return error;
}

// The disk (or the limits of the process) cannot take the bytes; any other failure to allocate
// ahead only says that the file system does not do it.
bool diskRefused(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO;
}

} // namespace

std::string RunJournal_Identity(std::string_view subjectSjis,
                                const std::vector<std::string>& bodyLines,
                                const std::vector<std::string>& recipientsSjis) {
    Fnv1a64 h;
    h.field(subjectSjis);
    h.number(bodyLines.size());
    for (const std::string& line : bodyLines)
        h.field(line);
    h.number(recipientsSjis.size());
    for (const std::string& entry : recipientsSjis)
        h.field(entry);
    return h.hex();
}

std::string RunJournal_MailIdentity(std::string_view subjectSjis,
                                    const std::vector<std::string>& bodyLinesSjis) {
    Fnv1a64 h;
    h.field(subjectSjis);
    h.number(bodyLinesSjis.size());
    for (const std::string& line : bodyLinesSjis)
        h.field(line);
    return h.hex();
}

std::string RunJournal_Folder(bool logOn, const std::string& logPathSjis,
                              const std::string& startDirectorySjis) {
    if (!logOn || logPathSjis.empty())
        return startDirectorySjis;
    const std::size_t slash = logPathSjis.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return logPathSjis.substr(0, slash);
}

std::string RunJournal_Path(const std::string& folderSjis, std::string_view identity) {
    return folderSjis + "/Tessaly-" + std::string(identity) + ".journal";
}

bool JournalState::resumable(std::string_view id, std::size_t count) const {
    return present && !finished && identity == id && recipients.size() == count;
}

std::size_t JournalState::acceptedCount() const {
    std::size_t n = 0;
    for (const JournalRecipient& r : recipients)
        n += r.outcome == JournalOutcome::Accepted;
    return n;
}

std::size_t JournalState::stoppedAt() const {
    for (std::size_t i = 0; i < recipients.size(); ++i)
        if (recipients[i].outcome == JournalOutcome::NotSent ||
            recipients[i].outcome == JournalOutcome::InFlight)
            return i;
    return recipients.size();
}

std::vector<std::size_t> JournalState::inFlight() const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < recipients.size(); ++i)
        if (recipients[i].outcome == JournalOutcome::InFlight)
            out.push_back(i);
    return out;
}

std::size_t JournalState::unsentCount() const {
    std::size_t n = 0;
    for (const JournalRecipient& r : recipients)
        n += r.outcome != JournalOutcome::Accepted && r.outcome != JournalOutcome::InFlight;
    return n;
}

JournalState RunJournal_Read(const std::string& pathSjis) {
    JournalState state;
    state.pathSjis = pathSjis;
    std::string bytes;
    if (!readWholeFile(cp932::pathFromSjis(pathSjis), bytes))
        return state;
    std::size_t start = 0;
    bool first = true;
    // Only lines that end in CR LF count: a line a kill cut short has none.
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string_view line(bytes.data() + start, end - start);
        if (first) {
            if (!parseHeader(line, state))
                return JournalState{};
            state.pathSjis = pathSjis;
            state.present = true;
            first = false;
            continue;
        }
        applyRecord(line, state);
    }
    return state;
}

namespace {

// `previous` as a run of `to`, or not present when its list is not part of `to`.
JournalState carriedOnto(const JournalState& previous, const std::vector<std::string>& to) {
    JournalState carried;
    if (previous.entriesSjis.empty() || previous.entriesSjis.size() != previous.recipients.size() ||
        previous.entriesSjis.size() > to.size())
        return carried;
    std::vector<bool> taken(to.size(), false);
    carried.recipients.assign(to.size(), JournalRecipient{});
    for (std::size_t i = 0; i < previous.entriesSjis.size(); ++i) {
        std::size_t j = 0;
        while (j < to.size() && (taken[j] || to[j] != previous.entriesSjis[i]))
            ++j;
        if (j == to.size())
            return JournalState{};
        taken[j] = true;
        carried.recipients[j] = previous.recipients[i];
        carried.recipients[j].entrySjis = to[j];
    }
    carried.present = true;
    carried.pathSjis = previous.pathSjis;
    carried.identity = previous.identity;
    carried.mailIdentity = previous.mailIdentity;
    carried.subjectSjis = previous.subjectSjis;
    carried.entriesSjis = to;
    carried.notifySent = previous.notifySent;
    carried.sentDataWritten = previous.sentDataWritten;
    carried.addedCount = to.size() - previous.entriesSjis.size();
    carried.carriedStop = previous.stoppedAt();
    return carried;
}

} // namespace

JournalState RunJournal_FindCarried(const std::string& folderSjis, std::string_view mailIdentity,
                                    const std::vector<std::string>& recipientsSjis) {
    JournalState best;
    if (mailIdentity.empty())
        return best;
    const std::string fsFolder = cp932::pathFromSjis(folderSjis);
    DIR* dir = ::opendir(fsFolder.empty() ? "." : fsFolder.c_str());
    if (!dir)
        return best;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (name.substr(0, 8) != "Tessaly-" || name.size() < 8 + 8 ||
            name.substr(name.size() - 8) != ".journal")
            continue;
        // File names are ASCII: the same bytes in Shift-JIS.
        const JournalState previous = RunJournal_Read(folderSjis + "/" + std::string(name));
        if (!previous.present || previous.finished || previous.mailIdentity != mailIdentity)
            continue;
        JournalState carried = carriedOnto(previous, recipientsSjis);
        if (carried.present && (!best.present || carried.acceptedCount() > best.acceptedCount()))
            best = std::move(carried);
    }
    ::closedir(dir);
    return best;
}

void RunJournal_Remove(const std::string& pathSjis) {
    if (::unlink(cp932::pathFromSjis(pathSjis).c_str()) != 0 && errno != ENOENT)
        throw FileError(cp932::toUtf8(pathSjis) + " を削除できません");
}

RunJournal::RunJournal(std::string pathSjis, int fd, bool mappable)
    : pathSjis_(std::move(pathSjis)), fd_(fd), mappable_(mappable) {}

RunJournal::RunJournal(RunJournal&& other) noexcept
    : pathSjis_(std::move(other.pathSjis_)), fd_(other.fd_), mappable_(other.mappable_),
      map_(other.map_), mapLength_(other.mapLength_), fileLength_(other.fileLength_),
      length_(other.length_) {
    other.fd_ = -1;
    other.map_ = nullptr;
}

RunJournal& RunJournal::operator=(RunJournal&& other) noexcept {
    if (this != &other) {
        release();
        pathSjis_ = std::move(other.pathSjis_);
        fd_ = std::exchange(other.fd_, -1);
        mappable_ = other.mappable_;
        map_ = std::exchange(other.map_, nullptr);
        mapLength_ = other.mapLength_;
        fileLength_ = other.fileLength_;
        length_ = other.length_;
    }
    return *this;
}

RunJournal::~RunJournal() { release(); }

void RunJournal::release() noexcept {
    if (fd_ < 0)
        return;
    if (map_)
        ::munmap(map_, mapLength_);
    map_ = nullptr;
    // The file keeps its records and nothing of what was allocated ahead.
    if (fileLength_ != length_)
        cutTo(fd_, length_);
    ::close(fd_);
    fd_ = -1;
}

RunJournal RunJournal::open(const std::string& pathSjis, bool fresh) {
    const std::string fsPath = cp932::pathFromSjis(pathSjis);
    const int create = fresh ? O_CREAT : 0;
    bool mappable = true;
    int fd = openRetrying(fsPath, O_RDWR | create);
    if (fd < 0 && errno == EACCES) { // a file we may write but not read: no map, plain writes
        fd = openRetrying(fsPath, O_WRONLY | create);
        mappable = false;
    }
    if (fd < 0)
        throw writeError(pathSjis);
    RunJournal journal(pathSjis, fd, mappable);
    // Another run of the same mail to the same list, in another window at this moment, must not
    // cut the file under this one (a mapped file cut short kills the writer), nor send everyone
    // the mail a second time.
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK)
        throw writeError(pathSjis);
    if (locked != 0) // a file system without locks: nothing keeps the file its size
        journal.mappable_ = false;
    if (fresh && !cutTo(fd, 0))
        throw writeError(pathSjis);
    return journal;
}

RunJournal RunJournal::create(const std::string& pathSjis, std::string_view identity,
                              std::string_view subjectSjis, std::size_t count,
                              std::string_view mailIdentity,
                              const std::vector<std::string>& entriesSjis) {
    RunJournal journal = open(pathSjis, true);
    // The head in one write, in order. A kill in its middle leaves a list with holes, which no
    // later list is taken for; the run itself can still be continued.
    std::string head = std::string(kMagic) + "," + std::string(identity) + "," +
                       std::to_string(count) + "," + oneLine(subjectSjis);
    if (!mailIdentity.empty()) {
        head += "\r\nM," + std::string(mailIdentity);
        for (std::size_t i = 0; i < entriesSjis.size() && i < count; ++i)
            head += "\r\nT," + std::to_string(i + 1) + "," + oneLine(entriesSjis[i]);
    }
    head += "\r\n";
    journal.appendByCall(head);
    return journal;
}

RunJournal RunJournal::resume(const std::string& pathSjis) {
    RunJournal journal = open(pathSjis, false);
    std::string bytes;
    if (!readWholeFile(cp932::pathFromSjis(pathSjis), bytes))
        throw writeError(pathSjis);
    // The broken tail of a killed run goes (a record cut short, the zero bytes allocated ahead),
    // so that the next record starts on a line of its own.
    const std::size_t lastEnd = bytes.rfind("\r\n");
    const std::size_t whole = lastEnd == std::string::npos ? 0 : lastEnd + 2;
    if (whole != bytes.size() && !cutTo(journal.fd_, whole))
        throw writeError(pathSjis);
    if (::lseek(journal.fd_, static_cast<off_t>(whole), SEEK_SET) < 0)
        throw writeError(pathSjis);
    journal.fileLength_ = journal.length_ = whole;
    return journal;
}

void RunJournal::append(std::string line) {
    if (fd_ < 0)
        throw writeError(pathSjis_);
    line += "\r\n";
    if (!reserve(length_ + line.size())) {
        appendByCall(line);
        return;
    }
    // The bytes land in the file's pages at once; a copy is in any order, so the line's end comes
    // last: whatever a kill leaves of the record is a line without its end, which the reader
    // skips and a resume cuts off.
    char* const at = map_ + length_;
    const std::size_t text = line.size() - 2;
    std::memcpy(at, line.data(), text);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    at[text] = '\r';
    at[text + 1] = '\n';
    length_ += line.size();
}

void RunJournal::appendByCall(std::string_view bytes) {
    // Half a record would be read as a broken line at best: appendRecord takes it back out.
    if (!appendRecord(fd_, bytes))
        throw writeError(pathSjis_);
    length_ += bytes.size();
    fileLength_ = length_;
}

bool RunJournal::reserve(std::size_t need) {
    if (need <= fileLength_ && map_)
        return true;
    if (!mappable_)
        return false;
    if (need > fileLength_) {
        // A chunk ahead, or on a disk that is nearly full just what this record needs. The blocks
        // are the file's from here on: writing into the map can never find the disk full.
        int error = allocate(fd_, fileLength_, roundUp(need, kGrowth));
        std::size_t grown = roundUp(need, kGrowth);
        if (error != 0 && diskRefused(error) && grown > need) {
            grown = need;
            error = allocate(fd_, fileLength_, need);
        }
        if (error != 0 && diskRefused(error))
            throw writeError(pathSjis_);
        if (error != 0) { // the file system allocates nothing ahead: plain writes
            writeByCalls();
            return false;
        }
        fileLength_ = grown;
    }
    if (fileLength_ > mapLength_) {
        const std::size_t length = roundUp(fileLength_, kMapStep);
        void* const map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (map == MAP_FAILED) {
            writeByCalls();
            return false;
        }
        if (map_)
            ::munmap(map_, mapLength_);
        map_ = static_cast<char*>(map);
        mapLength_ = length;
    }
    return true;
}

void RunJournal::writeByCalls() {
    mappable_ = false;
    if (map_)
        ::munmap(map_, mapLength_);
    map_ = nullptr;
    mapLength_ = 0;
    trim();
    if (::lseek(fd_, static_cast<off_t>(length_), SEEK_SET) < 0)
        throw writeError(pathSjis_);
}

void RunJournal::trim() {
    if (fileLength_ == length_)
        return;
    if (!cutTo(fd_, length_))
        throw writeError(pathSjis_);
    fileLength_ = length_;
}

void RunJournal::sending(std::size_t index, std::string_view entrySjis) {
    append("S," + std::to_string(index + 1) + "," + oneLine(entrySjis));
}

void RunJournal::accepted(std::size_t index) {
    append("A," + std::to_string(index + 1));
}

void RunJournal::refused(std::size_t index, std::string_view reply) {
    append("R," + std::to_string(index + 1) + "," + oneLine(reply));
}

void RunJournal::noAnswer(std::size_t index) {
    append("U," + std::to_string(index + 1));
}

void RunJournal::notDelivered(std::size_t index) {
    append("X," + std::to_string(index + 1));
}

void RunJournal::notifySent() {
    append("N");
}

void RunJournal::sentDataWritten() {
    append("D");
}

void RunJournal::sync() {
    if (fd_ < 0)
        return;
    if (map_ && length_ > 0 && ::msync(map_, length_, MS_SYNC) != 0)
        throw writeError(pathSjis_);
    trim();
    if (::fsync(fd_) != 0)
        throw writeError(pathSjis_);
}

void RunJournal::finish() {
    // A removed file needs neither its end record, nor a flush to the disk, nor cutting to its
    // records. Should the removal fail, the last record says the run is over, and must stay said.
    if (::unlink(cp932::pathFromSjis(pathSjis_).c_str()) == 0) {
        fileLength_ = length_;
    } else {
        append("F");
        sync();
    }
    release();
}

} // namespace tessaly
