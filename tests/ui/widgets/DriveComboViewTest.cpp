#include "ui/widgets/DriveComboView.h"

#include <QAbstractItemView>
#include <QDir>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

struct DriveCombo : ::testing::Test {
    TempDrive a{'A', std::nullopt, DriveKind::Removable};
    TempDrive c{'C', 1u, DriveKind::Fixed, std::string("System")};
    TempDrive d{'D', std::nullopt, DriveKind::CDRom, std::string("Music & Film")};
    TempDrive r{'R', 3u, DriveKind::RamDisk, std::string("Scratch")};
    AppContext ctx;
    TDriveComboBox model{ctx};
    std::string log;

    void SetUp() override {
        std::vector<DriveInfo> table = {a.Info(), c.Info(), d.Info(), r.Info()};
        DriveInfo net;
        net.letter = 'N';
        net.root = c.path();
        net.kind = DriveKind::Remote;
        net.remoteName = "//server/share";
        table.push_back(net);
        ctx.platform.SetDrives(table);
        ctx.platform.SetCurrentDir("C:\\");
        model.SetTextCase(tcUpperCase);
    }
};

} // namespace

TEST_F(DriveCombo, MirrorsTheModelAndForwardsTheUsersPick) {
    DriveComboView view(model);
    model.CreateWnd();
    model.OnChange = [this](TDriveComboBox&) { log += 'C'; };
    ASSERT_EQ(view.count(), model.Count());
    ASSERT_EQ(view.count(), 5);
    for (int i = 0; i < view.count(); ++i) {
        EXPECT_EQ(view.itemText(i).toStdString(), model.Items()[i]);
        EXPECT_EQ(view.itemIcon(i).pixmap(16, 11).size(), QSize(16, 11)) << i;
    }
    EXPECT_EQ(view.itemText(2), "D: [MUSIC & FILM]");
    EXPECT_EQ(view.currentIndex(), 1);

    // A pick in the open list reaches the model: two change events for a new drive.
    view.show();
    view.showPopup();
    QAbstractItemView* list = view.view();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(4, 0)).center());
    EXPECT_EQ(model.Drive(), 'R');
    EXPECT_EQ(log, "CC");
    log.clear();
    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(model.Drive(), 'N');
    EXPECT_EQ(log, "CC");

    // The model's own changes show without reaching back into it.
    log.clear();
    model.SetDrive('a');
    EXPECT_EQ(view.currentIndex(), 0);
    model.SetTextCase(tcLowerCase);
    EXPECT_EQ(view.itemText(1), "c: [system]");
    EXPECT_EQ(view.currentIndex(), 0);
    EXPECT_EQ(log, "CC");
}

TEST_F(DriveCombo, OpenListDrawsPicturesAndText) {
    DriveComboView view(model);
    model.CreateWnd();
    view.resize(200, view.sizeHint().height());
    view.show();
    view.showPopup();
    QAbstractItemView* list = view.view();
    ASSERT_TRUE(list->isVisible());
    const QRect row0 = list->visualRect(list->model()->index(0, 0));
    EXPECT_GE(row0.height(), 11);

    const QImage shot = list->viewport()->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // The floppy picture: 2 px in, centred; its blank corners show the list's background.
    const QPoint origin(row0.left() + 2, row0.top() + (row0.height() - 11) / 2);
    const QColor base = list->palette().color(QPalette::Base);
    EXPECT_EQ(shot.pixelColor(origin + QPoint(0, 10)), base) << "transparent bottom-left";
    EXPECT_EQ(shot.pixelColor(origin + QPoint(0, 1)), QColor(Qt::black)) << "the drive's outline";
    EXPECT_EQ(shot.pixelColor(origin + QPoint(2, 7)), QColor("#00E000")) << "the drive's light";
    // Nothing is drawn between the picture and the text.
    for (int x = origin.x() + 16; x < row0.left() + 16 + 6; ++x)
        EXPECT_EQ(shot.pixelColor(x, row0.center().y()), base) << x;

    if (const QByteArray dir = qgetenv("QUINDLE_DOCS_DIR"); !dir.isEmpty()) {
        EXPECT_TRUE(list->window()->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath("drive-combo.png")));
    }
}
