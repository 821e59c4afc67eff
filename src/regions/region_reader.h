#pragma once
// What the region file readers share: range checks of the file's points,
// the messages, and the last steps of every read.
#include <QString>

#include "regions/region_file.h"

class RegionReader {
  public:
    RegionReader(const QString& name, const RegionReadOptions& options);

    // A file point (east-positive longitude) in the program's convention;
    // false (and the error set) when it is out of range or one too many.
    bool Point(double lonEast, double lat, ShapePoint& point);

    // Every later error is ignored: the first one is what the user sees.
    void Fail(RegionFileError error, const QString& detail);
    bool Failed() const { return result_.Error != RegionFileError::None; }
    // False once the progress callback has asked to stop.
    bool Progress(qint64 done, qint64 total);

    RegionShape& Shape() { return result_.Shape; }
    void AddPolygon(GeoPolygon polygon);
    void AddLine(GeoPath line);

    // Normalizes the shape, or reports it empty; `kind` names the format.
    RegionFileResult Finish();

    const QString& Name() const { return name_; }

  private:
    QString name_;
    RegionReadOptions options_;
    RegionFileResult result_;
    qint64 points_ = 0;
};

// The message for an error of a file (detail: what exactly went wrong).
QString RegionFileMessage(RegionFileError error, const QString& name, const QString& detail);
