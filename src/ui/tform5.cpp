#include "ui/tform5.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>
#include <vector>

#include "core/app_core.h"
#include "core/main_state.h"
#include "core/map_sources.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "platform/text_codec.h"
#include "ui/dialog_buttons.h"
#include "ui/source_dlg.h"

namespace {

constexpr int DesignedWidth = 537;
constexpr int DesignedHeight = 399;

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}
std::string Std(const QString& s) {
    return s.toStdString();
}

QLabel* HelpLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit* NamedEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QCheckBox* NamedCheckBox(const char* name, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QRadioButton* NamedRadio(const char* name, const QString& caption, QWidget* parent) {
    auto* radio = new QRadioButton(caption, parent);
    radio->setObjectName(QString::fromLatin1(name));
    return radio;
}

QLabel* NamedLabel(const char* name, const QString& caption, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// A number that only its arrows (and the Up/Down keys, and the wheel) change:
// the text field refuses typing, so the value is always within the range.
QSpinBox* NumberBox(const char* name, const char* editName, int low, int high, int value,
                    QLineEdit*& edit, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(low, high);
    box->setValue(value);
    box->setMinimumWidth(64);
    edit = box->findChild<QLineEdit*>();
    edit->setObjectName(QString::fromLatin1(editName));
    edit->setReadOnly(true);
    return box;
}

// The characters of a text that Windows-1251, the code page of the program's
// files, cannot hold, blank-separated for a message; empty when it can hold
// them all. Such a text would be saved changed, so it is not saved at all.
QString UnsavableCharacters(const QString& text) {
    return QString::fromStdString(Cp1251UnencodableList(Std(text)));
}

}  // namespace

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Настройки"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    ChooseArchive = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Открыть"), QString(),
                                            QStringLiteral("Архивы ZIP\\ File (*.zip);;"
                                                           "MBTiles (*.mbtiles);;"
                                                           "Все источники (*.zip *.mbtiles)"));
    };
    ChooseFolder = [this](const QString& current) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Расположение кэша"),
                                                 current);
    };
    OpenDocument = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet1 = BuildInternetPage();
    TabSheet2 = BuildSourcePage();
    TabSheet3 = BuildCachePage();
    TabSheet4 = BuildErrorsPage();
    TabSheet5 = BuildTimerPage();
    TabSheet6 = BuildStitchPage();
    TabSheet7 = BuildControlPage();
    TabSheet8 = BuildAboutPage();
    const QString titles[8] = {"Интернет", "Источник",   "Кэш",        "Ошибки",
                               "Таймер",   "Склеивание", "Управление", "О программе"};
    QWidget* pages[8] = {TabSheet1, TabSheet2, TabSheet3, TabSheet4,
                         TabSheet5, TabSheet6, TabSheet7, TabSheet8};
    for (int i = 0; i < 8; ++i) {
        pages[i]->setObjectName(QStringLiteral("TabSheet") + QString::number(i + 1));
        PageControl1->addTab(pages[i], titles[i]);
    }
    // Until the first opening the information page is the one shown; after
    // that the page control keeps whatever page the user left.
    PageControl1->setCurrentWidget(TabSheet8);

    QHBoxLayout* buttons = MakeOkCancelRow(this, OKBtn, CancelBtn);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(buttons);

    connect(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(); });
    connect(ButtonS, &QPushButton::clicked, this, [this] { ButtonSClick(); });
    connect(CheckBox3, &QCheckBox::toggled, this, [this] { CheckBox3Click(); });
    connect(CheckBox8, &QCheckBox::clicked, this, [this] { CheckBox3Click(); });
    connect(CheckBox4, &QCheckBox::toggled, this, [this] { CheckBox4Click(); });
    connect(CheckBox7, &QCheckBox::toggled, this, [this] { CheckBox7Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] { ListBox1Click(); });
    connect(ListBox1, &QListWidget::itemClicked, this, [this] { ListBox1Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Edit16Browse, &QToolButton::clicked, this, [this] { Edit16BrowseClick(); });

    // The designed state of the controls before the first opening.
    CheckBox2Click();
    CheckBox4Click();
    CheckBox7Click();
    FixSize();
}

