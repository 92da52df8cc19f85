#pragma once
// The user's settings: QSettings "Tavrel"/"Quindle" in the user scope
// (~/.config/Tavrel/Quindle.conf). Group "Setup" holds the integers "top", "left" and
// "Display"; group "Drives" the user's own drive mapping.
#include <optional>
#include <vector>

#include "archives/Archives.h"
#include "settings/UserSettings.h" // the Drives group, shared with quindle-cli

namespace quindle {

// An integer of group Setup; nullopt when missing or not an integer. Reading creates nothing.
std::optional<int> ReadSetupInt(const char* name);
// The archives a new disk's walk lists, as the package dialog last chose it: group
// "Memorize", key "Archives" ("none", "indexed", "all"); indexed when missing or unknown.
ArchiveMode ReadArchiveChoice();
void WriteArchiveChoice(ArchiveMode mode);
// Whether a new disk's walk stores checksums, as the package dialog last chose it: group
// "Memorize", key "Checksums" (true or false); false when missing.
bool ReadChecksumChoice();
void WriteChecksumChoice(bool on);
// Writes the three values of group Setup, in the order top, left, Display.
void WriteSetup(int top, int left, int display);

} // namespace quindle
