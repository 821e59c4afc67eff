#include "ui/tform1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QToolTip>
#include <QVBoxLayout>

#include "core/app_core.h"
#include "tasks/task_params.h"
#include "fetch/dial_up_ops.h"
#include "fetch/request_tile.h"
#include "platform/file_io.h"
#include "ui/accessible_names.h"
#include "ui/icons.h"
#include "ui/tform3.h"
#include "ui/windows.h"

namespace {


QLabel* NewLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    return label;
}

}  // namespace

MapBox::MapBox(TForm1* owner, QWidget* parent) : QWidget(parent), Owner(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

void MapBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Owner->PaintBox1Paint(painter);
}

GuiSink::GuiSink(TForm1* form) : Form(form) {}

void GuiSink::SetTrafficText(const std::string& text) {
    QString qtext = QString::fromStdString(text);
    QMetaObject::invokeMethod(Form, [form = Form, qtext] { form->SetPanelText(3, qtext); },
                              Qt::QueuedConnection);
}

void GuiSink::RequestRepaint() {
    QMetaObject::invokeMethod(Form, [form = Form] { form->PaintBox1->update(); },
                              Qt::QueuedConnection);
}

void GuiSink::ShowErrorCounts() {
    if (CountsQueued.exchange(true)) return;
    QMetaObject::invokeMethod(
        Form,
        [this] {
            CountsQueued = false;
            Form->ProgressWindow()->ShowErrorCounts(Form->State());
        },
        Qt::QueuedConnection);
}

void GuiSink::TaskLogLine(const std::shared_ptr<stichtype>& task, std::size_t index) {
    QMetaObject::invokeMethod(
        Form, [form = Form, task, index] { form->TaskLogLineAdded(task, index); },
        Qt::QueuedConnection);
}

void GuiSink::ProcessMessages() { QCoreApplication::processEvents(); }

void GuiSink::SetProgressStatus(const std::string& text) {
    QString qtext = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        Form,
        [form = Form, qtext] { form->ProgressWindow()->Label1->setText(qtext); },
        Qt::QueuedConnection);
}

void GuiSink::ShowDialError(const std::string& text) {
    QString qtext = QString::fromStdString(text);
    auto show = [form = Form, qtext] {
        QWidget* parent = QApplication::activeModalWidget();
        QMessageBox::warning(parent ? parent : form, QString::fromUtf8(DialErrorCaption), qtext,
                             QMessageBox::Ok);
    };
    // A worker goes on with its task; the box waits for the GUI thread.
    if (QThread::currentThread() == Form->thread())
        show();
    else
        QMetaObject::invokeMethod(Form, show, Qt::QueuedConnection);
}

TForm1::TForm1(const std::string& programFolder, QWidget* parent) : QMainWindow(parent) {
    // 1. The window and its controls.
    BuildWindow();
    // 2-13: the state, the archive list, the settings file, the start-up zoom.
    ScreenSize screen;
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        screen.Width = primary->geometry().width();
        screen.Height = primary->geometry().height();
    }
    Sink = std::make_unique<GuiSink>(this);
    S.Sink = Sink.get();
    StartUpState(S, programFolder, screen);
    LoadSourceList();
    S.ViewBitmap.SetSize(std::max(1, PaintBox1->width()), std::max(1, PaintBox1->height()));
    S.ViewBitmap.Fill({240, 240, 240});
    ApplyLoadedLayout();
    // 14-15: the favourites list.
    std::vector<std::string> favorites;
    if (ReadTextLines(programFolder + FavoritesFileName, favorites)) {
        ComboBox1->clear();
        QStringList items;
        for (const auto& line : favorites) items << QString::fromStdString(line);
        // A sorted list box orders by the language, ignoring case.
        std::sort(items.begin(), items.end(), [](const QString& a, const QString& b) {
            return QString::localeAwareCompare(a.toCaseFolded(), b.toCaseFolded()) < 0;
        });
        ComboBox1->addItems(items);
    }
    ComboBox1->setEditText(QStringLiteral("---Новое Имя---"));
    connect(ToolButton2, &QToolButton::clicked, this, [this] { ToolButton2Click(); });
    connect(ToolButton6, &QToolButton::clicked, this, [this] { ToolButton6Click(); });
    SetUpView();
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    connect(SpeedButton3, &QPushButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(ContinueButton, &QPushButton::clicked, this, [this] { ContinueButtonClick(); });
    TaskMenu = new QMenu(this);
    connect(TaskMenu->addAction(QStringLiteral("Повторить неудачные")), &QAction::triggered, this,
            [this] { RetryFailedClick(); });
    ComboBox4->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ComboBox4, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { TaskMenu->popup(ComboBox4->mapToGlobal(at)); });
    connect(ComboBox4, &QComboBox::activated, this, [this] { ComboBox4Select(); });
    connect(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(PMenu->actions().at(0), &QAction::triggered, this,
            [this] { SpeedButton2Click(static_cast<int>(TaskKind::Stitch)); });
    connect(PMenu->actions().at(1), &QAction::triggered, this,
            [this] { SpeedButton2Click(static_cast<int>(TaskKind::Download)); });
    NameControlsByHints(this);
    OpenTaskRecord();
}