QWidget* TForm5::BuildInternetPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto* mode = new QGroupBox(QStringLiteral("Режим работы"), page);
    mode->setObjectName(QStringLiteral("GroupBox1"));
    auto* modeLayout = new QVBoxLayout(mode);
    RadioButton2 = NamedRadio("RadioButton2", QStringLiteral("только интернет"), mode);
    RadioButton3 = NamedRadio("RadioButton3", QStringLiteral("то и другое"), mode);
    RadioButton1 = NamedRadio("RadioButton1", QStringLiteral("только кэш"), mode);
    RadioButton3->setChecked(true);
    modeLayout->addWidget(RadioButton2);
    modeLayout->addWidget(RadioButton3);
    modeLayout->addWidget(RadioButton1);
    modeLayout->addWidget(HelpLabel(
        QStringLiteral("Эти настройки дублированы кнопкой переключения режима на основной панели"),
        mode));
    layout->addWidget(mode);

    auto* proxy = new QGroupBox(QStringLiteral("Proxy"), page);
    proxy->setObjectName(QStringLiteral("GroupBox2"));
    auto* grid = new QGridLayout(proxy);
    // The "o" in the middle of the caption is a Latin letter, as it always was.
    CheckBox2 = NamedCheckBox("CheckBox2", QStringLiteral("Использoвать proxy"), proxy);
    Edit5 = NamedEdit("Edit5", proxy);
    Label16 = NamedLabel("Label16", QStringLiteral("port"), proxy);
    Edit6 = NamedEdit("Edit6", proxy);
    Edit6->setMaximumWidth(80);
    Label17 = NamedLabel("Label17", QStringLiteral(" (Не обязательно)  Proxy User"), proxy);
    Edit8 = NamedEdit("Edit8", proxy);
    Label18 = NamedLabel("Label18", QStringLiteral("Proxy Password"), proxy);
    Edit9 = NamedEdit("Edit9", proxy);
    grid->addWidget(CheckBox2, 0, 0);
    grid->addWidget(Edit5, 0, 1);
    grid->addWidget(Label16, 0, 2);
    grid->addWidget(Edit6, 0, 3);
    grid->addWidget(Label17, 1, 0);
    grid->addWidget(Edit8, 1, 1);
    grid->addWidget(Label18, 2, 0);
    grid->addWidget(Edit9, 2, 1);
    grid->setColumnStretch(1, 1);
    auto* warning = HelpLabel(QStringLiteral("Пароль и имя пользователя хранятся в открытом виде "
                                             "в Vistrel2.ini - файле, будьте осторожны."),
                              proxy);
    warning->setObjectName(QStringLiteral("LabelPasswordWarning"));
    grid->addWidget(warning, 3, 0, 1, 4);
    layout->addWidget(proxy);
    layout->addStretch(1);
    return page;
}

