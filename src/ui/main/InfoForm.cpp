#include "ui/main/InfoForm.h"

#include <QFrame>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/app/Contact.h"
#include "ui/widgets/OvalButton.h"
#include "ui/app/Resources.h"
#include "ui/widgets/URLLabel.h"

namespace quindle {

namespace {
QFont PixelFont(int pixels, bool bold = false) {
    QFont f;
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QLabel* FixedLabel(QWidget* parent, const QString& text, const QRect& r, Qt::Alignment align = Qt::AlignLeft) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(align | Qt::AlignTop);
    if (r.width() > 0)
        l->setGeometry(r);
    else {
        l->move(r.topLeft());
        l->adjustSize();
    }
    return l;
}
} // namespace

TInfoForm::TInfoForm(UiServices& ui, QWidget* parent) : QDialog(parent) {
    InitResources();
    setWindowTitle(QStringLiteral("Information"));
    // A dialog border without title-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(297, 202);
    move(233, 158);
    setFont(PixelFont(11));

    PageControl1 = new QTabWidget(this);
    PageControl1->setGeometry(0, 0, 297, 169);
    TabSheet1 = new QWidget;
    PageControl1->addTab(TabSheet1, QStringLiteral("About..."));
    auto* layout = new QVBoxLayout(TabSheet1);
    layout->setContentsMargins(0, 0, 0, 0);
    Panel1 = new QFrame(TabSheet1);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    Panel1->setBackgroundRole(QPalette::Base);
    layout->addWidget(Panel1);

    Image1 = new QLabel(Panel1);
    Image1->setGeometry(232, 4, 50, 50);
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap(QStringLiteral(":/PROGRAM")));

    // 20 pixels high, not 16: a 17-pixel bold DejaVu Sans needs them for its descent.
    Label1 = FixedLabel(Panel1, QStringLiteral("Quindle"), QRect(11, 6, 209, 20), Qt::AlignHCenter);
    Label1->setFont(PixelFont(17, true));
    Label4 = FixedLabel(Panel1, QString::fromUtf8(kCopyright), QRect(6, 40, 217, 13), Qt::AlignHCenter);
    Label2 = FixedLabel(Panel1, QStringLiteral("Home page:"), QRect(25, 75, 0, 0));
    URLLabel1 = new TURLLabel(ui, Panel1);
    URLLabel1->setGeometry(103, 75, 160, 13);
    URLLabel1->SetCaption(QString::fromLatin1(kHomePage));
    URLLabel1->SetURLType(utHTTP);
    URLLabel1->setCursor(Qt::PointingHandCursor);
    Label3 = FixedLabel(Panel1, QStringLiteral("e-mail:"), QRect(24, 92, 0, 0));
    URLLabel2 = new TURLLabel(ui, Panel1);
    URLLabel2->setGeometry(102, 92, 98, 13);
    URLLabel2->SetCaption(QString::fromLatin1(kAuthorMail));
    URLLabel2->SetURLType(utMailTo);
    URLLabel2->setCursor(Qt::PointingHandCursor);

    OvalButton1 = new TOvalButton(this);
    OvalButton1->setObjectName(QStringLiteral("OvalButton1"));
    OvalButton1->setGeometry(116, 174, 65, 25);
    OvalButton1->SetCaption(QStringLiteral("Close"));
    OvalButton1->SetBevelWidth(2);
    OvalButton1->SetFont(PixelFont(11));
    OvalButton1->setCursor(Qt::ArrowCursor);
    OvalButton1->OnClick = [this](QObject*) { OvalButton1Click(); };
}

void TInfoForm::ShowFirstPage() { PageControl1->setCurrentIndex(0); }

void TInfoForm::OvalButton1Click() { done(mrAbort); }

} // namespace quindle
