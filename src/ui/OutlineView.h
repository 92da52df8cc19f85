#pragma once
// OutlineView: paints a TCustomOutline (rows, tree lines, pictures, text, the current row)
// and forwards mouse and keys to it. The outline owns every piece of state; the view keeps
// only the loaded pictures and the scroll position.
#include <QAbstractScrollArea>
#include <QPixmap>
#include <array>
#include <functional>

#include "browse/Outline.h"

namespace quindle {

class OutlineView : public QAbstractScrollArea, public OutlineObserver {
    Q_OBJECT
public:
    explicit OutlineView(TCustomOutline& outline, QWidget* parent = nullptr);
    ~OutlineView() override;

    TCustomOutline& Outline() const { return outline_; }
    int RowAt(int y) const;          // the row under a viewport y, -1 below the last
    int FirstVisibleRow() const;
    int RowHeight() const { return outline_.ItemHeight; }
    // Errors from operations started by the user (an outline error while changing
    // directory, ...); by default the outline's application error sink.
    std::function<void(const std::string&)> OnError;

    void RowsChanged() override;
    void CurrentRowChanged() override;
    void Invalidate() override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void Guard(const std::function<void()>& f);
    void UpdateFont();
    void UpdateScrollBars();
    void EnsureCurrentVisible();
    const QPixmap& PictureOf(int slot);
    int ColumnWidth();

    TCustomOutline& outline_;
    std::array<QPixmap, 5> pixmaps_;
    std::array<std::string, 5> loaded_;
};

} // namespace quindle
