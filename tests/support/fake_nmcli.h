#pragma once
// A stand-in for NetworkManager's nmcli, first on PATH while the object
// lives. It records every call's arguments (and a passwd-file's lines, as
// "SECRET ...") and answers from files beside it:
//   all.txt, active.txt  terse lines of "connection show" [--active]
//   username             the value "-g <type>.username" prints
//   modifycode, upcode   exit statuses of "connection modify" / "up"
//   stopped              present: NetworkManager is not running (status 8)
//
//     FakeNmcli nmcli;
//     nmcli.Set("active.txt", "DSL:3333:pppoe\n");
//     NmcliDialUp service;  // finds the fake on PATH
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

class FakeNmcli {
  public:
    // Three dial-up entries among others: "Beeline: 3G" (gsm, 2222), "DSL"
    // (pppoe, 3333) and "Old modem" (cdma, 5555).
    FakeNmcli();
    ~FakeNmcli();
    FakeNmcli(const FakeNmcli&) = delete;
    FakeNmcli& operator=(const FakeNmcli&) = delete;

    void Set(std::string_view file, std::string_view text) const { Dir.WriteFile(file, text); }
    // One line per call, "[arg][arg]...", then its SECRET lines.
    std::vector<std::string> Calls() const;

  private:
    TempDir Dir;
    std::string OldPath;
};