TForm1::~TForm1() {
    CloseTaskRecord();
    // Workers hold a reference to the state: never let it go under them.
    StopAllTasks(S);
    StopViewLoaders(std::chrono::seconds(10));
    StopTasks(std::chrono::seconds(10));
    S.UseNullSink();
    // The children go after this body, when this is no TForm1 any more:
    // their last signals (a dock hidden as it goes) must not reach it.
    for (QObject* child : findChildren<QObject*>()) QObject::disconnect(child, nullptr, this, nullptr);
    Timer1->stop();
    Timer3->stop();
}

void TForm1::StopViewLoaders(std::chrono::milliseconds grace) {
    RaiseViewLoaderStop(S);
    if (WaitForViewLoaders(S, grace)) return;
    // A server trickling bytes would keep a worker past any patience: cut
    // the transfers short, then wait for the workers to leave.
    AbortRequests(true);
    WaitForViewLoaders(S, std::chrono::seconds(60));
    AbortRequests(false);
}

void TForm1::BuildWindow() {
    setWindowTitle(QStringLiteral("Vistrel"));
    resize(734, 589);
    setDockNestingEnabled(true);

    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    auto* mapLayout = new QVBoxLayout(Panel1);
    mapLayout->setContentsMargins(0, 0, 0, 0);
    PaintBox1 = new MapBox(this, Panel1);
    PaintBox1->setObjectName("PaintBox1");
    mapLayout->addWidget(PaintBox1);
    setCentralWidget(Panel1);
    Image5 = new QLabel(PaintBox1);
    Image5->setObjectName("Image5");
    Image5->setFixedSize(20, 20);
    Image5->setAttribute(Qt::WA_TransparentForMouseEvents);
    Image5->hide();

    // Every panel shows its whole text at the designed size and wider. The
    // coordinate panels fit the longest coordinate, the traffic panel always
    // fits its text (SetPanelText sees to it); the size panel takes the rest
    // and wraps a long text onto a second line. The bar always has room for
    // two lines, so no text ever changes the size of the map area.
    const char* texts[4] = {"коорд1", "коорд2", "", "0 Mb из интернета"};
    for (int i = 0; i < 4; ++i) {
        StatusPanels[i] = new QLabel(QString::fromUtf8(texts[i]), this);
        StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
        StatusPanels[i]->setFrameShadow(QFrame::Sunken);
        statusBar()->addWidget(StatusPanels[i], i == 2 ? 1 : 0);
    }
    for (int i = 0; i < 2; ++i) {
        QLabel probe(QStringLiteral("W179г 60,000мин"));
        probe.setFrameShape(QFrame::StyledPanel);
        StatusPanels[i]->setFixedWidth(std::max(120, probe.sizeHint().width()));
    }
    StatusPanels[2]->setWordWrap(true);
    StatusPanels[2]->setMinimumWidth(60);
    StatusPanels[2]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusPanels[3]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FitTrafficPanel();
    statusBar()->setFixedHeight(2 * StatusPanels[2]->fontMetrics().lineSpacing() +
                                2 * StatusPanels[2]->frameWidth() + 6);

    BuildZoomWindow();
    BuildSearchPanel();
    BuildTaskPanel();

    Timer1 = new QTimer(this);
    Timer1->setInterval(200);
    Timer2 = new QTimer(this);
    Timer2->setInterval(3000);
    Timer3 = new QTimer(this);
    Timer3->setInterval(700);
}