QWidget* TForm5::BuildSourcePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("Источник"), page);
    group->setObjectName(QStringLiteral("GroupBox3"));
    auto* groupLayout = new QVBoxLayout(group);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Запрос"), group));
    Edit11 = NamedEdit("Edit11", group);
    Edit11->setToolTip(QString::fromStdString(UrlTemplateHelp()));
    row->addWidget(Edit11, 1);
    groupLayout->addLayout(row);
    SourceError = new QLabel(group);
    SourceError->setObjectName(QStringLiteral("SourceError"));
    SourceError->setStyleSheet(QStringLiteral("color: #c00000;"));
    SourceError->setWordWrap(true);
    SourceError->hide();
    groupLayout->addWidget(SourceError);
    connect(Edit11, &QLineEdit::textChanged, this, [this](const QString& text) {
        const std::string error = CheckUrlTemplate(text.toStdString());
        SourceError->setText(QString::fromStdString(error));
        SourceError->setVisible(!error.empty());
    });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ButtonS = new QPushButton(QStringLiteral("Восстановить"), group);
    ButtonS->setObjectName(QStringLiteral("ButtonS"));
    ButtonS->setAutoDefault(false);
    // The string is taken on OK; this button is there for users who expect one.
    ButtonSOK = new QPushButton(QStringLiteral("Принять"), group);
    ButtonSOK->setObjectName(QStringLiteral("ButtonSOK"));
    ButtonSOK->setAutoDefault(false);
    buttons->addWidget(ButtonS);
    buttons->addWidget(ButtonSOK);
    groupLayout->addLayout(buttons);
    groupLayout->addWidget(HelpLabel(
        QStringLiteral("Строка запроса - неизменная часть запроса к серверу за фрагментами "
                       "снимков: буквы фрагмента дописываются к ней в конце. Строка с фигурными "
                       "скобками - шаблон адреса, подстановки указаны в подсказке поля. Номер "
                       "версии после "
                       "\"v=\" со временем меняется, поэтому имеет смысл пробовать номера "
                       "побольше."),
        group));
    groupLayout->addWidget(HelpLabel(
        QStringLiteral("Устаревшие или отсутствующие снимки обычно объясняются этой строкой "
                       "либо тем, что сервер перестал отвечать на ваш адрес после большого "
                       "числа параллельных закачек."),
        group));
    groupLayout->addWidget(HelpLabel(
        QStringLiteral("С другой строкой запроса программа может показывать снимки других "
                       "небесных тел. В этом случае смените и папку кэша (страница \"Кэш\"), "
                       "чтобы снимки не смешивались."),
        group));
    layout->addWidget(group);

    auto* list = new QGroupBox(QStringLiteral("Источники карт"), page);
    list->setObjectName(QStringLiteral("GroupBoxSources"));
    auto* listLayout = new QHBoxLayout(list);
    SourcesList = new QListWidget(list);
    SourcesList->setObjectName(QStringLiteral("SourcesList"));
    SourcesList->setFixedHeight(72);
    listLayout->addWidget(SourcesList, 1);
    auto* listButtons = new QVBoxLayout;
    const auto button = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, list);
        b->setObjectName(name);
        b->setAutoDefault(false);
        listButtons->addWidget(b);
        return b;
    };
    SourceAdd = button("SourceAdd", QStringLiteral("Добавить"));
    SourceEdit = button("SourceEdit", QStringLiteral("Изменить"));
    SourceDelete = button("SourceDelete", QStringLiteral("Удалить"));
    listButtons->addStretch(1);
    listLayout->addLayout(listButtons);
    layout->addWidget(list);
    connect(SourceAdd, &QPushButton::clicked, this, [this] { SourceAddClick(); });
    connect(SourceEdit, &QPushButton::clicked, this, [this] { SourceEditClick(); });
    connect(SourceDelete, &QPushButton::clicked, this, [this] { SourceDeleteClick(); });
    connect(SourcesList, &QListWidget::itemDoubleClicked, this, [this] { SourceEditClick(); });
    EditSource = [this](MapSource& source, bool main) {
        TSourceDlg dialog(source, main, this);
        if (dialog.exec() != QDialog::Accepted) return false;
        source = dialog.Source();
        return true;
    };
    layout->addStretch(1);
    return page;
}

void TForm5::ShowSources(SourceList* list, const std::string& programFolder) {
    Sources = list;
    SourcesFolder = programFolder;
    FillSources();
}

void TForm5::FillSources() {
    SourcesList->clear();
    if (!Sources) return;
    for (size_t i = 0; i < Sources->Sources.size(); ++i) {
        const MapSource& source = Sources->Sources[i];
        SourcesList->addItem(QString::fromStdString(source.Name + "  —  " + source.Url));
        if (i == Sources->Active) {
            QFont bold = SourcesList->item(static_cast<int>(i))->font();
            bold.setBold(true);
            SourcesList->item(static_cast<int>(i))->setFont(bold);
        }
    }
}

bool TForm5::SourceDone(const std::string& error) {
    FillSources();
    if (error.empty()) return true;
    QMessageBox::warning(this, QStringLiteral("Источник"), QString::fromStdString(error),
                         QMessageBox::Ok);
    return false;
}

void TForm5::SourceAddClick() {
    if (!Sources) return;
    MapSource source;
    source.Name = "Источник " + std::to_string(Sources->Sources.size() + 1);
    source.Url = "https://";
    while (EditSource(source, false)) {
        const int row = static_cast<int>(Sources->Sources.size());
        // A refused source comes back for correction instead of being lost.
        if (SourceDone(AddSource(*Sources, source, SourcesFolder))) {
            SourcesList->setCurrentRow(row);
            return;
        }
    }
}

