#include "ui/widgets/URLLabel.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include "ui/ScriptedUi.h"

using namespace quindle;

namespace {

void ClickAt(QWidget* w, QPoint p, QPoint releaseAt) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(releaseAt), QPointF(w->mapToGlobal(releaseAt)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

QString OpenedFor(TURLType type, const QString& caption) {
    test::ScriptedUi ui;
    TURLLabel label(ui);
    label.SetURLType(type);
    label.SetCaption(caption);
    label.resize(200, 20);
    ClickAt(&label, QPoint(2, 2), QPoint(3, 3));
    return ui.opened.size() == 1 ? ui.opened[0] : QStringLiteral("<%1 opens>").arg(ui.opened.size());
}

} // namespace

TEST(URLLabel, ClickOpensTheCaptionWithItsSchemePrefix) {
    EXPECT_EQ(OpenedFor(utHTTP, "quindle.example.org"), "http://quindle.example.org");
    EXPECT_EQ(OpenedFor(utHTTP, "HTTP://Example.org"), "HTTP://Example.org");
    EXPECT_EQ(OpenedFor(utHTTP, "see http://x.org"), "see http://x.org");
    // A caption naming its own scheme is never given a second one.
    EXPECT_EQ(OpenedFor(utHTTP, "https://example.org"), "https://example.org");
    EXPECT_EQ(OpenedFor(utHTTP, "ftp://files.example.org"), "ftp://files.example.org");
    EXPECT_EQ(OpenedFor(utHTTP, "example.org:8080/x"), "http://example.org:8080/x");
    EXPECT_EQ(OpenedFor(utFTP, "files.example.org"), "ftp://files.example.org");
    EXPECT_EQ(OpenedFor(utFTP, "Ftp://files.example.org"), "Ftp://files.example.org");
    EXPECT_EQ(OpenedFor(utMailTo, "author@example.org"), "mailto:author@example.org");
    EXPECT_EQ(OpenedFor(utMailTo, "MailTo:author@example.org"), "MailTo:author@example.org");
    EXPECT_EQ(OpenedFor(utHTTP, ""), "http://");
}

TEST(URLLabel, OnlyALeftClickInsideOpensAndOnClickRunsFirst) {
    test::ScriptedUi ui;
    TURLLabel label(ui);
    EXPECT_EQ(label.URLType(), utHTTP);
    EXPECT_FALSE(label.Caption().isEmpty());
    EXPECT_FALSE(label.Caption().contains("http://")); // so a click shows the prefix rule at work
    label.SetAutoSize(false);
    label.resize(200, 20);
    std::vector<QString> order;
    label.OnClick = [&](QObject*) { order.push_back("OnClick, opened " + QString::number(ui.opened.size())); };

    ClickAt(&label, QPoint(5, 5), QPoint(500, 5)); // released outside
    EXPECT_TRUE(ui.opened.empty());
    QMouseEvent right(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::RightButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&label, &right);
    EXPECT_TRUE(ui.opened.empty());

    ClickAt(&label, QPoint(5, 5), QPoint(6, 6));
    ASSERT_EQ(ui.opened.size(), 1u);
    EXPECT_EQ(ui.opened[0], "http://" + label.Caption());
    EXPECT_EQ(order, (std::vector<QString>{"OnClick, opened 0"}));
}

TEST(URLLabel, HoverColoursFontAndCursor) {
    test::ScriptedUi ui;
    QWidget parent;
    TURLLabel* label = new TURLLabel(ui, &parent);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), parent.palette().color(QPalette::WindowText));

    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(label, &enter);
    EXPECT_EQ(label->palette().color(label->foregroundRole()), QColor(0, 0, 255));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(label, &leave);
    EXPECT_EQ(label->palette().color(label->foregroundRole()), QColor(0, 0, 0));

    // Underlined only, and it keeps its own font when the window changes its font.
    EXPECT_TRUE(label->font().underline());
    EXPECT_FALSE(label->font().bold());
    QFont bold = parent.font();
    bold.setBold(true);
    parent.setFont(bold);
    EXPECT_FALSE(label->font().bold());
    EXPECT_TRUE(label->font().underline());

    // The pointing hand from the resources, its hot spot on the black fingertip.
    const QCursor cursor = label->cursor();
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(5, 0));
    const QImage hand = cursor.pixmap().toImage();
    ASSERT_EQ(hand.size(), QSize(32, 32));
    EXPECT_EQ(hand.pixel(5, 0), qRgb(0, 0, 0));
    EXPECT_EQ(qAlpha(hand.pixel(0, 0)), 0);
    EXPECT_EQ(hand.pixel(5, 3), qRgb(255, 255, 255)); // inside the finger
}
