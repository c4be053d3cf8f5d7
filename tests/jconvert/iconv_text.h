// glibc iconv as an independent reference for the jconvert tests.
#pragma once

#include <cerrno>
#include <iconv.h>
#include <optional>
#include <string>
#include <string_view>

namespace jconvert_test {

// Converts `in` whole, including the final shift back to the initial state; nullopt when
// iconv refuses any of it.
class IconvText {
public:
    IconvText(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvText() {
        if (ok())
            iconv_close(cd_);
    }
    IconvText(const IconvText&) = delete;
    IconvText& operator=(const IconvText&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    std::optional<std::string> operator()(std::string_view in) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) || srcLeft != 0)
            return std::nullopt;
        if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return std::nullopt;
        out.resize(out.size() - dstLeft);
        return out;
    }

private:
    iconv_t cd_;
};

} // namespace jconvert_test
