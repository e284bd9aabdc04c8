#include "FormLayout.h"

#include <QStringList>

namespace korvalinfe {

int twips(int value) { return (value + 7) / 15; }

void place(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

QFont formFont(qreal points, bool bold) {
    QFont font;
    // Families narrow enough for captions laid out for Tahoma come first.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void setTabOrderChain(std::initializer_list<QWidget*> controls) {
    QWidget* previous = nullptr;
    for (QWidget* control : controls) {
        if (control->focusPolicy() == Qt::NoFocus) continue;
        if (previous) QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

}  // namespace korvalinfe
