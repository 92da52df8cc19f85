#pragma once
// TDriveComboBox: the drop-down list of the machine's drives, each with the picture of
// its kind and, except for removable drives, its volume label or network name. This
// class holds the whole state; DriveComboView shows it.
#include <functional>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "browse/TextCase.h"

namespace quindle {

// TTextCase: tcLowerCase or tcUpperCase (browse/TextCase.h).

// Picture of a drive item (resources FLOPPY, HARD, NETWORK, CDROM, RAM).
enum class DriveGlyph { None, Floppy, Hard, Network, CDRom, Ram };

// Told whenever the list is rebuilt or the selected item changes.
class DriveComboObserver {
public:
    virtual ~DriveComboObserver() = default;
    virtual void DriveListChanged() = 0;
    virtual void DriveSelectionChanged() = 0;
};

class TDriveComboBox {
public:
    explicit TDriveComboBox(AppContext& ctx);
    virtual ~TDriveComboBox() = default;
    TDriveComboBox(const TDriveComboBox&) = delete;
    TDriveComboBox& operator=(const TDriveComboBox&) = delete;

    // The control's window is created (or recreated): lists the drives and selects the
    // item of Drive, which fires OnChange.
    void CreateWnd();
    // Empties the list and lists the drives present.
    virtual void BuildList();

    char Drive() const { return drive_; }
    void SetDrive(char d);
    TTextCase TextCase() const { return textCase_; }
    void SetTextCase(TTextCase v);

    int ItemIndex() const { return itemIndex_; }
    const std::vector<std::string>& Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    DriveGlyph Glyph(int index) const { return glyphs_.at(static_cast<size_t>(index)); }
    // The text shown in the closed box: the selected item's, or what the last pick set.
    const std::string& Text() const { return text_; }

    // The user picks item `index` from the drop-down list.
    void UserSelect(int index);

    std::string GetVolumeLabelText(char letter) const;
    std::string GetNetworkShareText(char letter) const;

    // Item height in pixels for a font whose text is fontHeight pixels high.
    static int ItemHeightFor(int fontHeight) { return fontHeight < kGlyphHeight ? kGlyphHeight : fontHeight; }
    static constexpr int kGlyphWidth = 16;
    static constexpr int kGlyphHeight = 11;

    void AddObserver(DriveComboObserver* o);
    void RemoveObserver(DriveComboObserver* o);

    std::function<void(TDriveComboBox&)> OnChange;
    std::function<void(TDriveComboBox&)> OnClick;
    std::function<void(TDriveComboBox&)> OnDropDown;

protected:
    void Click();
    void Change();
    void SelectItem(int index);
    void AddItem(std::string text, DriveGlyph glyph);

private:
    void NotifyList();
    void NotifySelection();

    AppContext& ctx_;
    char drive_ = 0;
    TTextCase textCase_ = tcLowerCase;
    int itemIndex_ = -1;
    std::string text_;
    std::vector<std::string> items_;
    std::vector<DriveGlyph> glyphs_;
    std::vector<DriveComboObserver*> observers_;
};

} // namespace quindle
