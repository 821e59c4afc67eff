#include "ui/tokbottom_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "geo/coordinate_text.h"
#include "regions/region_outline.h"
#include "ui/dialog_buttons.h"
#include "ui/koord_dlg.h"
#include "ui/windows.h"

namespace {

QString CornerText(double value, CoordKind kind) {
    const bool positive = value >= 0;
    const char* letter =
        kind == CoordKind::Latitude ? (positive ? "N" : "S") : (positive ? "W" : "E");
    return QString::fromLatin1(letter) +
           QString::fromStdString(FormatEntryCoordinate(std::fabs(value), kind).Text);
}

}  // namespace

TOKBottomDlg::TOKBottomDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Параметры"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    GroupBox1 = new QGroupBox(QStringLiteral("Задача"), this);
    RadioButton1 = new QRadioButton(QStringLiteral("Склеить выделенный фрагмент"), GroupBox1);
    RadioButton2 = new QRadioButton(QStringLiteral("Выкачать фрагменты в кэш"), GroupBox1);
    RadioButton3 =
        new QRadioButton(QStringLiteral("Перенести часть кэша в отдельную папку"), GroupBox1);
    RadioButton1->setChecked(true);
    auto* kinds = new QVBoxLayout(GroupBox1);
    kinds->setContentsMargins(8, 2, 8, 2);
    kinds->setSpacing(0);
    for (QRadioButton* r : {RadioButton1, RadioButton2, RadioButton3}) kinds->addWidget(r);

    GroupBox2 = new QGroupBox(QStringLiteral("Выделен фрагмент"), this);
    auto* corners = new QGridLayout(GroupBox2);
    corners->setContentsMargins(8, 2, 8, 2);
    corners->setVerticalSpacing(2);
    auto cornerLabel = [this](const char* name) {
        auto* label = new QLabel(QStringLiteral("_________"), GroupBox2);
        label->setObjectName(QString::fromLatin1(name));
        label->setMinimumWidth(100);
        return label;
    };
    Label4 = cornerLabel("Label4");
    Label5 = cornerLabel("Label5");
    Label6 = cornerLabel("Label6");
    Label7 = cornerLabel("Label7");
    Button1 = new QPushButton(QStringLiteral("<- Изменить"), GroupBox2);
    Button2 = new QPushButton(QStringLiteral("<- Изменить"), GroupBox2);
    for (QPushButton* b : {Button1, Button2}) b->setAutoDefault(false);
    corners->addWidget(new QLabel(QStringLiteral("Верхний левый угол:"), GroupBox2), 0, 0);
    corners->addWidget(Label4, 0, 1);
    corners->addWidget(Label5, 0, 2);
    corners->addWidget(Button1, 0, 3);
    corners->addWidget(new QLabel(QStringLiteral("Нижний правый угол:"), GroupBox2), 1, 0);
    corners->addWidget(Label6, 1, 1);
    corners->addWidget(Label7, 1, 2);
    corners->addWidget(Button2, 1, 3);
    FCB = new QComboBox(GroupBox2);
    FCB->setObjectName(QStringLiteral("FCB"));
    for (int z = 1; z <= 20; ++z) FCB->addItem(QString::number(z));
    FCB->setCurrentIndex(12);
    Label9 = new QLabel(GroupBox2);
    Label9->setObjectName(QStringLiteral("Label9"));
    ZoomToLabel = new QLabel(QStringLiteral("до"), GroupBox2);
    FCBTo = new QComboBox(GroupBox2);
    FCBTo->setObjectName(QStringLiteral("FCBTo"));
    FCBTo->setAccessibleName(QStringLiteral("до"));
    for (int z = 1; z <= 20; ++z) FCBTo->addItem(QString::number(z));
    FCBTo->setCurrentIndex(12);
    auto* zoomRow = new QHBoxLayout;
    zoomRow->addWidget(new QLabel(QStringLiteral("Увеличение: "), GroupBox2));
    zoomRow->addWidget(FCB);
    zoomRow->addWidget(ZoomToLabel);
    zoomRow->addWidget(FCBTo);
    zoomRow->addSpacing(12);
    zoomRow->addWidget(Label9, 1);
    corners->addLayout(zoomRow, 2, 0, 1, 4);

    GroupBox3 = new QGroupBox(QStringLiteral("Параметры склеивания"), this);
    CheckBox3 = new QCheckBox(
        QStringLiteral("Добавлять к имени файла координаты верхнего левого угла."), GroupBox3);
    CheckBox4 = new QCheckBox(QStringLiteral("Создать world-файл (.jgw)"), GroupBox3);
    CheckBox5 = new QCheckBox(QStringLiteral("Выровнять по границам фрагментов"), GroupBox3);
    CheckBox5->setObjectName(QStringLiteral("CheckBox5"));
    CheckBox1 = new QCheckBox(QStringLiteral("Разбить на фрагменты размерами:"), GroupBox3);
    Edit1 = new QLineEdit(QStringLiteral("5000"), GroupBox3);
    Edit2 = new QLineEdit(QStringLiteral("5000"), GroupBox3);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit2->setObjectName(QStringLiteral("Edit2"));
    for (QLineEdit* e : {Edit1, Edit2}) {
        e->setFixedWidth(60);
        e->setEnabled(false);
        e->installEventFilter(this);
    }
    auto* stitch = new QVBoxLayout(GroupBox3);
    stitch->setContentsMargins(8, 2, 8, 2);
    stitch->setSpacing(0);
    stitch->addWidget(CheckBox3);
    stitch->addWidget(CheckBox4);
    stitch->addWidget(CheckBox5);
    auto* pieces = new QHBoxLayout;
    pieces->addWidget(CheckBox1);
    pieces->addWidget(Edit1);
    pieces->addWidget(new QLabel(QStringLiteral("X"), GroupBox3));
    pieces->addWidget(Edit2);
    pieces->addStretch(1);
    stitch->addLayout(pieces);

    GroupBox4 = new QGroupBox(QStringLiteral("Параметры копирования части кэша"), this);
    DirectoryEdit1 = new QLineEdit(QDir::tempPath(), GroupBox4);
    DirectoryEdit1->setObjectName(QStringLiteral("DirectoryEdit1"));
    DirectoryButton = new QToolButton(GroupBox4);
    DirectoryButton->setText(QStringLiteral("..."));
    DirectoryButton->setToolTip(QStringLiteral("Выбрать папку"));
    DirectoryButton->setAccessibleName(DirectoryButton->toolTip());
    CheckBox2 =
        new QCheckBox(QStringLiteral("Сделать привязку Mapinfo для каждого фрагмента"), GroupBox4);
    TargetBox = new QComboBox(GroupBox4);
    TargetBox->setObjectName(QStringLiteral("TargetBox"));
    TargetBox->addItems({QStringLiteral("в папку"), QStringLiteral("в файл MBTiles"),
                         QStringLiteral("в файл SQLiteDB (OsmAnd, Locus)")});
    TargetLabel = new QLabel(QStringLiteral("Копировать в папку:"), GroupBox4);
    TargetTexts[0] = DirectoryEdit1->text();
    TargetTexts[1] = QDir::homePath() + QStringLiteral("/region.mbtiles");
    TargetTexts[2] = QDir::homePath() + QStringLiteral("/region.sqlitedb");
    auto* exportLayout = new QGridLayout(GroupBox4);
    exportLayout->setContentsMargins(8, 2, 8, 2);
    exportLayout->setVerticalSpacing(2);
    exportLayout->addWidget(new QLabel(QStringLiteral("Копировать"), GroupBox4), 0, 0);
    exportLayout->addWidget(TargetBox, 0, 1, 1, 2);
    exportLayout->addWidget(TargetLabel, 1, 0);
    exportLayout->addWidget(DirectoryEdit1, 1, 1);
    exportLayout->addWidget(DirectoryButton, 1, 2);
    exportLayout->addWidget(CheckBox2, 2, 0, 1, 3);
    GroupBox4->hide();

    QHBoxLayout* buttons = MakeOkCancelRow(this, OKBtn, CancelBtn);
    CancelBtn->setText(QStringLiteral("Отмена"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(4);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addWidget(GroupBox3);
    layout->addWidget(GroupBox4);
    layout->addStretch(1);
    layout->addLayout(buttons);
    setFixedSize(493, 305);

    connect(RadioButton1, &QRadioButton::clicked, this, [this] { RadioButton1Click(); });
    connect(RadioButton2, &QRadioButton::clicked, this, [this] { RadioButton2Click(); });
    connect(RadioButton3, &QRadioButton::clicked, this, [this] { RadioButton3Click(); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connect(FCB, &QComboBox::currentIndexChanged, this, [this] { FCBChange(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button1Click(Button2); });
    connect(DirectoryButton, &QToolButton::clicked, this, [this] { BrowseFolder(); });
    connect(TargetBox, &QComboBox::currentIndexChanged, this, [this] { TargetChange(); });
    connect(FCBTo, &QComboBox::currentIndexChanged, this, [this] {
        if (FCBTo->currentIndex() < FCB->currentIndex())
            FCB->setCurrentIndex(FCBTo->currentIndex());
    });
    ShowZoomTo();
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
}

void TOKBottomDlg::Fill(const RegionCorners& selection, int taskZoomIndex) {
    TaskZoomIndex = std::clamp(taskZoomIndex, 0, 19);
    const RegionPixels size = RegionPixelSize(TaskZoomIndex + 1, selection);
    // The piece in force is the whole region again, whatever the texts say.
    PixelWidth = PieceWidth = size.Width;
    PixelHeight = PieceHeight = size.Height;
    Edit1Rejected = Edit2Rejected = false;
    CornerLat1 = selection.Lat1;
    CornerLon1 = selection.Lon1;
    CornerLat2 = selection.Lat2;
    CornerLon2 = selection.Lon2;
    {
        const QSignalBlocker quiet(FCB), quietTo(FCBTo);
        FCB->setCurrentIndex(TaskZoomIndex);
        FCBTo->setCurrentIndex(TaskZoomIndex);  // one zoom unless the user widens it
    }
    ShowCorners();
}

void TOKBottomDlg::ShowCorners() {
    Label4->setText(CornerText(CornerLat1, CoordKind::Latitude));
    Label5->setText(CornerText(CornerLon1, CoordKind::Longitude));
    Label6->setText(CornerText(CornerLat2, CoordKind::Latitude));
    Label7->setText(CornerText(CornerLon2, CoordKind::Longitude));
    const RegionPixels size =
        RegionPixelSize(FCB->currentIndex() + 1, {CornerLat1, CornerLon1, CornerLat2, CornerLon2});
    QString text = QStringLiteral("Размеры выделенного фрагмента: ") + QString::number(size.Width) +
                   QStringLiteral(" x ") + QString::number(size.Height);
    if (Region)
        text += QStringLiteral(", тайлов в области: ") +
                QString::number(Region->At(FCB->currentIndex() + 1));
    Label9->setText(text);
    PixelWidth = size.Width;
    PixelHeight = size.Height;
}

bool TOKBottomDlg::Run(const MainState& state, int taskZoomIndex, int preselectKind,
                       TaskParamsResult& out) {
    Fill({state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2}, taskZoomIndex);
    if (preselectKind == static_cast<int>(TaskKind::Stitch)) {
        RadioButton1->setChecked(true);
        RadioButton1Click();
    } else if (preselectKind == static_cast<int>(TaskKind::Download)) {
        RadioButton2->setChecked(true);
        RadioButton2Click();
    } else if (preselectKind == static_cast<int>(TaskKind::Export)) {
        RadioButton3->setChecked(true);
        RadioButton3Click();
    }
    if (QWidget* owner = parentWidget()) {
        const QRect frame = owner->frameGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
    }
    if (exec() != QDialog::Accepted) return false;
    out = Result();
    return true;
}

TaskParamsResult TOKBottomDlg::Result() const {
    TaskParamsResult r;
    r.Kind = RadioButton1->isChecked()   ? TaskKind::Stitch
             : RadioButton2->isChecked() ? TaskKind::Download
                                         : TaskKind::Export;
    r.Corners = {CornerLat1, CornerLon1, CornerLat2, CornerLon2};
    // The corners are put in order at the zoom the selection was drawn at.
    OrderRegionCorners(TaskZoomIndex + 1, r.Corners);
    r.ZoomIndex = FCB->currentIndex();
    if (!RadioButton1->isChecked()) r.ZoomToIndex = FCBTo->currentIndex();
    r.SnapToTiles = r.Kind == TaskKind::Stitch && CheckBox5->isChecked();
    if (r.SnapToTiles) SnapRegionToTiles(r.ZoomIndex + 1, r.Corners);
    r.Size = RegionPixelSize(r.ZoomIndex + 1, r.Corners);
    r.Pieces = CheckBox1->isChecked();
    // Cutting needs a piece of at least one pixel (a region 0 pixels wide).
    r.PieceWidth = std::max(1, PieceWidth);
    r.PieceHeight = std::max(1, PieceHeight);
    r.AddCoordinates = CheckBox3->isChecked();
    r.WriteWorldFile = CheckBox4->isChecked();
    r.ExportFolder = DirectoryEdit1->text().toStdString() + "/";
    r.ExportMapInfo = CheckBox2->isChecked() && TargetBox->currentIndex() == 0;
    r.Target = static_cast<ExportTarget>(TargetBox->currentIndex());
    r.ExportFile = DirectoryEdit1->text().toStdString();
    return r;
}

void TOKBottomDlg::RadioButton1Click() {
    GroupBox3->show();
    GroupBox4->hide();
    ShowZoomTo();
}

void TOKBottomDlg::RadioButton2Click() {
    GroupBox3->hide();
    GroupBox4->hide();
    ShowZoomTo();
}

void TOKBottomDlg::RadioButton3Click() {
    GroupBox4->show();
    GroupBox3->hide();
    ShowZoomTo();
}

void TOKBottomDlg::ShowZoomTo() {
    // A stitch is one picture at one zoom.
    const bool range = !RadioButton1->isChecked();
    ZoomToLabel->setVisible(range);
    FCBTo->setVisible(range);
}

void TOKBottomDlg::TargetChange() {
    TargetTexts[ShownTarget] = DirectoryEdit1->text();
    ShownTarget = TargetBox->currentIndex();
    DirectoryEdit1->setText(TargetTexts[ShownTarget]);
    TargetLabel->setText(ShownTarget == 0 ? QStringLiteral("Копировать в папку:")
                                          : QStringLiteral("Файл:"));
    DirectoryButton->setToolTip(ShownTarget == 0 ? QStringLiteral("Выбрать папку")
                                                 : QStringLiteral("Выбрать файл"));
    CheckBox2->setEnabled(ShownTarget == 0);
}

void TOKBottomDlg::CheckBox1Click() {
    Edit1->setEnabled(CheckBox1->isChecked());
    Edit2->setEnabled(CheckBox1->isChecked());
}

bool TOKBottomDlg::PieceExit(QLineEdit* edit, int regionSize, int& piece, bool& rejected) {
    const PieceSizeCheck check = CheckPieceSize(edit->text().toStdString(), regionSize);
    edit->setModified(false);
    piece = check.Value;  // kept also when rejected
    rejected = !check.Accepted;
    if (rejected) {
        ReturningFocus = true;
        edit->setFocus(Qt::OtherFocusReason);
        ReturningFocus = false;
    }
    return check.Accepted;
}

void TOKBottomDlg::Edit1Exit() {
    PieceExit(Edit1, PixelWidth, PieceWidth, Edit1Rejected);
}

void TOKBottomDlg::Edit2Exit() {
    PieceExit(Edit2, PixelHeight, PieceHeight, Edit2Rejected);
}

void TOKBottomDlg::FCBChange() {
    if (FCBTo->currentIndex() < FCB->currentIndex()) FCBTo->setCurrentIndex(FCB->currentIndex());
    ShowCorners();
}

bool TOKBottomDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !ReturningFocus &&
        (watched == Edit1 || watched == Edit2)) {
        // Only a move to another control of the dialog is an exit.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            reason != Qt::MenuBarFocusReason && isVisible()) {
            if (watched == Edit1)
                Edit1Exit();
            else
                Edit2Exit();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TOKBottomDlg::OKBtnClick() {
    if (CheckBox1->isChecked()) {
        // Enter in a piece field presses OK without leaving the field, and a
        // window that was never active sends no focus change: a typed size
        // counts all the same.
        if (Edit1->hasFocus() || Edit1->isModified()) Edit1Exit();
        if (Edit2->hasFocus() || Edit2->isModified()) Edit2Exit();
        // A rejected piece size never reaches the cutting.
        if (Edit1Rejected || Edit2Rejected) {
            QApplication::beep();
            QLineEdit* bad = Edit1Rejected ? Edit1 : Edit2;
            ReturningFocus = true;
            bad->setFocus(Qt::OtherFocusReason);
            bad->selectAll();
            ReturningFocus = false;
            return;
        }
    }
    accept();
}

TKoordDlg* TOKBottomDlg::KoordDialog() {
    if (Windows* w = Windows::Instance(); w && w->KoordDlg) return w->KoordDlg;
    if (!OwnKoordDlg) OwnKoordDlg = new TKoordDlg(this);
    return OwnKoordDlg;
}

void TOKBottomDlg::Button1Click(QPushButton* sender) {
    const bool first = sender == Button1;
    double& lat = first ? CornerLat1 : CornerLat2;
    double& lon = first ? CornerLon1 : CornerLon2;
    TKoordDlg* dlg = KoordDialog();
    dlg->Fill(lat, lon);
    if (dlg->exec() != QDialog::Accepted) return;
    lat = dlg->KoordLat;
    lon = dlg->KoordLon;
    Region.reset();
    ShowCorners();
}

void TOKBottomDlg::BrowseFolder() {
    if (TargetBox->currentIndex() != 0) {
        const bool mb = TargetBox->currentIndex() == 1;
        const QString file = QFileDialog::getSaveFileName(
            this, QStringLiteral("Файл:"), DirectoryEdit1->text(),
            mb ? QStringLiteral("MBTiles (*.mbtiles)") : QStringLiteral("SQLiteDB (*.sqlitedb)"),
            nullptr, QFileDialog::DontConfirmOverwrite);
        if (!file.isEmpty()) DirectoryEdit1->setText(file);
        return;
    }
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Копировать в папку:"), DirectoryEdit1->text());
    if (!folder.isEmpty()) DirectoryEdit1->setText(folder);
}
