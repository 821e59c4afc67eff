#include "fetch/get_tile.h"

#include <sys/stat.h>

#include <ctime>

#include "core/map_sources.h"
#include "tilestore/parent_tiles.h"
#include "tilestore/tile_lookup.h"

namespace {

void AddLog(WorkerContext& worker, const std::string& line) {
    if (worker.IsTask && worker.Log) worker.Log->AddLog(line);
}

// The progress window follows every count as it happens.
void Count(MainState& state, std::atomic<int>& counter) {
    ++counter;
    state.Sink->ShowErrorCounts();
}

// The file time of a cached tile that is due to be asked for again.
bool RefreshDue(const MainState& state, const std::string& fileName, int64_t& fileTime) {
    const std::shared_ptr<const MapSource> source = state.ActiveSourceCopy();
    const int days = source ? source->RefreshDays : 0;
    struct stat info {};
    if (days <= 0 || stat(fileName.c_str(), &info) != 0) return false;
    fileTime = info.st_mtime;
    return std::time(nullptr) - fileTime > int64_t{days} * 86400;
}

// A cached tile asked for again. The tile stays as it was unless the
// server sent a new one; true when the Image holds one.
bool Refresh(MainState& state, WorkerContext& worker, jtype& tile, int64_t fileTime) {
    std::string status, failure;
    const RequestOutcome outcome =
        RequestTile(state, tile, !worker.IsTask, status, &failure, worker.Stopping, &fileTime);
    if (worker.Failures && !Succeeded(outcome) && outcome != RequestOutcome::NotModified)
        worker.Failures->Add(failure);
    switch (outcome) {
        case RequestOutcome::Stored:
        case RequestOutcome::NotModified:
            if (outcome == RequestOutcome::NotModified) Count(state, worker.UnchangedTiles);
            return true;
        case RequestOutcome::NotStored:
            Count(state, worker.WriteErrors);
            AddLog(worker, "ошибка записи на диск " + tile.FileName);
            return true;
        case RequestOutcome::NoImagery:
            Count(state, worker.NoImageryTiles);
            AddLog(worker, "нет снимка " + tile.Url);
            break;
        case RequestOutcome::RequestFailed:
        case RequestOutcome::EmptyAnswer:
            Count(state, worker.FetchErrors);
            AddLog(worker, "ошибка при получении " + status + " " + tile.Url);
            break;
        case RequestOutcome::NoEndMarker:
        case RequestOutcome::Undecodable:
            Count(state, worker.BadFileErrors);
            AddLog(worker, "недокачаный файл, не сохранен " + tile.Url);
            break;
    }
    // A failed decode may have left anything in the picture: the kept file again.
    return ReadCachedTile(tile.FileName, *tile.Image) == CachedTile::Valid;
}

}  // namespace

bool GetTile(MainState& state, WorkerContext& worker, jtype& tile) {
    state.Sink->ShowErrorCounts();
    const bool internetOnly = state.ModeInternetOnly;
    const bool cacheOnly = state.ModeCacheOnly;
    const bool buildParents = !worker.IsTask && state.GenerateUpperLayers;

    // The cache folder is shared with the view and other workers: a file
    // that vanishes meanwhile is simply missing, and only the very file that
    // was read is ever deleted.
    bool found = false;
    if (!internetOnly) {
        switch (ReadCachedTile(tile.FileName, *tile.Image)) {
            case CachedTile::Missing:
                break;
            case CachedTile::Broken:
                Count(state, worker.BadFileErrors);
                AddLog(worker, "найден ошибочный файл, удален " + tile.FileName);
                return false;
            case CachedTile::Incomplete:
                AddLog(worker, "найден недокачанный файл, удален " + tile.FileName);
                Count(state, worker.BadFileErrors);
                if (buildParents) BuildParentTile(state, tile.FileName);
                break;
            case CachedTile::Valid:
                found = true;
                if (buildParents) BuildParentTile(state, tile.FileName);
                if (int64_t fileTime = 0; !cacheOnly && RefreshDue(state, tile.FileName, fileTime))
                    return Refresh(state, worker, tile, fileTime);
                break;
        }
    }

    if (!found && !internetOnly && state.UseArchives) {
        found = ReadArchiveTile(state, tile.TileName, *tile.Image);
        if (found && buildParents) BuildParentTile(state, tile.FileName);
    }
    if (found) return true;

    if (cacheOnly) {
        // A task's output draws its own placeholder; a miss there costs the
        // look-up alone, not a rendered picture per tile.
        if (worker.IsTask)
            tile.Image->Clear();
        else
            MakePlaceholderTile(*tile.Image, CaptionNotInCache, tile.TileName);
        return true;
    }

    std::string status, failure;
    const RequestOutcome outcome =
        RequestTile(state, tile, !worker.IsTask, status, &failure, worker.Stopping);
    if (worker.Failures && !Succeeded(outcome) && outcome != RequestOutcome::NoImagery)
        worker.Failures->Add(failure);
    switch (outcome) {
        case RequestOutcome::Stored:
            return true;
        case RequestOutcome::NotStored:
            Count(state, worker.WriteErrors);
            AddLog(worker, "ошибка записи на диск " + tile.FileName);
            return true;
        case RequestOutcome::RequestFailed:
            Count(state, worker.FetchErrors);
            AddLog(worker, "ошибка при получении " + status + " " + tile.Url);
            return false;
        case RequestOutcome::EmptyAnswer:
            Count(state, worker.FetchErrors);
            return false;
        case RequestOutcome::NoEndMarker:
            Count(state, worker.BadFileErrors);
            AddLog(worker, "файл менее 4 байт " + tile.Url);
            return false;
        case RequestOutcome::Undecodable:
            Count(state, worker.BadFileErrors);
            AddLog(worker, "недокачаный файл, не сохранен " + tile.Url);
            return false;
        case RequestOutcome::NoImagery:
            Count(state, worker.NoImageryTiles);
            AddLog(worker, "нет снимка " + tile.Url);
            MakePlaceholderTile(*tile.Image, CaptionNoImagery, tile.TileName);
            return true;
        case RequestOutcome::NotModified:  // only a refresh asks conditionally
            return false;
    }
    return false;
}
