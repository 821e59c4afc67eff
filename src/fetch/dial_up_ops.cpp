#include "fetch/dial_up_ops.h"

#include <map>
#include <vector>

bool DialConnection(MainState& state, const std::string& entry, const std::string& user,
                    const std::string& password) {
    state.Sink->SetProgressStatus(DialingText);
    DialUpBackend& service = *state.DialUpService;
    std::string handle;
    int code = service.Dial(entry, user, password, handle);
    if (code == 0) return true;
    if (!handle.empty()) service.HangUp(handle);
    std::string text;
    if (service.ErrorText(code, text)) state.Sink->ShowDialError(text);
    return false;
}

void HangUpAll(MainState& state) {
    state.Sink->SetProgressStatus(HangingUpText);
    DialUpBackend& service = *state.DialUpService;
    // A service may list a connection for a moment after it went down, so a
    // handle is retried; one that stays up after that many tries is left.
    constexpr int TriesPerConnection = 5;
    std::map<std::string, int> tries;
    std::vector<std::string> active;
    while (service.ListConnections(active)) {
        // The last one listed, unless it has had its tries.
        auto next = active.rbegin();
        while (next != active.rend() && tries[*next] >= TriesPerConnection) ++next;
        if (next == active.rend()) return;
        ++tries[*next];
        service.HangUp(*next);
    }
}
