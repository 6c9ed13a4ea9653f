// Construction of the main window: controls, positions, captions and initial states.
#include "app/player.h"

#include "app/banner.h"
#include "app/program_icon.h"
#include "app/skin.h"
#include "app/track_label.h"
#include "app/window_thread.h"
#include "catalogue/page_urls.h"
#include "http/http_client.h"
#include "http/idle_pump.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kClientWidth = 749;
constexpr int kClientHeight = 496;
constexpr int kButtonHeight = 25;
// The two labels under the playlist keep their top right corner and grow to the left.
constexpr QPoint kPageLabelTopRight{447, 451};
constexpr QPoint kHttpStatusTopRight{734, 450};
const char* const kListAndFieldStyle = "background-color: #000000; color: #C4B9B9;";

QPushButton* makeButton(QWidget* parent, const QString& caption, QRect geometry)
{
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(geometry);
    button->setAutoDefault(true); // a plain Enter on a focused button clicks it
    return button;
}

// A right-aligned label keeps its right edge and grows to the left with its text.
void setRightAligned(QLabel* label, QPoint topRight, const QString& text)
{
    label->setText(text);
    label->adjustSize();
    const int width = text.isEmpty() ? 0 : label->sizeHint().width();
    label->setGeometry(topRight.x() - width, topRight.y(), width, label->sizeHint().height());
}
} // namespace

TfrmVornelPlayer::TfrmVornelPlayer(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      catalogueBase(vornel::catalogue::catalogueBaseUrl()), fileHost(vornel::catalogue::fileHostMarker())
{
    setObjectName(QStringLiteral("frmVornelPlayer"));
    setWindowTitle(QStringLiteral("VornelPlayer v1.1"));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(vornel::app::windowFont());
    setWindowIcon(vornel::app::programIcon());
    createControls();
    describeControlsForAccessibility();
    createComponents();
    createTrayIcon();
    bindEvents();
}

void TfrmVornelPlayer::createControls()
{
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, kClientWidth, kClientHeight);

    img_logo = new QLabel(Panel1);
    img_logo->setObjectName(QStringLiteral("img_logo"));
    img_logo->setGeometry(0, 0, 750, 205);
    img_logo->setAlignment(Qt::AlignCenter);
    img_logo->setPixmap(QPixmap::fromImage(vornel::app::loadBanner()));

    createGroupCurrentlyPlaying();
    createGroupActions();
    createPlaylistArea();

    StatusBar1 = new QStatusBar(Panel1);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(1, 475, 747, 20);
    StatusBar1->setSizeGripEnabled(false);
    auto* notice =
        new QLabel(QStringLiteral("Hot keys: Ctrl+Shift+D download, W next, Q previous, P pause"), StatusBar1);
    StatusBar1->addWidget(notice, 1);
}

void TfrmVornelPlayer::createGroupCurrentlyPlaying()
{
    GroupBox1 = new QGroupBox(QStringLiteral("Currently playing"), Panel1);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(456, 211, 281, 94);

    label_currentTrack = new vornel::app::TrackLabel(QStringLiteral("not playing"), GroupBox1);
    label_currentTrack->setObjectName(QStringLiteral("label_currentTrack"));
    label_currentTrack->setGeometry(3, 16, 275, 33);
    label_currentTrack->setTextFormat(Qt::PlainText);
    label_currentTrack->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label_currentTrack->setWordWrap(true);

    sTrackBar1 = new vornel::app::SeekBar(GroupBox1);
    sTrackBar1->setObjectName(QStringLiteral("sTrackBar1"));
    sTrackBar1->setGeometry(3, 31, 275, 29);
    sTrackBar1->setRange(0, 256);
    sTrackBar1->setValue(0);
    sTrackBar1->setTickPosition(QSlider::NoTicks);
    sTrackBar1->setEnabled(false);

    btn_TrackPrev = makeButton(GroupBox1, QStringLiteral("<"), QRect(16, 57, 75, kButtonHeight));
    btn_TrackPrev->setObjectName(QStringLiteral("btn_TrackPrev"));
    btn_TrackPrev->setEnabled(false);
    btn_TrackPause = makeButton(GroupBox1, QStringLiteral("| | >"), QRect(97, 57, 90, kButtonHeight));
    btn_TrackPause->setObjectName(QStringLiteral("btn_TrackPause"));
    btn_TrackNext = makeButton(GroupBox1, QStringLiteral(">"), QRect(193, 57, 75, kButtonHeight));
    btn_TrackNext->setObjectName(QStringLiteral("btn_TrackNext"));
}

