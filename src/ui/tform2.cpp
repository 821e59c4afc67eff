#include "ui/tform2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "fetch/dial_up_ops.h"
#include "ui/tform1.h"

UpDownField::UpDownField(QWidget* parent) : QSpinBox(parent) {
    lineEdit()->setReadOnly(true);
}

TForm2::TForm2(QWidget* parent, MainState* state) : QDialog(parent), OwnState(state) {
    setWindowTitle(QStringLiteral("Таймер"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    Label4 = new QLabel(QStringLiteral("Закачку начать через:"), this);
    Edit1 = new UpDownField(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setRange(0, 100);
    Label5 = new QLabel(QStringLiteral("часов"), this);
    Edit2 = new UpDownField(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setRange(0, 60);
    Label6 = new QLabel(QStringLiteral("минут"), this);
    CheckBox3 = new QCheckBox(QStringLiteral("Подключаться автоматически"), this);
    Label2 = new QLabel(QStringLiteral("Подключение:"), this);
    Cs = new QComboBox(this);
    Cs->setObjectName(QStringLiteral("Cs"));
    Cs->setEditable(true);
    Cs->setInsertPolicy(QComboBox::NoInsert);
    Label3 = new QLabel(QStringLiteral("Имя пользователя:"), this);
    Edit7 = new QLineEdit(this);
    Edit7->setObjectName(QStringLiteral("Edit7"));
    Edit7->setMaxLength(30);
    Label7 = new QLabel(QStringLiteral("Пароль:"), this);
    Edit10 = new QLineEdit(this);
    Edit10->setObjectName(QStringLiteral("Edit10"));
    Edit10->setEchoMode(QLineEdit::Password);
    Edit10->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
    CheckBox1 = new QCheckBox(QStringLiteral("разорвать все соединения после окончания"), this);
    GroupBox1 = new QGroupBox(QStringLiteral("Проверка"), this);
    Button3 = new QPushButton(QStringLiteral("Подключится"), GroupBox1);
    Button4 = new QPushButton(QStringLiteral("Отключиться"), GroupBox1);
    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button2 = new QPushButton(QStringLiteral("Отменить"), this);
    for (QPushButton* b : {Button3, Button4, Button2}) b->setAutoDefault(false);
    Button1->setDefault(true);
    Label2->setBuddy(Cs);
    Label3->setBuddy(Edit7);
    Label7->setBuddy(Edit10);

    auto* delay = new QHBoxLayout;
    delay->addWidget(Label4);
    delay->addWidget(Edit1);
    delay->addWidget(Label5);
    delay->addWidget(Edit2);
    delay->addWidget(Label6);
    delay->addStretch(1);
    auto* fields = new QGridLayout;
    fields->addWidget(Label2, 0, 0);
    fields->addWidget(Cs, 0, 1);
    fields->addWidget(Label3, 1, 0);
    fields->addWidget(Edit7, 1, 1);
    fields->addWidget(Label7, 2, 0);
    fields->addWidget(Edit10, 2, 1);
    fields->setColumnStretch(1, 1);
    auto* test = new QHBoxLayout(GroupBox1);
    test->addWidget(Button3);
    test->addWidget(Button4);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(Button1);
    closeRow->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(delay);
    layout->addWidget(CheckBox3);
    layout->addLayout(fields);
    layout->addWidget(CheckBox1);
    layout->addWidget(GroupBox1);
    layout->addLayout(closeRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Cs->setMinimumWidth(200);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
}

MainState* TForm2::State() const {
    if (OwnState) return OwnState;
    if (auto* form = qobject_cast<TForm1*>(parentWidget())) return &form->State();
    return nullptr;
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A restore after minimizing is not a new showing.
    if (!event->spontaneous()) FormShow();
}

void TForm2::FormShow() {
    for (QWidget* w : findChildren<QWidget*>()) w->setEnabled(true);
    Edit1->setValue(0);
    Edit2->setValue(0);
    Cs->clear();
    std::vector<std::string> names;
    if (MainState* state = State(); state && state->DialUpService->ListEntries(names)) {
        for (const auto& name : names) Cs->addItem(QString::fromStdString(name));
    }
    if (Cs->count() == 0)
        Cs->setEditText(QStringLiteral("нет подключений"));
    else
        Cs->setCurrentIndex(0);
}

void TForm2::Button1Click() {
    accept();
}

void TForm2::Button3Click() {
    // A typed name is not a selected entry.
    const int index = Cs->currentIndex();
    if (index < 0 || Cs->currentText() != Cs->itemText(index)) return;
    MainState* state = State();
    if (!state) return;
    setCursor(Qt::WaitCursor);
    DialConnection(*state, Cs->currentText().toStdString(), Edit7->text().toStdString(),
                   Edit10->text().toStdString());
    unsetCursor();
}

void TForm2::Button4Click() {
    if (MainState* state = State()) HangUpAll(*state);
}

bool TForm2::Exec(DelayedStart& out) {
    if (QWidget* owner = parentWidget()) {
        adjustSize();
        move(owner->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    const bool ok = exec() == QDialog::Accepted;
    if (ok) out = Values(true);
    return ok;
}

DelayedStart TForm2::Values(bool confirmed) const {
    DelayedStart v;
    v.Hours = Edit1->value();
    v.Minutes = Edit2->value();
    v.DialUp = confirmed && CheckBox3->isChecked();
    v.HangUp = confirmed && CheckBox1->isChecked();
    v.DialEntry = Cs->currentText().toStdString();
    v.DialUser = Edit7->text().toStdString();
    v.DialPassword = Edit10->text().toStdString();
    return v;
}
