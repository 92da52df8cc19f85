#include "ui/package/CollectForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>

#include "catalogue/DiskCatalogue.h"
#include "changes/DiskChanges.h"
#include "package/Package.h"
#include "ui/lists/EntryListWindow.h"
#include "platform/Errors.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "records/Memorizer.h"
#include "ui/widgets/WalkTicker.h"
#include "records/PackageTitles.h"
#include "ui/shared/CatalogueModels.h"
#include "ui/main/MainForm.h"
#include "ui/widgets/OvalButton.h"
#include "ui/browse/BrowseForm.h"
#include "ui/app/Settings.h"
#include "ui/shared/Text.h"

#include <vector>

namespace quindle {

namespace {

constexpr int kItemHeight = 13; // pixels per disk list entry
// An entry's text as the record holds it, bytes that are not UTF-8 included.
constexpr int kTextBytesRole = Qt::UserRole + 1;

// Gives every disk list entry the list's fixed height.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(kItemHeight);
        return s;
    }
};

QFont DialogFont() {
    QFont f;
    f.setPixelSize(11);
    return f;
}

// The text of an edit as the record stores it.
std::string EditText(const QLineEdit* e) { return FromQ(e->text()); }

} // namespace

TCollectForm::TCollectForm(AppContext& ctx, UiServices& ui, TMainForm& main, QWidget* parent)
    : QDialog(parent), CollectionFileList(ctx), ctx_(ctx), ui_(ui), main_(main) {
    setObjectName(QStringLiteral("CollectForm"));
    setWindowTitle(QStringLiteral("Collection Information"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(298, 350);
    setFont(DialogFont());
    CreateControls();

    SetPackageListerRule(CollectionFileList);
    CollectionFileList.SetMultiSelect(true);

    // A missing or non-integer value leaves the design choice, "Titles".
    SetDisplayIndex(ReadSetupInt("Display").value_or(0));
    RefreshDiskList();
}

TCollectForm::~TCollectForm() { QApplication::instance()->removeEventFilter(this); }

void TCollectForm::CreateControls() {
    DisplayMode = new QGroupBox(QStringLiteral(" Display : "), this);
    DisplayMode->setObjectName(QStringLiteral("DisplayMode"));
    DisplayMode->setGeometry(4, 0, 289, 41);
    DisplayTitles = new QRadioButton(QStringLiteral("Titles"), DisplayMode);
    DisplayTitles->setGeometry(8, 17, 136, 17);
    DisplaySerials = new QRadioButton(QStringLiteral("Volume Serials"), DisplayMode);
    DisplaySerials->setGeometry(152, 17, 130, 17);
    displayGroup_ = new QButtonGroup(this);
    displayGroup_->addButton(DisplayTitles, 0);
    displayGroup_->addButton(DisplaySerials, 1);
    connect(displayGroup_, &QButtonGroup::idClicked, this, [this](int) { DisplayModeClick(); });

    CollectionLB = new QListWidget(this);
    CollectionLB->setObjectName(QStringLiteral("CollectionLB"));
    CollectionLB->setGeometry(5, 46, 289, 113);
    CollectionLB->setFrameShape(QFrame::NoFrame);
    CollectionLB->setSelectionMode(QAbstractItemView::SingleSelection);
    CollectionLB->setUniformItemSizes(true);
    CollectionLB->setItemDelegate(new FixedHeightDelegate(CollectionLB));
    QPalette pal = CollectionLB->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
    CollectionLB->setPalette(pal);
    // A click anywhere in the list shows the highlighted disk, also a click beside the
    // entries (see eventFilter); moving the highlight with the keys does the same.
    connect(CollectionLB, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && CollectionLB->item(row)->isSelected()) CollectionLBClick();
    });

    CollectionPopMenu = new QMenu(this);
    CollectionPopMenu->setObjectName(QStringLiteral("CollectionPopMenu"));
    Select1 = CollectionPopMenu->addAction(QStringLiteral("Select all disks"));
    Select1->setObjectName(QStringLiteral("Select1"));
    Invertselection1 = CollectionPopMenu->addAction(QStringLiteral("Invert selection"));
    Invertselection1->setObjectName(QStringLiteral("Invertselection1"));
    connect(Select1, &QAction::triggered, this, [this] { Select1Click(); });
    connect(Invertselection1, &QAction::triggered, this, [this] { Invertselection1Click(); });
    CollectionLB->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(CollectionLB, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { CollectionPopMenu->popup(CollectionLB->viewport()->mapToGlobal(p)); });

    GroupBox1 = new QGroupBox(QStringLiteral(" Information : "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(4, 161, 289, 171);
    const char* captions[] = {"Title", "Description", "Additional info", "Volume Serial", "Date / Time"};
    QLabel** labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5};
    QLineEdit** edits[] = {&Edit1, &Edit2, &Edit3, &Edit4, &Edit5};
    for (int i = 0; i < 5; ++i) {
        auto* l = new QLabel(QString::fromLatin1(captions[i]), GroupBox1);
        l->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        l->move(8, 23 + 24 * i);
        l->adjustSize();
        auto* e = new QLineEdit(GroupBox1);
        e->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
        e->setGeometry(86, 19 + 24 * i, 195, 21);
        *labels[i] = l;
        *edits[i] = e;
    }
    // The labels share the 78 pixels left of the edits; a wide system font is made
    // smaller until the longest caption fits.
    QFont labelFont = DialogFont();
    while (labelFont.pixelSize() > 8 &&
           QFontMetrics(labelFont).horizontalAdvance(QStringLiteral("Additional info")) > 76)
        labelFont.setPixelSize(labelFont.pixelSize() - 1);
    for (QLabel* l : {Label1, Label2, Label3, Label4, Label5}) {
        l->setFont(labelFont);
        l->adjustSize();
    }
    for (QLineEdit* e : {Edit4, Edit5}) {
        e->setEnabled(false);
        e->setReadOnly(true);
    }

    auto makeButton = [this](const char* name, const QString& caption, int left) {
        auto* b = new TOvalButton(GroupBox1);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(left, 140, 73, 26);
        b->SetCaption(caption);
        b->setCursor(Qt::PointingHandCursor);
        return b;
    };
    AbortButton = makeButton("AbortButton", QStringLiteral("Abort"), 123);
    AbortButton->OnClick = [this](QObject*) { AbortButtonClick(); };
    ActionButton = makeButton("ActionButton", QStringLiteral("Add"), 207);
    ActionButton->OnClick = [this](QObject*) { ActionButtonClick(); };
    // View only, where Abort is not shown: the highlighted disk's folders and names.
    BrowseButton = makeButton("BrowseButton", QStringLiteral("Browse..."), 123);
    BrowseButton->setToolTip(QStringLiteral("List the folders and names of the highlighted disk"));
    BrowseButton->OnClick = [this](QObject*) { BrowseButtonClick(); };
    BrowseButton->hide();
    BrowseForm = new TBrowseForm(ctx_, ui_, this);
    // Where Abort stands in the other modes: two short lines of the highlighted disk's volume.
    FiguresLabel = new QLabel(GroupBox1);
    FiguresLabel->setObjectName(QStringLiteral("FiguresLabel"));
    FiguresLabel->setGeometry(8, 139, 112, 28);
    FiguresLabel->setTextFormat(Qt::PlainText);
    FiguresLabel->hide();

    ArchivesLabel = new QLabel(QStringLiteral("Archives on the disk:"), this);
    ArchivesLabel->setObjectName(QStringLiteral("ArchivesLabel"));
    ArchivesLabel->setGeometry(8, 12, 281, 17);
    ArchivesBox = new QComboBox(this);
    ArchivesBox->setObjectName(QStringLiteral("ArchivesBox"));
    ArchivesBox->setGeometry(8, 32, 281, 22);
    // Item i is ArchiveMode i.
    ArchivesBox->addItem(QStringLiteral("Files only, not opened"));
    ArchivesBox->addItem(QStringLiteral("List those that read fast (zip, 7z, ISO...)"));
    ArchivesBox->addItem(QStringLiteral("List every archive (slower)"));
    ArchivesBox->setToolTip(QStringLiteral(
        "Which archives have their files listed in the disk's catalogue, for Find files, Browse and the lists of "
        "copies. Zip, 7z, rar, cab and ISO images keep an index and list fast; compressed tarballs are read "
        "whole, up to 64 MiB unless every archive is listed."));
    ArchivesBox->setCurrentIndex(static_cast<int>(ReadArchiveChoice()));
    QObject::connect(ArchivesBox, &QComboBox::activated, this,
                     [](int i) { WriteArchiveChoice(static_cast<ArchiveMode>(i)); });
    ArchivesLabel->hide();
    ArchivesBox->hide();
    ChecksumsBox = new QCheckBox(QStringLiteral("Checksums"), this);
    ChecksumsBox->setObjectName(QStringLiteral("ChecksumsBox"));
    ChecksumsBox->setGeometry(8, 58, 281, 20);
    ChecksumsBox->setToolTip(QStringLiteral(
        "Store the checksum of every file's content, to verify the disk later and to find copies whatever their "
        "names. Every byte of the disk is read: it takes as long as copying the disk."));
    ChecksumsBox->setChecked(ReadChecksumChoice());
    QObject::connect(ChecksumsBox, &QCheckBox::clicked, this, [](bool on) { WriteChecksumChoice(on); });
    ChecksumsBox->hide();

    ProgressStatusBar = new QStatusBar(this);
    ProgressStatusBar->setObjectName(QStringLiteral("ProgressStatusBar"));
    ProgressStatusBar->setGeometry(0, 333, 298, 17);
    ProgressStatusBar->setSizeGripEnabled(false);

    // The dialog sees the key releases of all its controls first.
    QApplication::instance()->installEventFilter(this);
}

// ---- modes ----------------------------------------------------------------------------

void TCollectForm::PrepareMode(Mode mode) {
    ClearInfoEdits();
    const bool editable = mode == Mode::Add || mode == Mode::Update;
    for (QLineEdit* e : {Edit1, Edit2, Edit3}) e->setEnabled(editable);
    AbortButton->SetCaption(QStringLiteral("Close"));
    AbortButton->setVisible(mode != Mode::View);
    BrowseButton->setVisible(mode == Mode::View);
    FiguresLabel->clear();
    FiguresLabel->setVisible(mode == Mode::View);
    DisplayMode->setVisible(mode != Mode::Add);
    CollectionLB->setVisible(mode != Mode::Add);
    ArchivesLabel->setVisible(mode == Mode::Add);
    ArchivesBox->setVisible(mode == Mode::Add);
    ChecksumsBox->setVisible(mode == Mode::Add);
    switch (mode) {
    case Mode::View: {
        ActionButton->SetCaption(QStringLiteral("Close"));
        GroupBox1->setTitle(QStringLiteral("Information:"));
        // The count of the list as it stands, before the refresh.
        setWindowTitle(QStringLiteral("Package Information %1 item(s)").arg(CollectionLB->count()));
        RefreshDiskList();
        break;
    }
    case Mode::Add: {
        ActionButton->SetCaption(QStringLiteral("Add"));
        GroupBox1->setTitle(QStringLiteral("Please fill in the fields..."));
        const char d = main_.DriveComboBox1.Drive();
        const QString letter = d ? QString(QChar(d).toUpper()) : QString();
        setWindowTitle(QStringLiteral("Add a new disk ") + letter + QStringLiteral(":") +
                       QStringLiteral(" to the package"));
        break;
    }
    case Mode::Update:
        ActionButton->SetCaption(QStringLiteral("Change"));
        GroupBox1->setTitle(QStringLiteral("Please make the change here..."));
        setWindowTitle(QStringLiteral("Update disks' information"));
        RefreshDiskList();
        break;
    case Mode::Remove:
        ActionButton->SetCaption(QStringLiteral("Remove"));
        GroupBox1->setTitle(QStringLiteral("Information:"));
        setWindowTitle(QStringLiteral("Remove a disk from the package"));
        RefreshDiskList();
        break;
    }
}

int TCollectForm::DisplayIndex() const {
    if (DisplayTitles->isChecked()) return 0;
    if (DisplaySerials->isChecked()) return 1;
    return -1;
}

void TCollectForm::SetDisplayIndex(int index) {
    index = index < -1 ? -1 : (index > 1 ? 1 : index);
    if (index < 0) {
        // An exclusive group cannot show "no choice" otherwise.
        displayGroup_->setExclusive(false);
        DisplayTitles->setChecked(false);
        DisplaySerials->setChecked(false);
        displayGroup_->setExclusive(true);
    } else {
        (index == 0 ? DisplayTitles : DisplaySerials)->setChecked(true);
    }
}

// ---- the disk list ------------------------------------------------------------------------

void TCollectForm::RefreshDiskList() {
    if (DisplayIndex() == 0)
        ListDisksByTitle();
    else
        ListDisksBySerial();
    MarkConnectedDisks();
}

void TCollectForm::MarkConnectedDisks() {
    const std::vector<ConnectedDisk> connected = ConnectedDisks(ctx_.platform, CollectionFileList.Items());
    for (int i = 0; i < CollectionLB->count() && i < CollectionFileList.Count(); ++i) {
        QListWidgetItem* item = CollectionLB->item(i);
        char letter = 0;
        for (const ConnectedDisk& d : connected)
            if (d.recordFile == CollectionFileList.Item(i)) letter = d.letter;
        QFont font = item->font();
        font.setBold(letter != 0);
        item->setFont(font);
        item->setToolTip(letter ? QStringLiteral("In drive %1:").arg(QChar(letter)) : QString());
    }
}

bool TCollectForm::DiskConnected(int i) const { return i >= 0 && i < CollectionLB->count() && CollectionLB->item(i)->font().bold(); }

void TCollectForm::ListDisksBySerial() {
    CollectionLB->clear();
    CollectionFileList.SetDirectory(ctx_.PackageFolder);
    CollectionFileList.RefreshList();
    for (const std::string& name : CollectionFileList.Items()) {
        const std::string serial = SerialOfRecordName(name);
        auto* item = new QListWidgetItem(ToQ(serial));
        item->setData(kTextBytesRole, QByteArray::fromStdString(serial));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        CollectionLB->addItem(item);
    }
    CheckAllDisks();
}

void TCollectForm::ListDisksByTitle() {
    const Cursor saved = ctx_.ScreenCursor();
    ctx_.SetCursor(Cursor::HourGlass);
    QString error;
    try {
        ListDisksBySerial();
        if (CollectionLB->count() > 0) {
            const auto& names = CollectionFileList.Items();
            for (size_t i = 0; i < names.size() && static_cast<int>(i) < CollectionLB->count(); ++i) {
                const std::string path = ctx_.PackageFolder + names[i];
                if (!ctx_.platform.FileExists(path)) continue;
                try {
                    const std::string title = titleReader_.Read(path, ctx_.InfoSection, "Title");
                    // A disk without a title keeps its volume serial as its text.
                    if (!title.empty()) {
                        QListWidgetItem* item = CollectionLB->item(static_cast<int>(i));
                        item->setText(ToQ(title));
                        item->setData(kTextBytesRole, QByteArray::fromStdString(title));
                    }
                } catch (const EFileError& e) {
                    // One record that cannot be read keeps its serial and hides no other disk.
                    ctx_.Log(e.what());
                }
            }
        }
    } catch (const std::exception& e) {
        error = ToQ(e.what());
    }
    ctx_.SetCursor(saved);
    CheckAllDisks();
    if (!error.isEmpty()) ui_.ShowError(this, error);
}

void TCollectForm::CheckAllDisks() {
    for (int i = 0; i < CollectionLB->count(); ++i) CollectionLB->item(i)->setCheckState(Qt::Checked);
}

void TCollectForm::ShowDiskInfo(const std::string& fileName) {
    const TIniFile32 store(ctx_.PackageFolder + fileName);
    const std::string& s = ctx_.InfoSection;
    Edit1->setText(ToQ(store.ReadString(s, "Title", "")));
    Edit2->setText(ToQ(store.ReadString(s, "Description", "")));
    Edit3->setText(ToQ(store.ReadString(s, "Additional", "")));
    Edit4->setText(ToQ(store.ReadString(s, "Volume Serial", "")));
    Edit5->setText(ToQ(store.ReadString(s, "Memorization Date", "")));
}

void TCollectForm::ClearInfoEdits() {
    for (QLineEdit* e : {Edit1, Edit2, Edit3}) e->clear();
    for (QLineEdit* e : {Edit4, Edit5}) e->setText(QStringLiteral("No need to fill"));
}

int TCollectForm::DiskCount() const { return CollectionLB->count(); }
QString TCollectForm::DiskText(int i) const { return CollectionLB->item(i)->text(); }
std::string TCollectForm::DiskTextBytes(int i) const {
    const QVariant bytes = CollectionLB->item(i)->data(kTextBytesRole);
    return bytes.isValid() ? bytes.toByteArray().toStdString() : FromQ(DiskText(i));
}
bool TCollectForm::DiskChecked(int i) const { return CollectionLB->item(i)->checkState() == Qt::Checked; }
std::string TCollectForm::DiskFileName(int i) {
    return i >= 0 && i < CollectionFileList.Count() ? CollectionFileList.Item(i) : std::string();
}

int TCollectForm::HighlightedIndex() const {
    const auto selected = CollectionLB->selectedItems();
    return selected.isEmpty() ? -1 : CollectionLB->row(selected.first());
}

QString TCollectForm::StatusText() const { return ProgressStatusBar->currentMessage(); }

void TCollectForm::SetStatus(const QString& text) {
    if (text.isEmpty())
        ProgressStatusBar->clearMessage();
    else
        ProgressStatusBar->showMessage(text);
    ProgressStatusBar->repaint();
}

// ---- handlers -------------------------------------------------------------------------------

void TCollectForm::DisplayModeClick() { RefreshDiskList(); }

void TCollectForm::NoHighlightedDisk() {
    ui_.MessageDlg(this, QStringLiteral("Please, select a disk in the list first."), QStringLiteral("No disk selected"),
                   MsgIcon::Exclamation, MsgButtons::Ok);
}

void TCollectForm::CollectionLBClick() {
    const int i = HighlightedIndex();
    if (i < 0 || i >= CollectionFileList.Count()) {
        NoHighlightedDisk();
        return;
    }
    try {
        ShowDiskInfo(CollectionFileList.Item(i));
    } catch (const std::exception& e) {
        ui_.ShowError(this, ToQ(e.what()));
    }
    if (ActionButton->Caption() == QStringLiteral("Close")) ShowDiskFigures(CollectionFileList.Item(i));
}

void TCollectForm::ShowDiskFigures(const std::string& fileName) {
    // The header alone: a small block, whatever the disk's size.
    const DiskCatalogueHeader disk = OpenDiskCatalogueHeader(ctx_.PackageFolder + fileName, ctx_.InfoSection);
    if (disk.header) {
        const DiskFigures& f = disk.header->figures;
        SetStatus(FiguresSummary(f));
        ProgressStatusBar->setToolTip(FiguresText(f));
        FiguresLabel->setText(VolumeText(f));
        FiguresLabel->setToolTip(FiguresText(f));
        // A long file system name or a big disk: smaller until both lines fit.
        QFont font = DialogFont();
        const QStringList lines = FiguresLabel->text().split(QLatin1Char('\n'));
        const auto widest = [&](const QFont& ft) {
            int w = 0;
            for (const QString& l : lines) w = std::max(w, QFontMetrics(ft).horizontalAdvance(l));
            return w;
        };
        while (font.pixelSize() > 8 && widest(font) > FiguresLabel->width()) font.setPixelSize(font.pixelSize() - 1);
        FiguresLabel->setFont(font);
    } else {
        SetStatus(QStringLiteral("No details until memorized again"));
        ProgressStatusBar->setToolTip(NoDetailsText(disk.problem));
        FiguresLabel->clear();
        FiguresLabel->setToolTip(NoDetailsText(disk.problem));
    }
}

void TCollectForm::BrowseButtonClick() {
    const int i = HighlightedIndex();
    if (i < 0 || i >= CollectionFileList.Count()) {
        NoHighlightedDisk();
        return;
    }
    BrowseForm->ShowDisk(DiskTextBytes(i), ctx_.PackageFolder + CollectionFileList.Item(i));
}

void TCollectForm::Select1Click() { CheckAllDisks(); }

void TCollectForm::Invertselection1Click() {
    for (int i = 0; i < CollectionLB->count(); ++i) {
        QListWidgetItem* item = CollectionLB->item(i);
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void TCollectForm::ActionButtonClick() {
    // The button is enabled again by Abort while the walk is still unwinding; a second
    // Add must not start inside the first one.
    if (memorizing_) return;
    const QString mode = ActionButton->Caption();
    if (mode == QLatin1String("Close"))
        CloseDialog();
    else if (mode == QLatin1String("Remove"))
        RemoveDisk();
    else if (mode == QLatin1String("Add"))
        AddDisk();
    else if (mode == QLatin1String("Change"))
        ChangeDisk();
}

void TCollectForm::AbortButtonClick() {
    const QString caption = AbortButton->Caption();
    if (caption == QLatin1String("Abort")) {
        ctx_.AbortFlag = true;
        ActionButton->setEnabled(true);
    } else if (caption == QLatin1String("Close")) {
        CloseDialog();
    }
}

bool TCollectForm::InfoEditsStorable() {
    for (const QLineEdit* e : {Edit1, Edit2, Edit3}) {
        if (UnstorableInfoChar(EditText(e)) == 0) continue;
        ui_.MessageDlg(this,
                       QStringLiteral("The title, description and additional information cannot hold the character "
                                      "\"[\"."),
                       QStringLiteral("Invalid character"), MsgIcon::Exclamation, MsgButtons::Ok);
        return false;
    }
    return true;
}

void TCollectForm::RemoveDisk() {
    if (ui_.MessageDlg(this, QStringLiteral("Are you sure you want to remove the item you have selected?"),
                       QStringLiteral("Confirm the removal!"), MsgIcon::Question, MsgButtons::YesNo) != mrYes)
        return;
    // The highlight as it stands now: taking an entry out moves the list's highlight to
    // the one that moves into its place, which must not be removed with it.
    std::vector<bool> highlighted(static_cast<size_t>(CollectionLB->count()));
    for (int i = 0; i < CollectionLB->count(); ++i) highlighted[static_cast<size_t>(i)] = CollectionLB->item(i)->isSelected();
    {
        // No disk is shown while entries and file names are out of step.
        const QSignalBlocker quiet(CollectionLB);
        int i = 0;
        for (size_t file = 0; file < highlighted.size(); ++file) {
            if (highlighted[file] && static_cast<int>(file) < CollectionFileList.Count()) {
                const std::string record = ctx_.PackageFolder + CollectionFileList.Item(static_cast<int>(file));
                // The catalogue goes with its record; one left behind is never shown.
                if (ctx_.platform.DeleteFile(record)) RemoveDiskCatalogue(record);
                delete CollectionLB->takeItem(i);
            } else {
                ++i;
            }
        }
    }
    RefreshDiskList();
}

void TCollectForm::AddDisk() {
    if (Edit1->text().isEmpty()) {
        ui_.MessageDlg(this, QStringLiteral("Please, fill at least the TITLE field before proceeding!"),
                       QStringLiteral("Empty title !"), MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    if (!InfoEditsStorable()) return;
    AbortButton->SetCaption(QStringLiteral("Abort"));
    bool success = true;
    SetStatus(QStringLiteral("Please, stand by while memorizing..."));
    ctx_.Pump();
    activateWindow();
    setFocus();

    const char d = main_.DriveComboBox1.Drive();
    const std::string serial = d ? GetVolumeSerial(ctx_, d) : std::string();
    const std::string path = RecordPath(ctx_, serial);

    bool proceed = true;
    if (ctx_.platform.FileExists(path))
        proceed = ui_.MessageDlg(this,
                                 QStringLiteral("It seems that that disk has already been memorized!") +
                                     QStringLiteral("\n\r") + QStringLiteral("Memorize anyway?"),
                                 QStringLiteral("Already memorized!"), MsgIcon::Question, MsgButtons::YesNo) == mrYes;
    MemorizeResult result;
    if (proceed) {
        const WalkGuard::Hold walk(main_.Walks, WalkGuard::Walk::Record);
        ActionButton->setEnabled(false);
        memorizing_ = true;
        // The status line and a line of the log count what the walk has done; the log
        // keeps the last count.
        const QString drive = d ? QString(QChar(d).toUpper()) + QStringLiteral(": ") : QString();
        main_.AddToLog(drive);
        QListWidgetItem* line = main_.LastLogLine();
        WalkTicker ticker(ctx_.Progress, true, [this, line, drive](const QString& figures) {
            if (memorizing_) SetStatus(QStringLiteral("Memorizing: ") + figures);
            if (!main_.Closing()) line->setText(drive + figures);
        });
        ticker.Start();
        try {
            if (!d) throw EFileError("No drive selected");
            if (!walk) throw EFileError("Another walk is running");
            // The list of what changed opens in a window of its own.
            result = MemorizeAndCompare(
                ctx_, main_.DirectoryOutline1, main_.FileListBox1, d, serial, path,
                {EditText(Edit1), EditText(Edit2), EditText(Edit3)},
                [&](const Catalogue& before, const Catalogue& now, const CatalogueDiff& diff) {
                    ShowChangesWindow(ctx_, ui_, &main_, EditText(Edit1), before, now, diff);
                },
                WalkOptions{static_cast<ArchiveMode>(ArchivesBox->currentIndex()), ChecksumsBox->isChecked()});
        } catch (const std::exception&) {
            success = false;
        }
        ticker.Stop(); // the status line shows the walk's last figures until the result
        memorizing_ = false;
        ActionButton->setEnabled(true);
    }

    if (main_.Closing()) {
        // The main window closed during the walk: the program ends, nothing more to show.
        done(mrCancel);
        return;
    }
    if (success && proceed && !ctx_.AbortFlag) {
        // What changed goes into the log, and as a second line under the message.
        QString changed;
        // Entries that could not be looked at leave the catalogue without their sizes and
        // dates (the record holds every name): said in the log and under the message.
        if (const std::string line = result.IncompleteLine(); !line.empty()) {
            ctx_.Log(line);
            changed += QStringLiteral("\n") + ToQ(line);
        }
        if (const std::string line = result.ChangesLine(); !line.empty()) {
            ctx_.Log(line);
            changed += QStringLiteral("\n") + ToQ(line);
        }
        ui_.MessageDlg(this, QStringLiteral("Ok, the disk has been memorized!") + changed, QStringLiteral("Done!"),
                       result.Detailed() ? MsgIcon::Information : MsgIcon::Exclamation, MsgButtons::Ok);
        SetStatus(QStringLiteral("Complete!"));
        RefreshDiskList();
    } else {
        ui_.MessageDlg(this, QStringLiteral("Memorizing that disk was not complete."), QStringLiteral("Operation ended!"),
                       MsgIcon::Information, MsgButtons::Ok);
        SetStatus(QStringLiteral("The operation was interrupted!"));
    }
    try {
        main_.FileListBox1.OpenPath("c:\\");
    } catch (const std::exception&) {
    }
    if (closeWhenDone_) {
        closeWhenDone_ = false;
        CloseDialog();
    }
}

void TCollectForm::ChangeDisk() {
    const int i = HighlightedIndex();
    if (i < 0 || i >= CollectionFileList.Count()) {
        NoHighlightedDisk();
        return;
    }
    if (!InfoEditsStorable()) return;
    const std::string path = ctx_.PackageFolder + CollectionFileList.Item(i);
    try {
        WriteDiskInfo(ctx_, path, EditText(Edit4), EditText(Edit5), EditText(Edit1), EditText(Edit2),
                      EditText(Edit3));
    } catch (const std::exception& e) {
        ui_.ShowError(this, ToQ(e.what()));
        return;
    }
    ctx_.Log("Information update complete");
}

// ---- window -------------------------------------------------------------------------------

void TCollectForm::CloseDialog() {
    // Closing waits for a running memorization: the walk runs inside this dialog.
    if (memorizing_) {
        closeWhenDone_ = true;
        return;
    }
    done(mrCancel);
}

void TCollectForm::keyPressEvent(QKeyEvent* event) {
    // Esc closes on its release (see eventFilter), not on the press as dialogs do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TCollectForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        auto* w = qobject_cast<QWidget*>(watched);
        auto* k = static_cast<QKeyEvent*>(event);
        if (w && w->window() == this && k->key() == Qt::Key_Escape && !k->isAutoRepeat()) {
            CloseDialog();
            return true;
        }
    } else if (watched == CollectionLB->viewport() &&
               (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick ||
                event->type() == QEvent::MouseButtonRelease)) {
        auto* m = static_cast<QMouseEvent*>(event);
        if (m->button() != Qt::LeftButton) return QDialog::eventFilter(watched, event);
        const QPoint at = m->position().toPoint();
        const int row = CheckBoxRowAt(at);
        if (event->type() != QEvent::MouseButtonRelease) {
            // A press on a check box is this dialog's alone: the list would otherwise
            // toggle on its own terms and leave the highlight elsewhere.
            checkPressRow_ = row;
            return row >= 0 || QDialog::eventFilter(watched, event);
        }
        const int pressed = checkPressRow_;
        checkPressRow_ = -1;
        if (pressed >= 0) {
            // A click on a check box toggles that mark and is a click on that entry.
            if (row == pressed) {
                QListWidgetItem* item = CollectionLB->item(row);
                item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
                {
                    const QSignalBlocker quiet(CollectionLB);
                    CollectionLB->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
                }
                CollectionLB->viewport()->update();
                CollectionLBClick();
            }
            return true;
        }
        // The press has already moved the highlight to the entry under the pointer.
        CollectionLBClick();
    }
    return QDialog::eventFilter(watched, event);
}

int TCollectForm::CheckBoxRowAt(QPoint viewportPos) const {
    const QModelIndex index = CollectionLB->indexAt(viewportPos);
    if (!index.isValid()) return -1;
    return CheckBoxRect(index.row()).contains(viewportPos) ? index.row() : -1;
}

QRect TCollectForm::CheckBoxRect(int row) const {
    const QModelIndex index = CollectionLB->model()->index(row, 0);
    QStyleOptionViewItem opt;
    opt.initFrom(CollectionLB->viewport());
    opt.rect = CollectionLB->visualRect(index);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.font = CollectionLB->font();
    opt.text = index.data().toString();
    const QStyle* st = CollectionLB->style();
    return st->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, CollectionLB);
}

void TCollectForm::showEvent(QShowEvent* event) {
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TCollectForm::hideEvent(QHideEvent* event) {
    SetStatus(QString());
    ProgressStatusBar->setToolTip(QString());
    QDialog::hideEvent(event);
}

void TCollectForm::closeEvent(QCloseEvent* event) {
    if (memorizing_) {
        closeWhenDone_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace quindle
