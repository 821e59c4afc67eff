// The main window's region shapes: region files, the polygon mode and the
// drawing of both over the map. The geometry is in regions/.
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>

#include "regions/region_outline.h"
#include "tilestore/cache_coverage.h"
#include "ui/tform1.h"
#include "view/map_view.h"
#include "view/selection.h"

namespace {

const QString OpenRegionTitle = QStringLiteral("Открыть область");

QPolygonF ToPolygon(const ScreenPath& path, int dx, int dy) {
    QPolygonF polygon;
    polygon.reserve(static_cast<qsizetype>(path.Points.size()));
    for (const ScreenPoint& p : path.Points) polygon.append(QPointF(p.X + dx, p.Y + dy));
    return polygon;
}

// The outline as the selection frame looks: dots that move along it, black
// on white so that they show over any imagery.
void DrawAnts(QPainter& painter, const QPolygonF& polygon, bool closed, int phase) {
    QPen white(Qt::white, 1);
    QPen dots(Qt::black, 1, Qt::CustomDashLine);
    dots.setDashPattern({FrameDotLength, FrameDotLength});
    dots.setDashOffset(-phase);
    for (const QPen& pen : {white, dots}) {
        painter.setPen(pen);
        if (closed)
            painter.drawPolygon(polygon);
        else
            painter.drawPolyline(polygon);
    }
}

}  // namespace

bool TForm1::PolygonMode() const {
    return ToolButton9 && ToolButton9->isChecked();
}

bool TForm1::DraftActive() const {
    return Draft && Draft->Active();
}

long long TForm1::ShapeTiles(int zoom) {
    return ShapeCounts ? ShapeCounts->At(zoom) : -1;
}

void TForm1::SetRegionShape(std::shared_ptr<const RegionShape> shape) {
    Shape = std::move(shape);
    ShapeCounts = Shape ? std::make_shared<ShapeTileCounts>(Shape) : nullptr;
    if (Shape) {
        const RegionCorners box = ShapeBounds(*Shape);
        S.SelLat1 = box.Lat1;
        S.SelLon1 = box.Lon1;
        S.SelLat2 = box.Lat2;
        S.SelLon2 = box.Lon2;
        S.HasSelection = true;
        S.Selecting = false;
        Timer1->start();  // the outline's animation
    }
    ComboBox2Change();
}

void TForm1::ToolButton9Click() {
    if (PolygonMode()) {
        // One selection mode at a time; the region stays.
        if (SelectionMode()) ToolButton8->setChecked(false);
        PaintBox1->setCursor(Qt::CrossCursor);
        PaintBox1->setFocus();
        TBToolWindow3->show();
        PaintBox1->update();
        return;
    }
    PolygonDraftCancel();
    ToolButton8Click();  // leaving a selection mode
}

void TForm1::PolygonMouseDown(Qt::MouseButton button, int x, int y) {
    if (button != Qt::LeftButton) return;
    if (!Draft) Draft = std::make_shared<PolygonDraft>();
    if (!Draft->Active() && S.HasSelection) {
        // A new polygon replaces the region.
        S.HasSelection = false;
        SetRegionShape(nullptr);
        SetPanelText(2, QStringLiteral(" "));
    }
    int w, h;
    {
        auto lock = S.ViewBitmap.LockCanvas();
        w = S.ViewBitmap.Width();
        h = S.ViewBitmap.Height();
    }
    double lon = S.CenterLon, lat = S.CenterLat;
    PointAtDelta(S, x - w / 2, y - h / 2, -1, lon, lat);
    Draft->Add({lon, lat});
    Timer1->start();
    PaintBox1->update();
}

void TForm1::PolygonDoubleClick() {
    if (!DraftActive()) return;
    std::optional<RegionShape> shape = Draft->Close();
    if (!shape) return;  // no area yet: go on clicking
    SetRegionShape(std::make_shared<const RegionShape>(std::move(*shape)));
    RefreshView();
}

void TForm1::PolygonDraftCancel() {
    if (Draft) Draft->Cancel();
}

