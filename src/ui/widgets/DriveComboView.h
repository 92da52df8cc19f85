#pragma once
// DriveComboView: the owner-drawn combo box that shows a TDriveComboBox. It paints the
// model's items with their drive pictures and forwards the user's pick; the model keeps
// all state. The owner creates the model's list (TDriveComboBox::CreateWnd) when it is
// ready for the change events that brings.
#include <QComboBox>
#include <QPixmap>

#include "browse/DriveComboBox.h"

class QPainter;
class QPalette;

namespace quindle {

class DriveComboView : public QComboBox, public DriveComboObserver {
    Q_OBJECT
public:
    explicit DriveComboView(TDriveComboBox& model, QWidget* parent = nullptr);
    ~DriveComboView() override;

    TDriveComboBox& Model() { return model_; }

    // The picture of a drive kind (":/FLOPPY" ...); null for DriveGlyph::None.
    static QPixmap GlyphPixmap(DriveGlyph glyph);
    // Draws one item: background, picture 2 px from the left and centred vertically,
    // text from the picture's width + 6 px on, one line, ampersands as they are.
    // Where the shown drive's text is painted: the edit field past the drive's picture.
    QRect TextRect() const;
    static void PaintItem(QPainter& p, const QRect& rect, const QPixmap& glyph, const QString& text, bool selected,
                          const QPalette& palette);

    void DriveListChanged() override;
    void DriveSelectionChanged() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Rebuild();
    void SyncSelection();

    TDriveComboBox& model_;
};

} // namespace quindle
