// frmHelp: the help window with the credit line and the change history.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

namespace korvalinfe {

class frmHelp : public QWidget {
    Q_OBJECT

  public:
    explicit frmHelp(QWidget* parent = nullptr);

    // The window's text: fourteen lines, each followed by CR LF.
    static QString helpText();

    QPlainTextEdit* Text1 = nullptr;
};

}  // namespace korvalinfe
