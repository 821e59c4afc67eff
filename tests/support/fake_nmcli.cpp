#include "support/fake_nmcli.h"

#include <sys/stat.h>

#include <cstdlib>

namespace {

const char* Script = R"(#!/bin/sh
dir=$(dirname "$0")
for a in "$@"; do printf '[%s]' "$a" >> "$dir/calls.log"; done
echo >> "$dir/calls.log"
prev=
for a in "$@"; do
  if [ "$prev" = passwd-file ]; then sed 's/^/SECRET /' "$a" >> "$dir/calls.log"; fi
  prev=$a
done
if [ "$*" = --version ]; then echo "nmcli tool, version 1.42.4"; exit 0; fi
if [ -e "$dir/stopped" ]; then echo "Error: NetworkManager is not running." >&2; exit 8; fi
case "$*" in
  *"-g "*) cat "$dir/username" 2>/dev/null ;;
  *"connection show --active") cat "$dir/active.txt" 2>/dev/null ;;
  *"connection show") cat "$dir/all.txt" 2>/dev/null ;;
  *"connection modify"*)
    code=$(cat "$dir/modifycode" 2>/dev/null || echo 0)
    if [ "$code" != 0 ]; then echo "Error: Failed to modify connection: not authorized" >&2; fi
    exit "$code" ;;
  *"connection up"*)
    code=$(cat "$dir/upcode" 2>/dev/null || echo 0)
    if [ "$code" != 0 ]; then echo "Error: Connection activation failed: modem busy" >&2; fi
    exit "$code" ;;
esac
exit 0
)";

}  // namespace

FakeNmcli::FakeNmcli() {
    Dir.WriteFile("nmcli", Script);
    chmod(Dir.File("nmcli").c_str(), 0755);
    Dir.WriteFile("all.txt",
                  "Wired connection 1:1111:802-3-ethernet\n"
                  "Beeline\\: 3G:2222:gsm\n"
                  "DSL:3333:pppoe\n"
                  "Office VPN:4444:vpn\n"
                  "Old modem:5555:cdma\n");
    const char* path = std::getenv("PATH");
    OldPath = path ? path : "";
    setenv("PATH", (Dir.Path() + ":" + OldPath).c_str(), 1);
}

FakeNmcli::~FakeNmcli() {
    setenv("PATH", OldPath.c_str(), 1);
}

std::vector<std::string> FakeNmcli::Calls() const {
    std::vector<std::string> lines;
    const std::string all = Dir.ReadFile("calls.log");
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