void TForm5::SourceEditClick() {
    const int row = SourcesList->currentRow();
    if (!Sources || row < 0 || static_cast<size_t>(row) >= Sources->Sources.size()) return;
    MapSource source = Sources->Sources[static_cast<size_t>(row)];
    while (EditSource(source, row == 0)) {
        if (SourceDone(ChangeSource(*Sources, static_cast<size_t>(row), source, SourcesFolder))) {
            SourcesList->setCurrentRow(row);
            return;
        }
    }
}

void TForm5::SourceDeleteClick() {
    const int row = SourcesList->currentRow();
    if (!Sources || row < 0) return;
    SourceDone(RemoveSource(*Sources, static_cast<size_t>(row), SourcesFolder));
}

QWidget* TForm5::BuildCachePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto* place = new QGroupBox(QStringLiteral("Расположение кэша"), page);
    place->setObjectName(QStringLiteral("GroupBox4"));
    auto* placeLayout = new QGridLayout(place);
    CheckBox4 = NamedCheckBox("CheckBox4", QStringLiteral("Указать"), place);
    Edit16 = NamedEdit("Edit16", place);
    Edit16Browse = new QToolButton(place);
    Edit16Browse->setObjectName(QStringLiteral("Edit16Browse"));
    Edit16Browse->setText(QStringLiteral("..."));
    Edit16Browse->setToolTip(QStringLiteral("Выбрать папку"));
    placeLayout->addWidget(CheckBox4, 0, 0);
    placeLayout->addWidget(Edit16, 0, 1);
    placeLayout->addWidget(Edit16Browse, 0, 2);
    CheckBox7 =
        NamedCheckBox("CheckBox7", QStringLiteral("Использовать архивы (только чтение)"), place);
    placeLayout->addWidget(CheckBox7, 1, 0, 1, 3);
    ListBox1 = new QListWidget(place);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setMinimumHeight(56);
    ListBox1->setMaximumHeight(72);
    Button2 = new QPushButton(QStringLiteral("Добавить"), place);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    Button3 = new QPushButton(QStringLiteral("Удалить"), place);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setAutoDefault(false);
    Button3->setEnabled(false);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(Button2);
    listButtons->addWidget(Button3);
    listButtons->addStretch(1);
    placeLayout->addWidget(ListBox1, 2, 0, 1, 2);
    placeLayout->addLayout(listButtons, 2, 2);
    placeLayout->setColumnStretch(1, 1);
    placeLayout->addWidget(
        HelpLabel(QStringLiteral("Здесь указывается, где хранятся загруженные фрагменты; если "
                                 "папка не указана - в подпапке Cache папки программы "
                                 "(путь не от корня тоже отсчитывается от нее). Можно "
                                 "использовать и ZIP-архивы фрагментов, но при больших размерах "
                                 "архивов просмотр сильно замедляется."),
                  place),
        3, 0, 1, 3);
    layout->addWidget(place);

    auto* upper = new QGroupBox(QStringLiteral("Автогенерация вышележащих слоев"), page);
    upper->setObjectName(QStringLiteral("GroupBox5"));
    auto* upperLayout = new QVBoxLayout(upper);
    CheckBox5 = NamedCheckBox("CheckBox5",
                              QStringLiteral("Создавать фрагменты меньшего увеличения"), upper);
    CheckBox6 = NamedCheckBox(
        "CheckBox6", QStringLiteral("Заменять имеющиеся фрагменты вновь созданными"), upper);
    upperLayout->addWidget(CheckBox5);
    upperLayout->addWidget(CheckBox6);
    upperLayout->addWidget(
        HelpLabel(QStringLiteral("При просмотре и закачке по возможности создаются фрагменты "
                                 "всех меньших увеличений. Это экономит трафик, но замедляет "
                                 "работу программы."),
                  upper));
    layout->addWidget(upper);
    layout->addStretch(1);
    return page;
}

