#include "support/fake_dial_up.h"

#include <algorithm>

bool FakeDialUp::ListEntries(std::vector<std::string>& names) {
    names.clear();
    if (EntriesFail) return false;
    names = Entries;
    return true;
}

int FakeDialUp::Dial(const std::string& entry, const std::string& user, const std::string& password,
                     std::string& handle) {
    Dials.push_back({entry, user, password});
    handle = "conn:" + entry;
    auto failing = FailingEntries.find(entry);
    if (failing != FailingEntries.end()) return failing->second;
    Active.push_back(handle);
    return 0;
}

void FakeDialUp::HangUp(const std::string& handle) {
    HungUp.push_back(handle);
    if (std::find(Stuck.begin(), Stuck.end(), handle) != Stuck.end()) return;
    Active.erase(std::remove(Active.begin(), Active.end(), handle), Active.end());
}

bool FakeDialUp::ListConnections(std::vector<std::string>& handles) {
    ++ListConnectionCalls;
    handles.clear();
    if (ConnectionsFail) return false;
    handles = Active;
    return true;
}

bool FakeDialUp::ErrorText(int code, std::string& text) {
    auto found = ErrorTexts.find(code);
    if (found == ErrorTexts.end()) return false;
    text = found->second;
    return true;
}
