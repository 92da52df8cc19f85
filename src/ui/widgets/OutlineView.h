#pragma once
// OutlineView: paints a TCustomOutline (rows, tree lines, pictures, text, the current row)
// and forwards mouse and keys to it. The outline owns every piece of state; the view keeps
// only the loaded pictures, the scroll position and the widest row's width.
//
// A walk changes the tree once per folder, tens of thousands of times a second. A change
// costs the view O(1): it is drawn with the next frame, and frames come at most kFrameMs
// apart while changes keep coming (an isolated change is drawn at once). A frame sets the
// scroll bars and works out the widest row from widths measured once per row.
#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
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

    // Draws a held frame now, widest row included, so that the scroll bars show the
    // outline as it is.
    void FlushFrame();

    void RowsChanged() override;
    static constexpr int kFrameMs = 40;    // 25 frames a second at most
    static constexpr int kWidestMs = 250;  // the widest row worked out 4 times a second at most
    void CurrentRowChanged() override;
    void Invalidate() override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
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
    void UpdateVerticalRange(); // O(1): rows, page, policies
    void EnsureCurrentVisible();
    const QPixmap& PictureOf(int slot);
    int ColumnWidth();
    int TextWidthOf(TOutlineNode* node);
    // At least the width of `text` (UTF-8) without shaping it: a printable ASCII character
    // is at most its own advance plus a pixel (rounding, kerning), every other byte at most
    // the font's widest glyph; -1 for a text holding a control character (a tab, a line
    // break), whose width only shaping tells.
    int TextWidthBound(const std::string& text) const;
    void ForgetTextWidths();
    // Asks for a frame: at once when the last one is older than kFrameMs, else when it is
    // due (changes in between are drawn together).
    void RequestFrame();
    void Frame();


    TCustomOutline& outline_;
    std::array<QPixmap, 5> pixmaps_;
    std::array<std::string, 5> loaded_;
    std::array<int, 128> asciiAdvance_{}; // the font's advance of each ASCII character
    int widestGlyph_ = 1;                 // the font's widest glyph
    int widest_ = 0;          // the widest visible row in pixels, indentation included
    bool widestStale_ = true; // rows came, went or changed since widest_ was worked out
    bool rowsStale_ = true;   // the scroll range waits for the next frame
    bool currentStale_ = false; // keeping the current row in sight waits for the next frame
    QTimer frameTimer_;       // a held frame
    QElapsedTimer sinceFrame_;
    QElapsedTimer sinceWidest_;
};

} // namespace quindle
