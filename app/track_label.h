#pragma once
// The label of the current track. It lies partly under the seek bar, so every repaint of the
// bar paints it too, and a word-wrapped text would be laid out again each time. It keeps what
// it drew in a picture and lays its text out again only when the text or its look changes.
// It draws plain text the way QLabel does for a label without frame or indent.
#include <QLabel>
#include <QPixmap>

namespace vornel::app {

class TrackLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool pictureIsCurrent() const;
    void drawPicture();

    QPixmap picture_;
    QString pictureText_;
    Qt::Alignment pictureAlignment_;
    bool pictureWrapped_ = false;
};

} // namespace vornel::app
