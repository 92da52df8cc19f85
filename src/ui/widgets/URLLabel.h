#pragma once
// TURLLabel: a label that behaves as a hyperlink. Underlined, blue while the pointer is
// over it, a pointing-hand cursor; a left click hands its caption, completed with the
// scheme its kind calls for, to the desktop's "open".
#include <QLabel>
#include <QString>
#include <functional>

class QCursor;

namespace quindle {

class UiServices;

enum TURLType { utHTTP, utFTP, utMailTo };

// "http://", "ftp://" or "mailto:".
QString URLPrefix(TURLType type);
// The caption unchanged when it already holds the prefix (any letter case, anywhere),
// else the prefix followed by the caption.
QString URLTarget(TURLType type, const QString& caption);
// The pointing-hand cursor of resource "URLCURSOR_1", hot spot at the fingertip (5, 0).
QCursor URLCursor();

class TURLLabel : public QLabel {
    Q_OBJECT
public:
    explicit TURLLabel(UiServices& ui, QWidget* parent = nullptr);

    TURLType URLType() const { return FURLType; }
    void SetURLType(TURLType v) { FURLType = v; }
    QString Caption() const { return text(); }
    void SetCaption(const QString& v);
    // Sizes the label to its caption whenever the caption changes (on by default).
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool v);
    // Without a background of its own the parent shows through (off by default).
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool v);

    // Runs OnClick, then opens the target.
    void Click();

    std::function<void(QObject* Sender)> OnClick;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetTextColor(const QColor& c);

    UiServices& FUi;
    TURLType FURLType = utHTTP;
    bool FAutoSize = true;
    bool FTransparent = false;
    bool FLeftPressed = false;
};

} // namespace quindle