QWidget* TForm5::BuildErrorsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("Контроль ошибок при выкачивании / склейке"), page);
    group->setObjectName(QStringLiteral("GroupBox6"));
    auto* grid = new QGridLayout(group);
    CheckBox3 = NamedCheckBox("CheckBox3", QStringLiteral("Использовать контроль ошибок"), group);
    grid->addWidget(CheckBox3, 0, 0, 1, 2);
    struct Row {
        const char* label;
        const char* caption;
        QLabel** labelOut;
        const char* box;
        const char* edit;
        int low, high, value;
        QSpinBox** boxOut;
        QLineEdit** editOut;
    };
    const Row rows[5] = {
        {"Label22", "Попыток закачать фрагмент при ошибке", &Label22, "UpDown1", "Edit12", 1, 10, 3,
         &UpDown1, &Edit12},
        {"Label15", "с интервалом (сек.)", &Label15, "UpDown6", "Edit21", 1, 60, 1, &UpDown6,
         &Edit21},
        {"Label25", "Остановка, если ошибок записи  фрагментов на диск", &Label25, "UpDown2",
         "Edit13", 1, 50, 3, &UpDown2, &Edit13},
        {"Label23", "Остановка, если ошибок при получении фрагментов с сервера", &Label23,
         "UpDown4", "Edit14", 1, 100, 3, &UpDown4, &Edit14},
        // The typo is the program's own text.
        {"Label24", "Остановка, если ошибок в полуенных файлах", &Label24, "UpDown5", "Edit15", 1,
         200, 25, &UpDown5, &Edit15},
    };
    for (int i = 0; i < 5; ++i) {
        const Row& r = rows[i];
        *r.labelOut = NamedLabel(r.label, QString::fromUtf8(r.caption), group);
        *r.boxOut = NumberBox(r.box, r.edit, r.low, r.high, r.value, *r.editOut, group);
        grid->addWidget(*r.labelOut, i + 1, 0);
        grid->addWidget(*r.boxOut, i + 1, 1);
    }
    grid->setColumnStretch(0, 1);
    CheckBox8 = NamedCheckBox("CheckBox8", QStringLiteral("Показывать лог автоматически"), group);
    grid->addWidget(CheckBox8, 6, 0, 1, 2);
    grid->addWidget(
        HelpLabel(
            QStringLiteral("Контроль ошибок работает только при склейке и выкачивании. При ошибке "
                           "фрагмент закачивается повторно, каждая ошибка учитывается, и при "
                           "превышении предела задание останавливается. Различаются три вида "
                           "ошибок: ошибки записи на диск (например, диск переполнен), ошибки "
                           "получения с сервера (чаще всего 404 из-за неверного увеличения) и "
                           "испорченные полученные файлы (JPEG-файлы, оборванные на плохих "
                           "линиях связи)."),
            group),
        7, 0, 1, 2);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* TForm5::BuildTimerPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("Дополнительные возможности"), page);
    group->setObjectName(QStringLiteral("GroupBox7"));
    auto* groupLayout = new QVBoxLayout(group);
    // The trailing blank belongs to the caption.
    CheckBox1 = NamedCheckBox(
        "CheckBox1", QStringLiteral("показывать настройки таймера/соединения перед закачкой "),
        group);
    groupLayout->addWidget(CheckBox1);
    groupLayout->addWidget(
        HelpLabel(QStringLiteral("Перед выкачиванием или склейкой открывается дополнительное "
                                 "окно, в котором можно задать отложенный запуск или "
                                 "автоматическое подключение к сети. Это позволяет сэкономить, "
                                 "если трафик оплачивается повременно или зависит от времени "
                                 "суток."),
                  group));
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* TForm5::BuildStitchPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("Привязка"), page);
    group->setObjectName(QStringLiteral("GroupBox8"));
    auto* groupLayout = new QVBoxLayout(group);
    CheckBox9 = NamedCheckBox(
        "CheckBox9", QStringLiteral("Создавать файл привязки для OziExplorer (.map)"), group);
    CheckBox10 = NamedCheckBox("CheckBox10",
                               QStringLiteral("Создавать файл привязки для MapInfo (.tab)"), group);
    groupLayout->addWidget(CheckBox9);
    groupLayout->addWidget(CheckBox10);
    groupLayout->addWidget(
        HelpLabel(QStringLiteral("Файл привязки хранит координаты склеенного изображения. "
                                 "Привязка для MapInfo пока не опробована."),
                  group));
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* TForm5::BuildControlPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox(QStringLiteral("Параметры мыши"), page);
    group->setObjectName(QStringLiteral("GroupBox9"));
    auto* groupLayout = new QVBoxLayout(group);
    RadioButton4 =
        NamedRadio("RadioButton4",
                   QStringLiteral("Приближение левый щелчок, удаление - правый щелчок"), group);
    RadioButton5 = NamedRadio(
        "RadioButton5", QStringLiteral("Прилижение/удаление колесиком, щелчок - центровка"), group);
    RadioButton5->setChecked(true);
    groupLayout->addWidget(RadioButton4);
    groupLayout->addWidget(RadioButton5);
    layout->addWidget(group);
    layout->addStretch(1);
    return page;
}

