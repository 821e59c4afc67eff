#include "ui/tform3.h"

#include "core/main_state.h"

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("Form3");
    setWindowTitle(QStringLiteral("Процесс"));
    setFixedSize(344, 191);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setGeometry(16, 12, 312, 17);
    QLabel** labels[4] = {&Label1, &Label2, &Label3, &Label4};
    for (int i = 0; i < 4; ++i) {
        *labels[i] = new QLabel(this);
        (*labels[i])->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        (*labels[i])->setGeometry(16, 40 + i * 24, 312, 20);
    }
    Button1 = new QPushButton(QStringLiteral("Отмена"), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(134, 150, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::hide);
}

void TForm3::ShowErrorCounts(const MainState& state) {
    Label2->setText(QString::number(state.TotalFetchErrors.load()) + " ошибок получения");
    Label3->setText(QString::number(state.TotalBadFileErrors.load()) + " ошибок jpeg");
    Label4->setText(QString::number(state.TotalWriteErrors.load()) + " ошибок записи");
}

void TForm3::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget())
        move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(event);
}
