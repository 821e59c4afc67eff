#pragma once
#include <QDialog>

class CoordinateEditPair;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

// The coordinate entry dialog: the task parameters dialog edits a region's
// corner through it. The caller fills it (Fill), shows it modally and, on
// Accepted, takes KoordLat and KoordLon; on Rejected it keeps its own values.
// OK is refused while a text is out of range or not a number (the focus goes
// to that edit), so a latitude of 90 or more or a longitude of 180 or more
// never leaves the dialog.
class TKoordDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TKoordDlg(QWidget* parent = nullptr);

    // Entry texts and hemispheres of a point (longitude west positive).
    void Fill(double lat, double lon);

    // The values of the two edits, stored whenever an edit is left and on OK.
    double KoordLat = 0;
    double KoordLon = 0;  // west positive

    QGroupBox* GroupBox1;  // "Широта"
    QLineEdit* Edit7;
    QComboBox* ComboBox1;  // N, S
    QGroupBox* GroupBox2;  // "Долгота"
    QLineEdit* Edit10;
    QComboBox* ComboBox2;  // W, E
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    CoordinateEditPair* Edits;

  private:
    void OKBtnClick();
};
