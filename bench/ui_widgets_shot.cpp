// Draws a small window with oval buttons in their states and a link label, and saves
// it as docs/widgets.png (or the path given as the first argument) for a look by eye.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "ui/widgets/OvalButton.h"
#include "ui/widgets/URLLabel.h"
#include "ui/app/UiServices.h"

using namespace quindle;

namespace {

class NoShell : public UiServices {
public:
    int MessageDlg(QWidget*, const QString&, const QString&, MsgIcon, MsgButtons) override { return mrOk; }
    int ShowModal(QDialog*) override { return mrNone; }
    void ShellOpen(const QString&) override {}
    void ShowError(QWidget*, const QString&) override {}
    QString GetSaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
};

TOvalButton* MakeButton(QWidget* parent, int x, int y, const QString& caption) {
    auto* b = new TOvalButton(parent);
    b->setGeometry(x, y, 90, 30);
    b->SetBevelWidth(2);
    b->SetCaption(caption);
    return b;
}

void Note(QWidget* parent, int x, int y, const char* text) {
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->move(x, y);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(quindle);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/widgets.png");

    QWidget window;
    window.setFixedSize(420, 250);
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 255));
    window.setPalette(pal);
    window.setAutoFillBackground(true);

    const QImage glyph(QStringLiteral(":/STOPGLYPH"));

    MakeButton(&window, 10, 10, QStringLiteral("&Raised"));
    Note(&window, 10, 42, "raised");
    MakeButton(&window, 110, 10, QStringLiteral("&Down"))->SetDown(true);
    Note(&window, 110, 42, "down");
    MakeButton(&window, 210, 10, QStringLiteral("D&isabled"))->setEnabled(false);
    Note(&window, 210, 42, "disabled");
    MakeButton(&window, 310, 10, QStringLiteral("&Flat"))->SetFlat(true);
    Note(&window, 310, 42, "flat");

    const TButtonLayout layouts[] = {blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom};
    const char* names[] = {"left", "right", "top", "bottom"};
    for (int i = 0; i < 4; ++i) {
        auto* b = MakeButton(&window, 10 + i * 100, 70, QStringLiteral("&Stop"));
        if (layouts[i] == blGlyphTop || layouts[i] == blGlyphBottom) b->resize(90, 50);
        b->SetGlyph(glyph);
        b->SetNumGlyphs(2);
        b->SetLayout(layouts[i]);
        Note(&window, 10 + i * 100, 124, names[i]);
    }
    auto* disabledGlyph = MakeButton(&window, 10, 150, QStringLiteral("Stop"));
    disabledGlyph->SetGlyph(glyph);
    disabledGlyph->SetNumGlyphs(2);
    disabledGlyph->SetLayout(blGlyphLeft);
    disabledGlyph->setEnabled(false);
    auto* pressedGlyph = MakeButton(&window, 110, 150, QStringLiteral("Stop"));
    pressedGlyph->SetGlyph(glyph);
    pressedGlyph->SetNumGlyphs(2);
    pressedGlyph->SetLayout(blGlyphLeft);
    pressedGlyph->SetDown(true);
    auto* thick = MakeButton(&window, 210, 150, QStringLiteral("Wide rim"));
    thick->SetBevelWidth(4);
    thick->SetColor(RGBColor(212, 208, 200));
    auto* blue = MakeButton(&window, 310, 150, QStringLiteral("Colour"));
    blue->SetColor(RGBColor(120, 160, 220));

    NoShell shell;
    auto* link = new TURLLabel(shell, &window);
    link->move(10, 200);
    auto* mail = new TURLLabel(shell, &window);
    mail->SetURLType(utMailTo);
    mail->SetCaption(QStringLiteral("author@quindle.example.org"));
    mail->move(200, 200);
    QPalette hover = mail->palette();
    hover.setColor(QPalette::WindowText, QColor(0, 0, 255));
    mail->setPalette(hover); // as while the pointer is over it

    window.show();
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    if (!shot.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(out), shot.width(), shot.height());
    return 0;
}
