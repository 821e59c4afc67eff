// The three tool windows: their two layouts each, docking and floating, the
// panels' visibility, and the window layout kept in the settings file.
#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QStyleOption>
#include <QStylePainter>
#include <algorithm>
#include <tuple>

#include "ui/tform1.h"

namespace {

Qt::DockWidgetArea AreaOfDock(int dock) {
    switch (dock) {
        case 1:
            return Qt::LeftDockWidgetArea;
        case 2:
            return Qt::BottomDockWidgetArea;
        case 4:
            return Qt::RightDockWidgetArea;
        default:
            return Qt::TopDockWidgetArea;
    }
}

int DockOfArea(Qt::DockWidgetArea area) {
    switch (area) {
        case Qt::LeftDockWidgetArea:
            return 1;
        case Qt::BottomDockWidgetArea:
            return 2;
        case Qt::RightDockWidgetArea:
            return 4;
        default:
            return 3;
    }
}

bool VerticalEdge(Qt::DockWidgetArea area) {
    return area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
}

// The tool windows are placed by hand, as designed; their box layouts go.
void DropLayout(QWidget* w) {
    if (QLayout* layout = w->layout()) delete layout;
}

QLabel* CaptionOf(QWidget* panel) {
    return panel->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
}

// A list index from the settings file: out of range selects nothing.
void SetListIndex(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

// What the file gets back: the selection, or the index it gave when that
// selected nothing, so an odd value is written back as it was read.
int ListIndexToStore(const QComboBox* box, int stored) {
    const int current = box->currentIndex();
    if (current < 0 && (stored < 0 || stored >= box->count())) return stored;
    return current;
}

// The screen a window is on, else the primary one.
QRect AvailableArea(const QWidget* w) {
    QScreen* screen = w ? w->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
}

// Moves a rectangle of `size` at `at` inside `area`, as far as it fits.
QPoint InsideArea(QPoint at, QSize size, const QRect& area) {
    const int x = std::max(area.left(), std::min(at.x(), area.right() + 1 - size.width()));
    const int y = std::max(area.top(), std::min(at.y(), area.bottom() + 1 - size.height()));
    return {x, y};
}

// The zoom window shows no caption; this grip is what the user drags to dock
// it at another edge or to float it (a double click floats or docks it too).
// It takes no mouse events itself, so they reach the dock window's dragging.
class ZoomWindowHandle : public QWidget {
  public:
    static constexpr int Thickness = 10;
    explicit ZoomWindowHandle(QDockWidget* dock) : QWidget(dock), Dock(dock) {
        setCursor(Qt::SizeAllCursor);
    }
    QSize sizeHint() const override { return {Thickness, Thickness}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOption option;
        option.initFrom(this);
        // Beside a horizontal slider the grip stands upright, as a tool bar's.
        if (Dock->features() & QDockWidget::DockWidgetVerticalTitleBar)
            option.state |= QStyle::State_Horizontal;
        painter.drawPrimitive(QStyle::PE_IndicatorToolBarHandle, option);
    }

  private:
    QDockWidget* Dock;
};

class LayoutEventForwarder : public QObject {
  public:
    explicit LayoutEventForwarder(TForm1* form) : Form(form) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        return Form->LayoutEventFilter(watched, event);
    }

  private:
    TForm1* Form;
};

}  // namespace

namespace {
// The designed 163 pixels and three buttons more: the polygon mode, region
// files and the cache coverage.
constexpr int ZoomToolBarLength = 163 + 3 * 29;
}  // namespace

