#include "smtp/post_message.h"

#include "common/errors.h"

#include <algorithm>
#include <cstring>

namespace tessaly {

namespace {

std::string_view headerName(std::string_view line, bool& hasColon) {
    const std::size_t colon = line.find(':');
    hasColon = colon != std::string_view::npos;
    return hasColon ? line.substr(0, colon) : std::string_view{};
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// <0, 0, >0 like strcmp, ignoring ASCII letter case.
int compareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(lower(a[i]));
        const unsigned char y = static_cast<unsigned char>(lower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Sort key of a line: its name; a line without ":" sorts by its whole text.
std::string_view sortKey(std::string_view line) {
    bool hasColon = false;
    const std::string_view name = headerName(line, hasColon);
    return hasColon ? name : line;
}

bool keyLess(const std::string& a, const std::string& b) { return compareNoCase(sortKey(a), sortKey(b)) < 0; }

} // namespace

bool HasLineBreakOrZero(std::string_view text) {
    // Every body line of every message passes here: three scans for one byte each run vectorized,
    // one scan for three bytes does not.
    if (text.empty())
        return false;
    return std::memchr(text.data(), '\r', text.size()) || std::memchr(text.data(), '\n', text.size()) ||
           std::memchr(text.data(), '\0', text.size());
}

std::string LineBreakRefusal(std::string_view what) {
    return std::string(what) + " must not contain a line break (CR, LF) or a zero byte";
}

void CheckOneLine(std::string_view what, std::string_view text) {
    if (HasLineBreakOrZero(text))
        throw Error(LineBreakRefusal(what));
}

void TExStringList::Add(std::string line) {
    if (m_sorted)
        m_lines.insert(std::upper_bound(m_lines.begin(), m_lines.end(), line, keyLess), std::move(line));
    else
        m_lines.push_back(std::move(line));
}

void TExStringList::Insert(int index, std::string line) {
    if (index < 0 || index > Count())
        throw Error("List index out of bounds (" + std::to_string(index) + ")");
    m_lines.insert(m_lines.begin() + index, std::move(line));
}

void TExStringList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw Error("List index out of bounds (" + std::to_string(index) + ")");
    m_lines.erase(m_lines.begin() + index);
}

void TExStringList::SetSorted(bool sorted) {
    if (sorted && !m_sorted)
        std::stable_sort(m_lines.begin(), m_lines.end(), keyLess);
    m_sorted = sorted;
}

int TExStringList::FindHeader(std::string_view name) const {
    if (m_sorted) {
        // Lines are ordered by name, so the first line of that name is the lower bound.
        std::size_t lo = 0, hi = m_lines.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (compareNoCase(sortKey(m_lines[mid]), name) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        for (std::size_t i = lo; i < m_lines.size(); ++i) {
            bool hasColon = false;
            const std::string_view n = headerName(m_lines[i], hasColon);
            if (compareNoCase(sortKey(m_lines[i]), name) != 0)
                break;
            if (hasColon && compareNoCase(n, name) == 0)
                return static_cast<int>(i);
        }
        return -1;
    }
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        bool hasColon = false;
        const std::string_view n = headerName(m_lines[i], hasColon);
        if (hasColon && compareNoCase(n, name) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

void TExStringList::SetHeaderValue(std::string_view name, std::string_view value) {
    CheckOneLine("Header name", name);
    CheckOneLine(std::string("Header ") + std::string(name), value);
    const int found = FindHeader(name);
    if (value.empty()) {
        if (found >= 0)
            Delete(found);
        return;
    }
    std::string line = std::string(name) + ": " + std::string(value);
    if (found >= 0)
        m_lines[static_cast<std::size_t>(found)] = std::move(line);
    else
        Add(std::move(line));
}

std::string TExStringList::Text() const {
    std::string out;
    for (const std::string& l : m_lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

} // namespace tessaly