void TForm1::BuildZoomWindow() {
    TBToolWindow1 = new QDockWidget(this);
    TBToolWindow1->setObjectName("TBToolWindow1");
    TBToolWindow1->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    auto* body = new QWidget(TBToolWindow1);
    auto* layout = new QHBoxLayout(body);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(2);
    RxSlider1 = new QSlider(Qt::Horizontal, body);
    RxSlider1->setObjectName("RxSlider1");
    RxSlider1->setRange(1, 20);
    RxSlider1->setSingleStep(1);
    RxSlider1->setPageStep(1);
    RxSlider1->setTickPosition(QSlider::TicksBelow);
    RxSlider1->setFixedSize(269, 28);
    RxSlider1->setToolTip(QStringLiteral("Увеличение 1"));
    Label1 = new QLabel(QStringLiteral("1"), body);
    Label1->setObjectName("Label1");
    Label1->setFixedSize(28, 28);
    Label1->setAlignment(Qt::AlignCenter);
    QFont big = Label1->font();
    big.setPixelSize(17);
    Label1->setFont(big);
    Label1->setStyleSheet(QStringLiteral("color: blue;"));
    ToolBar1 = new QToolBar(body);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setIconSize(QSize(22, 22));
    auto addButton = [&](const char* name, const QIcon& icon, const QString& hint, bool toggle) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(name);
        b->setIcon(icon);
        b->setToolTip(hint);
        b->setCheckable(toggle);
        b->setAutoRaise(true);
        b->setFixedSize(29, 28);
        ToolBar1->addWidget(b);
        return b;
    };
    ToolButton2 = addButton("ToolButton2", ModeIcon(2), QStringLiteral("Кэш и интернет"), false);
    ToolButton3 = addButton("ToolButton3", RefreshIcon(), QStringLiteral("Получить недостающие"), false);
    ToolBar1->addSeparator();
    ToolButton5 = addButton("ToolButton5", SearchIcon(), QStringLiteral("Поиск"), true);
    ToolBar1->addSeparator();
    ToolButton6 = addButton("ToolButton6", SettingsIcon(), QStringLiteral("Настройки"), false);
    ToolButton8 = addButton("ToolButton8", SelectionIcon(), QStringLiteral("Выделение"), true);
    ToolButton9 =
        addButton("ToolButton9", PolygonIcon(), QStringLiteral("Выделение многоугольником"), true);
    ToolButton10 =
        addButton("ToolButton10", OpenRegionIcon(), QStringLiteral("Открыть область..."), false);
    ToolButton11 = addButton("ToolButton11", CoverageIcon(), QStringLiteral("Покрытие кэша"), true);
    // The source box has a tool bar of its own: the zoom window keeps its
    // designed size in every docking.
    SourceToolBar = addToolBar(QStringLiteral("Источник карты"));
    SourceToolBar->setObjectName("SourceToolBar");
    SourceToolBar->setMovable(false);
    SourceToolBar->addWidget(new QLabel(QStringLiteral(" Источник: "), SourceToolBar));
    SourceBox = new QComboBox(SourceToolBar);
    SourceBox->setObjectName("SourceBox");
    SourceBox->setToolTip(QStringLiteral("Источник карты"));
    SourceBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    SourceBox->setFocusPolicy(Qt::NoFocus);
    SourceToolBar->addWidget(SourceBox);
    layout->addWidget(RxSlider1);
    layout->addWidget(Label1);
    layout->addWidget(ToolBar1);
    layout->addStretch(1);
    TBToolWindow1->setWidget(body);
    addDockWidget(Qt::BottomDockWidgetArea, TBToolWindow1);

    connect(RxSlider1, &QSlider::valueChanged, this, [this](int value) {
        // The hint and the label follow the slider, whoever moved it.
        RxSlider1->setToolTip(QStringLiteral("Увеличение ") + QString::number(value));
        Label1->setText(QString::number(value));
    });
}