void TForm1::SetZoomWindowLayout(bool vertical) {
    QWidget* body = TBToolWindow1->widget();
    DropLayout(body);
    if (!dynamic_cast<ZoomWindowHandle*>(TBToolWindow1->titleBarWidget()))
        TBToolWindow1->setTitleBarWidget(new ZoomWindowHandle(TBToolWindow1));
    // The grip runs across the slider's end: at the left of a horizontal
    // window, at the top of a vertical one.
    QDockWidget::DockWidgetFeatures features = TBToolWindow1->features();
    features.setFlag(QDockWidget::DockWidgetVerticalTitleBar, !vertical);
    if (features != TBToolWindow1->features()) TBToolWindow1->setFeatures(features);
    // No drag handle: the buttons fill the designed length without a "more" arrow.
    ToolBar1->setMovable(false);
    RxSlider1->setOrientation(vertical ? Qt::Vertical : Qt::Horizontal);
    RxSlider1->setTickPosition(vertical ? QSlider::TicksRight : QSlider::TicksBelow);
    ToolBar1->setOrientation(vertical ? Qt::Vertical : Qt::Horizontal);
    const QSize slider = vertical ? QSize(28, 269) : QSize(269, 28);
    RxSlider1->setFixedSize(slider);
    if (vertical) {
        RxSlider1->move(0, 0);
        Label1->move(0, 270);
        ToolBar1->setGeometry(0, 298, 28, ZoomToolBarLength);
        ToolBar1->setStyleSheet(QStringLiteral(
            "QToolBar { border-top: 1px solid palette(mid); spacing: 0px; padding: 0px; }"));
        body->setFixedSize(slider.width(), slider.height() + ZoomToolBarLength + 29);
    } else {
        RxSlider1->move(0, 0);
        Label1->move(270, 0);
        ToolBar1->setGeometry(298, 0, ZoomToolBarLength, 28);
        ToolBar1->setStyleSheet(QStringLiteral(
            "QToolBar { border-left: 1px solid palette(mid); spacing: 0px; padding: 0px; }"));
        body->setFixedSize(slider.width() + ZoomToolBarLength + 29, slider.height());
    }
}

void TForm1::TBToolWindow1DockChanged() {
    if (TBToolWindow1->isFloating()) {
        // No frame of its own: everything moves in from the border.
        QWidget* body = TBToolWindow1->widget();
        const bool vertical = RxSlider1->orientation() == Qt::Vertical;
        if (vertical) {
            RxSlider1->move(0, 7);
            Label1->move(0, 276);
            ToolBar1->setGeometry(0, 305, 28, ZoomToolBarLength);
            body->setFixedSize(28, RxSlider1->height() + ZoomToolBarLength + 38);
        } else {
            RxSlider1->move(7, 0);
            Label1->move(276, 0);
            ToolBar1->setGeometry(305, 0, ZoomToolBarLength, 28);
            body->setFixedSize(RxSlider1->width() + ZoomToolBarLength + 38, 28);
        }
        return;
    }
    SetZoomWindowLayout(VerticalEdge(dockWidgetArea(TBToolWindow1)));
}

void TForm1::SetSearchPanelLayout(bool vertical) {
    QWidget* body = TBToolWindow2->widget();
    DropLayout(body);
    for (QWidget* panel : {Panel2, Panel3, Panel6, Panel5}) DropLayout(panel);
    const int row = 22;  // one line of controls
    if (vertical) {
        body->setFixedSize(192, 142);
        Panel2->setGeometry(0, 0, 192, 24);
        Panel3->setGeometry(0, 24, 192, 24);
        Panel6->setGeometry(0, 48, 192, 47);
        Panel5->setGeometry(0, 95, 192, 47);
        for (auto [panel, box, edit] :
             {std::tuple{Panel2, SCB, Edit7}, std::tuple{Panel3, DCB, Edit10}}) {
            if (QLabel* caption = CaptionOf(panel)) caption->setGeometry(2, 1, 52, row);
            box->setGeometry(55, 1, 40, row);
            edit->setGeometry(99, 1, 91, row);
        }
        if (QLabel* caption = CaptionOf(Panel6)) caption->setGeometry(4, 1, 90, row);
        FCB->setGeometry(99, 1, 91, row);
        SpeedButton1->setGeometry(4, 24, 186, row);
        ComboBox1->setMinimumWidth(0);
        ComboBox1->setGeometry(4, 1, 185, row);
        ButtonSave->setGeometry(4, 24, 84, row);
        ButtonDel->setGeometry(90, 24, 84, row);
    } else {
        body->setFixedSize(771, 47);
        Panel2->setGeometry(0, 0, 130, 47);
        Panel3->setGeometry(130, 0, 130, 47);
        Panel6->setGeometry(260, 0, 771 - 260 - 322, 47);
        Panel5->setGeometry(771 - 322, 0, 322, 47);
        for (auto [panel, box, edit] :
             {std::tuple{Panel2, SCB, Edit7}, std::tuple{Panel3, DCB, Edit10}}) {
            if (QLabel* caption = CaptionOf(panel)) caption->setGeometry(5, 0, 66, row);
            box->setGeometry(72, 0, 53, row);
            edit->setGeometry(5, 22, 121, row);
        }
        if (QLabel* caption = CaptionOf(Panel6)) caption->setGeometry(5, 0, 80, row);
        FCB->setGeometry(88, 0, 90, row);
        SpeedButton1->setGeometry(5, 22, 173, row);
        ComboBox1->setMinimumWidth(0);
        ComboBox1->setGeometry(4, 0, 313, row);
        ButtonSave->setGeometry(145, 22, 85, row);
        ButtonDel->setGeometry(232, 22, 85, row);
    }
}

