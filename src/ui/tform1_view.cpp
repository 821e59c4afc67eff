#include <QApplication>
#include <QKeyEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>
#include <cmath>

#include "core/app_core.h"
#include "platform/file_io.h"
#include "tasks/th_loading.h"
#include "ui/coordinate_edit.h"
#include "ui/tform1.h"
#include "view/favorites.h"
#include "view/map_view.h"
#include "view/navigation.h"
#include "view/selection.h"

namespace {

// Routes the map box's events (and wheel notches anywhere on the window) to
// the window's handlers; the map box itself only paints.
class MapBoxEventFilter : public QObject {
  public:
    explicit MapBoxEventFilter(TForm1* form) : Form(form) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            const int notches = TakeWheelNotches(Form->WheelRest, wheel->angleDelta().y());
            for (int i = 0; i < notches; ++i) Form->FormMouseWheelDown();
            for (int i = 0; i > notches; --i) Form->FormMouseWheelUp();
            wheel->accept();
            return true;
        }
        if (watched != Form->PaintBox1) return false;
        if (IsMouseButtonOrMove(event->type()) && !Form->PaintBox1->isEnabled()) {
            // A composition runs and has disabled the map: the mouse must not
            // re-centre or zoom under it. A drag begun before ends here, so a
            // release after the composition moves nothing either.
            if (event->type() == QEvent::MouseButtonRelease) Form->State().Dragging = false;
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick && Form->PolygonMode()) {
            Form->PolygonDoubleClick();
            return true;
        }
        if (event->type() == QEvent::KeyPress)
            return Form->PaintBox1KeyDown(static_cast<QKeyEvent*>(event)->key());
        if (event->type() == QEvent::ContextMenu &&
            static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
            const QPoint p = Form->PaintBox1->mapFromGlobal(QCursor::pos());
            Form->ShowMapMenu(p.x(), p.y());
            return true;
        }
        // Ctrl + right button is the map's menu; the plain buttons keep their work.
        if ((event->type() == QEvent::MouseButtonPress ||
             event->type() == QEvent::MouseButtonRelease) &&
            static_cast<QMouseEvent*>(event)->button() == Qt::RightButton &&
            (static_cast<QMouseEvent*>(event)->modifiers() & Qt::ControlModifier)) {
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            if (event->type() == QEvent::MouseButtonPress) Form->ShowMapMenu(p.x(), p.y());
            return true;
        }
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {  // a double click is two presses
                auto* mouse = static_cast<QMouseEvent*>(event);
                const QPoint p = mouse->position().toPoint();
                Form->PaintBox1MouseDown(mouse->button(), p.x(), p.y());
                return true;
            }
            case QEvent::MouseMove: {
                const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
                Form->PaintBox1MouseMove(p.x(), p.y());
                return true;
            }
            case QEvent::MouseButtonRelease: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                const QPoint p = mouse->position().toPoint();
                Form->PaintBox1MouseUp(mouse->button(), p.x(), p.y());
                return true;
            }
            case QEvent::Resize:
                // Resizing the window sends a burst: one composition for it.
                if (!Form->ResizeQueued) {
                    Form->ResizeQueued = true;
                    QMetaObject::invokeMethod(
                        Form,
                        [form = Form] {
                            form->ResizeQueued = false;
                            form->Panel1Resize();
                        },
                        Qt::QueuedConnection);
                }
                return false;
            case QEvent::Show:
                // A window shown at exactly its designed size gets no larger
                // area: compose once anyway.
                if (!Form->ViewComposedOnShow) {
                    Form->ViewComposedOnShow = true;
                    QMetaObject::invokeMethod(
                        Form,
                        [form = Form] {
                            if (form->View->Compositions() == 0) form->RefreshView();
                        },
                        Qt::QueuedConnection);
                }
                return false;
            default:
                return false;
        }
    }

  private:
    static bool IsMouseButtonOrMove(QEvent::Type type) {
        return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
               type == QEvent::MouseMove || type == QEvent::MouseButtonRelease;
    }

    TForm1* Form;
};

Rgb ToRgb(const QColor& c) {
    return {static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
            static_cast<uint8_t>(c.blue())};
}

MouseButton ToMouseButton(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return MouseButton::Left;
        case Qt::RightButton:
            return MouseButton::Right;
        case Qt::MiddleButton:
            return MouseButton::Middle;
        default:
            return MouseButton::Other;
    }
}

