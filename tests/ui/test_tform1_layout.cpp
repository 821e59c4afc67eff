#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <map>

#include "ui_test_main.h"
#include "core/settings_file.h"
#include "platform/file_io.h"
#include "support/test_source.h"
#include "ui/tform1.h"

namespace {

std::string FolderOf(const QTemporaryDir& dir) {
    return dir.path().toStdString() + "/";
}

std::vector<std::string> StartLines(const std::string& folder) {
    MainState s;
    InitStartValues(s, folder);
    return SettingsLines(s);
}

// A complete settings file: the start values, a source that fetches nothing,
// and some lines replaced.
std::vector<std::string> WriteSettings(const std::string& folder,
                                       const std::map<int, std::string>& changes) {
    auto lines = StartLines(folder);
    lines[0] = RefusingSource();
    for (auto& [index, text] : changes) lines[static_cast<size_t>(index)] = text;
    WriteTextLines(folder + SettingsFileName, lines);
    return lines;
}

std::vector<std::string> ReadSettings(const std::string& folder) {
    std::vector<std::string> lines;
    ReadTextLines(folder + SettingsFileName, lines);
    return lines;
}

QRect Available() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

void ShowAndSettle(TForm1& form) {
    QVERIFY(!ReachesDefaultSource(form.State().SourceStringCopy()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(50);
}

bool Inside(const QRect& inner, const QRect& outer) {
    return outer.contains(inner);
}

// A user's drag of the zoom window by its grip: press, move in steps, release
// at `to` (screen coordinates). The events go where the window system would
// send them: to the grip, then to whoever holds the mouse.
void DragZoomWindow(TForm1& form, QPoint to) {
    QWidget* grip = form.TBToolWindow1->titleBarWidget();
    QVERIFY(grip && grip->isVisible());
    QVERIFY(grip->width() >= 4 && grip->height() >= 4);
    const QPoint from = grip->mapToGlobal(grip->rect().center());
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QWidget* target = QWidget::mouseGrabber() ? QWidget::mouseGrabber() : grip;
        QMouseEvent event(type, QPointF(target->mapFromGlobal(at)), QPointF(at), Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        QTest::qWait(10);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    const int steps = 12;
    for (int i = 1; i <= steps; ++i)
        send(QEvent::MouseMove, from + (to - from) * i / steps, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    // The main window animates docks into place.
    QTest::qWait(400);
}

}  // namespace

class TestTForm1Layout : public QObject {
    Q_OBJECT
  private slots:
    void zoomWindowFollowsItsEdge() {
        QTemporaryDir dir;
        WriteSettings(FolderOf(dir), {});
        TForm1 form(FolderOf(dir));
        ShowAndSettle(form);
        QCOMPARE(form.RxSlider1->orientation(), Qt::Horizontal);
        form.addDockWidget(Qt::LeftDockWidgetArea, form.TBToolWindow1);
        QCOMPARE(form.RxSlider1->orientation(), Qt::Vertical);
        QCOMPARE(form.RxSlider1->geometry(), QRect(0, 0, 28, 269));
        QCOMPARE(form.Label1->pos(), QPoint(0, 270));
        QCOMPARE(form.ToolBar1->geometry(), QRect(0, 298, 28, 250));
        QCOMPARE(form.ToolBar1->orientation(), Qt::Vertical);
        QCOMPARE(form.TBToolWindow1->widget()->size(), QSize(28, 269 + 279));
        form.addDockWidget(Qt::BottomDockWidgetArea, form.TBToolWindow1);
        QCOMPARE(form.RxSlider1->orientation(), Qt::Horizontal);
        QCOMPARE(form.ToolBar1->geometry(), QRect(298, 0, 250, 28));
        QCOMPARE(form.TBToolWindow1->widget()->size(), QSize(269 + 279, 28));
        // Every button fits the designed length: none moves behind a "more" arrow.
        for (QToolButton* b :
             {form.ToolButton2, form.ToolButton3, form.ToolButton5, form.ToolButton6,
              form.ToolButton8, form.ToolButton9, form.ToolButton10, form.ToolButton11}) {
            QTRY_VERIFY2(b->isVisible(), qPrintable(b->objectName()));
            QVERIFY(form.ToolBar1->rect().contains(b->geometry()));
        }
        // Floating keeps the layout, moved in from the border.
        form.TBToolWindow1->setFloating(true);
        QCOMPARE(form.RxSlider1->orientation(), Qt::Horizontal);
        QCOMPARE(form.RxSlider1->pos(), QPoint(7, 0));
        QCOMPARE(form.ToolBar1->pos(), QPoint(305, 0));
        QCOMPARE(form.TBToolWindow1->widget()->size(), QSize(269 + 288, 28));
        form.close();
    }

    void theUserDragsTheZoomWindowOutAndDocksItAtTheLeft() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        // Both panels hidden: the left edge has room for the vertical layout.
        WriteSettings(folder, {{43, "-"}, {51, "-"}});
        TForm1 form(folder);
        ShowAndSettle(form);
        QCOMPARE(form.dockWidgetArea(form.TBToolWindow1), Qt::BottomDockWidgetArea);

        const QPoint middle = form.PaintBox1->mapToGlobal(form.PaintBox1->rect().center());
        DragZoomWindow(form, middle);
        QTRY_VERIFY(form.TBToolWindow1->isFloating());
        QCOMPARE(form.RxSlider1->orientation(), Qt::Horizontal);
        QCOMPARE(form.RxSlider1->pos(), QPoint(7, 0));

        const QRect map(form.PaintBox1->mapToGlobal(QPoint(0, 0)), form.PaintBox1->size());
        DragZoomWindow(form, QPoint(map.left() + 5, map.center().y()));
        QTRY_VERIFY(!form.TBToolWindow1->isFloating());
        QCOMPARE(form.dockWidgetArea(form.TBToolWindow1), Qt::LeftDockWidgetArea);
        QCOMPARE(form.RxSlider1->orientation(), Qt::Vertical);
        QCOMPARE(form.ToolBar1->geometry(), QRect(0, 298, 28, 250));
        // The grip sits across the top of the vertical window, so it stays there.
        QWidget* grip = form.TBToolWindow1->titleBarWidget();
        QVERIFY(grip->geometry().bottom() < form.TBToolWindow1->widget()->geometry().top());
        form.close();
        // Where the user put it is what the settings file keeps.
        const auto lines = ReadSettings(folder);
        QCOMPARE(lines[34], std::string("v"));
        QCOMPARE(lines[35], std::string("-"));
        QCOMPARE(lines[36], std::string("1"));
    }

    void searchButtonShowsThePanelFloatingVertical() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        WriteSettings(folder, {{43, "-"}});
        TForm1 form(folder);
        ShowAndSettle(form);
        QVERIFY(!form.TBToolWindow2->isVisible());
        QVERIFY(!form.ToolButton5->isChecked());
        QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
        QVERIFY(form.TBToolWindow2->isVisible());
        QVERIFY(form.TBToolWindow2->isFloating());
        QCOMPARE(form.TBToolWindow2->widget()->size(), QSize(192, 142));
        QCOMPARE(form.Panel3->geometry(), QRect(0, 24, 192, 24));
        QCOMPARE(form.Edit7->geometry(), QRect(99, 1, 91, 22));
        QCOMPARE(form.ComboBox1->width(), 185);
        QVERIFY(Inside(form.TBToolWindow2->frameGeometry(), Available()));
        QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
        QVERIFY(!form.TBToolWindow2->isVisible());
        // Docked at the top again: the horizontal layout.
        QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
        form.TBToolWindow2->setFloating(false);
        form.addDockWidget(Qt::TopDockWidgetArea, form.TBToolWindow2);
        QVERIFY(!form.TBToolWindow2->isFloating());
        QCOMPARE(form.TBToolWindow2->widget()->size(), QSize(771, 47));
        QCOMPARE(form.Edit7->geometry(), QRect(5, 22, 121, 22));
        QCOMPARE(form.ComboBox1->width(), 313);
        form.close();
    }

    void closeButtonsReleaseTheirButtonsAndRecompose() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        WriteSettings(folder, {{43, "V"}, {51, "V"}});
        TForm1 form(folder);
        ShowAndSettle(form);
        QVERIFY(form.ToolButton5->isChecked());
        const int mapHeight = form.PaintBox1->height();
        form.TBToolWindow2->close();
        QVERIFY(!form.TBToolWindow2->isVisible());
        QVERIFY(!form.ToolButton5->isChecked());
        QTRY_VERIFY(form.PaintBox1->height() > mapHeight);
        QTRY_COMPARE(form.State().ViewBitmap.Height(), form.PaintBox1->height());

        QVERIFY(form.ToolButton8->isChecked());
        QCOMPARE(form.PaintBox1->cursor().shape(), Qt::CrossCursor);
        form.TBToolWindow3->close();
        QVERIFY(!form.ToolButton8->isChecked());
        QCOMPARE(form.PaintBox1->cursor().shape(), Qt::ArrowCursor);
        QTRY_COMPARE(form.State().ViewBitmap.Height(), form.PaintBox1->height());
        form.close();
        const auto lines = ReadSettings(folder);
        QCOMPARE(lines[43], std::string("-"));
        QCOMPARE(lines[51], std::string("-"));
    }

    void everyWindowFloatingIsRestoredAndWrittenBackUnchanged() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        const auto written = WriteSettings(
            folder, {{30, "-4"},  {31, "0"}, {32, "10"}, {33, "20"},  {34, "v"},  {35, "f"},
                     {36, "-"},   {37, "0"}, {38, "0"},  {39, "300"}, {40, "40"}, {41, "v"},
                     {42, "f"},   {43, "V"}, {44, "-"},  {45, "0"},   {46, "1"},  {47, "50"},
                     {48, "400"}, {49, "-"}, {50, "f"},  {51, "V"},   {52, "-"}});
        {
            TForm1 form(folder);
            ShowAndSettle(form);
            for (QDockWidget* dock : {form.TBToolWindow1, form.TBToolWindow2, form.TBToolWindow3})
                QVERIFY(dock->isFloating());
            QCOMPARE(form.TBToolWindow1->pos(), QPoint(10, 20));
            QCOMPARE(form.TBToolWindow2->pos(), QPoint(300, 40));
            QCOMPARE(form.TBToolWindow3->pos(), QPoint(50, 400));
            QCOMPARE(form.RxSlider1->orientation(), Qt::Vertical);
            QCOMPARE(form.RxSlider1->pos(), QPoint(0, 7));
            QCOMPARE(form.TBToolWindow2->widget()->width(), 192);
            form.close();
        }
        const auto lines = ReadSettings(folder);
        QCOMPARE(lines.size(), size_t(65));
        for (int i = 30; i <= 52; ++i)
            QVERIFY2(
                lines[size_t(i)] == written[size_t(i)],
                qPrintable(
                    QString("line %1: %2").arg(i).arg(QString::fromStdString(lines[size_t(i)]))));
    }

