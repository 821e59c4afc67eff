#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <functional>

#include "geo/coordinate_text.h"
#include "geo/projection.h"
#include "ui/koord_dlg.h"
#include "ui/tokbottom_dlg.h"
#include "ui/when_modal.h"
#include "ui_test_main.h"

namespace {

// Types into the coordinate dialog and presses its OK.
void EnterCorner(TKoordDlg* k, double lat, double lon) {
    k->Edit7->setText(
        QString::fromStdString(FormatEntryCoordinate(std::fabs(lat), CoordKind::Latitude).Text));
    k->ComboBox1->setCurrentIndex(lat >= 0 ? 0 : 1);
    k->Edit10->setText(
        QString::fromStdString(FormatEntryCoordinate(std::fabs(lon), CoordKind::Longitude).Text));
    k->ComboBox2->setCurrentIndex(lon >= 0 ? 0 : 1);
    QTest::mouseClick(k->OKBtn, Qt::LeftButton);
}

void TypeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::TabFocusReason);
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// A selection drawn with the mouse: corner 1 north-west (east longitudes are
// negative, so the west corner has the larger value).
MainState& Selection(MainState& s, double lat1, double lon1, double lat2, double lon2) {
    s.SelLat1 = lat1;
    s.SelLon1 = lon1;
    s.SelLat2 = lat2;
    s.SelLon2 = lon2;
    s.HasSelection = true;
    return s;
}

}  // namespace

class TestTOKBottomDlg : public QObject {
    Q_OBJECT

  private:
    void ShowActive(QWidget& w) {
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }

  private slots:
    void designedControls() {
        TOKBottomDlg dlg;
        QCOMPARE(dlg.windowTitle(), QString("Параметры"));
        QCOMPARE(dlg.size(), QSize(493, 305));
        QCOMPARE(dlg.GroupBox1->title(), QString("Задача"));
        QCOMPARE(dlg.RadioButton1->text(), QString("Склеить выделенный фрагмент"));
        QCOMPARE(dlg.RadioButton2->text(), QString("Выкачать фрагменты в кэш"));
        QCOMPARE(dlg.RadioButton3->text(), QString("Перенести часть кэша в отдельную папку"));
        QVERIFY(dlg.RadioButton1->isChecked());
        QCOMPARE(dlg.Label4->text(), QString("_________"));
        QCOMPARE(dlg.Button1->text(), QString("<- Изменить"));
        QCOMPARE(dlg.FCB->count(), 20);
        QCOMPARE(dlg.FCB->itemText(19), QString("20"));
        QCOMPARE(dlg.Edit1->text(), QString("5000"));
        QCOMPARE(dlg.Edit2->text(), QString("5000"));
        QVERIFY(!dlg.Edit1->isEnabled() && !dlg.Edit2->isEnabled());
        QCOMPARE(dlg.CheckBox4->text(), QString("Создать world-файл (.jgw)"));
        QCOMPARE(dlg.CancelBtn->text(), QString("Отмена"));
        QVERIFY(dlg.OKBtn->isDefault());
        QVERIFY(dlg.GroupBox3->isVisibleTo(&dlg));
        QVERIFY(!dlg.GroupBox4->isVisibleTo(&dlg));
    }

    void cornersAndSizeShown() {
        TOKBottomDlg dlg;
        dlg.Fill({55.5, -37.25, 55.4, -37.5}, 12);
        QCOMPARE(dlg.Label4->text(), QString("N55°30,000'"));
        QCOMPARE(dlg.Label5->text(), QString("E37°15,000'"));
        QCOMPARE(dlg.Label6->text(), QString("N55°24,000'"));
        QCOMPARE(dlg.Label7->text(), QString("E37°30,000'"));
        QCOMPARE(dlg.FCB->currentIndex(), 12);
        const PixelOffset d = PixelDelta(13, -37.5, 55.4, -37.25, 55.5);
        QCOMPARE(dlg.Label9->text(), QString("Размеры выделенного фрагмента: %1 x %2")
                                         .arg(std::abs(d.Dx))
                                         .arg(std::abs(d.Dy)));
        QCOMPARE(dlg.PieceWidth, std::abs(d.Dx));
        dlg.Fill({-10.5, 20.0, -11, 19}, 5);
        QCOMPARE(dlg.Label4->text(), QString("S10°30,000'"));
        QCOMPARE(dlg.Label5->text(), QString("W20°0,000'"));
    }