// The found-place marker: a red cross in a ring, outlined in white so that it
// shows on dark and light imagery alike.
QPixmap MarkerPixmap() {
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    for (const auto& [color, width] :
         {std::pair{QColor(Qt::white), 4.0}, {QColor(220, 0, 0), 2.0}}) {
        p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(3, 3, 14, 14));
        p.drawLine(QPointF(10, 1), QPointF(10, 19));
        p.drawLine(QPointF(1, 10), QPointF(19, 10));
    }
    return pixmap;
}

std::vector<std::string> ItemsOf(const QComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
    return items;
}

}  // namespace

void TForm1::SetUpView() {
    ViewHooks hooks;
    hooks.Repaint = [this] { PaintBox1->repaint(); };
    hooks.EnableControls = [this](bool on) { EnableControls(on); };
    hooks.SetBusyCursor = [](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    };
    hooks.StartViewLoader = [this](std::unique_ptr<jtype> pending) {
        StartViewFillWorker(S, std::move(pending));
    };
    hooks.FillColor = ToRgb(palette().color(QPalette::Button));
    View = std::make_shared<MapView>(S, std::move(hooks));

    auto filter = std::make_shared<MapBoxEventFilter>(this);
    PaintBox1->installEventFilter(filter.get());
    RxSlider1->installEventFilter(filter.get());  // the wheel zooms over the slider too
    installEventFilter(filter.get());
    MapBoxEvents = filter;

    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(Timer3, &QTimer::timeout, this, [this] { Timer3Timer(); });

    connect(RxSlider1, &QSlider::valueChanged, this, [this](int value) {
        if (RxSlider1->isVisible() && isActiveWindow()) {
            const QPoint at = RxSlider1->mapToGlobal(QPoint(RxSlider1->width() / 2, 0));
            QToolTip::showText(at, QStringLiteral("Увеличение ") + QString::number(value),
                               RxSlider1);
        }
    });
    connect(RxSlider1, &QSlider::sliderReleased, this, [this] { RxSlider1Changed(); });
    connect(RxSlider1, &QSlider::actionTriggered, this, [this](int action) {
        // Clicks on the groove and keys change the value without a drag;
        // the value is applied once the slider has taken it.
        if (action == QAbstractSlider::SliderMove || RxSlider1->isSliderDown()) return;
        QMetaObject::invokeMethod(
            this, [this] { RxSlider1Changed(); }, Qt::QueuedConnection);
    });

    connect(ToolButton3, &QToolButton::clicked, this, [this] { ToolButton3Click(); });
    connect(ToolButton5, &QToolButton::clicked, this, [this] { ToolButton5Click(); });
    connect(ToolButton8, &QToolButton::clicked, this, [this] { ToolButton8Click(); });
    connect(ToolButton9, &QToolButton::clicked, this, [this] { ToolButton9Click(); });
    connect(ToolButton10, &QToolButton::clicked, this, [this] { ToolButton10Click(); });
    connect(ToolButton11, &QToolButton::clicked, this, [this] { ToolButton11Click(); });
    PaintBox1->setFocusPolicy(Qt::ClickFocus);  // Backspace and Esc of the polygon mode
    for (QComboBox* box : {ComboBox2, ComboBox3, ComboBox4})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { ComboBox2Change(); });

    PMenu = new QMenu(this);
    PMenu->setObjectName("PMenu");
    PMenu->addAction(QStringLiteral("Склеить выделенное"));
    PMenu->addAction(QStringLiteral("Выкачать выделенное"));

    Image5->setPixmap(MarkerPixmap());

    SearchEdits = std::make_shared<CoordinateEditPair>(
        Edit7, SCB, [this](double v) { S.SearchLat = v; }, Edit10, DCB,
        [this](double v) { S.SearchLon = v; });
    CoordinateEditPair::SetupEdit(Edit7);
    CoordinateEditPair::SetupEdit(Edit10);
    SearchEdits->SetCharacterAcceptedHook(
        [this] { ComboBox1->setEditText(QString::fromUtf8(NewFavoriteNameText)); });
    connect(SpeedButton1, &QPushButton::clicked, this, [this] { ButtonFindClick(); });
    connect(ButtonSave, &QPushButton::clicked, this, [this] { ButtonSaveClick(); });
    connect(ButtonDel, &QPushButton::clicked, this, [this] { ButtonDelClick(); });
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Select(); });
}

