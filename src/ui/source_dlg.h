#pragma once
#include <QDialog>

#include "core/map_sources.h"

class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// One source of the list, for "Добавить" and "Изменить" on the settings
// dialog's page "Источник". The main source's name, address and cache are
// the settings file's and are shown, not edited.
class TSourceDlg : public QDialog {
    Q_OBJECT
  public:
    TSourceDlg(const MapSource& source, bool main, QWidget* parent = nullptr);
    // The source as the fields give it; headers that are no "Name: value"
    // lines are left out.
    MapSource Source() const;

    QLineEdit *NameEdit, *UrlEdit, *CacheEdit, *AttributionEdit, *UserAgentEdit;
    QSpinBox *MinZoomBox, *MaxZoomBox, *ConnectionsBox, *RefreshBox;
    QPlainTextEdit* HeadersEdit;

  private:
    MapSource Original;
};
