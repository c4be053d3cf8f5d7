// The window fonts, by family list: the Japanese Windows faces first, then whatever Japanese
// font this machine has, so that Japanese text renders even where those faces are missing.
#pragma once

#include <QFont>

namespace tessaly {

// "ＭＳ Ｐゴシック" (proportional), used for window captions, labels and buttons.
QFont proportionalGothic(int pixelSize);
// "ＭＳ ゴシック" (fixed pitch), used for the edit fields and lists.
QFont fixedGothic(int pixelSize);

} // namespace tessaly