QWidget* TForm5::BuildAboutPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* title = new QLabel(QStringLiteral("Vistrel"), page);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);
    layout->addWidget(HelpLabel(
        QStringLiteral("Просмотр и загрузка спутниковых снимков, которые сервер фрагментов "
                       "публикует в виде JPEG-фрагментов 256 x 256 точек на 20 уровнях "
                       "увеличения."),
        page));
    layout->addWidget(HelpLabel(
        QStringLiteral("Фрагменты берутся из кэша на диске, из ZIP-архивов и с сервера - как "
                       "позволяет режим работы. Выделенную область можно выкачать в кэш, "
                       "склеить в одно изображение с файлами привязки или скопировать из кэша "
                       "в отдельную папку."),
        page));
    layout->addWidget(HelpLabel(
        QStringLiteral("Подробное описание - в файле ReadMe.txt в папке программы."), page));
    auto* row = new QHBoxLayout;
    Button1 = new QPushButton(QStringLiteral("ReadMe Ver. 2.0"), page);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    row->addWidget(Button1);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    return page;
}

void TForm5::FixSize() {
    // The designed client area, grown where the texts of this system's font
    // need more; the border stays fixed.
    ensurePolished();
    // All eight tabs in one row, without scroll arrows.
    QMargins margins = layout()->contentsMargins();
    int tabsWidth =
        PageControl1->tabBar()->sizeHint().width() + margins.left() + margins.right() + 4;
    int width = std::max({DesignedWidth, layout()->minimumSize().width(), tabsWidth});
    int height = DesignedHeight;
    if (layout()->hasHeightForWidth())
        height = std::max(height, layout()->totalHeightForWidth(width));
    else
        height = std::max(height, layout()->totalSizeHint().height());
    setFixedSize(width, height);
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* s = screen()) {
        QRect area = s->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

int TForm5::CheckedWorkMode() const {
    if (RadioButton1->isChecked()) return 0;
    if (RadioButton2->isChecked()) return 1;
    return 2;
}

void TForm5::LoadFromState(const MainState& state) {
    ProgramFolder = state.ProgramFolder;
    std::string proxyHost, proxyPort, proxyUser, proxyPassword, source, customPath;
    {
        std::lock_guard<std::mutex> lock(state.SettingsLock);
        proxyHost = state.ProxyHost;
        proxyPort = state.ProxyPort;
        proxyUser = state.ProxyUser;
        proxyPassword = state.ProxyPassword;
        source = state.SourceString;
        customPath = state.CustomCachePath;
    }

    // 1. The work mode. Radio buttons always show exactly one mode; a
    // hand-edited settings file that set none or several shows the one the
    // mode button shows, so OK puts the state right.
    bool flags[3] = {state.ModeCacheOnly, state.ModeInternetOnly, state.ModeCacheAndInternet};
    int on = static_cast<int>(std::count(flags, flags + 3, true));
    int mode = std::clamp(state.ModeButtonImage, 0, 2);
    if (on == 1) mode = flags[0] ? 0 : flags[1] ? 1 : 2;
    QRadioButton* modeRadios[3] = {RadioButton1, RadioButton2, RadioButton3};
    modeRadios[mode]->setChecked(true);
    // 2-3. Proxy.
    CheckBox2->setChecked(state.UseProxy);
    CheckBox2Click();
    Edit5->setText(Text(proxyHost));
    Edit6->setText(Text(proxyPort));
    Edit8->setText(Text(proxyUser));
    Edit9->setText(Text(proxyPassword));
    // 4-5.
    CheckBox1->setChecked(state.ShowTimerDialog);
    Edit11->setText(Text(source));
    CheckBox4->setChecked(state.UseCustomCachePath);
    Edit16->setText(Text(customPath));
    // 6-7. The spin boxes keep the values within their ranges.
    CheckBox3->setChecked(state.ErrorControl);
    CheckBox3Click();
    UpDown1->setValue(state.FetchAttempts);
    UpDown6->setValue(state.RetryInterval);
    UpDown2->setValue(state.MaxWriteErrors);
    UpDown4->setValue(state.MaxFetchErrors);
    UpDown5->setValue(state.MaxBadFileErrors);
    // 8-9.
    CheckBox5->setChecked(state.GenerateUpperLayers);
    CheckBox6->setChecked(state.ReplaceUpperLayers);
    CheckBox7->setChecked(state.UseArchives);
    CheckBox8->setChecked(state.ShowLogAuto);
    CheckBox9->setChecked(state.WriteOziMap);
    CheckBox10->setChecked(state.WriteMapInfoTab);
    (state.WheelZoom ? RadioButton5 : RadioButton4)->setChecked(true);
    // 10.
    CheckBox4Click();
    CheckBox7Click();
    // 11. The file is the truth for the list, so additions made in a
    // cancelled opening show again.
    std::vector<std::string> lines;
    if (ReadTextLines(ProgramFolder + ArchiveListFileName, lines)) {
        ListBox1->clear();
        for (const auto& line : lines) ListBox1->addItem(Text(line));
    }
    ListBox1Click();
    // 12.
    CheckBox7->setChecked(state.UseArchives);
}

void TForm5::ApplyToState(MainState& state) const {
    // 1.
    SetWorkMode(state, CheckedWorkMode());
    // 2. Workers read the proxy texts when they make their next request.
    state.UseProxy = CheckBox2->isChecked();
    {
        std::lock_guard<std::mutex> lock(state.SettingsLock);
        state.ProxyHost = Std(Edit5->text());
        state.ProxyPort = Std(Edit6->text());
        state.ProxyUser = Std(Edit8->text());
        state.ProxyPassword = Std(Edit9->text());
    }
    // 3-4.
    state.ShowTimerDialog = CheckBox1->isChecked();
    SetSourceString(state, Std(Edit11->text()));
    // 5. An empty folder gives "/", the root, as typed.
    {
        std::lock_guard<std::mutex> lock(state.SettingsLock);
        state.UseCustomCachePath = CheckBox4->isChecked();
        state.CustomCachePath = Std(Edit16->text());
        state.CachePath =
            CachePathFor(state.UseCustomCachePath, state.CustomCachePath, state.ProgramFolder);
    }
    // 6.
    state.ErrorControl = CheckBox3->isChecked();
    state.FetchAttempts = UpDown1->value();
    state.RetryInterval = UpDown6->value();
    state.MaxWriteErrors = UpDown2->value();
    state.MaxFetchErrors = UpDown4->value();
    state.MaxBadFileErrors = UpDown5->value();
    // 7.
    state.GenerateUpperLayers = CheckBox5->isChecked();
    state.ReplaceUpperLayers = CheckBox6->isChecked();
    state.UseArchives = CheckBox7->isChecked();
    state.ShowLogAuto = CheckBox8->isChecked();
    state.WriteOziMap = CheckBox9->isChecked();
    state.WriteMapInfoTab = CheckBox10->isChecked();
    state.WheelZoom = RadioButton5->isChecked();
}

bool TForm5::TextsCanBeSaved() {
    struct Field {
        QLineEdit* Edit;
        QWidget* Page;
        const char* Name;
    };
    const Field fields[] = {{Edit5, TabSheet1, "Proxy"},
                            {Edit6, TabSheet1, "port"},
                            {Edit8, TabSheet1, "Proxy User"},
                            {Edit9, TabSheet1, "Proxy Password"},
                            {Edit11, TabSheet2, "Запрос"},
                            {Edit16, TabSheet3, "Расположение кэша"}};
    for (const Field& field : fields) {
        const QString bad = UnsavableCharacters(field.Edit->text());
        if (bad.isEmpty()) continue;
        PageControl1->setCurrentWidget(field.Page);
        field.Edit->setFocus();
        QMessageBox::warning(
            this, QStringLiteral("Настройки"),
            QStringLiteral("В поле \"%1\" есть знаки, которые нельзя сохранить в файле "
                           "настроек (кодировка Windows-1251): %2. Замените или уберите их.")
                .arg(QString::fromUtf8(field.Name), bad),
            QMessageBox::Ok);
        return false;
    }
    return true;
}

void TForm5::accept() {
    if (!TextsCanBeSaved()) return;
    const std::string error = CheckUrlTemplate(Edit11->text().toStdString());
    if (!error.empty()) {
        PageControl1->setCurrentWidget(TabSheet2);
        Edit11->setFocus();
        QMessageBox::warning(this, QStringLiteral("Источник"), QString::fromStdString(error),
                             QMessageBox::Ok);
        return;
    }
    QDialog::accept();
}

void TForm5::CheckBox2Click() {
    bool on = CheckBox2->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{Edit5, Edit6, Edit8, Edit9, Label16, Label17, Label18})
        w->setEnabled(on);
}

