// What the position tick costs on the window: the seek bar repaints only when its handle
// moves by a pixel, and the track label under it is not laid out again for those repaints.
#include "window_fixture.h"

#include <QLabel>
#include <QPainter>
#include <QProxyStyle>

namespace {

using vornel::test::runEventsFor;
using vornel::test::WindowTest;

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Counts the texts drawn through it: each one is a layout of the text.
class TextDrawCounter : public QProxyStyle {
public:
    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                      const QString& text, QPalette::ColorRole role) const override
    {
        ++drawn;
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, role);
    }
    mutable int drawn = 0;
};

// One minute of 16-bit stereo at 44100 Hz, and what a 15 ms tick moves through it.
constexpr int kMinuteBytes = 60 * 44100 * 4;
constexpr int kTickBytes = 15 * 44100 * 4 / 1000;

class SeekBarTest : public WindowTest {
protected:
    TfrmVornelPlayer& shownWindow()
    {
        TfrmVornelPlayer& w = createWindow();
        w.show();
        w.sTrackBar1->setEnabled(true);
        w.sTrackBar1->setMaximum(kMinuteBytes);
        w.label_currentTrack->setText(QString(QChar(0x25BA)) +
                                      " A rather long title that the label has to wrap onto a second line");
        runEventsFor(100);
        return w;
    }
};

TEST_F(SeekBarTest, TheBarRepaintsOnlyWhenItsHandleMovesByAPixel)
{
    TfrmVornelPlayer& w = shownWindow();
    PaintCounter bar(w.sTrackBar1);
    int valueChanges = 0;
    QObject::connect(w.sTrackBar1, &QSlider::valueChanged, [&] { ++valueChanges; });
    // The handle has fewer places than the bar has pixels; a pixel is worth this many bytes.
    const int places = w.sTrackBar1->width();
    const int pixelBytes = kMinuteBytes / (places - 40);

    int ticks = 0;
    for (int position = 0; position < kMinuteBytes; position += kTickBytes, ++ticks) {
        w.sTrackBar1->follow(position);
        QCoreApplication::processEvents();
        ASSERT_LE(position - w.sTrackBar1->value(), pixelBytes) << "the bar stays within a pixel of the position";
        ASSERT_GE(position - w.sTrackBar1->value(), 0);
    }
    EXPECT_GT(ticks, 10 * places);
    EXPECT_LE(valueChanges, places);
    EXPECT_LE(bar.paints, places);
    EXPECT_GT(bar.paints, places / 4) << "the bar follows the position on screen";

    // The ends are taken exactly: the tick sees the end of a track by them.
    w.sTrackBar1->follow(kMinuteBytes + 5);
    EXPECT_EQ(w.sTrackBar1->value(), kMinuteBytes);
    w.sTrackBar1->follow(-1);
    EXPECT_EQ(w.sTrackBar1->value(), 0);
}

TEST_F(SeekBarTest, RepaintsOfTheBarDoNotLayOutTheTrackLabelAgain)
{
    TfrmVornelPlayer& w = shownWindow();
    TextDrawCounter style;
    w.label_currentTrack->setStyle(&style);
    runEventsFor(50);
    ASSERT_TRUE(w.sTrackBar1->geometry().intersects(w.label_currentTrack->geometry()));
    PaintCounter bar(w.sTrackBar1);
    PaintCounter label(w.label_currentTrack);
    const int layoutsBefore = style.drawn;

    for (int position = 0; position < kMinuteBytes; position += kMinuteBytes / 50) {
        w.sTrackBar1->follow(position);
        QCoreApplication::processEvents();
    }
    EXPECT_GE(bar.paints, 40);
    EXPECT_GE(label.paints, 40) << "the label is painted with the bar";
    EXPECT_EQ(style.drawn - layoutsBefore, 0);

    // A new text is laid out once and shown.
    w.label_currentTrack->setText("buffering... 12%");
    runEventsFor(50);
    EXPECT_EQ(style.drawn - layoutsBefore, 1);
    w.label_currentTrack->setStyle(nullptr);
}

// The label draws what a plain label with the same text and look would draw.
TEST_F(SeekBarTest, TheTrackLabelLooksAsAPlainLabelWould)
{
    TfrmVornelPlayer& w = shownWindow();
    QLabel* label = w.label_currentTrack;
    QWidget host;
    QLabel plain(&host);
    plain.setFont(label->font());
    plain.setTextFormat(Qt::PlainText);
    plain.setAlignment(label->alignment());
    plain.setWordWrap(true);
    plain.setGeometry(label->geometry());
    for (const QString& text : {QString("not playing"), label->text(), QString("buffering... 76%")}) {
        label->setText(text);
        plain.setText(text);
        plain.setPalette(label->palette());
        EXPECT_EQ(label->grab().toImage(), plain.grab().toImage()) << text.toStdString();
    }
}

} // namespace
