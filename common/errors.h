// The general error class: every failure the program reports carries its text (UTF-8).
#pragma once

#include <stdexcept>
#include <string>

namespace tessaly {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

// A file that could not be read or written; the text names the file.
class FileError : public Error {
public:
    using Error::Error;
};

} // namespace tessaly