void TForm5::ButtonSClick() {
    Edit11->setText(QString::fromUtf8(DefaultSourceString));
}

void TForm5::CheckBox3Click() {
    bool on = CheckBox3->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{UpDown1, UpDown6, UpDown2, UpDown4, UpDown5,
                                                      Label22, Label15, Label25, Label23, Label24})
        w->setEnabled(on);
}

void TForm5::CheckBox4Click() {
    bool on = CheckBox4->isChecked();
    Edit16->setVisible(on);
    Edit16Browse->setVisible(on);
}

void TForm5::CheckBox7Click() {
    bool on = CheckBox7->isChecked();
    ListBox1->setVisible(on);
    Button2->setVisible(on);
    Button3->setVisible(on);
}

void TForm5::WriteArchiveList() {
    std::vector<std::string> lines;
    lines.reserve(ListBox1->count());
    for (int i = 0; i < ListBox1->count(); ++i) lines.push_back(Std(ListBox1->item(i)->text()));
    FileResult written = WriteTextLines(ProgramFolder + ArchiveListFileName, lines);
    if (!written) {
        QMessageBox::warning(this, QStringLiteral("Сохранение невозможно"),
                             QStringLiteral("Запись файла CacheList.dat невозможна"),
                             QMessageBox::Ok);
    }
}

