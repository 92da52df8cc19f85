#pragma once
// TBrowseForm: one disk offline, opened from Package > View.
#include <cstdint>
#include <string>

#include "ui/shared/RecordLinesWindow.h"

class QListWidget;
class QTreeView;

namespace quindle {

class TCatalogueTreeModel;

// A disk offline. With a valid catalogue: its folders as a tree on the left (with their
// totals), the chosen folder's entries on the right (size, date), and the filter finds
// entries of the whole disk; the disk's figures head the window. Without one: the record's
// folders (its sections) on the left, the names of the chosen one on the right, "(all
// folders)" listing every name, and the reason there are no details.
class TBrowseForm : public TRecordLinesWindow {
    Q_OBJECT
public:
    TBrowseForm(AppContext& ctx, UiServices& ui, QWidget* parent = nullptr);

    QListWidget* FolderList = nullptr;  // the record's sections
    QTreeView* FolderTree = nullptr;    // the catalogue's folders
    TCatalogueTreeModel* Tree = nullptr;

    // Lists the disk and shows the window modally.
    void ShowDisk(const std::string& title, const std::string& recordPath);
    bool Load(const std::string& title, const std::string& recordPath);
    QString CountText() const override;
    // Entry 0 is every folder; entry i > 0 is folder i - 1 of the listing.
    void SelectFolder(int entry);
    // Lists the entries of a catalogue folder (0: the root) and makes it the tree's current item.
    void OpenFolder(uint32_t folder);
    uint32_t OpenedFolder() const { return folder_; }

protected:
    void FilterChanged(const QString& text) override;

private:
    void ShowFolderEntries(uint32_t folder);
    uint32_t folder_ = 0;
};

} // namespace quindle
