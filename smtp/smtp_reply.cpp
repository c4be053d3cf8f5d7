#include "smtp/smtp_reply.h"

namespace tessaly {

const char* StepName(TSmtpStep step) {
    switch (step) {
    case TSmtpStep::Greeting:
    case TSmtpStep::Hello:
        return "接続";
    case TSmtpStep::StartTls:
        return "TLS";
    case TSmtpStep::Auth:
        return "認証";
    case TSmtpStep::Reset:
    case TSmtpStep::Sender:
        return "送信者";
    case TSmtpStep::Recipient:
        return "宛先";
    case TSmtpStep::Data:
    case TSmtpStep::EndOfData:
        return "本文";
    case TSmtpStep::Quit:
        return "切断";
    case TSmtpStep::Other:
        break;
    }
    return "応答";
}

std::string TSmtpReply::Text() const {
    std::string text;
    for (const std::string& line : Lines)
        text += line;
    return text;
}

std::vector<std::string> TSmtpReply::Texts() const {
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
