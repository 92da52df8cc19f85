#pragma once
// Package > Find files...: every file of every disk whose name matches what is typed,
// searched as one types. The query runs on a worker thread over a snapshot of the package
// index; each keystroke (or change of a filter) cancels the query before and starts a new
// one. The table is a model over the hits: a row is drawn from the index when it is shown,
// so millions of rows cost 8 bytes each.
#include <QAbstractTableModel>
#include <QDialog>
#include <map>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "index/FileQuery.h"
#include "index/PackageIndex.h"
#include "ui/app/UiServices.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableView;

namespace quindle {

class TOvalButton;
struct FindJob;

class TFileHitsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColDisk, ColPath, ColSize, ColDate, ColKind, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;
    void SetHits(std::shared_ptr<const IndexSnapshot> snapshot, std::vector<FileHit> hits);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // Clicking a header asks the window for that order (the query runs again).
    void sort(int column, Qt::SortOrder order) override;
    std::function<void(FileOrder, bool)> OnSort;

    // Disks in a ready drive now, by serial, with their drive: their rows show in bold, the
    // drive in the tooltip.
    void SetConnected(std::map<std::string, char> connected);
    bool Connected(int row) const;

    const IndexedDisk* Disk(int row) const;
    uint32_t Entry(int row) const { return hits_[static_cast<size_t>(row)].entry; }
    std::string WindowsPath(int row) const;

private:
    std::shared_ptr<const IndexSnapshot> snapshot_;
    std::vector<FileHit> hits_;
    std::map<std::string, char> connected_;
};

class DiskWatch;

class TFindFilesWindow : public QDialog {
    Q_OBJECT
public:
    // `watch` tells which disks are in a drive (the mount watch keeps that table, so no
    // drive is asked for its serial here); null: none is taken for connected.
    TFindFilesWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const DiskWatch* watch = nullptr);
    ~TFindFilesWindow() override;

    QLineEdit* QueryEdit = nullptr;
    QComboBox* KindBox = nullptr;
    QLineEdit* MinSizeEdit = nullptr;
    QLineEdit* MaxSizeEdit = nullptr;
    QLineEdit* AfterEdit = nullptr;
    QLineEdit* BeforeEdit = nullptr;
    QComboBox* DiskBox = nullptr;
    QCheckBox* HiddenBox = nullptr; // "Hidden files": checked finds them too
    QTableView* ResultsView = nullptr;
    QLabel* StatusLabel = nullptr;
    TOvalButton* CopyButton = nullptr;
    TOvalButton* SaveButton = nullptr;
    TOvalButton* CloseButton = nullptr;
    TFileHitsModel* Model = nullptr;

    // Shows the window (again), reading what changed in the package, and puts the focus
    // into the query box.
    void Open();
    // Opens the folder of the current row when its disk is connected, else says which disk
    // to insert.
    void OpenCurrent();
    void CopyPathClick();
    void SaveButtonClick();
    // True while a query runs (tests wait for it).
    bool Busy() const { return running_ > 0; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void StartQuery();
    void Deliver(uint64_t generation, std::shared_ptr<const IndexSnapshot> snapshot, std::vector<FileHit> hits,
                 double ms, QString problems);
    void FillDiskBox();
    void ShowConnected();

    AppContext& ctx_;
    UiServices& ui_;
    QPointer<const DiskWatch> watch_;
    std::shared_ptr<PackageIndex> index_;
    std::shared_ptr<FindJob> current_;
    std::vector<std::string> diskSerials_; // the disk box's entries after "All disks"
    uint64_t generation_ = 0;
    int running_ = 0;
    FileOrder order_ = FileOrder::TitlePath;
    bool descending_ = false;
};

} // namespace quindle
