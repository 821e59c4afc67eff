#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <utility>

#include "geo/coordinate_text.h"

class QComboBox;
class QKeyEvent;
class QLineEdit;

// The behaviour of a latitude/longitude pair of edits with their hemisphere
// boxes, shared by the coordinate dialog and the main window's search panel:
// - typed keys go through FilterCoordinateKey (the space bar types every
//   mark; N, S, W, E select the hemisphere in either keyboard layout);
// - leaving an edit parses it: the value is stored even when out of range,
//   and then the focus goes back to the edit; minutes that are not a number
//   are reported in a message box and the stored value stays as it was.
// Keys with Ctrl or Meta, and keys without text (arrows, Delete, Enter, Tab),
// are left to the edit, so shortcuts and the default button keep working.
class CoordinateEditPair : public QObject {
    Q_OBJECT
  public:
    using StoreFn = std::function<void(double)>;

    // The store functions receive every parsed value (the owner's KoordLat /
    // SearchLat...). The pair filters the edits' events; it does not own them.
    CoordinateEditPair(QLineEdit* latEdit, QComboBox* latBox, StoreFn storeLat, QLineEdit* lonEdit,
                       QComboBox* lonBox, StoreFn storeLon, QObject* parent = nullptr);

    // Called after every character let through (digit, mark or backspace);
    // the search panel resets the favourites name with it.
    void SetCharacterAcceptedHook(std::function<void()> hook) {
        CharacterAccepted = std::move(hook);
    }

    // As on leaving the edit: parse, store, focus back when not valid.
    ParseStatus ParseEdit(QLineEdit* edit);
    // Both edits as on leaving them; true when both are valid. The focus goes
    // to the first edit that is not.
    bool ParseBoth();

    // Entry texts and hemispheres of a point (longitude west positive).
    void Fill(double lat, double lon);

    // Items N/S and W/E; N and E selected.
    static void SetupBoxes(QComboBox* latBox, QComboBox* lonBox);
    // Maximum length, the hint, and no input method (its commits would bypass the filter).
    static void SetupEdit(QLineEdit* edit);
    static QString HintText();
    static QString NotANumberText(const QString& minutes);

    QLineEdit* LatEdit() const { return LatEdit_; }
    QLineEdit* LonEdit() const { return LonEdit_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool FilterKey(QLineEdit* edit, QKeyEvent* event);
    ParseStatus ParseOne(QLineEdit* edit, bool focusIfBad);
    void ReportNotANumber(QLineEdit* edit, const QString& minutes);
    CoordKind KindOf(const QLineEdit* edit) const;
    QComboBox* BoxOf(const QLineEdit* edit) const;

    QLineEdit* LatEdit_;
    QComboBox* LatBox_;
    StoreFn StoreLat;
    QLineEdit* LonEdit_;
    QComboBox* LonBox_;
    StoreFn StoreLon;
    std::function<void()> CharacterAccepted;
    bool HandlingExit = false;   // focus moves made while parsing are not exits
    bool ReportPending = false;  // one message for one bad text, not one per event
};