void TForm1::BuildSearchPanel() {
    TBToolWindow2 = new QDockWidget(QStringLiteral("Панель поиска"), this);
    TBToolWindow2->setObjectName("TBToolWindow2");
    auto* body = new QWidget(TBToolWindow2);
    auto* layout = new QHBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);

    auto coordinatePanel = [&](const char* name, const QString& caption, QComboBox*& box,
                               const QStringList& items, int index, QLineEdit*& edit,
                               const char* editName) {
        auto* panel = new QWidget(body);
        panel->setObjectName(name);
        auto* grid = new QVBoxLayout(panel);
        grid->setContentsMargins(2, 0, 2, 0);
        grid->setSpacing(1);
        auto* top = new QHBoxLayout();
        top->addWidget(NewLabel(caption, panel));
        box = new QComboBox(panel);
        box->addItems(items);
        box->setCurrentIndex(index);
        top->addWidget(box);
        grid->addLayout(top);
        edit = new QLineEdit(panel);
        edit->setObjectName(editName);
        edit->setMaxLength(14);
        grid->addWidget(edit);
        layout->addWidget(panel);
        return panel;
    };
    Panel2 = coordinatePanel("Panel2", QStringLiteral("широта"), SCB, {"N", "S"}, 0, Edit7, "Edit7");
    SCB->setObjectName("SCB");
    Panel3 = coordinatePanel("Panel3", QStringLiteral("долгота"), DCB, {"W", "E"}, 1, Edit10, "Edit10");
    DCB->setObjectName("DCB");

    Panel6 = new QWidget(body);
    Panel6->setObjectName("Panel6");
    auto* zoomLayout = new QVBoxLayout(Panel6);
    zoomLayout->setContentsMargins(2, 0, 2, 0);
    zoomLayout->setSpacing(1);
    auto* zoomTop = new QHBoxLayout();
    zoomTop->addWidget(NewLabel(QStringLiteral("Увеличение"), Panel6));
    FCB = new QComboBox(Panel6);
    FCB->setObjectName("FCB");
    for (int z = 1; z <= 20; ++z) FCB->addItem(QString::number(z));
    FCB->setCurrentIndex(-1);
    zoomTop->addWidget(FCB);
    zoomLayout->addLayout(zoomTop);
    SpeedButton1 = new QPushButton(QStringLiteral("Показать"), Panel6);
    SpeedButton1->setObjectName("SpeedButton1");
    zoomLayout->addWidget(SpeedButton1);
    layout->addWidget(Panel6);

    Panel5 = new QWidget(body);
    Panel5->setObjectName("Panel5");
    auto* favLayout = new QVBoxLayout(Panel5);
    favLayout->setContentsMargins(2, 0, 2, 0);
    favLayout->setSpacing(1);
    ComboBox1 = new QComboBox(Panel5);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setMaxVisibleItems(10);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->lineEdit()->setMaxLength(20);
    ComboBox1->setMinimumWidth(313);
    ComboBox1->addItem(QStringLiteral("____________________ N E"));
    favLayout->addWidget(ComboBox1);
    auto* favButtons = new QHBoxLayout();
    ButtonSave = new QPushButton(QStringLiteral("Сохранить"), Panel5);
    ButtonSave->setObjectName("ButtonSave");
    ButtonDel = new QPushButton(QStringLiteral("Удалить"), Panel5);
    ButtonDel->setObjectName("ButtonDel");
    favButtons->addWidget(ButtonSave);
    favButtons->addWidget(ButtonDel);
    favButtons->addStretch(1);
    favLayout->addLayout(favButtons);
    layout->addWidget(Panel5);
    layout->addStretch(1);
    TBToolWindow2->setWidget(body);
    addDockWidget(Qt::TopDockWidgetArea, TBToolWindow2);
}

void TForm1::BuildTaskPanel() {
    TBToolWindow3 = new QDockWidget(QStringLiteral("Склеивание/Выкачивание"), this);
    TBToolWindow3->setObjectName("TBToolWindow3");
    TBToolWindow3->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    auto* body = new QWidget(TBToolWindow3);
    auto* layout = new QHBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);

    Panel7 = new QWidget(body);
    Panel7->setObjectName("Panel7");
    auto* p7 = new QHBoxLayout(Panel7);
    p7->setContentsMargins(0, 0, 0, 0);
    p7->addWidget(NewLabel(QStringLiteral("Увеличение"), Panel7));
    ComboBox2 = new QComboBox(Panel7);
    ComboBox2->setObjectName("ComboBox2");
    for (int z = 1; z <= 20; ++z) ComboBox2->addItem(QString::number(z));
    ComboBox2->setCurrentIndex(12);
    p7->addWidget(ComboBox2);
    p7->addWidget(NewLabel(QStringLiteral("Сжатие jpeg:"), Panel7));
    ComboBox3 = new QComboBox(Panel7);
    ComboBox3->setObjectName("ComboBox3");
    for (int q = 10; q <= 100; q += 10) ComboBox3->addItem(QString::number(q) + "%");
    ComboBox3->setCurrentIndex(7);
    p7->addWidget(ComboBox3);
    Label15 = NewLabel(QStringLiteral("----------------------"), Panel7);
    Label15->setObjectName("Label15");
    p7->addWidget(Label15);
    SpeedButton2 = new QPushButton(QStringLiteral("Выполнить"), Panel7);
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton2->setEnabled(false);
    p7->addWidget(SpeedButton2);
    layout->addWidget(Panel7);

    Panel4 = new QWidget(body);
    Panel4->setObjectName("Panel4");
    auto* p4 = new QHBoxLayout(Panel4);
    p4->setContentsMargins(0, 0, 0, 0);
    p4->addWidget(NewLabel(QStringLiteral("Выполняется:"), Panel4));
    ComboBox4 = new QComboBox(Panel4);
    ComboBox4->setObjectName("ComboBox4");
    // Room for most of "С 23:30:00 ожидайте, закачано 1234 из 5678 фрагментов";
    // the bar beside it tells the rest.
    ComboBox4->setMinimumContentsLength(24);
    ComboBox4->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    p4->addWidget(ComboBox4);
    TaskProgressBar = new QProgressBar(Panel4);
    TaskProgressBar->setObjectName("TaskProgressBar");
    TaskProgressBar->setRange(0, 100);
    TaskProgressBar->setFixedWidth(90);
    p4->addWidget(TaskProgressBar);
    SpeedButton3 = new QPushButton(QStringLiteral("Прекратить"), Panel4);
    SpeedButton3->setObjectName("SpeedButton3");
    SpeedButton3->setEnabled(false);
    p4->addWidget(SpeedButton3);
    ContinueButton = new QPushButton(QStringLiteral("Продолжить"), Panel4);
    ContinueButton->setObjectName("ContinueButton");
    ContinueButton->hide();
    p4->addWidget(ContinueButton);
    Panel4->hide();
    layout->addWidget(Panel4);
    layout->addStretch(1);
    TBToolWindow3->setWidget(body);
    addDockWidget(Qt::TopDockWidgetArea, TBToolWindow3);
}