    void eachEdgeIsRestoredAndWrittenBackUnchanged() {
        const Qt::DockWidgetArea areas[] = {Qt::NoDockWidgetArea, Qt::LeftDockWidgetArea,
                                            Qt::BottomDockWidgetArea, Qt::TopDockWidgetArea,
                                            Qt::RightDockWidgetArea};
        for (int edge = 1; edge <= 4; ++edge) {
            QTemporaryDir dir;
            std::string folder = FolderOf(dir);
            const std::string e = std::to_string(edge);
            const std::string v = edge == 1 || edge == 4 ? "v" : "-";
            // The task panel docks only at the top and bottom.
            const std::string taskDock = edge == 2 ? "2" : "3";
            const auto written = WriteSettings(
                folder, {{30, "-4"}, {31, "0"},  {32, "8"},  {33, "9"},     {34, v}, {35, "-"},
                         {39, "10"}, {40, "11"}, {47, "12"}, {48, "13"},    {36, e}, {37, "0"},
                         {38, "1"},  {41, v},    {42, "-"},  {43, "V"},     {44, e}, {45, "0"},
                         {46, "2"},  {50, "-"},  {51, "V"},  {52, taskDock}});
            {
                TForm1 form(folder);
                ShowAndSettle(form);
                QCOMPARE(form.dockWidgetArea(form.TBToolWindow1), areas[edge]);
                QCOMPARE(form.dockWidgetArea(form.TBToolWindow2), areas[edge]);
                QCOMPARE(form.dockWidgetArea(form.TBToolWindow3), areas[taskDock[0] - '0']);
                QCOMPARE(form.RxSlider1->orientation(), v == "v" ? Qt::Vertical : Qt::Horizontal);
                QCOMPARE(form.TBToolWindow2->widget()->width(), v == "v" ? 192 : 771);
                form.close();
            }
            const auto lines = ReadSettings(folder);
            for (int i = 30; i <= 52; ++i)
                QVERIFY2(lines[size_t(i)] == written[size_t(i)],
                         qPrintable(QString("edge %1 line %2: %3")
                                        .arg(edge)
                                        .arg(i)
                                        .arg(QString::fromStdString(lines[size_t(i)]))));
        }
    }

