#pragma once
#include <QDialog>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>

struct MainState;
struct MapSource;
struct SourceList;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;

// The settings dialog. The main window's settings button fills it from the
// state (LoadFromState), runs it modally and, on OK, copies it back
// (ApplyToState). The archive list is the exception: "Добавить" and "Удалить"
// write "CacheList.dat" at once, whatever the dialog's result.
class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    // Opening: the controls take the state's values, the archive list is read
    // from "CacheList.dat" (an unreadable file leaves the list as it was).
    void LoadFromState(const MainState& state);
    // After OK: the work mode, proxy, timer, source, cache folder, error
    // control and the flags go back into the state. The archive list, the
    // view and the settings file are the caller's.
    void ApplyToState(MainState& state) const;
    // The work mode the radio buttons show: 0 cache only, 1 internet only,
    // 2 cache and internet.
    int CheckedWorkMode() const;

    // The dialogs the window opens, replaceable so that it can be driven
    // without a desktop. An empty path means the user cancelled.
    std::function<QString()> ChooseArchive;
    std::function<QString(const QString& current)> ChooseFolder;
    std::function<void(const QUrl&)> OpenDocument;

    // Handlers.
    void CheckBox2Click();
    void ButtonSClick();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox7Click();
    void Button2Click();
    void Button3Click();
    void ListBox1Click();
    void Button1Click();
    void Edit16BrowseClick();
    // OK: a text the settings file cannot hold, or a source string that is an
    // unusable URL template, is refused with its reason; the dialog stays
    // open on the page of the culprit.
    void accept() override;
    // False, with a message naming the field and the characters, when a text
    // holds characters the settings file cannot keep; the dialog shows it.
    bool TextsCanBeSaved();

    QTabWidget* PageControl1;
    QWidget *TabSheet1, *TabSheet2, *TabSheet3, *TabSheet4, *TabSheet5, *TabSheet6, *TabSheet7,
        *TabSheet8;
    // "Интернет".
    QRadioButton *RadioButton1, *RadioButton2, *RadioButton3;
    QCheckBox* CheckBox2;
    QLineEdit *Edit5, *Edit6, *Edit8, *Edit9;
    QLabel *Label16, *Label17, *Label18;
    // "Источник".
    QLineEdit* Edit11;
    QPushButton *ButtonS, *ButtonSOK;
    QLabel* SourceError;  // why the template cannot be used; hidden while it can
    // The list of map sources: "Добавить", "Изменить", "Удалить" save it at once.
    QListWidget* SourcesList;
    QPushButton *SourceAdd, *SourceEdit, *SourceDelete;
    // Shows `list` (the main window's, changed in place) of the program folder.
    void ShowSources(SourceList* list, const std::string& programFolder);
    void SourceAddClick();
    void SourceEditClick();
    void SourceDeleteClick();
    // Edits one source in its dialog; replaceable so that tests need no
    // desktop. False when cancelled.
    std::function<bool(MapSource& source, bool main)> EditSource;
    // "Кэш".
    QCheckBox *CheckBox4, *CheckBox7, *CheckBox5, *CheckBox6;
    QLineEdit* Edit16;
    QToolButton* Edit16Browse;
    QListWidget* ListBox1;
    QPushButton *Button2, *Button3;
    // "Ошибки". Each number is a spin box whose text cannot be typed into;
    // EditNN is its text field.
    QCheckBox *CheckBox3, *CheckBox8;
    QSpinBox *UpDown1, *UpDown6, *UpDown2, *UpDown4, *UpDown5;
    QLineEdit *Edit12, *Edit21, *Edit13, *Edit14, *Edit15;
    QLabel *Label22, *Label15, *Label25, *Label23, *Label24;
    // "Таймер", "Склеивание", "Управление".
    QCheckBox *CheckBox1, *CheckBox9, *CheckBox10;
    QRadioButton *RadioButton4, *RadioButton5;
    // "О программе".
    QPushButton* Button1;
    QPushButton *OKBtn, *CancelBtn;

protected:
    void showEvent(QShowEvent* event) override;

private:
    SourceList* Sources = nullptr;
    std::string SourcesFolder;
    void FillSources();
    // A refusal of the list, shown; true when there was none.
    bool SourceDone(const std::string& error);
    QWidget* BuildInternetPage();
    QWidget* BuildSourcePage();
    QWidget* BuildCachePage();
    QWidget* BuildErrorsPage();
    QWidget* BuildTimerPage();
    QWidget* BuildStitchPage();
    QWidget* BuildControlPage();
    QWidget* BuildAboutPage();
    void FixSize();
    // Writes the list box to "CacheList.dat"; a failure is shown, the list
    // box keeps its items.
    void WriteArchiveList();

    std::string ProgramFolder;  // ends with '/'
};