void TForm1::EnableControls(bool on) {
    if (!on) Panel1->setEnabled(false);
    for (QWidget* w : {Panel2, Panel3, Panel6, Panel5}) w->setEnabled(on);
    RxSlider1->setEnabled(on);
    ToolBar1->setEnabled(on);
    SourceToolBar->setEnabled(on);
    if (on) Panel1->setEnabled(true);
    S.ControlsEnabled = on;
}

QString TForm1::PanelText(int index) const { return StatusPanels[index]->text(); }

void TForm1::SetPanelText(int index, const QString& text) {
    StatusPanels[index]->setText(text);
    if (index == 3) FitTrafficPanel();
}

void TForm1::FitTrafficPanel() {
    QLabel* panel = StatusPanels[3];
    panel->setFixedWidth(std::max(100, panel->sizeHint().width()));
}

void TForm1::PaintBox1Paint(QPainter& painter) { PaintMapBox(painter); }

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window system re-shows a restored window; that is not a show.
    if (!event->spontaneous()) FormShow();
}

void TForm1::FormShow() {
    if (S.FirstShowPending) {
        if (S.SearchPanelVisible) {
            ToolButton5->setChecked(true);
            TBToolWindow2->show();
        } else {
            TBToolWindow2->hide();
        }
        if (S.TaskPanelVisible) {
            ToolButton8->setChecked(true);
            TBToolWindow3->show();
            PaintBox1->setCursor(Qt::CrossCursor);
        } else {
            TBToolWindow3->hide();
        }
        S.FirstShowPending = false;
    }
    // The slider keeps itself within 1..20; Zoom keeps what the file said.
    RxSlider1->setValue(S.StartupZoom);
    Label1->setText(QString::number(RxSlider1->value()));
    ToolButton5->setChecked(TBToolWindow2->isVisibleTo(this));
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TForm1::FormActivate() {
    if (Windows::Instance() && Windows::Instance()->Form3 && Windows::Instance()->Form3->isVisible())
        Windows::Instance()->Form3->activateWindow();
}

QString TForm1::SettingsWriteFailedText() {
    return QStringLiteral("Запись файла Vistrel2.ini невозможна");
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!Closed) FormClose();
    event->accept();
}

void TForm1::FormClose() {
    Closed = true;
    StoreLayout();
    hide();
    // The tile a worker is fetching may finish; a slow one is cut short.
    // A task ends through its end phase, which for a stopped task is short.
    Timer2->stop();
    CloseTaskRecord();
    StopAllTasks(S);
    StopViewLoaders(std::chrono::seconds(10));
    StopTasks(std::chrono::seconds(10));
    WriteSettingsFile();
}

void TForm1::WriteSettingsFile() {
    // The layout is taken while the window is still shown (the close takes it
    // before hiding), so panel visibility is what the user saw.
    if (isVisible()) StoreLayout();
    FileResult saved = SaveSettings(S, S.ProgramFolder + SettingsFileName);
    if (!saved) {
        QMessageBox::warning(isVisible() ? this : nullptr, QStringLiteral("Сохранение невозможно"),
                             SettingsWriteFailedText(), QMessageBox::Ok);
    }
}
