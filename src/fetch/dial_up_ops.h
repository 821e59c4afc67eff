#pragma once
#include <string>

#include "core/main_state.h"

inline constexpr const char* DialingText = "Подключение...";
inline constexpr const char* HangingUpText = "Отключение...";
// The caption of the message box of a failed dial.
inline constexpr const char* DialErrorCaption = "ошибки";

// Dials `entry` through the state's dial-up service and returns when the dial
// is over; true when connected. A failed dial hangs up what it left, and its
// error text is shown once (ShowDialError). The caller goes on either way.
// Runs on a task worker or on the GUI thread (the timer dialog's test button).
bool DialConnection(MainState& state, const std::string& entry, const std::string& user,
                    const std::string& password);

// Hangs up every active dial-up connection, not only ours, listing again after
// each hang-up until none is left. A connection that will not go down ends it
// after a few tries instead of looping for ever.
void HangUpAll(MainState& state);
