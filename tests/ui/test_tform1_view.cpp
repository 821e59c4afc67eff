#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>
#include <cmath>
#include <memory>

#include "fetch/request_tile.h"
#include "form_fixture.h"
#include "geo/projection.h"
#include "platform/text_codec.h"
#include "support/tile_factory.h"
#include "ui/message_catcher.h"
#include "ui/tform1.h"
#include "ui_test_main.h"
#include "view/favorites.h"
#include "view/map_view.h"
#include "view/navigation.h"
#include "view/selection.h"

namespace {


void Wheel(QWidget* widget, QPoint at, int angle) {
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll();
}

Rgb At(const QImage& image, int x, int y) {
    const QRgb c = image.pixel(x, y);
    return {static_cast<uint8_t>(qRed(c)), static_cast<uint8_t>(qGreen(c)),
            static_cast<uint8_t>(qBlue(c))};
}

}  // namespace

class TestTForm1View : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<TForm1> Form;

    MainState& S() { return Form->State(); }
    MapView& View() { return *Form->View; }
    QString Folder() const { return Dir->path() + "/"; }
    Rgb Face() const {
        const QColor c = Form->palette().color(QPalette::Button);
        return {static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                static_cast<uint8_t>(c.blue())};
    }

    // The cache holds the four tiles of zoom 1 and nothing else; the work
    // mode is cache only, so no tile is ever requested.
    void MakeForm() {
        QVERIFY(NewProgramFolder(Dir, {1, 2, 3, 4}));
        QVERIFY(ShowForm(Form, Dir->path(), [](MainState& s) { SetWorkMode(s, 0); }));
        QApplication::setActiveWindow(Form.get());
        QVERIFY(QTest::qWaitForWindowActive(Form.get()));
        QTRY_VERIFY(View().Compositions() > 0);
        QTRY_COMPARE(S().ViewBitmap.Width(), Form->PaintBox1->width());
        QTRY_COMPARE(S().ViewBitmap.Height(), Form->PaintBox1->height());
    }

    // Zoom and centre as the slider and a refresh would set them.
    void GoTo(int zoom, double lat, double lon) {
        Form->RxSlider1->setValue(zoom);
        S().CenterLat = lat;
        S().CenterLon = lon;
        Form->RxSlider1Changed();
        QCOMPARE(S().Zoom, zoom);
    }

    QPoint MapMiddle() const { return Form->PaintBox1->rect().center(); }

    void Click(Qt::MouseButton button, QPoint at) {
        QTest::mousePress(Form->PaintBox1, button, Qt::NoModifier, at);
        QTest::mouseRelease(Form->PaintBox1, button, Qt::NoModifier, at);
    }

    void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
        QTest::mousePress(Form->PaintBox1, button, Qt::NoModifier, from);
        QTest::mouseMove(Form->PaintBox1, (from + to) / 2);
        QTest::mouseMove(Form->PaintBox1, to);
        QTest::mouseRelease(Form->PaintBox1, button, Qt::NoModifier, to);
    }

    void SelectionModeOn() {
        if (!Form->ToolButton8->isChecked()) Form->ToolButton8->click();
        QVERIFY(Form->SelectionMode());
    }

  private slots:
    void init() { MakeForm(); }
    void cleanup() {
        Form.reset();
        Dir.reset();
    }

    void firstShowComposesTheWorldAtZoomOne() {
        // Zoom 1 centred on 0, 0: the world is 512 pixels wide, the rest of
        // the width is the button face; the four tiles come from the cache.
        const int w = S().ViewBitmap.Width(), h = S().ViewBitmap.Height();
        QVERIFY(w > 512);
        const QImage shown = Form->PaintBox1->grab().toImage();
        const int left = w / 2 - 256;
        for (int y : {5, h / 2, h - 5}) {
            QCOMPARE(At(shown, left - 1, y), Face());
            QCOMPARE(At(shown, left + 512, y), Face());
            QVERIFY(!(At(shown, left + 3, y) == Face()));
            QVERIFY(!(At(shown, left + 508, y) == Face()));
        }
        QVERIFY(!S().ViewLoaderStop);  // nothing to fetch
        QVERIFY(S().ControlsEnabled);
    }

    void clickCentresAndOnePixelMovePans() {
        GoTo(10, 55.75, -37.6);
        const QPoint at = MapMiddle() + QPoint(120, -80);
        const GeoPoint expected = PointUnder(S(), at.x(), at.y());
        const int before = View().Compositions();
        Click(Qt::LeftButton, at);
        QCOMPARE(S().CenterLat, expected.Lat);
        QCOMPARE(S().CenterLon, expected.Lon);
        QCOMPARE(S().Zoom, 10);  // the wheel scheme: clicks never zoom
        QCOMPARE(View().Compositions(), before + 1);

        const double lat = S().CenterLat, lon = S().CenterLon;
        QTest::mousePress(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseMove(Form->PaintBox1, at + QPoint(1, 0));
        QVERIFY(!S().ClickPending);
        QTest::mouseRelease(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, at + QPoint(1, 0));
        const PixelOffset moved = PixelDelta(10, lon, lat, S().CenterLon, S().CenterLat);
        QCOMPARE(moved.Dx, -1);
        QCOMPARE(moved.Dy, 0);
        QVERIFY(!S().Dragging);
    }

    void dragShowsTheShiftedViewAndStopsAtTheWorldsEdge() {
        GoTo(3, 10, 170);
        QTest::mousePress(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
        QTest::mouseMove(Form->PaintBox1, QPoint(230, 170));
        QCOMPARE(Form->PaintBox1->cursor().shape(), Qt::ClosedHandCursor);
        const QImage shown = Form->PaintBox1->grab().toImage();
        QCOMPARE(At(shown, 10, 100), Face());  // the strip uncovered on the left
        QCOMPARE(At(shown, 300, 10), Face());  // and at the top
        QCOMPARE(At(shown, 250, 180), S().ViewBitmap.Pixel(220, 160));
        const int before = View().Compositions();
        QTest::mouseMove(Form->PaintBox1, QPoint(5000, 5000));
        QCOMPARE(View().Compositions(), before);  // nothing is composed while dragging
        QTest::mouseRelease(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, QPoint(5000, 5000));
        QVERIFY(Form->PaintBox1->cursor().shape() != Qt::ClosedHandCursor);
        QCOMPARE(S().CenterLon, 180.0);
        QCOMPARE(S().CenterLat, ClampLatitude);
        // The world's north-west corner is in the middle of the area: the
        // quarter above and left of it is the button face.
        const int w = S().ViewBitmap.Width(), h = S().ViewBitmap.Height();
        QCOMPARE(S().ViewBitmap.Pixel(5, 5), Face());
        QCOMPARE(S().ViewBitmap.Pixel(w / 2 - 5, h / 2 + 5), Face());
        QCOMPARE(S().ViewBitmap.Pixel(w / 2 + 5, h / 2 - 5), Face());
        QVERIFY(!(S().ViewBitmap.Pixel(w / 2 + 5, h / 2 + 5) == Face()));
    }

    void wheelNotchesAreGatheredIntoOneRefresh() {
        GoTo(10, 40, -20);
        const int before = View().Compositions();
        for (int i = 0; i < 3; ++i) Wheel(Form->PaintBox1, MapMiddle(), -120);
        QCOMPARE(Form->RxSlider1->value(), 13);
        QCOMPARE(S().Zoom, 10);  // applied by the timer
        QVERIFY(Form->Timer3->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(S().Zoom, 13, 3000);
        QCOMPARE(View().Compositions(), before + 1);
        QVERIFY(!Form->Timer3->isActive());
        QCOMPARE(Form->Label1->text(), QString("13"));

        // In and out at once: no refresh, the timer waits for a change.
        Wheel(Form->PaintBox1, MapMiddle(), -120);
        Wheel(Form->PaintBox1, MapMiddle(), 120);
        QTest::qWait(1600);
        QCOMPARE(S().Zoom, 13);
        QCOMPARE(View().Compositions(), before + 1);
        QVERIFY(Form->Timer3->isActive());
        // A later notch away from the user zooms out by it.
        Wheel(Form->PaintBox1, MapMiddle(), 120);
        QTRY_COMPARE_WITH_TIMEOUT(S().Zoom, 12, 3000);
        QCOMPARE(View().Compositions(), before + 2);
    }

    void wheelIsIgnoredWhileComposingOrWithTheClickScheme() {
        GoTo(10, 40, -20);
        S().ControlsEnabled = false;  // as during a composition
        Wheel(Form->PaintBox1, MapMiddle(), -120);
        QCOMPARE(Form->RxSlider1->value(), 10);
        S().ControlsEnabled = true;
        S().WheelZoom = false;
        Wheel(Form->PaintBox1, MapMiddle(), -120);
        QCOMPARE(Form->RxSlider1->value(), 10);
        QVERIFY(!Form->Timer3->isActive());
    }

    // A composition disables the map area: clicks and drags made meanwhile
    // neither re-centre nor zoom, nor does a press held past its end.
    void mapIgnoresTheMouseWhileComposing() {
        for (bool wheelZoom : {true, false}) {
            S().WheelZoom = wheelZoom;
            GoTo(10, 40, -20);
            const int before = View().Compositions();
            Form->EnableControls(false);
            Click(Qt::LeftButton, MapMiddle() + QPoint(40, 30));
            Click(Qt::RightButton, MapMiddle() + QPoint(-40, 30));
            Drag(Qt::LeftButton, MapMiddle(), MapMiddle() + QPoint(60, 20));
            QTest::mousePress(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, MapMiddle());
            Form->EnableControls(true);
            QTest::mouseMove(Form->PaintBox1, MapMiddle() + QPoint(30, 30));
            QTest::mouseRelease(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier,
                                MapMiddle() + QPoint(30, 30));
            QCOMPARE(S().CenterLat, 40.0);
            QCOMPARE(S().CenterLon, -20.0);
            QCOMPARE(S().Zoom, 10);
            QCOMPARE(View().Compositions(), before);
            // Enabled again, the map answers.
            Click(Qt::LeftButton, MapMiddle() + QPoint(40, 30));
            QVERIFY(S().CenterLat != 40.0);
        }
    }

    // At the designed width and wider every panel shows its whole text, the
    // traffic figure first of all; a long size text wraps in its own panel
    // and never changes the size of the map area.
    void statusPanelsShowTheirWholeTexts() {
        const QString coordinate = QStringLiteral("W179г 59,999мин");
        const QString size = QString::fromStdString(
            "Выделено 65536x65536px, в памяти 12\u00A0288,000mb, скачать~614,400mb");
        for (int width : {734, 1000, 1600}) {
            Form->resize(width, 589);
            for (int64_t bytes : {int64_t{0}, int64_t{65536}, int64_t{10'000'000'000}}) {
                const QString traffic = QString::fromStdString(TrafficText(bytes));
                Form->SetPanelText(0, coordinate);
                Form->SetPanelText(1, coordinate);
                Form->SetPanelText(2, QStringLiteral(" "));
                Form->SetPanelText(3, traffic);
                QApplication::processEvents();
                const QSize map = Form->PaintBox1->size();
                Form->SetPanelText(2, size);
                QApplication::processEvents();
                QCOMPARE(Form->PaintBox1->size(), map);
                const QString shown[4] = {coordinate, coordinate, size, traffic};
                for (int i = 0; i < 4; ++i) {
                    QLabel* panel = Form->StatusPanels[i];
                    const QString where = QString("width %1, panel %2").arg(width).arg(i);
                    QVERIFY2(panel->isVisible(), qPrintable(where));
                    const QRect r = panel->geometry();
                    QVERIFY2(r.left() >= 0 && r.right() < Form->statusBar()->width(), qPrintable(where));
                    if (i < 3)
                        QVERIFY2(r.right() < Form->StatusPanels[i + 1]->geometry().left(),
                                 qPrintable(where));
                    const QRect text = panel->contentsRect();
                    if (i == 2) {
                        QVERIFY2(panel->heightForWidth(r.width()) <= r.height(), qPrintable(where));
                    } else {
                        QVERIFY2(panel->fontMetrics().horizontalAdvance(shown[i]) <= text.width(),
                                 qPrintable(where));
                    }
                }
            }
        }
    }

    // Buttons that show only an icon, and the slider, are named by their
    // hints, and the names follow the hints.
    void controlsWithoutTextAreNamedByTheirHints() {
        const QList<QAbstractButton*> buttons = Form->ToolBar1->findChildren<QAbstractButton*>();
        int named = 0;
        for (QAbstractButton* b : buttons) {
            // Qt's own overflow button is Qt's to name.
            if (!b->text().isEmpty() || b->objectName().startsWith("qt_")) continue;
            QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(b);
            QVERIFY(face);
            QCOMPARE(face->text(QAccessible::Name), b->toolTip());
            ++named;
        }
        QVERIFY(named >= 5);
        Form->ToolButton2->click();
        QCOMPARE(QAccessible::queryAccessibleInterface(Form->ToolButton2)->text(QAccessible::Name),
                 Form->ToolButton2->toolTip());
        Form->RxSlider1->setValue(7);
        QCOMPARE(QAccessible::queryAccessibleInterface(Form->RxSlider1)->text(QAccessible::Name),
                 QStringLiteral("Увеличение 7"));
    }

    void clickSchemeZoomsWithinTheSliderRange_data() {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("after");
        QTest::newRow("left zooms in") << 10 << int(Qt::LeftButton) << 11;
        QTest::newRow("right zooms out") << 10 << int(Qt::RightButton) << 9;
        QTest::newRow("left at 20 only centres") << 20 << int(Qt::LeftButton) << 20;
        QTest::newRow("right at 1 only centres") << 1 << int(Qt::RightButton) << 1;
        QTest::newRow("middle only centres") << 7 << int(Qt::MiddleButton) << 7;
    }

    void clickSchemeZoomsWithinTheSliderRange() {
        QFETCH(int, zoom);
        QFETCH(int, button);
        QFETCH(int, after);
        S().WheelZoom = false;
        GoTo(zoom, 20, -30);
        const QPoint at = MapMiddle() + QPoint(40, 30);
        const GeoPoint expected = PointUnder(S(), at.x(), at.y());
        const int before = View().Compositions();
        Click(static_cast<Qt::MouseButton>(button), at);
        QCOMPARE(S().Zoom, after);
        QCOMPARE(Form->RxSlider1->value(), after);
        QCOMPARE(View().Compositions(), before + 1);
        QCOMPARE(S().CenterLat, expected.Lat);
        QCOMPARE(S().CenterLon, expected.Lon);
    }

    void statusBarShowsTheCoordinatesUnderTheMouse() {
        GoTo(20, 55.7558, -37.6173);
        const QPoint middle(S().ViewBitmap.Width() / 2, S().ViewBitmap.Height() / 2);
        QTest::mouseMove(Form->PaintBox1, middle + QPoint(1, 1));
        QTest::mouseMove(Form->PaintBox1, middle);
        QCOMPARE(Form->PanelText(0), QString("N55г 45,348мин"));
        QCOMPARE(Form->PanelText(1), QString("E37г 37,038мин"));
    }

    void selectionFromBottomRightToTopLeft() {
        GoTo(10, 55.75, -37.6);
        SelectionModeOn();
        QCOMPARE(Form->PaintBox1->cursor().shape(), Qt::CrossCursor);
        QVERIFY(Form->TBToolWindow3->isVisible());
        const QPoint from(400, 300), to(100, 80);
        Drag(Qt::LeftButton, from, to);
        QVERIFY(S().HasSelection);
        QVERIFY(!S().Selecting);
        QVERIFY(S().SelLat1 > S().SelLat2);
        QVERIFY(S().SelLon1 > S().SelLon2);  // west positive
        // The frame recomputed from the corners lands where it was drawn.
        QVERIFY(std::abs(S().SelLeft - 100) <= 1 && std::abs(S().SelTop - 80) <= 1);
        QVERIFY(std::abs(S().SelRight - 400) <= 1 && std::abs(S().SelBottom - 300) <= 1);
        QVERIFY(Form->SpeedButton2->isEnabled());
        // Task zoom 13 is three levels below the view: eight times the size.
        const QString label = Form->Label15->text();
        QVERIFY2(label.startsWith("Выделено ") && label.endsWith(" пикселей"), qPrintable(label));
        const QStringList size = label.mid(9, label.size() - 9 - 9).split('x');
        QCOMPARE(size.size(), 2);
        QVERIFY(std::abs(size[0].toInt() - 8 * 300) <= 8);
        QVERIFY(std::abs(size[1].toInt() - 8 * 220) <= 8);
        QCOMPARE(Form->PanelText(2), QString::fromStdString(SizeEstimate(S(), 13).Panel2));
        QVERIFY(
            Form->PanelText(2).startsWith("Выделено " + size[0] + "x" + size[1] + "px, в памяти "));

        // Task zoom 14 doubles both counts.
        Form->ComboBox2->setCurrentIndex(13);
        const QStringList deeper = Form->Label15->text().mid(9).split('x');
        QVERIFY(std::abs(deeper[0].toInt() - 2 * size[0].toInt()) <= 1);
        QVERIFY(std::abs(deeper[1].section(' ', 0, 0).toInt() - 2 * size[1].toInt()) <= 1);
    }

    void frameIsDrawnInvertedAndMoves() {
        GoTo(1, 0, 0);
        SelectionModeOn();
        Drag(Qt::LeftButton, QPoint(300, 100), QPoint(500, 250));
        QVERIFY(S().HasSelection);
        QVERIFY(Form->Timer1->isActive());
        auto changedOnTopEdge = [&](const QImage& shown) {
            QSet<int> xs;
            for (int x = S().SelLeft; x < S().SelRight; ++x)
                if (!(At(shown, x, S().SelTop) == S().ViewBitmap.Pixel(x, S().SelTop))) xs << x;
            return xs;
        };
        const QSet<int> first = changedOnTopEdge(Form->PaintBox1->grab().toImage());
        const int length = S().SelRight - S().SelLeft;
        QVERIFY2(first.size() >= length / 3 && first.size() <= 2 * length / 3,
                 qPrintable(QString::number(first.size())));
        // The animation moves the dots along.
        QTRY_VERIFY_WITH_TIMEOUT(changedOnTopEdge(Form->PaintBox1->grab().toImage()) != first, 3000);
        // Away from the outline the picture is the view.
        const QImage shown = Form->PaintBox1->grab().toImage();
        QCOMPARE(At(shown, S().SelLeft + 10, S().SelTop + 10),
                 S().ViewBitmap.Pixel(S().SelLeft + 10, S().SelTop + 10));

        // Leaving selection mode with no task listed drops the selection
        // and its frame.
        Form->ToolButton8->click();
        QVERIFY(!S().HasSelection);
        QCOMPARE(Form->PanelText(2), QString(" "));
        QCOMPARE(Form->Label15->text(), QString("----------------------"));
        QVERIFY(!Form->SpeedButton2->isEnabled());
        QVERIFY(changedOnTopEdge(Form->PaintBox1->grab().toImage()).isEmpty());
    }

    void zoomingKeepsTheFrameOnTheGround() {
        GoTo(10, 55.75, -37.6);
        SelectionModeOn();
        const QPoint middle(S().ViewBitmap.Width() / 2, S().ViewBitmap.Height() / 2);
        Drag(Qt::LeftButton, middle - QPoint(100, 60), middle + QPoint(50, 40));
        const int w = S().SelRight - S().SelLeft, h = S().SelBottom - S().SelTop;
        Form->RxSlider1->setValue(11);
        Form->RxSlider1Changed();
        QVERIFY(std::abs(S().SelRight - S().SelLeft - 2 * w) <= 2);
        QVERIFY(std::abs(S().SelBottom - S().SelTop - 2 * h) <= 2);
        QVERIFY(std::abs(middle.x() - S().SelLeft - 200) <= 2);
        QVERIFY(std::abs(middle.y() - S().SelTop - 120) <= 2);
    }

    void rightClickInsideOpensTheMenuOutsideDropsTheSelection() {
        GoTo(5, 30, 10);
        SelectionModeOn();
        Drag(Qt::LeftButton, QPoint(100, 100), QPoint(300, 250));
        QVERIFY(S().HasSelection);
        Click(Qt::RightButton, QPoint(200, 200));
        QTRY_VERIFY(Form->PMenu->isVisible());
        QCOMPARE(Form->PMenu->actions().size(), 2);
        QCOMPARE(Form->PMenu->actions()[0]->text(), QString("Склеить выделенное"));
        QCOMPARE(Form->PMenu->actions()[1]->text(), QString("Выкачать выделенное"));
        Form->PMenu->hide();
        QVERIFY(S().HasSelection);
        Click(Qt::RightButton, QPoint(100, 200));  // on the edge is outside
        QVERIFY(!S().HasSelection);
        QVERIFY(!Form->SpeedButton2->isEnabled());
        QCOMPARE(Form->Label15->text(), QString("----------------------"));
        // A click without movement in selection mode removes a selection too.
        Drag(Qt::LeftButton, QPoint(100, 100), QPoint(300, 250));
        QVERIFY(S().HasSelection);
        Click(Qt::LeftButton, QPoint(150, 150));
        QVERIFY(!S().HasSelection);
    }

    void favouritesAreSavedByteExact() {
        Form->ComboBox1->setEditText("Дача");
        Form->FCB->setCurrentIndex(12);
        Form->SCB->setCurrentIndex(0);
        Form->Edit7->setText("55°45,348'");
        Form->DCB->setCurrentIndex(1);
        Form->Edit10->setText("37°37,038'");
        Form->ButtonSave->click();
        const std::string line = "Дача" + std::string(16, ' ') + " 13 N55°45,348'" +
                                 std::string(4, ' ') + " E37°37,038'" + std::string(4, ' ');
        const QByteArray expected =
            QByteArray::fromStdString(Utf8ToCp1251(line)) + "\r\n" + "____________________ N E\r\n";
        QCOMPARE(ReadAll(Folder() + "Favorites.dat"), expected);
        QCOMPARE(Form->ComboBox1->count(), 2);
        QCOMPARE(Form->ComboBox1->itemText(0), QString::fromStdString(line));
        QCOMPARE(Form->ComboBox1->currentIndex(), 0);
        QCOMPARE(Form->ComboBox1->currentText(), QString("Дача") + QString(16, ' '));

        // Zoom 5 writes "5 " in columns 22-23.
        Form->ComboBox1->setEditText("x");
        Form->FCB->setCurrentIndex(4);
        Form->ButtonSave->click();
        QCOMPARE(Form->ComboBox1->itemText(0).mid(21, 2), QString("5 "));
        QCOMPARE(Form->ComboBox1->itemText(0).size(), 55);
    }

    void selectingAFavouriteFillsThePanelWithoutMoving() {
        Form->ComboBox1->insertItem(0, QString::fromStdString(BuildFavoriteLine(
                                           "Дача", "13", "N", "55°45,348'", "E", "37°37,038'")));
        Form->FCB->setCurrentIndex(2);
        Form->SCB->setCurrentIndex(1);
        Form->DCB->setCurrentIndex(0);
        const double lat = S().CenterLat, lon = S().CenterLon;
        const int before = View().Compositions();
        Form->ComboBox1->setCurrentIndex(0);
        emit Form->ComboBox1->activated(0);
        QCOMPARE(Form->FCB->currentText(), QString("13"));
        QCOMPARE(Form->SCB->currentText(), QString("N"));
        QCOMPARE(Form->DCB->currentText(), QString("E"));
        QCOMPARE(Form->Edit7->text(), QString("55°45,348'"));
        QCOMPARE(Form->Edit10->text(), QString("37°37,038'"));
        QVERIFY(std::fabs(S().SearchLat - 55.7558) < 1e-9);
        QVERIFY(std::fabs(S().SearchLon + 37.6173) < 1e-9);
        QCOMPARE(S().CenterLat, lat);
        QCOMPARE(S().CenterLon, lon);
        QCOMPARE(View().Compositions(), before);

        // The placeholder line changes nothing.
        const int placeholder = Form->ComboBox1->findText("____________________ N E");
        QVERIFY(placeholder >= 0);
        Form->FCB->setCurrentIndex(3);
        Form->Edit7->setText("1");
        Form->ComboBox1->setCurrentIndex(placeholder);
        emit Form->ComboBox1->activated(placeholder);
        QCOMPARE(Form->FCB->currentIndex(), 3);
        QCOMPARE(Form->Edit7->text(), QString("1"));

        // Typing into a coordinate edit makes it a new name.
        Form->Edit7->setFocus();
        QTest::keyClick(Form->Edit7, '5');
        QCOMPARE(Form->ComboBox1->currentText(), QString("---Новое имя---"));
        QCOMPARE(Form->Edit7->text(), QString("15"));
    }

    void deletingTheLastFavouriteLeavesAnEmptyFile() {
        Form->ComboBox1->setEditText("a");
        Form->ButtonSave->click();
        QCOMPARE(Form->ComboBox1->count(), 2);
        // The prompt in the box means nothing is selected.
        Form->ComboBox1->setEditText("---Новое имя---");
        Form->ButtonDel->click();
        QCOMPARE(Form->ComboBox1->count(), 2);
        Form->ComboBox1->setCurrentIndex(0);
        Form->ButtonDel->click();
        QCOMPARE(Form->ComboBox1->count(), 1);
        QCOMPARE(ReadAll(Folder() + "Favorites.dat"), QByteArray("____________________ N E\r\n"));
        QCOMPARE(Form->ComboBox1->currentIndex(), 0);
        Form->ButtonDel->click();
        QCOMPARE(Form->ComboBox1->count(), 0);
        QCOMPARE(Form->ComboBox1->currentText(), QString("---Новое имя---"));
        QCOMPARE(ReadAll(Folder() + "Favorites.dat"), QByteArray());
    }

    void unwritableFavouritesKeepTheListAndSaySo() {
        QVERIFY(QDir(Dir->path()).mkdir("Favorites.dat"));  // a folder cannot be replaced by a file
        MessageCatcher catcher;
        Form->ComboBox1->setEditText("b");
        Form->ButtonSave->click();
        QTRY_COMPARE(catcher.Texts.size(), 1);
        QCOMPARE(catcher.Texts[0], QString("Запись файла Favorites.dat невозможна"));
        QCOMPARE(catcher.Titles[0], QString("Сохранение невозможно"));
        QCOMPARE(Form->ComboBox1->count(), 2);
        QVERIFY(Form->ComboBox1->itemText(0).startsWith("b "));
    }

    // A favourites file the user made read-only is his to keep: the save
    // fails with the message and the file keeps its bytes and permissions.
    void protectedFavouritesFileIsNotReplaced() {
        const QString path = Folder() + "Favorites.dat";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept\r\n");
        file.close();
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        MessageCatcher catcher;
        Form->ComboBox1->setEditText("c");
        Form->ButtonSave->click();
        QTRY_COMPARE(catcher.Texts.size(), 1);
        QCOMPARE(catcher.Texts[0], QString("Запись файла Favorites.dat невозможна"));
        QCOMPARE(ReadAll(path), QByteArray("kept\r\n"));
        QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    void searchMovesTheViewAndBlinksTheMarker() {
        Form->ToolButton5->setChecked(true);
        Form->ToolButton5Click();
        Form->Edit7->setText("89");
        Form->SCB->setCurrentIndex(0);
        Form->Edit10->setText("10");
        Form->DCB->setCurrentIndex(1);
        Form->FCB->setCurrentIndex(4);
        Form->SpeedButton1->click();
        QCOMPARE(S().CenterLat, 89.0);
        QCOMPARE(S().CenterLon, -10.0);
        QCOMPARE(S().Zoom, 5);
        QCOMPARE(Form->RxSlider1->value(), 5);
        // 89 degrees is beyond the world's edge: nothing but the background.
        const int w = S().ViewBitmap.Width(), h = S().ViewBitmap.Height();
        for (const QPoint p : {QPoint(0, 0), QPoint(w / 2, h / 2), QPoint(w - 1, h - 1)})
            QCOMPARE(S().ViewBitmap.Pixel(p.x(), p.y()), Face());
        QVERIFY(Form->Image5->isVisible());
        QCOMPARE(Form->Image5->pos(),
                 QPoint(Form->PaintBox1->width() / 2 - 10, Form->PaintBox1->height() / 2 - 10));
        QCOMPARE(QApplication::focusWidget(), Form->Edit7);
        QVERIFY(Form->Timer1->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(S().BlinkCount >= 2, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!Form->Timer1->isActive(), 6000);
        QCOMPARE(S().BlinkCount, 17);
        QVERIFY(!Form->Image5->isVisible());

        // 90 degrees cannot be shown: the view stays, the edit keeps the focus.
        Form->Edit7->setText("90");
        const int before = View().Compositions();
        Form->SpeedButton1->click();
        QCOMPARE(S().CenterLat, 89.0);
        QCOMPARE(View().Compositions(), before);
        QCOMPARE(QApplication::focusWidget(), Form->Edit7);
        Form->Edit7->setText("10");
        Form->Edit10->setText("180");
        Form->SpeedButton1->click();
        QCOMPARE(S().CenterLon, -10.0);
        QCOMPARE(QApplication::focusWidget(), Form->Edit10);
    }

    void missingTilesButtonQueuesThemAndKeepsTheMode() {
        GoTo(2, 0, 0);  // zoom 2 is not in the cache
        QVERIFY(!S().ViewLoaderStop);
        Form->ToolButton3->click();
        QVERIFY(S().ViewLoaderStop);  // the missing tiles went to a worker
        QVERIFY(S().ModeCacheOnly);
        QVERIFY(!S().ModeCacheAndInternet);
        QTRY_COMPARE(S().ViewLoaderCount, 0);
    }

    void shrinkingCropsGrowingComposes() {
        const int before = View().Compositions();
        Form->resize(Form->width() - 60, Form->height() - 40);
        QTRY_COMPARE(S().ViewBitmap.Width(), Form->PaintBox1->width());
        QTRY_COMPARE(S().ViewBitmap.Height(), Form->PaintBox1->height());
        QCOMPARE(View().Compositions(), before);
        Form->resize(Form->width() + 1, Form->height());
        QTRY_COMPARE(S().ViewBitmap.Width(), Form->PaintBox1->width());
        QCOMPARE(View().Compositions(), before + 1);
    }
};

VISTREL_UI_TEST(TestTForm1View)
#include "test_tform1_view.moc"
