#include "app/legacylook.h"

#include <QStringList>

namespace {
QFont fontOf(const QStringList &families, QFont::StyleHint hint, qreal points, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
} // namespace

QFont courierNew(qreal points, bool bold) {
    return fontOf({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")},
                  QFont::Monospace, points, bold);
}

QFont msSansSerif(qreal points, bool bold) {
    return fontOf({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")},
                  QFont::SansSerif, points, bold);
}
