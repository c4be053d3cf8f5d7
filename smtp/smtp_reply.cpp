#include "smtp/smtp_reply.h"

namespace tessaly {

const char* StepName(SmtpStep step) {
    switch (step) {
    case SmtpStep::Greeting:
    case SmtpStep::Hello:
        return "接続";
    case SmtpStep::StartTls:
        return "TLS";
    case SmtpStep::Auth:
        return "認証";
    case SmtpStep::Reset:
    case SmtpStep::Sender:
        return "送信者";
    case SmtpStep::Recipient:
        return "宛先";
    case SmtpStep::Data:
    case SmtpStep::EndOfData:
        return "本文";
    case SmtpStep::Quit:
        return "切断";
    case SmtpStep::Other:
        break;
    }
    return "応答";
}

ReplyLine ParseReplyLine(std::string_view line) {
    ReplyLine parsed;
    std::size_t digits = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9')
        parsed.Number = parsed.Number * 10 + (line[digits++] - '0');
    const char after = line.size() > 3 ? line[3] : '\0';
    parsed.Coded = digits == 3 && line[0] >= '2' && line[0] <= '5' &&
                   (line.size() == 3 || after == ' ' || after == '-' || after == '\r' || after == '\n');
    parsed.More = (!line.empty() && line.front() == ' ') || after == '-';
    return parsed;
}

std::string SmtpReply::Text() const {
    std::string text;
    for (const std::string& line : Lines)
        text += line;
    return text;
}

std::vector<std::string> SmtpReply::Texts() const {
    std::vector<std::string> texts;
    texts.reserve(Lines.size());
    for (const std::string& line : Lines) {
        std::string text = line.size() > 4 ? line.substr(4) : std::string();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        texts.push_back(std::move(text));
    }
    return texts;
}

} // namespace tessaly