void TForm5::Button2Click() {
    QString path = ChooseArchive ? ChooseArchive() : QString();
    if (const QString bad = UnsavableCharacters(path); !bad.isEmpty()) {
        // "CacheList.dat" would hold another path, and the archive would
        // silently never be found.
        QMessageBox::warning(
            this, QStringLiteral("Добавить"),
            QStringLiteral("Путь к архиву содержит знаки, которые нельзя сохранить в "
                           "CacheList.dat (кодировка Windows-1251): %1. Архив не добавлен.")
                .arg(bad),
            QMessageBox::Ok);
        path.clear();
    }
    if (!path.isEmpty()) {
        // A path already listed is listed again: the list is what the user built.
        ListBox1->addItem(path);
        WriteArchiveList();
    }
    ListBox1Click();
}

void TForm5::Button3Click() {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    if (!selected.isEmpty()) {
        delete ListBox1->takeItem(ListBox1->row(selected.first()));
        // Nothing is selected after a removal, so a second press cannot
        // remove a neighbour by accident.
        ListBox1->clearSelection();
        ListBox1->setCurrentRow(-1, QItemSelectionModel::Clear);
        WriteArchiveList();
    }
    ListBox1Click();
}

void TForm5::ListBox1Click() {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    if (selected.isEmpty()) {
        Button3->setEnabled(false);
        ListBox1->setToolTip(QString());
        return;
    }
    Button3->setEnabled(true);
    const QString path = selected.first()->text();
    ListBox1->setToolTip(path);
    if (ListBox1->isVisible()) {
        QRect itemRect = ListBox1->visualItemRect(selected.first());
        QToolTip::showText(ListBox1->viewport()->mapToGlobal(itemRect.bottomLeft()), path,
                           ListBox1);
    }
}

void TForm5::Button1Click() {
    if (OpenDocument)
        OpenDocument(QUrl::fromLocalFile(Text(ProgramFolder) + QStringLiteral("ReadMe.txt")));
}

void TForm5::Edit16BrowseClick() {
    QString folder = ChooseFolder ? ChooseFolder(Edit16->text()) : QString();
    if (!folder.isEmpty()) Edit16->setText(folder);
}
