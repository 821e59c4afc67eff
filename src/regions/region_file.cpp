#include "regions/region_file.h"

#include <zip.h>

#include <QFile>
#include <QFileInfo>
#include <memory>

#include "regions/region_reader.h"

namespace {

struct ZipClose {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileClose {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

RegionFileResult Failure(RegionFileError error, const QString& name, const QString& detail) {
    RegionFileResult result;
    result.Error = error;
    result.Message = RegionFileMessage(error, name, detail);
    return result;
}

}  // namespace

RegionFileResult ReadKmz(const QByteArray& bytes, const QString& name,
                         const RegionReadOptions& options) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.constData(), bytes.size(), 0, &error);
    std::unique_ptr<zip_t, ZipClose> archive(
        source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr);
    if (!archive) {
        if (source) zip_source_free(source);
        zip_error_fini(&error);
        return Failure(RegionFileError::NotThisFormat, name,
                       QStringLiteral("это не ZIP-архив KMZ"));
    }
    zip_error_fini(&error);
    // The main document is doc.kml by convention; otherwise the first .kml.
    zip_int64_t index = zip_name_locate(archive.get(), "doc.kml", ZIP_FL_NOCASE);
    for (zip_int64_t i = 0; index < 0 && i < zip_get_num_entries(archive.get(), 0); ++i) {
        const char* entry = zip_get_name(archive.get(), i, 0);
        if (entry && QByteArray(entry).toLower().endsWith(".kml")) index = i;
    }
    zip_stat_t stat;
    if (index < 0 || zip_stat_index(archive.get(), index, 0, &stat) != 0)
        return Failure(RegionFileError::NotThisFormat, name, QStringLiteral("в архиве нет KML"));
    if (!(stat.valid & ZIP_STAT_SIZE) || stat.size > static_cast<zip_uint64_t>(options.MaxBytes))
        return Failure(RegionFileError::TooLarge, name,
                       QStringLiteral("KML в архиве слишком велик"));
    std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(archive.get(), index, 0));
    QByteArray kml(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    if (!file ||
        zip_fread(file.get(), kml.data(), stat.size) != static_cast<zip_int64_t>(stat.size))
        return Failure(RegionFileError::Malformed, name,
                       QStringLiteral("KML в архиве не читается"));
    return ReadKml(kml, name, options);
}

RegionFileResult ReadRegionFile(const QString& path, const RegionReadOptions& options) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString suffix = info.suffix().toLower();
    using Reader =
        RegionFileResult (*)(const QByteArray&, const QString&, const RegionReadOptions&);
    Reader reader = nullptr;
    if (suffix == QLatin1StringView("geojson") || suffix == QLatin1StringView("json"))
        reader = ReadGeoJson;
    else if (suffix == QLatin1StringView("kml"))
        reader = ReadKml;
    else if (suffix == QLatin1StringView("kmz"))
        reader = ReadKmz;
    else if (suffix == QLatin1StringView("gpx"))
        reader = ReadGpx;
    if (!reader) return Failure(RegionFileError::UnknownFormat, name, {});

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure(RegionFileError::CannotOpen, name, file.errorString());
    if (file.size() > options.MaxBytes)
        return Failure(
            RegionFileError::TooLarge, name,
            QStringLiteral("%1 байт, можно не больше %2").arg(file.size()).arg(options.MaxBytes));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Failure(RegionFileError::CannotOpen, name, file.errorString());
    return reader(bytes, name, options);
}
