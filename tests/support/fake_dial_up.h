#pragma once
// A dial-up service in memory: scripted entries, dial outcomes and active
// connections, with every call recorded.
//
//     FakeDialUp fake;
//     fake.Entries = {"Beeline"};
//     fake.FailingEntries["Beeline"] = 678;
//     state.DialUpService = &fake;
#include <map>
#include <string>
#include <vector>

#include "platform/dial_up.h"

class FakeDialUp : public DialUpBackend {
  public:
    std::vector<std::string> Entries;
    bool EntriesFail = false;
    // Entries whose dial fails with this code.
    std::map<std::string, int> FailingEntries;
    // Error texts by code; a code without one has no text.
    std::map<int, std::string> ErrorTexts;
    // Active connections, by handle; a dial that succeeds adds one.
    std::vector<std::string> Active;
    bool ConnectionsFail = false;
    // Handles that stay listed after a hang-up.
    std::vector<std::string> Stuck;

    struct DialCall {
        std::string Entry, User, Password;
    };
    std::vector<DialCall> Dials;
    std::vector<std::string> HungUp;
    int ListConnectionCalls = 0;

    bool ListEntries(std::vector<std::string>& names) override;
    int Dial(const std::string& entry, const std::string& user, const std::string& password,
             std::string& handle) override;
    void HangUp(const std::string& handle) override;
    bool ListConnections(std::vector<std::string>& handles) override;
    bool ErrorText(int code, std::string& text) override;
};