void TForm1::RefreshView() {
    View->RefreshView();
    RequestCoverage();
}

void TForm1::Panel1Resize() {
    View->Panel1Resize(PaintBox1->width(), PaintBox1->height());
    RequestCoverage();
}

bool TForm1::SelectionMode() const {
    return ToolButton8->isChecked();
}

void TForm1::PaintMapBox(QPainter& painter) {
    const QColor face = palette().color(QPalette::Button);
    const int areaW = PaintBox1->width(), areaH = PaintBox1->height();
    auto lock = S.ViewBitmap.LockCanvas();
    const Bitmap& bitmap = S.ViewBitmap;
    const int sx = S.Dragging && !S.ClickPending ? S.MouseX - S.DragStartX : 0;
    const int sy = S.Dragging && !S.ClickPending ? S.MouseY - S.DragStartY : 0;
    const ShiftedView at = ShiftedViewLayout(areaW, areaH, bitmap.Width(), bitmap.Height(), sx, sy);
    // Whatever the bitmap does not cover shows the button face: the strips a
    // drag uncovers, or the margin while a larger area waits for its view.
    const QRect covered(at.BitmapX, at.BitmapY, bitmap.Width(), bitmap.Height());
    QRegion uncovered(PaintBox1->rect());
    if (!bitmap.Empty()) uncovered -= covered;
    for (const QRect& r : uncovered) painter.fillRect(r, face);
    if (!bitmap.Empty()) painter.drawImage(at.BitmapX, at.BitmapY, bitmap.Image());
    S.FrameShown = false;

    if (!S.Dragging) PaintCoverage(painter, at.BitmapX, at.BitmapY);
    PaintRegion(painter, at.BitmapX, at.BitmapY);
    if (SelectionMode() && (S.HasSelection || S.Selecting) && !S.Dragging &&
        !(CurrentShape() && !S.Selecting)) {
        for (const FrameStrip& strip :
             SelectionFrame(bitmap, at.BitmapX, at.BitmapY, S.SelLeft, S.SelTop, S.SelRight,
                            S.SelBottom, FramePhase))
            painter.drawImage(strip.X, strip.Y, strip.Pixels.Image());
        S.FrameShown = true;
    }
}

void TForm1::PaintBox1MouseDown(Qt::MouseButton button, int x, int y) {
    if (PolygonMode()) {
        PolygonMouseDown(button, x, y);
        return;
    }
    if (SelectionMode()) {
        if (button != Qt::LeftButton) return;
        if (S.HasSelection) PaintBox1->update();  // the old frame goes
        if (CurrentShape()) SetRegionShape(nullptr);  // a new rectangle replaces the shape
        S.SelLeft = S.SelRight = x;
        S.SelTop = S.SelBottom = y;
        S.Selecting = true;
        Timer1->start();
        return;
    }
    S.ClickPending = true;
    S.Dragging = true;
    S.DragStartX = x;
    S.DragStartY = y;
    S.MouseX = x;
    S.MouseY = y;
}

void TForm1::PaintBox1MouseMove(int x, int y) {
    // The window system sends a move at the press point now and then: only
    // a change of position is a movement.
    const bool moved = x != S.MouseX || y != S.MouseY;
    S.MouseX = x;
    S.MouseY = y;
    if (SelectionMode() && S.Selecting) {
        S.SelRight = x;
        S.SelBottom = y;
        S.FrameShown = true;
        PaintBox1->update();
    } else if (PolygonMode() && DraftActive()) {
        PaintBox1->update();  // the edge that follows the mouse
    } else if (S.Dragging && moved) {
        S.ClickPending = false;
        PaintBox1->setCursor(Qt::ClosedHandCursor);
        PaintBox1->repaint();
    }
    const StatusCoordinates texts = StatusCoordinatesAt(S, x, y);
    SetPanelText(0, QString::fromStdString(texts.Latitude));
    SetPanelText(1, QString::fromStdString(texts.Longitude));
}

