#include "window_fixture.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>

using vornel::test::WindowTest;

TEST_F(WindowTest, FirstShowingHasTheDesignedStates)
{
    TfrmVornelPlayer& w = createWindow();
    w.show();
    EXPECT_FALSE(w.btn_TrackPrev->isEnabled());
    EXPECT_TRUE(w.btn_TrackNext->isEnabled());
    EXPECT_TRUE(w.btn_TrackPause->isEnabled());
    EXPECT_FALSE(w.btn_Download->isEnabled());
    EXPECT_TRUE(w.btn_Download->isVisible());
    EXPECT_FALSE(w.sTrackBar1->isEnabled());
    EXPECT_EQ(w.sTrackBar1->value(), 0);
    EXPECT_EQ(w.sTrackBar1->minimum(), 0);
    EXPECT_EQ(w.sTrackBar1->maximum(), 256);
    EXPECT_FALSE(w.sProgressBar1->isVisible());
    EXPECT_EQ(w.sProgressBar1->value(), 0);
    EXPECT_EQ(w.sProgressBar1->maximum(), 100);
    EXPECT_FALSE(w.cb_UseBlocks->isChecked());
    EXPECT_EQ(w.label_currentTrack->text(), "not playing");
    EXPECT_EQ(w.Label2->text(), "page: 1");
    EXPECT_EQ(w.Button2->text(), "refresh");
    EXPECT_EQ(w.Button1->text(), "previous page");
    EXPECT_TRUE(w.lbl_httpStatus->text().isEmpty());
    EXPECT_EQ(w.btn_TrackPause->text(), "| | >");
    EXPECT_EQ(w.windowTitle(), "VornelPlayer v1.1");
    EXPECT_EQ(w.pageNumber, 1);
    EXPECT_TRUE(w.trackUrl.empty());
    ASSERT_TRUE(w.linkUrls);
    EXPECT_TRUE(w.linkUrls->empty());
    EXPECT_EQ(w.lb_PlayList->count(), 0);
    EXPECT_TRUE(boxes.empty());
}

// Pages have a deadline for the whole request; a saved track may take as long as it lasts.
TEST_F(WindowTest, OnlyThePageClientHasARequestDeadline)
{
    TfrmVornelPlayer& w = createWindow();
    EXPECT_EQ(w.IdHTTP1->settings().requestDeadlineMs, vornel::http::kPageRequestDeadlineMs);
    EXPECT_EQ(w.IdHTTP2->settings().requestDeadlineMs, 0);
    EXPECT_TRUE(w.IdHTTP1->settings().handleRedirects);
}

TEST_F(WindowTest, ControlsSitWhereDesigned)
{
    TfrmVornelPlayer& w = createWindow();
    EXPECT_EQ(w.size(), QSize(749, 496));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "the window cannot be resized";
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    struct Placement {
        QWidget* control;
        QRect geometry;
    };
    const Placement placements[] = {
        {w.Panel1, {0, 0, 749, 496}},         {w.img_logo, {0, 0, 750, 205}},
        {w.GroupBox1, {456, 211, 281, 94}},   {w.label_currentTrack, {3, 16, 275, 33}},
        {w.sTrackBar1, {3, 31, 275, 29}},     {w.btn_TrackPrev, {16, 57, 75, 25}},
        {w.btn_TrackNext, {193, 57, 75, 25}}, {w.btn_TrackPause, {97, 57, 90, 25}},
        {w.GroupBox2, {456, 319, 278, 110}},  {w.btn_Download, {9, 24, 261, 25}},
        {w.sProgressBar1, {11, 28, 256, 17}}, {w.edit_dldir, {61, 58, 206, 21}},
        {w.cb_UseBlocks, {9, 87, 278, 17}},   {w.StatusBar1, {1, 475, 747, 20}},
        {w.lb_PlayList, {8, 211, 439, 230}},  {w.Button1, {8, 444, 97, 25}},
        {w.Button2, {111, 444, 97, 25}},
    };
    for (const Placement& placement : placements)
        EXPECT_EQ(placement.control->geometry(), placement.geometry) << placement.control->objectName().toStdString();
    EXPECT_EQ(w.Label1->pos(), QPoint(10, 61));
    EXPECT_EQ(w.Label1->height(), 13);
    EXPECT_GE(w.Label1->width(), 45);
    EXPECT_LE(w.Label1->geometry().right(), w.edit_dldir->x()) << "the caption does not run into the field";
    EXPECT_GE(w.Label1->width(), w.Label1->sizeHint().width()) << "the caption is not cut";
    EXPECT_EQ(w.label_currentTrack->parentWidget(), w.GroupBox1);
    EXPECT_EQ(w.btn_Download->parentWidget(), w.GroupBox2);
    EXPECT_EQ(w.GroupBox1->title(), "Currently playing");
    EXPECT_EQ(w.GroupBox2->title(), "Actions");
    EXPECT_EQ(w.Label1->text(), "Directory:");
    EXPECT_EQ(w.cb_UseBlocks->text(), "Play the file in smaller chunks (no seeking option!)");
    EXPECT_EQ(w.btn_TrackPrev->text(), "<");
    EXPECT_EQ(w.btn_TrackNext->text(), ">");
    EXPECT_EQ(w.btn_Download->text(), "Download");
    EXPECT_EQ(w.Label2->geometry().right() + 1, 447);
    EXPECT_EQ(w.Label2->y(), 451);
    EXPECT_FALSE(w.img_logo->pixmap().isNull()) << "the banner decodes";
    EXPECT_EQ(w.img_logo->pixmap().size(), QSize(750, 205));
}

TEST_F(WindowTest, RightAlignedLabelsGrowToTheLeft)
{
    TfrmVornelPlayer& w = createWindow();
    w.Button1Click();
    for (int i = 0; i < 20; ++i)
        w.Button1Click();
    EXPECT_EQ(w.Label2->text(), "page: 22");
    EXPECT_EQ(w.Label2->geometry().right() + 1, 447);
    const QString status = "HTTP/1.1 200 OK and a rather long status text for the label";
    const std::string bytes = status.toStdString();
    w.WMPlayerNotify(8, reinterpret_cast<intptr_t>(bytes.c_str()));
    EXPECT_EQ(w.lbl_httpStatus->text(), status);
    EXPECT_EQ(w.lbl_httpStatus->geometry().right() + 1, 734);
    EXPECT_EQ(w.lbl_httpStatus->y(), 450);
    EXPECT_GT(w.lbl_httpStatus->width(), 200);
}

TEST_F(WindowTest, PlaylistAndFolderFieldUseTheirColours)
{
    TfrmVornelPlayer& w = createWindow();
    w.edit_dldir->clear();
    w.show();
    for (QWidget* control : {static_cast<QWidget*>(w.lb_PlayList), static_cast<QWidget*>(w.edit_dldir)}) {
        const QImage image = control->grab().toImage();
        const QColor inside = image.pixelColor(image.width() / 2, image.height() / 2);
        EXPECT_EQ(inside, QColor(0, 0, 0)) << control->objectName().toStdString();
    }
}
