#include "FormLayout.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QStringList>
#include <algorithm>

namespace korvalinfe {

int twips(int value) {
    return (value + 7) / 15;
}

void place(QWidget* control, int left, int top, int width, int height) {
    int w = twips(width);
    // A caption drawn in a font wider than Tahoma may need more room than the
    // layout gives it; labels and check and option buttons then grow to the
    // right, as far as their container allows, rather than cut their text.
    const bool caption = qobject_cast<QLabel*>(control) || qobject_cast<QCheckBox*>(control) ||
                         qobject_cast<QRadioButton*>(control);
    if (caption && control->parentWidget()) {
        const int room = control->parentWidget()->width() - twips(left) - twips(60);
        w = std::max(w, std::min(control->sizeHint().width(), room));
    }
    control->setGeometry(twips(left), twips(top), w, twips(height));
}

QFont formFont(qreal points, bool bold) {
    QFont font;
    // Families narrow enough for captions laid out for Tahoma come first.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
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
