#include "common/window_fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace tessaly {

namespace {

// Every installed font that can write Japanese, looked up once; the last resort of each list.
const QStringList& installedJapaneseFamilies() {
    static const QStringList families = QFontDatabase::families(QFontDatabase::Japanese);
    return families;
}

QFont gothic(QStringList families, bool fixedPitch, int pixelSize) {
    families += installedJapaneseFamilies();
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setFixedPitch(fixedPitch);
    font.setStyleHint(fixedPitch ? QFont::TypeWriter : QFont::SansSerif);
    return font;
}

} // namespace

QFont proportionalGothic(int pixelSize) {
    return gothic({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                   QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                   QStringLiteral("VL PGothic")},
                  false, pixelSize);
}

QFont fixedGothic(int pixelSize) {
    return gothic({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                   QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                   QStringLiteral("VL Gothic")},
                  true, pixelSize);
}

} // namespace tessaly