    void aWindowTheUserMovedIsWrittenWhereItIs() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        WriteSettings(folder, {});
        {
            TForm1 form(folder);
            ShowAndSettle(form);
            form.addDockWidget(Qt::BottomDockWidgetArea, form.TBToolWindow3);
            form.TBToolWindow1->setFloating(true);
            form.TBToolWindow1->move(120, 130);
            QTest::qWait(20);
            form.close();
        }
        const auto lines = ReadSettings(folder);
        QCOMPARE(lines[52], std::string("2"));
        QCOMPARE(lines[35], std::string("f"));
        QCOMPARE(lines[36], std::string("-"));
        QCOMPARE(lines[32], std::string("120"));
        QCOMPARE(lines[33], std::string("130"));
    }

    void windowSizeAndPositionStayOnTheScreen() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        WriteSettings(folder, {{53, "99999999"}, {54, "99999999"}, {55, "-50000"}, {56, "70000"}});
        TForm1 form(folder);
        const QRect area = Available();
        QVERIFY(form.width() <= area.width());
        QVERIFY(form.height() <= area.height());
        ShowAndSettle(form);
        QTRY_VERIFY2(Inside(form.frameGeometry(), area),
                     qPrintable(QString("%1,%2 %3x%4 in %5x%6")
                                    .arg(form.frameGeometry().x())
                                    .arg(form.frameGeometry().y())
                                    .arg(form.frameGeometry().width())
                                    .arg(form.frameGeometry().height())
                                    .arg(area.width())
                                    .arg(area.height())));
        form.close();
    }

    void floatingWindowsAreKeptReachableAtTheirRealSizes() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        const QRect area = Available();
        // Placed so that the designed sizes just fit: the real ones are larger.
        WriteSettings(folder, {{32, "5"},
                               {33, std::to_string(area.height() - 548)},
                               {34, "v"},
                               {35, "f"},
                               {39, std::to_string(area.width() - 192)},
                               {40, std::to_string(area.height() - 142)},
                               {41, "v"},
                               {42, "f"},
                               {43, "V"},
                               {47, "-3000"},
                               {48, "-3000"},
                               {50, "f"},
                               {51, "V"}});
        TForm1 form(folder);
        ShowAndSettle(form);
        for (QDockWidget* dock : {form.TBToolWindow1, form.TBToolWindow2, form.TBToolWindow3}) {
            QVERIFY(dock->isFloating());
            QTRY_VERIFY2(Inside(dock->frameGeometry(), area), qPrintable(dock->objectName()));
        }
        form.close();
    }

    void listIndexesOutOfRangeSelectNothingAndAreWrittenBack() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        WriteSettings(folder, {{11, "5"}, {14, "20"}, {17, "25"}, {57, "30"}});
        {
            TForm1 form(folder);
            QCOMPARE(form.ComboBox3->currentIndex(), -1);
            QCOMPARE(form.ComboBox2->currentIndex(), -1);
            QCOMPARE(form.FCB->currentIndex(), -1);
            QCOMPARE(form.SCB->currentIndex(), -1);
            ShowAndSettle(form);
            form.close();
        }
        auto lines = ReadSettings(folder);
        QCOMPARE(lines[11], std::string("5"));
        QCOMPARE(lines[14], std::string("20"));
        QCOMPARE(lines[17], std::string("25"));
        QCOMPARE(lines[57], std::string("30"));
        // A choice the user made is what is kept.
        {
            TForm1 form(folder);
            ShowAndSettle(form);
            form.ComboBox3->setCurrentIndex(4);
            form.close();
        }
        lines = ReadSettings(folder);
        QCOMPARE(lines[17], std::string("4"));
        QCOMPARE(lines[57], std::string("30"));
    }
};

VISTREL_UI_TEST(TestTForm1Layout)
#include "test_tform1_layout.moc"