void TForm1::TBToolWindow2DockChanged() {
    if (!S.FirstShowPending && TBToolWindow2->isVisible()) Edit7->setFocus(Qt::OtherFocusReason);
    if (TBToolWindow2->isFloating()) return;
    SetSearchPanelLayout(VerticalEdge(dockWidgetArea(TBToolWindow2)));
}

void TForm1::SetTaskPanelLayout(bool wide) {
    if (auto* box = qobject_cast<QBoxLayout*>(TBToolWindow3->widget()->layout()))
        box->setDirection(wide ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    SizeTaskPanel(ComboBox4->count() > 0);
}

void TForm1::TBToolWindow3DockChanged() {
    SetTaskPanelLayout(!TBToolWindow3->isFloating());
}

void TForm1::ToolButton5Click() {
    // Each press makes the panel float, in its vertical layout on the way
    // through the left edge.
    // The panel shows and hides on the way: the button's state is taken first.
    const bool show = ToolButton5->isChecked();
    addDockWidget(Qt::LeftDockWidgetArea, TBToolWindow2);
    TBToolWindow2->setFloating(true);
    KeepOnScreen(TBToolWindow2);
    TBToolWindow2->setVisible(show);
    ToolButton5->setChecked(show);
    if (show) {
        // The user pressed "Поиск" to type coordinates: the panel takes the keys.
        TBToolWindow2->raise();
        TBToolWindow2->activateWindow();
        // At once, not when the window system gets round to it.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(TBToolWindow2);
        QT_WARNING_POP
        Edit7->setFocus(Qt::OtherFocusReason);
    }
}

void TForm1::TBToolWindow2VisibleChanged() {
    // A change of the panel's own state, not the main window showing it.
    const bool shown = !TBToolWindow2->isHidden();
    if (shown == PanelShown[0]) return;
    PanelShown[0] = shown;
    ToolButton5->setChecked(shown);
    RecomposeAfterPanelChange();
}

void TForm1::TBToolWindow3VisibleChanged() {
    const bool shown = !TBToolWindow3->isHidden();
    if (shown == PanelShown[1]) return;
    PanelShown[1] = shown;
    ToolButton8->setChecked(shown);
    PaintBox1->setCursor(ToolButton8->isChecked() ? Qt::CrossCursor : Qt::ArrowCursor);
    RecomposeAfterPanelChange();
}

void TForm1::RecomposeAfterPanelChange() {
    PaintBox1->update();
    if (RecomposeQueued) return;
    RecomposeQueued = true;
    // After the main window has laid the map area out anew.
    QMetaObject::invokeMethod(
        this,
        [this] {
            RecomposeQueued = false;
            Panel1Resize();
            RefreshView();
        },
        Qt::QueuedConnection);
}

void TForm1::TBToolWindow3Move() {
    if (!S.HasSelection) return;
    // The frame is drawn over ViewBitmap at every paint.
    PaintBox1->update();
    S.FrameShown = true;
}

void TForm1::KeepOnScreen(QDockWidget* dock) {
    if (!dock->isFloating()) return;
    dock->adjustSize();
    const QRect frame = dock->frameGeometry();
    const QPoint at = InsideArea(frame.topLeft(), frame.size(), AvailableArea(this));
    if (at != frame.topLeft()) dock->move(at);
}

void TForm1::KeepWindowOnScreen() {
    // A size from the settings file never exceeds the screen's available
    // area: a huge one would take gigabytes for the view alone.
    const QRect area = AvailableArea(this);
    const QSize frameExtra = frameGeometry().size() - size();
    const QSize room(std::max(200, area.width() - frameExtra.width()),
                     std::max(150, area.height() - frameExtra.height()));
    if (width() > room.width() || height() > room.height())
        resize(std::min(width(), room.width()), std::min(height(), room.height()));
    const QRect frame = frameGeometry();
    const QPoint at = InsideArea(frame.topLeft(), frame.size(), area);
    if (at != frame.topLeft()) move(at);
}

bool TForm1::LayoutEventFilter(QObject* watched, QEvent* event) {
    if (watched == this) {
        // The frame's size is known once the window is shown.
        if (event->type() == QEvent::Show && !WindowPlaced) {
            WindowPlaced = true;
            QMetaObject::invokeMethod(
                this, [this] { KeepWindowOnScreen(); }, Qt::QueuedConnection);
        }
        return false;
    }
    auto* dock = qobject_cast<QDockWidget*>(watched);
    if (!dock) return false;
    if (event->type() == QEvent::Move && dock != TBToolWindow1) TBToolWindow3Move();
    // A window manager frame is known once the window is shown.
    if (event->type() == QEvent::Show && dock->isFloating())
        QMetaObject::invokeMethod(
            this, [this, dock] { KeepOnScreen(dock); }, Qt::QueuedConnection);
    return false;
}

void TForm1::ApplyLoadedLayout() {
    ApplyingLayout = true;
    // Each geometry value read applies on its own.
    if (S.WindowWidthRead || S.WindowHeightRead)
        resize(S.WindowWidthRead ? std::max(S.WindowWidth, 200) : width(),
               S.WindowHeightRead ? std::max(S.WindowHeight, 150) : height());
    if (S.WindowTopRead || S.WindowLeftRead)
        move(S.WindowLeftRead ? S.WindowLeft : x(), S.WindowTopRead ? S.WindowTop : y());
    KeepWindowOnScreen();

    QDockWidget* docks[3] = {TBToolWindow1, TBToolWindow2, TBToolWindow3};
    ToolWindowPlace* places[3] = {&S.ToolWindow1, &S.ToolWindow2, &S.ToolWindow3};
    // Docked windows by edge, row and position, so that rows come out in order.
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int a, int b) {
        const ToolWindowPlace &pa = *places[a], &pb = *places[b];
        return std::tie(pa.DockRow, pa.DockPos) < std::tie(pb.DockRow, pb.DockPos);
    });
    QDockWidget* lastInArea[5] = {};
    int lastRow[5] = {};
    for (int i : order) {
        const ToolWindowPlace& p = *places[i];
        QDockWidget* dock = docks[i];
        Qt::DockWidgetArea area = AreaOfDock(p.Dock);
        if (!(dock->allowedAreas() & area)) area = Qt::TopDockWidgetArea;
        const int d = DockOfArea(area);
        const Qt::Orientation along = VerticalEdge(area) ? Qt::Vertical : Qt::Horizontal;
        const Qt::Orientation across = along == Qt::Vertical ? Qt::Horizontal : Qt::Vertical;
        if (p.Floating || !lastInArea[d]) {
            addDockWidget(area, dock, along);
        } else if (lastRow[d] == p.DockRow) {
            splitDockWidget(lastInArea[d], dock, along);
        } else {
            addDockWidget(area, dock, across);
        }
        if (!p.Floating) {
            lastInArea[d] = dock;
            lastRow[d] = p.DockRow;
        }
    }
    // The layout flags, then the dock state each window is in.
    SetZoomWindowLayout(S.ToolWindow1.Vertical);
    SetSearchPanelLayout(S.ToolWindow2.Vertical);
    SetTaskPanelLayout(S.ToolWindow3.Vertical);
    for (int i = 0; i < 3; ++i) {
        const ToolWindowPlace& p = *places[i];
        if (p.Floating) {
            docks[i]->setFloating(true);
            docks[i]->move(p.FloatLeft, p.FloatTop);
        }
    }
    TBToolWindow1DockChanged();
    TBToolWindow2DockChanged();
    TBToolWindow3DockChanged();
    for (QDockWidget* dock : docks) KeepOnScreen(dock);

    SetListIndex(ComboBox2, S.ComboBox2Index);
    SetListIndex(ComboBox3, S.ComboBox3Index);
    SetListIndex(SCB, S.ScbIndex);
    SetListIndex(DCB, S.DcbIndex);
    SetListIndex(FCB, S.FcbIndex);
    UpdateModeButton();

    PanelShown[0] = !TBToolWindow2->isHidden();
    PanelShown[1] = !TBToolWindow3->isHidden();
    if (!LayoutSignalsConnected) {
        LayoutSignalsConnected = true;
        LayoutEvents = std::make_shared<LayoutEventForwarder>(this);
        installEventFilter(LayoutEvents.get());
        for (int i = 0; i < 3; ++i) {
            QDockWidget* dock = docks[i];
            dock->installEventFilter(LayoutEvents.get());
            auto changed = [this, i] {
                if (ApplyingLayout) return;
                ToolWindowMoved[i] = true;
                if (i == 0) TBToolWindow1DockChanged();
                if (i == 1) TBToolWindow2DockChanged();
                if (i == 2) TBToolWindow3DockChanged();
            };
            connect(dock, &QDockWidget::dockLocationChanged, this, changed);
            connect(dock, &QDockWidget::topLevelChanged, this, changed);
        }
        connect(TBToolWindow2, &QDockWidget::visibilityChanged, this,
                [this] { TBToolWindow2VisibleChanged(); });
        connect(TBToolWindow3, &QDockWidget::visibilityChanged, this,
                [this] { TBToolWindow3VisibleChanged(); });
    }
    ApplyingLayout = false;
}

