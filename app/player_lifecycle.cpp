// Start-up and shutdown of the main window: FormCreate, FormDestroy, the notify target.
#include "app/player.h"

#include "app/error_report.h"
#include "app/window_thread.h"
#include "app/message_boxes.h"
#include "catalogue/link_extraction_job.h"
#include "desktop/mpris_service.h"
#include "download/known_folder.h"
#include "http/idle_pump.h"
#include "http/tls_session.h"
#include "playback/player_notify.h"
#include "playback/stream_worker.h"
#include "playback/track_resolution.h"
#include "text/ascii.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>

namespace {
// The folder of the running executable, with its trailing separator.
std::string executableFolder()
{
    const std::string path = QCoreApplication::applicationFilePath().toStdString();
    const size_t separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

void showAudioError(QWidget* owner, const QString& text, int errorCode)
{
    vornel::app::MessageBoxRequest request;
    request.owner = owner;
    request.text = text + QStringLiteral("\r\n(error code: %1)").arg(errorCode);
    vornel::app::showMessageBox(request);
}
} // namespace

bool TfrmVornelPlayer::FormCreate(const AudioStartup& audio)
{
    created_ = true;
    // A TLS library beside the program comes before the system's.
    vornel::http::setTlsLibraryFolder(executableFolder());
    registerHotkeys();
    edit_dldir->setText(
        QString::fromStdString(std::string(vornel::text::trimmed(vornel::download::downloadsFolder()))));
    linkUrls = std::make_unique<std::vector<std::string>>();
    installNotifyTarget();

    if ((audio.getVersion() >> 16) != BASSVERSION) {
        vornel::app::MessageBoxRequest request;
        request.text = QStringLiteral("An incorrect version of BASS.DLL was loaded");
        request.icon = QMessageBox::Critical;
        vornel::app::showMessageBox(request);
        return false;
    }
    if (!audio.init(-1, 44100, 0, this, nullptr)) {
        showAudioError(this, QStringLiteral("Can't initialize device"), audio.errorCode());
        return false;
    }
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    publishMediaPlayer();
    return true;
}

void TfrmVornelPlayer::FormDestroy()
{
    if (!created_ || destroyed_)
        return;
    destroyed_ = true;
    mediaPlayerService.reset();
    vornel::playback::setNotifyWindow({});
    vornel::playback::retireStreamWorkers();
    unregisterHotkeys();
    BASS_Free();
    linkUrls.reset();
}

TfrmVornelPlayer::~TfrmVornelPlayer()
{
    FormDestroy();
    // The controls are deleted after this class's part of the window is gone, and some still
    // signal as they go (the playlist's model is reset): none of that may reach this window.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
}

// Reports from other threads wait until the window thread has reacted; a report made on
// the window thread itself is handled at once.
void TfrmVornelPlayer::installNotifyTarget()
{
    QPointer<TfrmVornelPlayer> window(this);
    vornel::playback::setNotifyWindow([window](uint32_t code, intptr_t value) {
        QCoreApplication* application = QCoreApplication::instance();
        if (!application)
            return;
        auto react = [window, code, value] {
            if (window)
                vornel::app::runGuarded([&] { window->WMPlayerNotify(code, value); });
        };
        if (vornel::app::onWindowThread())
            react();
        else
            QMetaObject::invokeMethod(application, react, Qt::BlockingQueuedConnection);
    });
}

void TfrmVornelPlayer::showCentred()
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TfrmVornelPlayer::closeEvent(QCloseEvent* event)
{
    event->accept();
    endRequests();
    QCoreApplication::quit();
}

// The message loop can only end once the handlers that wait in requests have returned:
// every request of the window thread is broken off, so they return at once and start
// nothing new. An interrupted download leaves no file behind (downloadTrackFile).
void TfrmVornelPlayer::endRequests()
{
    closing_ = true;
    Timer1->stop();
    Timer2->stop();
    openRetryTimer_->stop();
    loadPending_ = false;
    wishedRow_.reset();
    IdHTTP1->abort();
    IdHTTP2->abort();
    if (linkJob_)
        linkJob_->abort();
}
