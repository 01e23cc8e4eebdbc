#pragma once
// TQX_Barometer: the vertical input level meter of the device dialog, a glass
// tube whose lower part is lit up to the level. The lit and unlit tube
// pictures are rescaled to the widget's size once per resize; a paint is then
// two plain copies. The dialog decides the level (peak hold, decay) and asks
// for the repaint; the meter only stores and draws. User-interface thread only.

#include <QImage>
#include <QWidget>

class TQX_Barometer : public QWidget {
    Q_OBJECT
public:
    explicit TQX_Barometer(QWidget* parent = nullptr);
    ~TQX_Barometer() override;

    // The lit fraction of the height, 0..1. Stored as given: no clamping and
    // no repaint (the caller repaints when it wants the change shown).
    void SetLevel(float Value);
    float GetLevel() const { return Level; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Rebuilds both pictures at the widget's new size; a size below 1 pixel
    // keeps the pictures as they were.
    void CanResize(int NewWidth, int NewHeight);

    QImage LitBitmap;
    QImage DarkBitmap;
    float Level = 0.0f;
};