bool TForm1::PaintBox1KeyDown(int key) {
    if (!PolygonMode() || !DraftActive()) return false;
    if (key == Qt::Key_Backspace)
        Draft->RemoveLast();
    else if (key == Qt::Key_Escape)
        Draft->Cancel();
    else
        return false;
    PaintBox1->update();
    return true;
}

void TForm1::PaintRegion(QPainter& painter, int bitmapX, int bitmapY) {
    if (S.Dragging) return;
    const int z = EffectiveZoom(S.Zoom);
    const int w = S.ViewBitmap.Width(), h = S.ViewBitmap.Height();  // the caller holds its lock
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    if (Shape && S.HasSelection && !S.Selecting && RegionMode()) {
        const std::vector<ScreenPath> paths =
            ShapeScreenPaths(*Shape, z, S.CenterLon, S.CenterLat, w, h);
        // The corridor's band first, so that its line stays on top.
        const double band = CorridorPixelWidth(*Shape, z, S.CenterLat);
        for (const ScreenPath& path : paths) {
            if (path.Closed) continue;
            painter.setPen(QPen(QColor(255, 200, 0, 90), std::max(1.0, band), Qt::SolidLine,
                                Qt::RoundCap, Qt::RoundJoin));
            painter.drawPolyline(ToPolygon(path, bitmapX, bitmapY));
        }
        for (const ScreenPath& path : paths)
            DrawAnts(painter, ToPolygon(path, bitmapX, bitmapY), path.Closed, FramePhase);
    }
    if (PolygonMode() && DraftActive()) {
        ScreenPath path;
        for (const ShapePoint& p : Draft->Points())
            path.Points.push_back(ScreenPointOf(p, z, S.CenterLon, S.CenterLat, w, h));
        QPolygonF polygon = ToPolygon(path, bitmapX, bitmapY);
        polygon.append(QPointF(S.MouseX, S.MouseY));
        DrawAnts(painter, polygon, false, FramePhase);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(Qt::white);
        for (qsizetype i = 0; i + 1 < polygon.size(); ++i)
            painter.drawRect(QRectF(polygon[i] - QPointF(2, 2), QSizeF(4, 4)));
    }
}

void TForm1::ToolButton10Click() {
    QString path;
    if (RegionFileChooser) {
        path = RegionFileChooser();
    } else {
        path = QFileDialog::getOpenFileName(
            this, OpenRegionTitle, RegionFolder.isEmpty() ? QDir::homePath() : RegionFolder,
            QStringLiteral("Области (*.geojson *.json *.kml *.kmz *.gpx);;Все файлы (*)"));
    }
    if (path.isEmpty()) return;
    RegionFolder = QFileInfo(path).absolutePath();
    OpenRegionFile(path);
}

bool TForm1::OpenRegionFile(const QString& path) {
    RegionFileResult result;
    {
        RegionFileLoad load(path, 1000);
        QProgressDialog progress(
            QStringLiteral("Чтение файла %1...").arg(QFileInfo(path).fileName()),
            QStringLiteral("Отмена"), 0, 1001, this);
        progress.setWindowTitle(OpenRegionTitle);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(1000);  // a quick read shows no dialog
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (progress.wasCanceled()) load.Cancel();
            if (load.Finished()) {
                loop.quit();
                return;
            }
            progress.setValue(load.Progress());
        });
        EnableControls(false);
        poll.start(30);
        if (!load.Finished()) loop.exec();
        poll.stop();
        result = load.Result();
        EnableControls(true);
    }
    if (result.Error == RegionFileError::Cancelled) return false;
    if (!result.Ok()) {
        QMessageBox::warning(this, OpenRegionTitle, result.Message);
        return false;
    }
    if (result.Shape.HasLines()) {
        std::optional<double> width;
        if (CorridorWidthAsker) {
            width = CorridorWidthAsker();
        } else {
            bool ok = false;
            const double typed = QInputDialog::getDouble(
                this, OpenRegionTitle, QStringLiteral("Ширина коридора вдоль линий, м:"), 1000, 1,
                1000000, 0, &ok);
            if (ok) width = typed;
        }
        if (!width || !(*width > 0)) return false;
        result.Shape.CorridorWidth = *width;
    }
    PolygonDraftCancel();
    SetRegionShape(std::make_shared<const RegionShape>(std::move(result.Shape)));
    if (!RegionMode()) {
        ToolButton8->setChecked(true);
        ToolButton8Click();
        // The task panel shown now takes the size of its text once laid out.
        QMetaObject::invokeMethod(
            this, [this] { SizeTaskPanel(ComboBox4->count() > 0); }, Qt::QueuedConnection);
    }
    ZoomToRegion(S, {S.SelLat1, S.SelLon1, S.SelLat2, S.SelLon2}, PaintBox1->width(),
                 PaintBox1->height());
    RxSlider1->setValue(S.Zoom);
    Label1->setText(QString::number(S.Zoom));
    RefreshView();
    return true;
}

