#include "common/japanese_application.h"

#include "common/window_fonts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tessaly {

bool setUpJapanese(QApplication& app) {
    // Message boxes, file dialogs and menus have no font of their own: without this they would
    // write in the desktop's font beside windows in the gothic one.
    QApplication::setFont(proportionalGothic(12));
    // Japanese whatever the desktop's language: every text of the program's own is Japanese, so
    // are the file dialog's sizes, dates and kinds of file.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

} // namespace tessaly