void TfrmVornelPlayer::createGroupActions()
{
    GroupBox2 = new QGroupBox(QStringLiteral("Actions"), Panel1);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(456, 319, 278, 110);

    btn_Download = makeButton(GroupBox2, QStringLiteral("Download"), QRect(9, 24, 261, kButtonHeight));
    btn_Download->setObjectName(QStringLiteral("btn_Download"));
    btn_Download->setEnabled(false);

    sProgressBar1 = new QProgressBar(GroupBox2);
    sProgressBar1->setObjectName(QStringLiteral("sProgressBar1"));
    sProgressBar1->setGeometry(11, 28, 256, 17);
    sProgressBar1->setRange(0, 100);
    sProgressBar1->setValue(0);
    sProgressBar1->setTextVisible(false);
    sProgressBar1->hide();

    Label1 = new QLabel(QStringLiteral("Directory:"), GroupBox2);
    Label1->setObjectName(QStringLiteral("Label1"));
    // Sized to its text like the designed label, at least its designed 45 x 13.
    Label1->setGeometry(10, 61, std::max(45, Label1->sizeHint().width()), 13);

    edit_dldir = new QLineEdit(GroupBox2);
    edit_dldir->setObjectName(QStringLiteral("edit_dldir"));
    edit_dldir->setGeometry(61, 58, 206, 21);
    edit_dldir->setStyleSheet(QString::fromLatin1(kListAndFieldStyle));

    cb_UseBlocks = new QCheckBox(QStringLiteral("Play the file in smaller chunks (no seeking option!)"), GroupBox2);
    cb_UseBlocks->setObjectName(QStringLiteral("cb_UseBlocks"));
    cb_UseBlocks->setGeometry(9, 87, 278, 17);
    cb_UseBlocks->setChecked(false);
}

void TfrmVornelPlayer::createPlaylistArea()
{
    lb_PlayList = new QListWidget(Panel1);
    lb_PlayList->setObjectName(QStringLiteral("lb_PlayList"));
    lb_PlayList->setGeometry(8, 211, 439, 230);
    lb_PlayList->setSelectionMode(QAbstractItemView::SingleSelection);
    lb_PlayList->setSortingEnabled(false);
    // One line per entry, as a list box shows it; it also spares measuring every entry,
    // which would stall the window on a page of many thousand links.
    lb_PlayList->setUniformItemSizes(true);
    lb_PlayList->setStyleSheet(QStringLiteral("QListWidget { %1 }").arg(QString::fromLatin1(kListAndFieldStyle)));

    Button1 = makeButton(Panel1, QStringLiteral("previous page"), QRect(8, 444, 97, kButtonHeight));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = makeButton(Panel1, QStringLiteral("refresh"), QRect(111, 444, 97, kButtonHeight));
    Button2->setObjectName(QStringLiteral("Button2"));

    Label2 = new QLabel(Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    showPageNumber();

    lbl_httpStatus = new QLabel(Panel1);
    lbl_httpStatus->setObjectName(QStringLiteral("lbl_httpStatus"));
    lbl_httpStatus->setTextFormat(Qt::PlainText);
    lbl_httpStatus->setAlignment(Qt::AlignRight | Qt::AlignTop);
    showHttpStatus(QString());

    // Tab order: the groups' controls as they stand, left to right, then the playlist and
    // the paging buttons.
    setTabOrder(sTrackBar1, btn_TrackPrev);
    setTabOrder(btn_TrackPrev, btn_TrackPause);
    setTabOrder(btn_TrackPause, btn_TrackNext);
    setTabOrder(btn_TrackNext, btn_Download);
    setTabOrder(btn_Download, edit_dldir);
    setTabOrder(edit_dldir, cb_UseBlocks);
    setTabOrder(cb_UseBlocks, lb_PlayList);
    setTabOrder(lb_PlayList, Button1);
    setTabOrder(Button1, Button2);
}

void TfrmVornelPlayer::createComponents()
{
    Timer1 = new QTimer(this);
    Timer1->setInterval(1);
    Timer1->start();
    Timer2 = new QTimer(this);
    // Its interval follows the track (player_transport.cpp); a tick due at a track's end
    // comes on time.
    Timer2->setTimerType(Qt::PreciseTimer);
    openRetryTimer_ = new QTimer(this);
    openRetryTimer_->setSingleShot(true);

    using vornel::http::ClientSettings;
    // Catalogue and track pages end by the page deadline, whatever a server trickles.
    ClientSettings pages = ClientSettings::configured();
    pages.requestDeadlineMs = vornel::http::kPageRequestDeadlineMs;
    IdHTTP1 = std::make_unique<vornel::http::HttpClient>(pages);
    // A saved track goes to disk as it arrives, even when a server labels it as a page.
    ClientSettings downloads = ClientSettings::configured();
    downloads.bodyAsReceived = true;
    IdHTTP2 = std::make_unique<vornel::http::HttpClient>(downloads);
    IdAntiFreeze1 = std::make_unique<vornel::http::IdlePump>([] { QCoreApplication::processEvents(); },
                                                             vornel::app::onWindowThread);
}

void TfrmVornelPlayer::showPageNumber()
{
    setRightAligned(Label2, kPageLabelTopRight, QStringLiteral("page: %1").arg(pageNumber));
}

void TfrmVornelPlayer::showHttpStatus(const QString& text)
{
    setRightAligned(lbl_httpStatus, kHttpStatusTopRight, text);
}