void TForm1::ToolButton11Click() {
    if (!ToolButton11->isChecked()) {
        Coverage = {};
        PaintBox1->update();
        return;
    }
    // What the worker learned of the cache is kept for the next run, with
    // other data the program can always make again.
    const QString kept = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(kept);
    auto ready = [this](auto grid) {
        QMetaObject::invokeMethod(
            this,
            [this, grid] {
                if (!Coverage.Worker) return;  // switched off meanwhile
                Coverage.Cells = grid;
                // One pixel per cell, its alpha the share of the cell held; a
                // violet that neither land nor water imagery has.
                QImage image(std::max(1, grid->Columns), std::max(1, grid->Rows),
                             QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::transparent);
                for (int r = 0; r < grid->Rows; ++r) {
                    auto* line = reinterpret_cast<QRgb*>(image.scanLine(r));
                    for (int c = 0; c < grid->Columns; ++c) {
                        const double share =
                            grid->ShareAt(grid->FirstColumn + c, grid->FirstRow + r);
                        if (share > 0)
                            line[c] = qPremultiply(qRgba(
                                130, 60, 230, static_cast<int>(50 + 80 * std::min(1.0, share))));
                    }
                }
                Coverage.Image = image;
                PaintBox1->update();
            },
            Qt::QueuedConnection);
    };
    Coverage.Worker = std::make_shared<CoverageWorker>(
        ready, std::chrono::milliseconds(2000),
        kept.isEmpty() ? std::string() : (kept + "/coverage.idx").toStdString());
    RequestCoverage();
}

void TForm1::RequestCoverage() {
    if (!Coverage.Worker) return;
    int w, h;
    {
        auto lock = S.ViewBitmap.LockCanvas();
        w = S.ViewBitmap.Width();
        h = S.ViewBitmap.Height();
    }
    if (!CentreHasPosition(S.CenterLat, S.CenterLon)) return;
    const int z = EffectiveZoom(S.Zoom);
    Coverage.Worker->Request(S.CachePathCopy(), CoverageViewAt(z, ComboBox2->currentIndex() + 1,
                                                               S.CenterLon, S.CenterLat, w, h));
}

void TForm1::PaintCoverage(QPainter& painter, int bitmapX, int bitmapY) {
    const CoverageGrid* grid = Coverage.Cells.get();
    if (!Coverage.Worker || !grid || grid->Columns == 0) return;
    const int z = EffectiveZoom(S.Zoom);
    if (grid->View.ViewZoom != z || !CentreHasPosition(S.CenterLat, S.CenterLon)) return;
    // Cells learned for an earlier centre stay on their ground until the
    // worker answers for this one.
    const CoverageView now = CoverageViewAt(z, grid->View.Zoom, S.CenterLon, S.CenterLat,
                                            grid->View.Width, grid->View.Height);
    const QRectF target(bitmapX + grid->CellX(grid->FirstColumn) + grid->View.Left - now.Left,
                        bitmapY + grid->CellY(grid->FirstRow) + grid->View.Top - now.Top,
                        grid->Columns * grid->CellPixels, grid->Rows * grid->CellPixels);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, Coverage.Image);
    painter.restore();
}
