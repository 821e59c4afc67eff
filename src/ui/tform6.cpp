#include "ui/tform6.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

#include "tasks/task_record.h"

TForm6::TForm6(QWidget* parent) : QDialog(parent) {
    setObjectName("Form6");
    setWindowTitle(QStringLiteral("Отчет"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);
    setModal(false);
    setFixedSize(392, 298);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setGeometry(0, 0, 392, 245);
    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(158, 258, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::hide);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TForm6::ShowTaskLog(const std::shared_ptr<stichtype>& task) {
    show();
    raise();
    Reload(task);
    task->LogShown = true;
}

void TForm6::Reload(const std::shared_ptr<stichtype>& task) {
    const std::vector<std::string> lines = task->Log.Lines();
    QStringList text;
    for (const std::string& line : lines) text << QString::fromStdString(line);
    Memo1->setPlainText(text.join('\n'));
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
    Shown = task;
    LastIndex = static_cast<long long>(lines.size()) - 1;
}

void TForm6::LineAdded(const std::shared_ptr<stichtype>& task, std::size_t index) {
    if (!isVisible()) {
        task->LogShown = false;
        return;
    }
    if (!task->LogShown || Shown.lock() != task) return;
    if (static_cast<long long>(index) <= LastIndex) return;
    Memo1->appendPlainText(QString::fromStdString(task->Log.Line(index)));
    LastIndex = static_cast<long long>(index);
}
