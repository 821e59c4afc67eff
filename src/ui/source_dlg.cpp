#include "ui/source_dlg.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "geo/tile_key.h"
#include "ui/dialog_buttons.h"

namespace {

QSpinBox* NewBox(const char* name, int low, int high, int value, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(low, high);
    box->setValue(value);
    return box;
}

QLineEdit* NewEdit(const char* name, const std::string& text, QWidget* parent) {
    auto* edit = new QLineEdit(QString::fromStdString(text), parent);
    edit->setObjectName(name);
    return edit;
}

}  // namespace

TSourceDlg::TSourceDlg(const MapSource& source, bool main, QWidget* parent)
    : QDialog(parent), Original(source) {
    setObjectName(QStringLiteral("TSourceDlg"));
    setWindowTitle(QStringLiteral("Источник карты"));
    auto* form = new QFormLayout;
    NameEdit = NewEdit("NameEdit", source.Name, this);
    UrlEdit = NewEdit("UrlEdit", source.Url, this);
    UrlEdit->setToolTip(QString::fromStdString(UrlTemplateHelp()));
    CacheEdit = NewEdit("CacheEdit", source.Cache, this);
    for (QLineEdit* fixed : {NameEdit, UrlEdit, CacheEdit}) fixed->setReadOnly(main);
    AttributionEdit = NewEdit("AttributionEdit", source.Attribution, this);
    UserAgentEdit = NewEdit("UserAgentEdit", source.UserAgent, this);
    UserAgentEdit->setPlaceholderText(QString::fromStdString(DefaultUserAgent("...")));
    MinZoomBox = NewBox("MinZoomBox", 1, 20, source.MinZoom, this);
    MaxZoomBox = NewBox("MaxZoomBox", 1, 20, source.MaxZoom, this);
    ConnectionsBox = NewBox("ConnectionsBox", 1, 16, source.MaxConnections, this);
    RefreshBox = NewBox("RefreshBox", 0, 36500, source.RefreshDays, this);
    HeadersEdit = new QPlainTextEdit(this);
    HeadersEdit->setObjectName(QStringLiteral("HeadersEdit"));
    QString headers;
    for (const auto& [name, value] : source.Headers)
        headers += QString::fromStdString(name + ": " + value + "\n");
    HeadersEdit->setPlainText(headers);
    HeadersEdit->setFixedHeight(60);
    form->addRow(QStringLiteral("Имя"), NameEdit);
    form->addRow(QStringLiteral("Запрос"), UrlEdit);
    form->addRow(QStringLiteral("Папка кэша"), CacheEdit);
    form->addRow(QStringLiteral("Увеличение от"), MinZoomBox);
    form->addRow(QStringLiteral("Увеличение до"), MaxZoomBox);
    form->addRow(QStringLiteral("Авторские права"), AttributionEdit);
    form->addRow(QStringLiteral("User-Agent"), UserAgentEdit);
    form->addRow(QStringLiteral("Соединений с сервером"), ConnectionsBox);
    form->addRow(QStringLiteral("Обновлять снимки старше, дней"), RefreshBox);
    form->addRow(QStringLiteral("Заголовки запроса"), HeadersEdit);
    QPushButton *ok = nullptr, *cancel = nullptr;
    QHBoxLayout* buttons = MakeOkCancelRow(this, ok, cancel);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

MapSource TSourceDlg::Source() const {
    MapSource source = Original;
    source.Name = NameEdit->text().trimmed().toStdString();
    source.Url = UrlEdit->text().trimmed().toStdString();
    source.Cache = CacheEdit->text().trimmed().toStdString();
    source.Attribution = AttributionEdit->text().toStdString();
    source.UserAgent = UserAgentEdit->text().trimmed().toStdString();
    source.MinZoom = MinZoomBox->value();
    source.MaxZoom = MaxZoomBox->value();
    source.MaxConnections = ConnectionsBox->value();
    source.RefreshDays = RefreshBox->value();
    source.Headers.clear();
    for (const QString& line : HeadersEdit->toPlainText().split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) continue;
        source.Headers.emplace_back(line.left(colon).trimmed().toStdString(),
                                    line.mid(colon + 1).trimmed().toStdString());
    }
    return source;
}