    void kindButtonsShowTheirOptions() {
        TOKBottomDlg dlg;
        ShowActive(dlg);
        QTest::mouseClick(dlg.RadioButton2, Qt::LeftButton, {}, QPoint(8, 8));
        QVERIFY(!dlg.GroupBox3->isVisible() && !dlg.GroupBox4->isVisible());
        QTest::mouseClick(dlg.RadioButton3, Qt::LeftButton, {}, QPoint(8, 8));
        QVERIFY(!dlg.GroupBox3->isVisible() && dlg.GroupBox4->isVisible());
        QTest::mouseClick(dlg.RadioButton1, Qt::LeftButton, {}, QPoint(8, 8));
        QVERIFY(dlg.GroupBox3->isVisible() && !dlg.GroupBox4->isVisible());
        dlg.CheckBox1->click();
        QVERIFY(dlg.Edit1->isEnabled() && dlg.Edit2->isEnabled());
        dlg.CheckBox1->click();
        QVERIFY(!dlg.Edit1->isEnabled());
        dlg.hide();
    }

    void zoomRangeAndDestinationOfDownloadsAndExports() {
        TOKBottomDlg dlg;
        ShowActive(dlg);
        dlg.Fill({55.8, -37.5, 55.7, -37.7}, 12);
        QTest::mouseClick(dlg.RadioButton1, Qt::LeftButton, {}, QPoint(8, 8));
        QVERIFY(!dlg.FCBTo->isVisible());
        QCOMPARE(dlg.Result().ZoomToIndex, -1);  // a stitch is one zoom
        QTest::mouseClick(dlg.RadioButton2, Qt::LeftButton, {}, QPoint(8, 8));
        QVERIFY(dlg.FCBTo->isVisible());
        QCOMPARE(dlg.ZoomToLabel->text(), QString("до"));
        QCOMPARE(dlg.FCBTo->currentIndex(), 12);  // one zoom until widened
        dlg.FCBTo->setCurrentIndex(15);
        QCOMPARE(dlg.Result().ZoomIndex, 12);
        QCOMPARE(dlg.Result().ZoomToIndex, 15);
        dlg.FCB->setCurrentIndex(17);  // "до" is never below the task zoom
        QCOMPARE(dlg.FCBTo->currentIndex(), 17);

        QTest::mouseClick(dlg.RadioButton3, Qt::LeftButton, {}, QPoint(8, 8));
        QCOMPARE(dlg.TargetBox->count(), 3);
        QCOMPARE(dlg.TargetBox->itemText(0), QString("в папку"));
        QCOMPARE(dlg.TargetBox->itemText(1), QString("в файл MBTiles"));
        QCOMPARE(dlg.TargetBox->itemText(2), QString("в файл SQLiteDB (OsmAnd, Locus)"));
        dlg.DirectoryEdit1->setText("/data/tiles");
        dlg.TargetBox->setCurrentIndex(1);
        QVERIFY(dlg.DirectoryEdit1->text().endsWith(".mbtiles"));
        QVERIFY(!dlg.CheckBox2->isEnabled());
        dlg.DirectoryEdit1->setText("/data/r.mbtiles");
        TaskParamsResult r = dlg.Result();
        QCOMPARE(r.Target, ExportTarget::MBTiles);
        QCOMPARE(QString::fromStdString(r.ExportFile), QString("/data/r.mbtiles"));
        dlg.TargetBox->setCurrentIndex(0);  // the folder typed before comes back
        QCOMPARE(dlg.DirectoryEdit1->text(), QString("/data/tiles"));
        QVERIFY(dlg.CheckBox2->isEnabled());
        dlg.TargetBox->setCurrentIndex(1);
        QCOMPARE(dlg.DirectoryEdit1->text(), QString("/data/r.mbtiles"));
        dlg.TargetBox->setCurrentIndex(0);
        dlg.hide();
    }