void TForm1::StoreLayout() {
    // move() places the frame, so the frame's position is what is kept.
    S.WindowWidth = width();
    S.WindowHeight = height();
    S.WindowLeft = x();
    S.WindowTop = y();
    QDockWidget* docks[3] = {TBToolWindow1, TBToolWindow2, TBToolWindow3};
    ToolWindowPlace* places[3] = {&S.ToolWindow1, &S.ToolWindow2, &S.ToolWindow3};
    for (int i = 0; i < 3; ++i) {
        ToolWindowPlace& p = *places[i];
        QDockWidget* dock = docks[i];
        p.Floating = dock->isFloating();
        if (p.Floating) {
            p.FloatLeft = dock->x();
            p.FloatTop = dock->y();
            continue;
        }
        const Qt::DockWidgetArea area = dockWidgetArea(dock);
        p.Dock = DockOfArea(area);
        // Rows and positions the user has not changed are kept as read.
        if (!ToolWindowMoved[i]) continue;
        const bool vertical = VerticalEdge(area);
        const QRect mine = dock->geometry();
        // Rows count away from the edge, as they were added when read.
        int row = 0;
        for (QDockWidget* other : docks) {
            if (other == dock || other->isFloating() || dockWidgetArea(other) != area) continue;
            const QRect g = other->geometry();
            if (vertical ? g.right() < mine.left() : g.bottom() < mine.top()) ++row;
        }
        p.DockRow = row;
        p.DockPos = vertical ? mine.top() - centralWidget()->geometry().top() : mine.left();
    }
    S.ToolWindow1.Vertical = RxSlider1->orientation() == Qt::Vertical;
    S.ToolWindow2.Vertical = TBToolWindow2->widget()->width() < 500;
    S.ToolWindow3.Vertical = TBToolWindow3->widget()->width() < 300;
    S.SearchPanelVisible = TBToolWindow2->isVisible();
    S.TaskPanelVisible = TBToolWindow3->isVisible();
    S.ScbIndex = ListIndexToStore(SCB, S.ScbIndex);
    S.DcbIndex = ListIndexToStore(DCB, S.DcbIndex);
    S.FcbIndex = ListIndexToStore(FCB, S.FcbIndex);
    S.ComboBox3Index = ListIndexToStore(ComboBox3, S.ComboBox3Index);
    S.ComboBox2Index = ListIndexToStore(ComboBox2, S.ComboBox2Index);
}
