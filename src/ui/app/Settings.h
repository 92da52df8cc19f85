#pragma once
// The user's settings: QSettings "Tavrel"/"Quindle" in the user scope
// (~/.config/Tavrel/Quindle.conf). Group "Setup" holds the integers "top", "left" and
// "Display"; group "Drives" the user's own drive mapping.
#include <optional>
#include <vector>

#include "settings/UserSettings.h" // the Drives group, shared with quindle-cli

namespace quindle {

// An integer of group Setup; nullopt when missing or not an integer. Reading creates nothing.
std::optional<int> ReadSetupInt(const char* name);
// Writes the three values of group Setup, in the order top, left, Display.
void WriteSetup(int top, int left, int display);

} // namespace quindle
