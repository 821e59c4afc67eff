#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <cmath>

#include "form_fixture.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "regions/region_outline.h"
#include "regions/shape_tiles.h"
#include "tilestore/cache_coverage.h"
#include "ui/koord_dlg.h"
#include "ui/message_catcher.h"
#include "ui/tokbottom_dlg.h"
#include "ui/when_modal.h"
#include "ui_test_main.h"
#include "view/map_view.h"

namespace {

const char* RouteGpx =
    R"(<?xml version="1.0"?><gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1">)"
    R"(<trk><trkseg><trkpt lat="55.70" lon="37.50"/><trkpt lat="55.75" lon="37.60"/>)"
    R"(<trkpt lat="55.72" lon="37.70"/></trkseg></trk></gpx>)";

}  // namespace

class TestTForm1Region : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<TForm1> Form;

    MainState& S() { return Form->State(); }

    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = Dir->path() + "/" + name;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(bytes);
        return path;
    }

    void Click(QPoint at) {
        QTest::mousePress(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, at);
    }

    // As the window system sends it: a click, then the double click event.
    void DoubleClick(QPoint at) {
        Click(at);
        QTest::mouseDClick(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, at);
    }

    // Where a vertex shows on the map area now.
    QPoint OnScreen(const ShapePoint& p) {
        const ScreenPoint s = ScreenPointOf(p, S().Zoom, S().CenterLon, S().CenterLat,
                                            S().ViewBitmap.Width(), S().ViewBitmap.Height());
        return QPoint(static_cast<int>(std::lround(s.X)), static_cast<int>(std::lround(s.Y)));
    }

    QString CacheTile(int zoom, int column, int row) {
        return QString::fromStdString(S().CachePathCopy() + KeyLetters(zoom, column, row) + ".jpg");
    }

    // The task panel's text for the shape's tiles (not its box's) at the task zoom.
    QString PanelCount(const RegionShape& shape) {
        const int zoom = Form->ComboBox2->currentIndex() + 1;
        return QString("Тайлов в области: %1").arg(CountShapeTiles(shape, zoom));
    }

  private slots:
    void init() {
        QVERIFY(NewProgramFolder(Dir));
        // Cache only: nothing is ever requested.
        QVERIFY(ShowForm(Form, Dir->path(), [](MainState& s) { SetWorkMode(s, 0); }));
        QApplication::setActiveWindow(Form.get());
        QTRY_VERIFY(Form->View->Compositions() > 0);
        QTRY_COMPARE(S().ViewBitmap.Width(), Form->PaintBox1->width());
        Form->RxSlider1->setValue(10);
        S().CenterLat = 55.7;
        S().CenterLon = -37.6;
        Form->RxSlider1Changed();
    }
    void cleanup() {
        Form.reset();
        Dir.reset();
    }

    void polygonModeByClicks_data() {
        QTest::addColumn<QString>("keys");  // between the clicks: b Backspace, e Esc
        QTest::addColumn<int>("vertices");  // of the polygon closed, 0 for none
        QTest::newRow("three clicks and a double click") << "" << 4;
        QTest::newRow("Backspace drops the vertex before it") << "b" << 3;
        QTest::newRow("Esc drops the whole polygon") << "e" << 0;
    }
    void polygonModeByClicks() {
        QFETCH(QString, keys);
        QFETCH(int, vertices);
        QTest::mouseClick(Form->ToolButton9, Qt::LeftButton);
        QVERIFY(Form->PolygonMode());
        QVERIFY(!Form->SelectionMode());
        QVERIFY(Form->TBToolWindow3->isVisible());
        const QPoint mid = Form->PaintBox1->rect().center();
        const QPoint a = mid + QPoint(-100, -80), b = mid + QPoint(120, -60),
                     stray = mid + QPoint(0, 150), c = mid + QPoint(20, 110);
        for (QPoint p : {a, b, stray}) Click(p);
        QVERIFY(Form->DraftActive());
        if (keys == "b") QTest::keyClick(Form->PaintBox1, Qt::Key_Backspace);
        if (keys == "e") {
            QTest::keyClick(Form->PaintBox1, Qt::Key_Escape);
            QVERIFY(!Form->DraftActive());
        }
        QTest::mouseMove(Form->PaintBox1, c);
        DoubleClick(c);
        if (vertices == 0) {
            // After Esc the double click starts a new polygon of one vertex.
            QVERIFY(!Form->CurrentShape());
            QVERIFY(!S().HasSelection);
            return;
        }
        const auto& shape = Form->CurrentShape();
        QVERIFY(shape);
        QVERIFY(!Form->DraftActive());
        QVERIFY(S().HasSelection);
        QVERIFY(!shape->Polygons.empty());
        const auto& outer = shape->Polygons[0].Outer;
        QCOMPARE(static_cast<int>(outer.size()), vertices);
        const std::vector<QPoint> expected =
            keys == "b" ? std::vector<QPoint>{a, b, c} : std::vector<QPoint>{a, b, stray, c};
        for (std::size_t i = 0; i < outer.size(); ++i)
            QVERIFY2((OnScreen(outer[i]) - expected[i]).manhattanLength() <= 2,
                     qPrintable(QString("vertex %1").arg(i)));
        QCOMPARE(Form->Label15->text(), PanelCount(*shape));
        QVERIFY(Form->SpeedButton2->isEnabled());
        const RegionCorners box = ShapeBounds(*shape);  // the box is the corners
        QCOMPARE(S().SelLat1, box.Lat1);
        QCOMPARE(S().SelLon2, box.Lon2);
    }

    void rectangleAfterAShapeReplacesIt() {
        QTest::mouseClick(Form->ToolButton9, Qt::LeftButton);
        const QPoint mid = Form->PaintBox1->rect().center();
        for (QPoint p : {mid, mid + QPoint(50, 0)}) Click(p);
        DoubleClick(mid + QPoint(0, 50));
        QVERIFY(Form->CurrentShape());
        QTest::mouseClick(Form->ToolButton8, Qt::LeftButton);
        QVERIFY(!Form->PolygonMode());
        QVERIFY(Form->CurrentShape());  // switching modes keeps the region
        // A polygon begun, then left for the rectangle, is dropped.
        QTest::mouseClick(Form->ToolButton9, Qt::LeftButton);
        QVERIFY(!Form->SelectionMode());
        Click(mid + QPoint(-60, -60));
        QVERIFY(Form->DraftActive());
        QTest::mouseClick(Form->ToolButton8, Qt::LeftButton);
        QVERIFY(!Form->PolygonMode());
        QVERIFY(!Form->DraftActive());
        QTest::mousePress(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, mid);
        QTest::mouseMove(Form->PaintBox1, mid + QPoint(100, 80));
        QTest::mouseRelease(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, mid + QPoint(100, 80));
        QVERIFY(!Form->CurrentShape());
        QVERIFY(S().HasSelection);
        QVERIFY(Form->Label15->text().startsWith("Выделено "));
    }

    void openedRouteBecomesACorridorShownAndZoomedTo() {
        const QString path = WriteFile("route.gpx", RouteGpx);
        Form->RegionFileChooser = [path] { return path; };
        Form->CorridorWidthAsker = [] { return std::optional<double>(500); };
        Form->RxSlider1->setValue(3);
        Form->RxSlider1Changed();
        QTest::mouseClick(Form->ToolButton10, Qt::LeftButton);
        const auto& shape = Form->CurrentShape();
        QVERIFY(shape);
        QCOMPARE(shape->Lines.size(), std::size_t{1});
        QCOMPARE(shape->CorridorWidth, 500.0);
        QVERIFY(Form->SelectionMode());
        QVERIFY(S().HasSelection);
        // Zoomed to: the box fits the map area, one level deeper it would not.
        const RegionCorners box{S().SelLat1, S().SelLon1, S().SelLat2, S().SelLon2};
        const RegionPixels size = RegionPixelSize(S().Zoom, box);
        QVERIFY(size.Width <= Form->PaintBox1->width());
        QVERIFY(size.Height <= Form->PaintBox1->height());
        const RegionPixels deeper = RegionPixelSize(S().Zoom + 1, box);
        QVERIFY(deeper.Width > Form->PaintBox1->width() ||
                deeper.Height > Form->PaintBox1->height());
        QCOMPARE(Form->RxSlider1->value(), S().Zoom);
        QCOMPARE(Form->Label15->text(), PanelCount(*shape));
        // The outline is drawn: the line's middle vertex differs from the bare view.
        const QPoint vertex = OnScreen(shape->Lines[0][1]);
        QVERIFY(Form->PaintBox1->grab().toImage().pixelColor(vertex) !=
                S().ViewBitmap.Image().pixelColor(vertex));
    }

    void filesThatFailChangeNothing_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("widthAsked");  // the width dialog is cancelled
        QTest::newRow("broken JSON")
            << QByteArray("{\"type\": \"Polygon\", ") << "bad.geojson" << false;
        QTest::newRow("not a KML") << QByteArray("hello") << "bad.kml" << false;
        QTest::newRow("no geometry")
            << QByteArray(R"({"type":"FeatureCollection","features":[]})") << "empty.json" << false;
        QTest::newRow("width cancelled") << QByteArray(RouteGpx) << "route.gpx" << true;
    }
    void filesThatFailChangeNothing() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(bool, widthAsked);
        const QString path = WriteFile(name, bytes);
        bool asked = false;
        Form->CorridorWidthAsker = [&] {
            asked = true;
            return std::optional<double>();
        };
        const int zoom = S().Zoom;
        const double lat = S().CenterLat;
        MessageCatcher messages;
        QVERIFY(!Form->OpenRegionFile(path));
        QCOMPARE(asked, widthAsked);
        QVERIFY(!Form->CurrentShape());
        QVERIFY(!S().HasSelection);
        QCOMPARE(S().Zoom, zoom);
        QCOMPARE(S().CenterLat, lat);
        QVERIFY(S().ControlsEnabled);
        if (widthAsked) {
            QVERIFY(messages.Texts.isEmpty());
        } else {
            QTRY_COMPARE(messages.Texts.size(), 1);
            QVERIFY2(messages.Texts[0].contains(name), qPrintable(messages.Texts[0]));
            QCOMPARE(messages.Titles[0], QString("Открыть область"));
        }
    }

    void parametersDialogCountsTheShapeAndEditingACornerMakesARectangle() {
        const QString path = WriteFile("route.gpx", RouteGpx);
        Form->CorridorWidthAsker = [] { return std::optional<double>(1000); };
        QVERIFY(Form->OpenRegionFile(path));
        const auto shape = Form->CurrentShape();
        const RegionCorners box = ShapeBounds(*shape);
        // Cancel keeps the shape, whatever was edited.
        for (bool edit : {false, true}) {
            WhenModal<TOKBottomDlg>([&](TOKBottomDlg* d) {
                const int zoom = d->FCB->currentIndex() + 1;
                QVERIFY(d->Label9->text().endsWith(
                    QString(", тайлов в области: %1").arg(CountShapeTiles(*shape, zoom))));
                QCOMPARE(d->CornerLat1, box.Lat1);
                QCOMPARE(d->CornerLon2, box.Lon2);
                d->FCB->setCurrentIndex(zoom);  // one deeper: counted again
                QVERIFY(d->Label9->text().endsWith(
                    QString(", тайлов в области: %1").arg(CountShapeTiles(*shape, zoom + 1))));
                if (edit) {
                    WhenModal<TKoordDlg>(
                        [](TKoordDlg* k) { QTest::mouseClick(k->OKBtn, Qt::LeftButton); });
                    QTest::mouseClick(d->Button1, Qt::LeftButton);
                    QVERIFY(!d->Region);
                    QVERIFY(!d->Label9->text().contains("тайлов"));
                }
                QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
            });
            Form->SpeedButton2Click(static_cast<int>(TaskKind::Download));
            QCOMPARE(Form->CurrentShape(), shape);
        }
    }

    void coverageOverlayTintsTheCachedTilesOfTheTaskZoom() {
        Form->ComboBox2->setCurrentIndex(12);  // zoom 13, three levels below the view
        const TilePosition held = TileAt(13, S().CenterLon, S().CenterLat);
        QFile f(CacheTile(13, held.Column, held.Row));
        QVERIFY(f.open(QIODevice::WriteOnly));  // a name is all the overlay reads
        f.close();
        QTest::mouseClick(Form->ToolButton11, Qt::LeftButton);
        QTRY_VERIFY(Form->CoverageCells());
        const auto grid = Form->CoverageCells();
        QCOMPARE(grid->CellPixels, 32.0);
        QCOMPARE(grid->HeldAt(held.Column, held.Row), 1u);
        QCOMPARE(grid->HeldAt(held.Column + 1, held.Row), 0u);
        auto middleOf = [&](int column, int row) {
            return QPoint(static_cast<int>(grid->CellX(column) + 16),
                          static_cast<int>(grid->CellY(row) + 16));
        };
        QTRY_VERIFY(!Form->PaintBox1->grab().toImage().isNull());
        const QImage shown = Form->PaintBox1->grab().toImage();
        const QImage& view = S().ViewBitmap.Image();
        const QPoint tinted = middleOf(held.Column, held.Row);
        const QPoint clear = middleOf(held.Column + 2, held.Row);
        QVERIFY(shown.pixelColor(tinted) != view.pixelColor(tinted));
        QCOMPARE(shown.pixelColor(clear), view.pixelColor(clear));
        // Off: the view alone.
        QTest::mouseClick(Form->ToolButton11, Qt::LeftButton);
        QVERIFY(!Form->CoverageCells());
        QCOMPARE(Form->PaintBox1->grab().toImage().pixelColor(tinted), view.pixelColor(tinted));
    }

    // Not a check: pictures of regions for a person, under a real X server
    // (VISTREL_SHOTS=folder; tiles from VISTREL_SHOT_SOURCE or the default).
    void screenshotsOfRegions() {
        const QString shots = qEnvironmentVariable("VISTREL_SHOTS");
        if (shots.isEmpty()) QSKIP("VISTREL_SHOTS not set");
        SetSourceString(
            S(), qEnvironmentVariable("VISTREL_SHOT_SOURCE", DefaultSourceString).toStdString());
        SetWorkMode(S(), 2);
        Form->move(0, 0);
        Form->resize(1180, 860);
        QTest::qWait(300);
        auto shoot = [&](const QString& name) {
            QTest::qWait(2500);  // the tiles arrive
            QVERIFY(QProcess::execute("import", {"-window", "root", shots + "/" + name}) == 0);
        };
        // A winding route of about 120 km over land.
        QByteArray gpx = R"(<?xml version="1.0"?><gpx version="1.1" )"
                         R"(xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>)";
        for (int i = 0; i <= 300; ++i) {
            const double t = i / 300.0;
            gpx += QString(R"(<trkpt lat="%1" lon="%2"/>)")
                       .arg(20.0 + 0.4 * t + 0.05 * std::sin(t * 18), 0, 'f', 6)
                       .arg(23.0 + 0.9 * t + 0.04 * std::cos(t * 11), 0, 'f', 6)
                       .toUtf8();
        }
        gpx += "</trkseg></trk></gpx>";
        Form->CorridorWidthAsker = [] { return std::optional<double>(1000); };
        Form->ComboBox2->setCurrentIndex(13);  // zoom 14
        QVERIFY(Form->OpenRegionFile(WriteFile("route.gpx", gpx)));
        shoot("region-corridor.png");

        QTest::mouseClick(Form->ToolButton9, Qt::LeftButton);
        const QPoint mid = Form->PaintBox1->rect().center();
        for (QPoint p : {QPoint(-300, -180), QPoint(-40, -250), QPoint(260, -160), QPoint(330, 120),
                         QPoint(60, 60), QPoint(-120, 230)})
            Click(mid + p);
        DoubleClick(mid + QPoint(-330, 90));
        QVERIFY(Form->CurrentShape());
        shoot("region-polygon.png");

        // The polygon's tiles two levels deeper, its western part downloaded.
        const int zoom = S().Zoom + 2;
        Form->ComboBox2->setCurrentIndex(zoom - 1);
        const std::string jpeg = MakeTileJpeg(256, 256, 5);
        ShapeTileCursor cursor(*Form->CurrentShape(), zoom);
        TileIndex tile;
        const TileRange range = ShapeTileRange(*Form->CurrentShape(), zoom);
        while (cursor.Next(tile)) {
            if (tile.Column > range.FirstColumn + range.Columns * 3 / 5) continue;
            QFile f(CacheTile(zoom, tile.Column, tile.Row));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(jpeg.data(), static_cast<qint64>(jpeg.size()));
        }
        QTest::mouseClick(Form->ToolButton11, Qt::LeftButton);
        QTRY_VERIFY(Form->CoverageCells());
        shoot("region-coverage.png");
    }
};

VISTREL_UI_TEST(TestTForm1Region)
#include "test_tform1_region.moc"