void TForm1::PaintBox1MouseUp(Qt::MouseButton button, int x, int y) {
    if (RegionMode()) {
        if (S.Selecting) {
            S.HasSelection = false;
            S.Selecting = false;
            SetPanelText(2, QStringLiteral(" "));
            ComboBox2Change();
            SpeedButton2->setEnabled(false);
            S.FrameShown = false;
            if (button == Qt::LeftButton && (x != S.SelLeft || y != S.SelTop)) {
                S.SelRight = x;
                S.SelBottom = y;
                StoreSelectionCorners(S);
                ComboBox2Change();
            }
            RefreshView();
            return;
        }
        if (S.HasSelection && button == Qt::RightButton) {
            if (S.SelLeft < x && x < S.SelRight && S.SelTop < y && y < S.SelBottom) {
                PMenu->popup(PaintBox1->mapToGlobal(QPoint(x, y)));
                S.FrameShown = false;
            } else {
                S.HasSelection = false;
                S.Selecting = false;
                // The estimate of a selection that is gone must not stay.
                SetPanelText(2, QStringLiteral(" "));
                SetRegionShape(nullptr);
            }
            PaintBox1->update();
            return;
        }
    }
    if (!S.Dragging) return;
    S.Dragging = false;
    PaintBox1->setCursor(RegionMode() ? Qt::CrossCursor : Qt::ArrowCursor);
    if (S.ClickPending) {
        CentreOnClick(S);
        const int step = ClickZoomStep(S.WheelZoom, ToMouseButton(button));
        if (step != 0) RxSlider1->setValue(RxSlider1->value() + step);  // the slider keeps 1..20
    } else {
        MoveByDrag(S, x, y);
    }
    RxSlider1Changed();
}

void TForm1::RxSlider1Changed() {
    S.Zoom = RxSlider1->value();
    Label1->setText(QString::number(S.Zoom));
    RefreshView();
}

void TForm1::FormMouseWheelDown() {
    if (!S.WheelZoom || !S.ControlsEnabled) return;
    S.ControlsEnabled = false;
    RxSlider1->setValue(RxSlider1->value() + 1);
    if (!Timer3->isActive()) Timer3->start();
    S.ControlsEnabled = true;
}

void TForm1::FormMouseWheelUp() {
    if (!S.WheelZoom || !S.ControlsEnabled) return;
    S.ControlsEnabled = false;
    RxSlider1->setValue(RxSlider1->value() - 1);
    if (!Timer3->isActive()) Timer3->start();
    S.ControlsEnabled = true;
}

void TForm1::Timer3Timer() {
    if (RxSlider1->value() == S.Zoom) return;  // notches that cancelled out: wait on
    Timer3->stop();
    RxSlider1Changed();
}

void TForm1::Timer1Timer() {
    if ((S.HasSelection || S.Selecting || DraftActive()) && !S.Dragging && RegionMode()) {
        ++FramePhase;
        S.AntsTick = (S.AntsTick + 1) % 5;
        if ((CurrentShape() && !S.Selecting) || DraftActive()) {
            PaintBox1->update();  // an outline of any shape: the whole area
        } else {
            // Only the outline needs drawing again.
            const int l = std::min(S.SelLeft, S.SelRight), r = std::max(S.SelLeft, S.SelRight);
            const int t = std::min(S.SelTop, S.SelBottom), b = std::max(S.SelTop, S.SelBottom);
            QRegion outline(l, t, r - l, 1);
            outline += QRect(l, b - 1, r - l, 1);
            outline += QRect(l, t, 1, b - t);
            outline += QRect(r - 1, t, 1, b - t);
            PaintBox1->update(outline);
        }
    }
    if (S.BlinkCount < 17) {
        Image5->setVisible(!Image5->isVisible());
        ++S.BlinkCount;
    } else {
        Image5->hide();
    }
    if (!S.HasSelection && !S.Selecting && !DraftActive() && S.BlinkCount > 16) {
        Timer1->stop();
        Image5->hide();
    }
}

void TForm1::ToolButton3Click() {
    const bool cacheOnly = S.ModeCacheOnly, internetOnly = S.ModeInternetOnly,
               both = S.ModeCacheAndInternet;
    S.ModeCacheAndInternet = true;
    S.ModeCacheOnly = false;
    S.ModeInternetOnly = false;
    RefreshView();
    S.ModeCacheOnly = cacheOnly;
    S.ModeInternetOnly = internetOnly;
    S.ModeCacheAndInternet = both;
}

void TForm1::ToolButton8Click() {
    if (SelectionMode()) {
        ToolButton9->setChecked(false);  // one selection mode at a time
        PolygonDraftCancel();
        PaintBox1->setCursor(Qt::CrossCursor);
        TBToolWindow3->show();
    } else {
        PaintBox1->setCursor(Qt::ArrowCursor);
        if (ComboBox4->count() == 0) {
            TBToolWindow3->hide();
            S.HasSelection = false;
            SetPanelText(2, QStringLiteral(" "));
            SetRegionShape(nullptr);  // no stale size, no "Выполнить" without a selection
        }
    }
    PaintBox1->update();
}

