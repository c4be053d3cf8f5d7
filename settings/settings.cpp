#include "settings/settings.h"

#include "common/cp932.h"
#include "common/errors.h"
#include "settings/ini_file.h"

#include <cstdio>
#include <filesystem>

namespace tessaly {

std::string startDirectoryOf(std::string_view cwdSjis) {
    std::string dir(cwdSjis);
    if (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string currentStartDirectory() {
    const std::string cwd = std::filesystem::current_path().string();
    cp932::EncodeResult sjis = cp932::fromUtf8(cwd);
    if (!sjis.ok()) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(sjis.refused.front().codePoint));
        throw Error("作業フォルダ " + cwd + " には Shift-JIS で表せない文字 (" + code +
                    ") が含まれているため、設定ファイルを置けません。");
    }
    return startDirectoryOf(sjis.bytes);
}

std::string iniPath(const std::string& startDirectory) {
    return startDirectory + std::string(IniFileName);
}

} // namespace tessaly

bool Settings_Save(const Settings& s, const std::string& startDirectory) {
    ini::IniFile file(cp932::pathFromSjis(tessaly::iniPath(startDirectory)));
    const char* settei = "Settei";
    file.writeString(settei, "Host", s.Host);
    file.writeString(settei, "Port", s.Port);
    file.writeString(settei, "User", s.User);
    file.writeString(settei, "From", s.From);
    file.writeString(settei, "Reply", s.Reply);
    file.writeString(settei, "UserMei", s.UserMei);
    file.writeString(settei, "Syomei", s.Syomei);
    file.writeBool(settei, "ChkBox_Syomei", s.ChkBox_Syomei);
    file.writeBool(settei, "ChkBox_Atesaki", s.ChkBox_Atesaki);
    file.writeString(settei, "Keisyou", s.Keisyou);
    file.writeBool(settei, "ChkBox_EverySend", s.ChkBox_EverySend);
    file.writeString(settei, "EverySend", s.EverySend);
    file.writeString(settei, "Address", s.Address);
    file.writeBool(settei, "ChkBox_Log", s.ChkBox_Log);
    file.writeString(settei, "Log", s.Log);
    file.writeBool(settei, "ChkBox_SendData", s.ChkBox_SendData);
    file.writeString(settei, "SendData", s.SendData);
    const char* window = "Window";
    file.writeInteger(window, "Main_X", s.Main_X);
    file.writeInteger(window, "Main_Y", s.Main_Y);
    file.writeInteger(window, "Settei_X", s.Settei_X);
    file.writeInteger(window, "Settei_Y", s.Settei_Y);
    file.writeInteger(window, "Address_X", s.Address_X);
    file.writeInteger(window, "Address_Y", s.Address_Y);
    file.save();
    return true;
}
