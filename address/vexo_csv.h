// Reader and writer of files of quoted comma-separated records, one record per line, a fixed
// number of fields. Byte strings throughout; no character code conversion. Plain standard C++.
// FileName is a file-system path: callers holding a Shift-JIS path convert it with
// cp932::pathFromSjis first, so that this component knows nothing of code pages.
#pragma once

#include <array>
#include <memory>
#include <string>

class TVexo_CSV {
public:
    TVexo_CSV();
    ~TVexo_CSV();
    TVexo_CSV(const TVexo_CSV&) = delete;
    TVexo_CSV& operator=(const TVexo_CSV&) = delete;

    // Published properties.
    std::string FileName;
    std::string text;             // the current line: last read or last written
    std::string Kugirimoji = ","; // separator characters when reading
    std::string MojiretsuNinsiki = "\""; // quotation mark
    // Fields per record, 1 to 100; 0 reads bare lines (into `text`) without fields. Values
    // outside 0 to 100 are taken as the nearest of them.
    int ItemCount = 0;
    bool eof = false;
    bool ErrorDetect = false;
    // Line of the file the current record began on (1 for the first line; CR LF, CR and a lone
    // LF each end a line, as an editor shows them); 0 before the first record.
    int LineNumber = 0;
    // A field of the current record had an opening quotation mark without its partner: the
    // record was not written as this component writes records, and its fields are unreliable.
    bool UnclosedQuote = false;
    // A lone LF ends a line too, as it does for the editors most files come from; off, it stays
    // inside the line. CR LF and a lone CR end a line either way.
    bool LfEndsLine = false;

    // Field values of the current record, Items[1] to Items[ItemCount] (Items[0] unused).
    std::array<std::string, 101> Items;

    // An empty argument keeps FileName. Failure (no name, already open, missing or unreadable
    // file, or not a plain file: a named pipe or a device is refused without waiting for it) only
    // sets ErrorDetect; nothing is raised.
    void OpenRead(const std::string& fileName = {});
    void OpenWrite(const std::string& fileName = {});
    void ReadRecord();  // throws tessaly::FileError on an I/O error
    void WriteRecord(); // throws tessaly::FileError when the write fails
    // Builds `text` from Items[1..ItemCount] as WriteRecord writes it (without the CR LF).
    void BuildText();
    // Throws tessaly::FileError when pending output cannot be written. Harmless when closed.
    void CloseFile();
    bool isOpen() const;

    // Splits `line` into Items the way ReadRecord does (sets ErrorDetect).
    void SplitLine(const std::string& line);

private:
    bool openFile(const std::string& fileName, bool forWriting);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
