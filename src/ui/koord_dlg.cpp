#include "ui/koord_dlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/coordinate_edit.h"
#include "ui/dialog_buttons.h"

namespace {

QGroupBox* CoordinateGroup(const QString& title, QLineEdit* edit, QComboBox* box, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    auto* row = new QHBoxLayout(group);
    row->addWidget(edit, 1);
    row->addWidget(box);
    return group;
}

}  // namespace

TKoordDlg::TKoordDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Введите координаты"));

    Edit7 = new QLineEdit(this);
    Edit7->setObjectName(QStringLiteral("Edit7"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    Edit10 = new QLineEdit(this);
    Edit10->setObjectName(QStringLiteral("Edit10"));
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    CoordinateEditPair::SetupEdit(Edit7);
    CoordinateEditPair::SetupEdit(Edit10);
    CoordinateEditPair::SetupBoxes(ComboBox1, ComboBox2);

    GroupBox1 = CoordinateGroup(QStringLiteral("Широта"), Edit7, ComboBox1, this);
    GroupBox2 = CoordinateGroup(QStringLiteral("Долгота"), Edit10, ComboBox2, this);

    QHBoxLayout* buttons = MakeOkCancelRow(this, OKBtn, CancelBtn);
    connect(OKBtn, &QPushButton::clicked, this, &TKoordDlg::OKBtnClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Edits = new CoordinateEditPair(
        Edit7, ComboBox1, [this](double v) { KoordLat = v; }, Edit10, ComboBox2,
        [this](double v) { KoordLon = v; }, this);
}

void TKoordDlg::Fill(double lat, double lon) {
    Edits->Fill(lat, lon);
    // Each opening starts in the latitude, wherever the last one ended.
    if (!isVisible()) Edit7->setFocus(Qt::OtherFocusReason);
}

void TKoordDlg::OKBtnClick() {
    if (Edits->ParseBoth()) accept();
}
