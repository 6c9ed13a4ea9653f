#pragma once
// The main window: every control of the player and every event handler.
#include "app/engine_events.h"
#include "app/seek_bar.h"
#include "desktop/global_shortcuts.h"
#include "desktop/media_player_controls.h"
#include "desktop/mpris_service.h"
#include "desktop/tray_icon.h"
#include "http/http_client.h"
#include "http/idle_pump.h"
#include "playback/audio_library.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class LoadingOverlay;

namespace vornel::catalogue {
class LinkExtractionJob;
struct PageLink;
} // namespace vornel::catalogue

// The audio library calls that start-up makes, replaceable so that tests can make them fail.
struct AudioStartup {
    DWORD (*getVersion)() = BASS_GetVersion;
    BOOL (*init)(int device, DWORD freq, DWORD flags, void* window, const void* clsid) = BASS_Init;
    int (*errorCode)() = BASS_ErrorGetCode;
};

class TfrmVornelPlayer : public QWidget {
public:
    explicit TfrmVornelPlayer(QWidget* parent = nullptr);
    ~TfrmVornelPlayer() override;

    // Prepares the process-wide state and opens the audio library. false: start-up has to
    // stop (the message box has been shown); the destructor releases what was acquired.
    bool FormCreate(const AudioStartup& audio = AudioStartup());
    void FormDestroy();
    void showCentred();
    // The overlay that covers the playlist during page loads (none in some tests).
    void setLoadingOverlay(LoadingOverlay* overlay) { frmLoading = overlay; }

    // Handlers (also called by one another directly).
    void WMPlayerNotify(uint32_t code, intptr_t value);
    void WMHotKey(int32_t id);
    void lb_PlayListDblClick();
    void lb_PlayListKeyDown(int key, Qt::KeyboardModifiers shift);
    void btn_TrackPrevClick();
    void btn_TrackNextClick();
    void btn_TrackPauseClick();
    void cb_UseBlocksClick();
    void Timer1Timer();
    void Timer2Timer();
    void sTrackBar1MouseDown();
    void sTrackBar1MouseUp(int x);
    void Button1Click();
    void Button2Click();
    void btn_DownloadClick();
    void IdHTTP2Work(int64_t workCount);
    void IdHTTP2WorkEnd();
    void JvTrayIcon1Click();

    // Controls.
    QWidget* Panel1 = nullptr;
    QLabel* img_logo = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* label_currentTrack = nullptr;
    vornel::app::SeekBar* sTrackBar1 = nullptr;
    QPushButton* btn_TrackPrev = nullptr;
    QPushButton* btn_TrackNext = nullptr;
    QPushButton* btn_TrackPause = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QPushButton* btn_Download = nullptr;
    QProgressBar* sProgressBar1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edit_dldir = nullptr;
    QCheckBox* cb_UseBlocks = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QListWidget* lb_PlayList = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lbl_httpStatus = nullptr;

    // Components.
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    std::unique_ptr<vornel::http::HttpClient> IdHTTP1;
    std::unique_ptr<vornel::http::HttpClient> IdHTTP2;
    std::unique_ptr<vornel::http::IdlePump> IdAntiFreeze1;
    std::unique_ptr<vornel::desktop::GlobalShortcuts> hotkeys;
    std::unique_ptr<vornel::desktop::TrayIcon> JvTrayIcon1;
    // Desktop media controls (MPRIS2); none without a session bus.
    std::unique_ptr<vornel::desktop::MprisService> mediaPlayerService;
    // The engine's reports for them, carried to this thread.
    std::unique_ptr<vornel::app::EngineEvents> engineEvents;
    LoadingOverlay* frmLoading = nullptr;

    int32_t hotkey1 = 0;
    int32_t hotkey2 = 0;
    int32_t hotkey3 = 0;
    int32_t hotkey4 = 0;

    // Playlist URLs, parallel to the playlist's entries; the page shown; the last track.
    std::unique_ptr<std::vector<std::string>> linkUrls;
    int32_t pageNumber = 1;
    std::string trackUrl;
    // The catalogue's root address and the file host's marker (tests point them elsewhere).
    std::string catalogueBase;
    std::string fileHost;

    // Delay before a failed open is retried; grows with each failure in a row.
    int openRetryDelayMs() const;

    // The playing track as media-player clients see it, and their actions.
    vornel::desktop::PlaybackStatus playbackStatus() const;
    vornel::desktop::NowPlaying nowPlaying() const;
    int64_t playbackPositionUs() const;
    void stopPlayback();
    // Moves playback to a byte position of the stream, as a release of the seek bar does.
    void seekToByte(uint64_t position);
    // What the desktop shows of the player (media controls, tray tooltip) may have changed;
    // it is brought up to date once the event loop runs.
    void mediaStateChanged();
    // The playing position jumped (a seek).
    void mediaPositionJumped();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createGroupCurrentlyPlaying();
    void createGroupActions();
    void createPlaylistArea();
    void createComponents();
    void describeControlsForAccessibility();
    void bindEvents();
    void installNotifyTarget();
    void createTrayIcon();
    QList<QWidget*> otherWindows() const;
    void registerHotkeys();
    void unregisterHotkeys();
    void publishMediaPlayer();
    void watchMediaState();
    void showMediaState();
    vornel::desktop::MediaPlayerControls mediaPlayerControls();
    void rememberPlayingEntry();
    void showLoadingOverlay();
    void closeLoadingOverlay();
    bool clicksDefaultButton(QObject* watched, QEvent* event);

    enum class Resolution { Started, Dead, Nothing };
    std::optional<int> resolveRow(int row);
    Resolution resolveEntry(int row);
    bool selectNextEntry();
    void markDead(int row);
    void scheduleOpenRetry();
    void followPosition();
    int nextTickMs(HSTREAM stream, int32_t position) const;
    void startDeferredPageLoad();
    void loadCataloguePage();
    std::vector<vornel::catalogue::PageLink> extractLinksAside(const std::string& url);
    void appendFileHostLinks(std::vector<vornel::catalogue::PageLink> links);
    void endRequests();
    void downloadTrack(const std::string& url, const std::string& fileName);
    void restoreDownloadControls();
    // The page number and the stream's HTTP status (or bitrate) under the playlist.
    void showPageNumber();
    void showHttpStatus(const QString& text);

    QTimer* openRetryTimer_ = nullptr;
    int openFailuresInRow_ = 0;
    bool loading_ = false;
    bool loadPending_ = false;
    // A resolution runs on the page client; the newest entry asked for meanwhile waits here.
    bool resolving_ = false;
    std::optional<int> wishedRow_;
    // The window is closing: every request has been broken off and nothing new starts.
    bool closing_ = false;
    // The link extraction of the running page load, while the window waits for it.
    vornel::catalogue::LinkExtractionJob* linkJob_ = nullptr;
    bool downloading_ = false;
    std::string downloadFileName_;
    bool hiding_ = false;
    bool seekBarHeld_ = false;
    // The entry that reported it plays, for media-player clients.
    struct PlayingEntry {
        int row = -1;
        uint64_t id = 0; // counts the streams started in this session
        HSTREAM stream = 0;
        QString text;
        std::string url;
        bool blocks = false;
    };
    PlayingEntry playing_;
    uint64_t tracksStarted_ = 0;
    QTimer* mediaStateTimer_ = nullptr;
    bool created_ = false;
    bool destroyed_ = false;
};
