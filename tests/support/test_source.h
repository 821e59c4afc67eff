#pragma once
// Sources for tests that mean to fetch nothing. The program's default source
// is the local tile server's port on the loopback, which whatever runs on
// the machine may hold (a slow server there made a window test take minutes);
// a test uses its own scripted server or this one.
//
//     lines[0] = RefusingSource();            // the settings file's source line
//     QVERIFY(!ReachesDefaultSource(state.SourceStringCopy()) || state.ModeCacheOnly);
#include <string>

// "http://127.0.0.1:PORT/kh?v=9&n=404&t=t" on a port this process keeps bound
// and never listens on: every request there is refused at once.
std::string RefusingSource();

// True when a request built from `source` would go to the default source's
// port on the loopback.
bool ReachesDefaultSource(const std::string& source);
