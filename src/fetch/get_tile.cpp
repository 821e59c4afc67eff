#include "fetch/get_tile.h"

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
    const RequestOutcome outcome = RequestTile(state, tile, !worker.IsTask, status, &failure);
    if (worker.Failures && !Succeeded(outcome)) worker.Failures->Add(failure);
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
    }
    return false;
}