    void mouseDrawnSelectionPassesUnchanged() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        WhenModal<TOKBottomDlg>(
            [](TOKBottomDlg* d) { QTest::mouseClick(d->OKBtn, Qt::LeftButton); });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, static_cast<int>(TaskKind::Download), r));
        QCOMPARE(r.Kind, TaskKind::Download);
        QCOMPARE(r.Corners.Lat1, 55.8);
        QCOMPARE(r.Corners.Lon1, -37.5);
        QCOMPARE(r.Corners.Lat2, 55.7);
        QCOMPARE(r.Corners.Lon2, -37.7);
        QCOMPARE(r.ZoomIndex, 12);
        QVERIFY(r.Size.Width > 0 && r.Size.Height > 0);
    }

    void snapToTilesWidensTheStitchAndIsKeptForTheNextOpening() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        QCOMPARE(dlg.CheckBox5->text(), QString("Выровнять по границам фрагментов"));
        QVERIFY(!dlg.CheckBox5->isChecked());
        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            QTest::mouseClick(d->CheckBox5, Qt::LeftButton, {}, QPoint(8, 8));
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, static_cast<int>(TaskKind::Stitch), r));
        QVERIFY(r.SnapToTiles);
        QCOMPARE(r.Size.Width % 256, 0);
        QCOMPARE(r.Size.Height % 256, 0);
        QVERIFY(r.Corners.Lat1 > 55.8 && r.Corners.Lat2 < 55.7);

        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            QVERIFY(d->CheckBox5->isChecked());
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QVERIFY(dlg.Run(s, 12, static_cast<int>(TaskKind::Download), r));
        QVERIFY(!r.SnapToTiles);  // a download keeps its region
        QCOMPARE(r.Corners.Lat1, 55.8);
    }

    void cornerEditedSouthEastIsExchanged() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            WhenModal<TKoordDlg>([](TKoordDlg* k) {
                // The dialog opens with corner 1's own text.
                QCOMPARE(k->Edit7->text(), QString("55°48,000'"));
                QCOMPARE(k->ComboBox2->currentText(), QString("E"));
                EnterCorner(k, 55.6, -37.9);
            });
            QTest::mouseClick(d->Button1, Qt::LeftButton);
            QCOMPARE(d->Label4->text(), QString("N55°36,000'"));
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, -1, r));
        // Corner 1 is the north-west one of the same rectangle.
        QCOMPARE(r.Corners.Lat1, 55.7);
        QCOMPARE(r.Corners.Lon1, -37.7);
        QVERIFY(std::fabs(r.Corners.Lat2 - 55.6) < 1e-9);
        QVERIFY(std::fabs(r.Corners.Lon2 + 37.9) < 1e-9);
    }

    void cornerOnTheSameMeridianGivesWidthZero() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            WhenModal<TKoordDlg>([](TKoordDlg* k) { EnterCorner(k, 55.7, -37.5); });
            QTest::mouseClick(d->Button2, Qt::LeftButton);
            QVERIFY(d->Label9->text().startsWith("Размеры выделенного фрагмента: 0 x "));
            d->CheckBox1->setChecked(true);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, static_cast<int>(TaskKind::Stitch), r));
        QCOMPARE(r.Corners.Lon1, -37.5);
        QCOMPARE(r.Size.Width, 0);
        // Drawn that way: the piece in force is the whole region, 0 wide, yet
        // a piece is never below one pixel.
        Selection(s, 55.8, -37.5, 55.7, -37.5);
        WhenModal<TOKBottomDlg>(
            [](TOKBottomDlg* d) { QTest::mouseClick(d->OKBtn, Qt::LeftButton); });
        QVERIFY(dlg.Run(s, 12, -1, r));
        QVERIFY(r.Pieces);
        QCOMPARE(r.PieceWidth, 1);
        QVERIFY(r.PieceHeight > 1);
    }

    void zoomChangeShowsFourTimesTheSize() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        int w13 = 0, h13 = 0;
        WhenModal<TOKBottomDlg>([&](TOKBottomDlg* d) {
            w13 = d->PixelWidth;
            h13 = d->PixelHeight;
            d->FCB->setCurrentIndex(14);
            QCOMPARE(d->Label9->text(), QString("Размеры выделенного фрагмента: %1 x %2")
                                            .arg(d->PixelWidth)
                                            .arg(d->PixelHeight));
            QVERIFY(std::abs(d->PixelWidth - 4 * w13) <= 4);
            QVERIFY(std::abs(d->PixelHeight - 4 * h13) <= 4);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, -1, r));
        QCOMPARE(r.ZoomIndex, 14);
        QVERIFY(std::abs(r.Size.Width - 4 * w13) <= 4);
    }

    void latitudeOf86IsClamped() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            WhenModal<TKoordDlg>([](TKoordDlg* k) { EnterCorner(k, 86.0, -37.5); });
            QTest::mouseClick(d->Button1, Qt::LeftButton);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, -1, r));
        QCOMPARE(r.Corners.Lat1, 85.05113);
    }

    void pieceSizesOutsideTheRegionAreRefused() {
        TOKBottomDlg dlg;
        // A region 2500 x 2000 pixels at zoom 13.
        double lon = -37.5, lat = 55.8;
        QVERIFY(PointAtDelta(0, 0, 13, lon, lat));
        double lon2 = lon, lat2 = lat;
        QVERIFY(PointAtDelta(2500, 2000, 13, lon2, lat2));
        dlg.Fill({lat, lon, lat2, lon2}, 12);
        QCOMPARE(dlg.PixelWidth, 2500);
        ShowActive(dlg);
        dlg.CheckBox1->setChecked(true);
        TypeInto(dlg.Edit1, "100");
        QTest::keyClick(dlg.Edit1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dlg.Edit1);
        QCOMPARE(dlg.PieceWidth, 100);
        // OK by the Enter key while the field holds it: refused.
        QTest::keyClick(dlg.Edit1, Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), 0);
        TypeInto(dlg.Edit1, "3000");
        QTest::keyClick(dlg.Edit1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dlg.Edit1);
        QCOMPARE(dlg.PieceWidth, 3000);
        // OK by the mouse: refused too.
        QTest::mouseClick(dlg.OKBtn, Qt::LeftButton);
        QVERIFY(dlg.isVisible());
        TypeInto(dlg.Edit1, "2000");
        QTest::keyClick(dlg.Edit1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dlg.Edit2);
        QCOMPARE(dlg.PieceWidth, 2000);
        TypeInto(dlg.Edit2, "abc");
        QTest::keyClick(dlg.Edit2, Qt::Key_Tab);
        QCOMPARE(dlg.PieceHeight, -1);
        QCOMPARE(QApplication::focusWidget(), dlg.Edit2);
        TypeInto(dlg.Edit2, "1000");
        QTest::mouseClick(dlg.OKBtn, Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const TaskParamsResult r = dlg.Result();
        QVERIFY(r.Pieces);
        QCOMPARE(r.PieceWidth, 2000);
        QCOMPARE(r.PieceHeight, 1000);
    }

    void secondOpeningKeepsTheTextsWithTheWholeRegionInForce() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            d->CheckBox1->setChecked(true);
            d->CheckBox3->setChecked(true);
            d->CheckBox4->setChecked(true);
            TypeInto(d->Edit1, "300");
            TypeInto(d->Edit2, "400");  // leaves Edit1
            QTest::mouseClick(d->RadioButton3, Qt::LeftButton, {}, QPoint(8, 8));
            d->DirectoryEdit1->setText("/srv/tiles");
            d->CheckBox2->setChecked(true);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, -1, r));
        QCOMPARE(r.Kind, TaskKind::Export);
        QCOMPARE(r.ExportFolder, std::string("/srv/tiles/"));
        QVERIFY(r.ExportMapInfo && r.WriteWorldFile && r.AddCoordinates);
        QCOMPARE(r.PieceWidth, 300);

        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            QCOMPARE(d->Edit1->text(), QString("300"));
            QCOMPARE(d->Edit2->text(), QString("400"));
            QVERIFY(d->RadioButton3->isChecked() && d->GroupBox4->isVisible());
            QCOMPARE(d->DirectoryEdit1->text(), QString("/srv/tiles"));
            QVERIFY(d->CheckBox1->isChecked() && d->CheckBox2->isChecked() &&
                    d->CheckBox3->isChecked() && d->CheckBox4->isChecked());
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QVERIFY(dlg.Run(s, 12, -1, r));
        QCOMPARE(r.PieceWidth, r.Size.Width);
        QCOMPARE(r.PieceHeight, r.Size.Height);
    }

    void cornerAtTheClampedMeridianCanBeEditedBack() {
        TOKBottomDlg dlg;
        MainState s;
        // A selection dragged to the map's edge: PointAtDelta clamps to 180.
        Selection(s, 10.0, 180.0, 5.0, 170.0);
        bool refused = false;
        WhenModal<TOKBottomDlg>([&](TOKBottomDlg* d) {
            WhenModal<TKoordDlg>([&](TKoordDlg* k) {
                QCOMPARE(k->Edit10->text(), QString("180°0,000'"));
                QTest::mouseClick(k->OKBtn, Qt::LeftButton);
                refused = k->isVisible();
                k->Edit10->setText("179°30");
                QTest::mouseClick(k->OKBtn, Qt::LeftButton);
            });
            QTest::mouseClick(d->Button1, Qt::LeftButton);
            QCOMPARE(d->Label5->text(), QString("W179°30,000'"));
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        QVERIFY(dlg.Run(s, 12, -1, r));
        QVERIFY(refused);
        QCOMPARE(r.Corners.Lon1, 179.5);
    }

    void cancelLeavesTheResultAlone() {
        TOKBottomDlg dlg;
        MainState s;
        Selection(s, 55.8, -37.5, 55.7, -37.7);
        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            WhenModal<TKoordDlg>([](TKoordDlg* k) { EnterCorner(k, 50.0, -30.0); });
            QTest::mouseClick(d->Button1, Qt::LeftButton);
            d->FCB->setCurrentIndex(3);
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        TaskParamsResult r;
        r.ZoomIndex = 7;
        QVERIFY(!dlg.Run(s, 12, -1, r));
        QCOMPARE(r.ZoomIndex, 7);
        QCOMPARE(r.Corners.Lat1, 0.0);
        // The coordinate dialog's Cancel keeps the corner.
        WhenModal<TOKBottomDlg>([](TOKBottomDlg* d) {
            WhenModal<TKoordDlg>([](TKoordDlg* k) {
                k->Edit7->setText("10");
                QTest::mouseClick(k->CancelBtn, Qt::LeftButton);
            });
            QTest::mouseClick(d->Button1, Qt::LeftButton);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QVERIFY(dlg.Run(s, 12, -1, r));
        QCOMPARE(r.Corners.Lat1, 55.8);
        QCOMPARE(r.ZoomIndex, 12);
    }
};

VISTREL_UI_TEST(TestTOKBottomDlg)
#include "test_tokbottom_dlg.moc"
