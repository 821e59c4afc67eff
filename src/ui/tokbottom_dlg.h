#pragma once
#include <QDialog>
#include <memory>

#include "core/main_state.h"
#include "tasks/task_params.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class TKoordDlg;
class ShapeTileCounts;

// The task parameters dialog ("Параметры"): the kind of region task, the two
// corners, the zoom and the options of the kind. It is made once and kept:
// the radio buttons, check boxes, piece texts and folder stay from one
// opening to the next; corners, zoom and sizes are set anew at each one.
class TOKBottomDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TOKBottomDlg(QWidget* parent = nullptr);

    // The command "Выполнить": fills the dialog from the state's selection
    // (SelLat1.. SelLon2) at the task zoom item `taskZoomIndex` (ComboBox2,
    // 0..19), selects `preselectKind` (a TaskKind; -1 keeps the last choice),
    // shows it modally and, after OK, fills `out` (corners ordered and
    // clamped, the dialog's zoom, the options) and returns true. On Cancel
    // it returns false and `out` is left alone.
    bool Run(const MainState& state, int taskZoomIndex, int preselectKind, TaskParamsResult& out);

    // The two halves of Run, for callers that show the dialog themselves.
    void Fill(const RegionCorners& selection, int taskZoomIndex);
    TaskParamsResult Result() const;

    void ShowCorners();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void CheckBox1Click();
    void Edit1Exit();
    void Edit2Exit();
    void FCBChange();
    // Both "<- Изменить" buttons: corner 1 for Button1, corner 2 for Button2.
    void Button1Click(QPushButton* sender);

    // The region's shape and its tile counts, set by the caller before Run;
    // the corners are then its box. Editing a corner turns the region back
    // into the rectangle of the corners: this becomes null.
    std::shared_ptr<ShapeTileCounts> Region;

    double CornerLat1 = 0, CornerLon1 = 0, CornerLat2 = 0, CornerLon2 = 0;
    int PixelWidth = 0, PixelHeight = 0;
    int PieceWidth = 0, PieceHeight = 0;

    QGroupBox* GroupBox1;  // "Задача"
    QRadioButton *RadioButton1, *RadioButton2, *RadioButton3;
    QGroupBox* GroupBox2;  // "Выделен фрагмент"
    QLabel *Label4, *Label5, *Label6, *Label7, *Label9;
    QPushButton *Button1, *Button2;
    QComboBox* FCB;
    QLabel* ZoomToLabel;   // "до"
    QComboBox* FCBTo;      // the last zoom of a download or an export
    QGroupBox* GroupBox3;  // "Параметры склеивания"
    QCheckBox *CheckBox3, *CheckBox4, *CheckBox5, *CheckBox1;
    QLineEdit *Edit1, *Edit2;
    QGroupBox* GroupBox4;  // "Параметры копирования части кэша"
    QComboBox* TargetBox;  // "в папку", "в файл MBTiles", "в файл SQLiteDB (OsmAnd, Locus)"
    QLabel* TargetLabel;
    QLineEdit* DirectoryEdit1;
    QToolButton* DirectoryButton;
    QCheckBox* CheckBox2;
    QPushButton *OKBtn, *CancelBtn;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OKBtnClick();
    bool PieceExit(QLineEdit* edit, int regionSize, int& piece, bool& rejected);
    void BrowseFolder();
    void TargetChange();
    void ShowZoomTo();
    TKoordDlg* KoordDialog();

    int TaskZoomIndex = 12;  // ComboBox2's item when the dialog was filled
    bool Edit1Rejected = false, Edit2Rejected = false;
    bool ReturningFocus = false;
    TKoordDlg* OwnKoordDlg = nullptr;
    // What the path field held for each destination, kept across switches.
    QString TargetTexts[3];
    int ShownTarget = 0;
};
