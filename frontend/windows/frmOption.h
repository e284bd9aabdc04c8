// frmOption: the converter's options. Loads korvalin.cfg of the program folder
// into its controls when it opens and writes them back when it closes.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

class QCloseEvent;

namespace korvalinfe {

class frmOption : public QWidget {
    Q_OBJECT

  public:
    // The window loads the option file as it is created (Form_Load).
    explicit frmOption(QWidget* parent = nullptr);

    // The option file: AppPath followed by "korvalin.cfg".
    static QString OptionFile();

    // Reads the option file into the controls. A line whose value the window
    // cannot show is skipped and named in one message; the rest still apply.
    void GetSettings();
    // Writes the controls into the option file. Returns a notice for each
    // folder that is named but does not exist; its line is left out, the
    // other folder's line is written.
    QStringList WriteSettings();

    QGroupBox* Frame4 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtSampleDir = nullptr;
    QPushButton* cmdSampleDir = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtOutputDir = nullptr;
    QPushButton* cmdOutputDir = nullptr;

    QGroupBox* Frame2 = nullptr;
    QCheckBox* ChkDirtyEnd = nullptr;
    QCheckBox* ChkTweakVol = nullptr;
    QCheckBox* Chk8Bit = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* cbMaxRate = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* cbMaxCh = nullptr;

    QGroupBox* Frame1 = nullptr;
    QRadioButton* OptNewMethod = nullptr;
    QRadioButton* OptOldMethod = nullptr;
    QCheckBox* ChkQuantisize = nullptr;
    QComboBox* cbQuantisize = nullptr;

    QGroupBox* Frame3 = nullptr;
    QCheckBox* ChkNoPan = nullptr;
    QLabel* Label6 = nullptr;
    QComboBox* cbPercussion = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Form_Load();
    void Form_Unload();
    void cmdSampleDir_Click();
    void cmdOutputDir_Click();
    void OptNewMethod_Click();
    void OptOldMethod_Click();
    void ChkQuantisize_Click();

    void buildControls();
    void applySettingLine(const QString& sLine);

    QButtonGroup* methodGroup = nullptr;
    // The non-empty lines of the option file, in file order.
    std::vector<QString> aSettingLines;
    // txtSampleDir's text right after loading; a change asks for a restart.
    QString sLoadedSampleDir;
};

}  // namespace korvalinfe
