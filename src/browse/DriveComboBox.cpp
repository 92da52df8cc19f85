#include "browse/DriveComboBox.h"

#include <algorithm>

#include "platform/CodePage.h"

namespace quindle {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Lower case for a lower-case letter (character code 97 or above), else upper case.
std::string CasedLike(char letter, const std::string& s) {
    return static_cast<unsigned char>(letter) >= 97 ? AnsiLowerCase(s) : AnsiUpperCase(s);
}

} // namespace

TDriveComboBox::TDriveComboBox(AppContext& ctx) : ctx_(ctx) {
    // The drive of the current directory; none for a path without a drive letter.
    const std::string& cur = ctx_.platform.GetCurrentDir();
    if (cur.size() >= 2 && cur[1] == ':' && IsLetter(cur[0])) drive_ = cur[0];
}

void TDriveComboBox::CreateWnd() {
    BuildList();
    SetDrive(drive_);
}

void TDriveComboBox::AddItem(std::string text, DriveGlyph glyph) {
    items_.push_back(std::move(text));
    glyphs_.push_back(glyph);
}

void TDriveComboBox::BuildList() {
    items_.clear();
    glyphs_.clear();
    itemIndex_ = -1;
    text_.clear();
    const uint32_t mask = ctx_.platform.GetLogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if (!(mask & (1u << bit))) continue;
        const char lower = static_cast<char>('a' + bit);
        const char letter = textCase_ == tcUpperCase ? static_cast<char>(UpperByte(lower)) : lower;
        const std::string head = std::string(1, letter) + ": ";
        switch (ctx_.platform.GetDriveType(std::string(1, lower) + ":\\")) {
        case DriveKind::Removable: // no label is read: a floppy drive is not touched
            AddItem(std::string(1, letter) + ":", DriveGlyph::Floppy);
            break;
        case DriveKind::Fixed:
            AddItem(head + GetVolumeLabelText(letter), DriveGlyph::Hard);
            break;
        case DriveKind::Remote:
            AddItem(head + GetNetworkShareText(letter), DriveGlyph::Network);
            break;
        case DriveKind::CDRom:
            AddItem(head + GetVolumeLabelText(letter), DriveGlyph::CDRom);
            break;
        case DriveKind::RamDisk:
            AddItem(head + GetVolumeLabelText(letter), DriveGlyph::Ram);
            break;
        case DriveKind::Unknown:
        case DriveKind::NoRootDir:
            break;
        }
    }
    NotifyList();
}

std::string TDriveComboBox::GetVolumeLabelText(char letter) const {
    // A drive that is not ready has no label: empty brackets, no error.
    const std::string label = ctx_.platform.GetVolumeLabel(letter).value_or(std::string());
    return "[" + CasedLike(letter, label) + "]";
}

std::string TDriveComboBox::GetNetworkShareText(char letter) const {
    if (auto remote = ctx_.platform.GetRemoteName(static_cast<char>(UpperByte(static_cast<unsigned char>(letter)))))
        return CasedLike(letter, *remote);
    return GetVolumeLabelText(letter);
}

void TDriveComboBox::SelectItem(int index) {
    if (index < -1 || index >= Count()) index = -1;
    itemIndex_ = index;
    text_ = index >= 0 ? items_[static_cast<size_t>(index)] : std::string();
    NotifySelection();
}

void TDriveComboBox::SetDrive(char d) {
    if (itemIndex_ >= 0 && UpperByte(static_cast<unsigned char>(d)) == UpperByte(static_cast<unsigned char>(drive_)))
        return;
    if (d == 0) {
        drive_ = 0;
        SelectItem(-1);
    } else {
        const unsigned char u = static_cast<unsigned char>(d);
        drive_ = static_cast<char>(textCase_ == tcUpperCase ? UpperByte(u) : LowerByte(u));
        for (int i = 0; i < Count(); ++i) {
            const std::string& t = items_[static_cast<size_t>(i)];
            if (t.size() >= 2 && t[1] == ':' && LowerByte(static_cast<unsigned char>(t[0])) == LowerByte(u)) {
                SelectItem(i);
                break;
            }
        }
    }
    Change();
}

void TDriveComboBox::SetTextCase(TTextCase v) {
    if (v == textCase_) return;
    textCase_ = v;
    const char remembered = drive_;
    BuildList();
    SetDrive(remembered);
}

void TDriveComboBox::UserSelect(int index) {
    if (index < 0 || index >= Count()) return;
    SelectItem(index);
    Click();
    // The toolkit's selection notice, with no OnSelect handler, reports a change again.
    Change();
}

void TDriveComboBox::Click() {
    if (OnClick) OnClick(*this);
    if (itemIndex_ >= 0) SetDrive(items_[static_cast<size_t>(itemIndex_)][0]);
}

void TDriveComboBox::Change() {
    if (OnChange) OnChange(*this);
}

void TDriveComboBox::AddObserver(DriveComboObserver* o) {
    if (o && std::find(observers_.begin(), observers_.end(), o) == observers_.end()) observers_.push_back(o);
}

void TDriveComboBox::RemoveObserver(DriveComboObserver* o) { std::erase(observers_, o); }

void TDriveComboBox::NotifyList() {
    for (auto* o : std::vector<DriveComboObserver*>(observers_)) o->DriveListChanged();
}

void TDriveComboBox::NotifySelection() {
    for (auto* o : std::vector<DriveComboObserver*>(observers_)) o->DriveSelectionChanged();
}

} // namespace quindle