void TForm1::ComboBox2Change() {
    const int zoom = ComboBox2->currentIndex() + 1;
    RequestCoverage();  // the overlay shows the task zoom
    const SizeEstimateTexts t =
        SizeEstimate(S, zoom, S.HasSelection && !S.Selecting ? ShapeTiles(zoom) : -1);
    Label15->setText(QString::fromStdString(t.Label15));
    SizeTaskPanel(ComboBox4->count() > 0);  // a longer text is not cut
    SpeedButton2->setEnabled(t.HasSelection);
    if (t.HasSelection) SetPanelText(2, QString::fromStdString(t.Panel2));
}

void TForm1::ButtonFindClick() {
    SearchEdits->ParseBoth();
    // 90 degrees of latitude or 180 of longitude have no place on the map:
    // the view stays and the edit that holds them keeps the focus.
    if (!CentreHasPosition(S.SearchLat, S.SearchLon) || std::fabs(S.SearchLon) >= 180) {
        (std::fabs(S.SearchLat) >= 90 || !std::isfinite(S.SearchLat) ? Edit7 : Edit10)->setFocus();
        return;
    }
    S.CenterLat = S.SearchLat;
    S.CenterLon = S.SearchLon;
    S.Zoom = EffectiveZoom(FCB->currentIndex() + 1);
    RxSlider1->setValue(S.Zoom);
    Image5->move(PaintBox1->width() / 2 - 10, PaintBox1->height() / 2 - 10);
    S.BlinkCount = 0;
    RefreshView();
    Edit7->setFocus();
    Image5->raise();
    Image5->show();
    Timer1->start();
}

QString TForm1::FavoritesWriteFailedText() {
    return QStringLiteral("Запись файла Favorites.dat невозможна");
}

namespace {

void WriteFavorites(TForm1* form) {
    const FileResult written =
        WriteTextLines(form->State().ProgramFolder + FavoritesFileName, ItemsOf(form->ComboBox1));
    if (!written) {
        QMessageBox::warning(form, QStringLiteral("Сохранение невозможно"),
                             TForm1::FavoritesWriteFailedText(), QMessageBox::Ok);
    }
}

}  // namespace

void TForm1::ButtonSaveClick() {
    const std::string name = FavoriteName(ComboBox1->currentText().toStdString());
    ComboBox1->setEditText(QString::fromStdString(name));
    const std::string line =
        BuildFavoriteLine(name, FCB->currentText().toStdString(), SCB->currentText().toStdString(),
                          Edit7->text().toStdString(), DCB->currentText().toStdString(),
                          Edit10->text().toStdString());
    ComboBox1->insertItem(0, QString::fromStdString(line));
    WriteFavorites(this);
    ComboBox1->setCurrentIndex(0);
}

void TForm1::ButtonDelClick() {
    // An item is selected while the box shows it; a name typed or set
    // since (the "new name" prompt) means none is.
    const int index = ComboBox1->currentIndex();
    if (index < 0) return;
    const QString shown = ComboBox1->itemText(index).left(ComboBox1->lineEdit()->maxLength());
    if (ComboBox1->currentText() != shown) return;
    ComboBox1->removeItem(index);
    WriteFavorites(this);
    if (ComboBox1->count() > 0)
        ComboBox1->setCurrentIndex(0);
    else
        ComboBox1->setEditText(QString::fromUtf8(NewFavoriteNameText));
}

void TForm1::ComboBox1Select() {
    const int index = ComboBox1->currentIndex();
    if (index < 0) return;
    const auto fields = ParseFavoriteLine(ComboBox1->itemText(index).toStdString());
    if (!fields) return;
    FCB->setCurrentIndex(
        fields->ZoomIndex >= 0 && fields->ZoomIndex < FCB->count() ? fields->ZoomIndex : -1);
    SCB->setCurrentIndex(fields->LatHemisphere);
    DCB->setCurrentIndex(fields->LonHemisphere);
    Edit7->setText(QString::fromStdString(fields->LatText));
    Edit10->setText(QString::fromStdString(fields->LonText));
    SearchEdits->ParseBoth();
}
