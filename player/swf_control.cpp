#include "player/swf_control.h"

#include "engine/core/limits.h"
#include "engine/avm1/script_engine.h"
#include "engine/avm2/script_host.h"
#include "engine/display/player.h"
#include "audio_qt/qt_audio_output.h"
#include "engine/sound/sound_player.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPointer>
#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

Qt::CursorShape shapeOf(swf::Cursor c) {
    switch (c) {
    case swf::Cursor::Hand: return Qt::PointingHandCursor;
    case swf::Cursor::Hidden: return Qt::BlankCursor;
    case swf::Cursor::Arrow: break;
    }
    return Qt::ArrowCursor;
}

swf::Quality qualityFrom(const QString& s) {
    QString q = s.toLower();
    if (q == QLatin1String("low") || q == QLatin1String("autolow")) return swf::Quality::Low;
    if (q == QLatin1String("medium")) return swf::Quality::Medium;
    if (q == QLatin1String("best")) return swf::Quality::Best;
    return swf::Quality::High;
}

swf::ScaleMode scaleFrom(const QString& s) {
    QString q = s.toLower();
    if (q == QLatin1String("noborder")) return swf::ScaleMode::NoBorder;
    if (q == QLatin1String("exactfit")) return swf::ScaleMode::ExactFit;
    if (q == QLatin1String("noscale")) return swf::ScaleMode::NoScale;
    return swf::ScaleMode::ShowAll;
}

// "#RRGGBB" or "RRGGBB"; anything else means the movie's own colour.
std::optional<swf::Rgba> colorFrom(const QString& s) {
    QString t = s.trimmed();
    if (t.startsWith(u'#')) t.remove(0, 1);
    bool ok = false;
    uint v = t.toUInt(&ok, 16);
    if (!ok || t.size() != 6) return std::nullopt;
    return swf::Rgba{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), 255};
}

// Flash key codes for Qt keys (letters and digits are their upper-case ASCII).
int flashKeyCode(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 9;
    case Qt::Key_Return: case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Semicolon: return 186;
    case Qt::Key_Equal: return 187;
    case Qt::Key_Comma: return 188;
    case Qt::Key_Minus: return 189;
    case Qt::Key_Period: return 190;
    case Qt::Key_Slash: return 191;
    case Qt::Key_QuoteLeft: return 192;
    case Qt::Key_BracketLeft: return 219;
    case Qt::Key_Backslash: return 220;
    case Qt::Key_BracketRight: return 221;
    case Qt::Key_Apostrophe: return 222;
    default: return 0;
    }
}

// Whether a movie can make any sound: sound definitions or stream sound.
bool movieHasSound(const swf::Movie& m) {
    auto streams = [](const swf::Timeline& tl) {
        for (const auto& f : tl.frames)
            for (const auto& t : f.tags)
                if (t.code == swf::tag::SoundStreamHead || t.code == swf::tag::SoundStreamHead2) return true;
        return false;
    };
    if (streams(m.timeline)) return true;
    for (const auto& [id, c] : m.dictionary) {
        if (std::holds_alternative<std::shared_ptr<const swf::SoundDef>>(c)) return true;
        if (auto s = std::get_if<std::shared_ptr<const swf::SpriteDef>>(&c); s && streams((*s)->timeline)) return true;
    }
    return false;
}

} // namespace

// What the drawing thread works on. Shared with the worker so that a frame
// still being drawn when the control goes away finishes safely.
struct RenderTarget {
    QMutex mutex;
    std::unique_ptr<swf::render::RenderBackend> backend = swf::render::makeBackend();
    QImage image;
};

namespace {

// The drawing threads of one control. When the control goes away with a
// frame in flight, the pool is not waited for (QThreadPool's destructor
// would): it is kept here, reachable, and the frame finishes on its own.
QThreadPool* newRenderPool() {
    auto* pool = new QThreadPool;
    pool->setObjectName(QStringLiteral("SwfControl render"));
    return pool;
}

void retireRenderPool(QThreadPool* pool) {
    // Raw pointers, never destroyed at exit: a pool still drawing then is
    // simply left to the ending process.
    static std::vector<QThreadPool*> retired;
    std::erase_if(retired, [](QThreadPool* p) {
        if (p->activeThreadCount() > 0) return false;
        delete p;
        return true;
    });
    pool->clear();
    if (pool->activeThreadCount() == 0) delete pool;
    else retired.push_back(pool);
}

} // namespace

struct SwfControl::Impl {
    SwfControl* q = nullptr;
    QThreadPool* renderPool = newRenderPool();
    Settings settings;
    QString movie;
    bool autoPlay = true;      // new movies start playing
    int scaleMode = 0;
    std::function<void(const QString&, const QString&)> urlHandler;

    std::unique_ptr<swf::Player> player;
    QTimer frameTimer;
    QElapsedTimer clock;
    qint64 lastTickNs = 0;

    std::shared_ptr<RenderTarget> target = std::make_shared<RenderTarget>();
    QImage shown;              // the last finished frame, painted by paintEvent
    bool rendering = false;
    bool renderAgain = false;

    swf::LogFn log;
    QNetworkAccessManager* network = nullptr;

    // While the engine runs (a script may run long and let the window answer
    // input meanwhile), whatever would call it again waits here and runs,
    // in order, when the engine call returns.
    int inEngine = 0;
    std::deque<std::function<void()>> waiting;
    QElapsedTimer sinceAnswered;
    bool answering = false;
    void engine(std::function<void()> work);
    void answerInput();
    QPointer<QNetworkReply> download;

    void applySettings();
    QNetworkReply* startDownload(QNetworkRequest request, size_t maxBytes, const QByteArray* postBody = nullptr);
    void fetch(const std::string& url, const std::string& method, const std::vector<uint8_t>& body, size_t maxBytes,
               swf::FetchDone done);
    void fetchStream(const std::string& url, size_t maxBytes, swf::FetchPart part, swf::FetchDone done);
    void putMovie(const QString& pathOrUrl);
    void startMovie();
    void loadBytes(QByteArray bytes, const QString& url);
    void tick();
    void scheduleTick();
    void requestRender();
    void renderDone(const QImage& image);
    void showEmpty();
};

void SwfControl::Impl::engine(std::function<void()> work) {
    if (inEngine > 0) {
        waiting.push_back(std::move(work));
        return;
    }
    ++inEngine;
    work();
    while (!waiting.empty()) {
        std::function<void()> next = std::move(waiting.front());
        waiting.pop_front();
        next();
    }
    --inEngine;
}

// Lets the window answer input while a script runs long: at most every
// kAnswerIntervalMs, for at most kAnswerSliceMs. Nothing reaches the
// engine meanwhile (see engine()).
void SwfControl::Impl::answerInput() {
    constexpr int kAnswerIntervalMs = 40, kAnswerSliceMs = 10;
    if (answering || inEngine == 0) return;
    if (sinceAnswered.isValid() && sinceAnswered.elapsed() < kAnswerIntervalMs) return;
    answering = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, kAnswerSliceMs);
    answering = false;
    sinceAnswered.start();
}

void SwfControl::Impl::applySettings() {
    player->setLoop(settings.loop);
    player->setQuality(qualityFrom(settings.quality));
    player->setScaleMode(swf::ScaleMode(scaleMode));
    player->setAlign(swf::parseAlign(settings.salign.toLatin1().constData()));
    player->setBackgroundOverride(colorFrom(settings.bgColor));
}

SwfControl::SwfControl(QWidget* parent, Settings settings) : QWidget(parent), d(std::make_unique<Impl>()) {
    d->q = this;
    d->settings = std::move(settings);
    d->autoPlay = d->settings.play;
    d->scaleMode = int(scaleFrom(d->settings.scale));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);

    swf::HostCallbacks host;
    QPointer<SwfControl> self(this);
    // Requests from the movie reach the program later, from the event loop:
    // a callback never re-enters the engine.
    host.openUrl = [self](const std::string& url, const std::string& target) {
        QString u = QString::fromStdString(url), t = QString::fromStdString(target);
        QMetaObject::invokeMethod(
            self,
            [self, u, t] {
                if (!self || !self->d->urlHandler) return;
                if (!networkingAllows(self->d->settings.allowNetworking, NetworkUse::OpenPage)) {
                    if (self->d->log) self->d->log(swf::LogLevel::Warning, "AllowNetworking refuses opening " + u.toStdString());
                    return;
                }
                self->d->urlHandler(u, t);
            },
            Qt::QueuedConnection);
    };
    host.scriptsBusy = [self] {
        if (self) self->d->answerInput();
    };
    if (std::getenv("SWIFTREEL_DEBUG")) {
        host.log = [](swf::LogLevel, const std::string& msg) { std::fprintf(stderr, "swf: %s\n", msg.c_str()); };
        host.trace = [](const std::string& line) { std::fprintf(stderr, "trace: %s\n", line.c_str()); };
    }
    d->player = std::make_unique<swf::Player>(host);
    d->player->setScriptHostFactory(swf::withAvm2(swf::avm1ScriptHostFactory()));
    d->player->setFetch([self](const std::string& url, const std::string& method, const std::vector<uint8_t>& body,
                               size_t maxBytes, swf::FetchDone done) {
        if (self) self->d->fetch(url, method, body, maxBytes, std::move(done));
    });
    d->player->setResolve([self](const std::string& host, swf::ResolveDone done) {
        if (!self) return;
        QHostInfo::lookupHost(QString::fromStdString(host), self.data(), [self, done](const QHostInfo& info) {
            std::vector<std::string> addresses;
            for (const QHostAddress& address : info.addresses()) addresses.push_back(address.toString().toStdString());
            if (self) self->d->engine([done, addresses] { done(addresses); });
        });
    });
    d->player->loader().setFetchStream([self](const std::string& url, size_t maxBytes, swf::FetchPart part,
                                              swf::FetchDone done) {
        if (self) self->d->fetchStream(url, maxBytes, std::move(part), std::move(done));
    });
    auto sound = std::make_unique<swf::SoundPlayer>(host.log);
    // A movie without sound of its own may still stream a file's sound.
    sound->setOutputOpener([log = host.log] { return std::make_unique<swf::QtAudioOutput>(log); });
    d->player->setSoundPlayer(std::move(sound));
    d->log = host.log;
    d->applySettings();

    d->frameTimer.setTimerType(Qt::PreciseTimer);
    d->frameTimer.setSingleShot(true);
    connect(&d->frameTimer, &QTimer::timeout, this, [this] { d->engine([this] { d->tick(); }); });
    d->clock.start();
}

SwfControl::SwfControl(QWidget* parent) : SwfControl(parent, Settings{}) {}

bool SwfControl::networkingAllows(const QString& allowNetworking, NetworkUse use) {
    if (allowNetworking.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) return false;
    if (allowNetworking.compare(QLatin1String("internal"), Qt::CaseInsensitive) == 0) return use == NetworkUse::LoadData;
    return true;
}

SwfControl::~SwfControl() {
    d->frameTimer.stop();
    if (d->download) d->download->abort();
    // The movie's scripts end and its stored objects are written while the
    // control is whole.
    d->player->unload();
    // A frame still being drawn owns its job and shares the target, so it
    // finishes safely after the control is gone.
    retireRenderPool(d->renderPool);
}

void SwfControl::closeMovie() {
    if (d->download) {
        d->download->abort();
        d->download = nullptr;
    }
    // Inside a long script the movie cannot go yet, but what it stored is
    // written now: the process may end before the script returns.
    if (d->inEngine > 0) d->player->writeStoredData();
    d->engine([this] { d->showEmpty(); });
}

QThreadPool& SwfControl::renderPool() { return *d->renderPool; }

void SwfControl::Impl::showEmpty() {
    frameTimer.stop();
    player->unload();
    shown = QImage();
    q->update();
}

void SwfControl::putMovie(const QString& pathOrUrl) {
    d->engine([this, pathOrUrl] { d->putMovie(pathOrUrl); });
}

void SwfControl::Impl::putMovie(const QString& pathOrUrl) {
    SwfControl* const self = q;
    movie = pathOrUrl;
    if (download) {
        download->abort();
        download = nullptr;
    }
    QString text = pathOrUrl.trimmed();
    if (text.isEmpty()) {
        showEmpty();
        return;
    }
    QUrl url(text);
    QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        QNetworkRequest request(url);
        // The movie itself follows safe redirects; what it loads does not.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        QNetworkReply* reply = startDownload(request, swf::limits::kMaxFileBytes);
        download = reply;
        QObject::connect(reply, &QNetworkReply::finished, self, [this, reply, text] {
            reply->deleteLater();
            if (download != reply) return; // superseded by another movie
            download = nullptr;
            if (reply->error() != QNetworkReply::NoError) {
                engine([this] { showEmpty(); });
                return;
            }
            const QByteArray bytes = reply->readAll();
            engine([this, bytes, text] { loadBytes(bytes, text); });
        });
        return;
    }
    QString path = scheme == QLatin1String("file") ? url.toLocalFile() : text;
    auto result = player->loadFile(path.toStdString());
    if (!result) {
        showEmpty();
        return;
    }
    startMovie();
}

// Web downloads give up after 30 s of silence and stop as soon as they pass
// `maxBytes` (announced or received): the rest is never buffered.
QNetworkReply* SwfControl::Impl::startDownload(QNetworkRequest request, size_t maxBytes, const QByteArray* postBody) {
    if (!network) network = new QNetworkAccessManager(q);
    if (!request.attribute(QNetworkRequest::RedirectPolicyAttribute).isValid())
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(30000);
    QNetworkReply* reply = postBody ? network->post(request, *postBody) : network->get(request);
    reply->setReadBufferSize(qint64(std::min<size_t>(maxBytes, swf::limits::kMaxFileBytes)) + 1);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64 received, qint64 total) {
        if (received > qint64(maxBytes) || total > qint64(maxBytes)) reply->abort();
    });
    return reply;
}

// What a movie loads from the web (variables, XML, movies, images): the
// answer reaches the engine from the event loop, never inside the call.
void SwfControl::Impl::fetch(const std::string& url, const std::string& method, const std::vector<uint8_t>& body,
                             size_t maxBytes, swf::FetchDone done) {
    if (!networkingAllows(settings.allowNetworking, NetworkUse::LoadData)) {
        if (log) log(swf::LogLevel::Warning, "AllowNetworking refuses loading " + url);
        QMetaObject::invokeMethod(
            q, [done] { done(swf::FetchResult{false, 0, {}, "refused by AllowNetworking"}); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    QNetworkReply* reply;
    if (method == "POST") {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        QByteArray form(reinterpret_cast<const char*>(body.data()), qsizetype(body.size()));
        reply = startDownload(request, maxBytes, &form);
    } else {
        reply = startDownload(request, maxBytes);
    }
    QObject::connect(reply, &QNetworkReply::finished, q, [self = QPointer<SwfControl>(q), reply, done] {
        reply->deleteLater();
        swf::FetchResult result;
        result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError) {
            QByteArray bytes = reply->readAll();
            result.ok = true;
            result.bytes.assign(bytes.begin(), bytes.end());
        } else {
            result.error = reply->errorString().toStdString();
        }
        if (self) self->d->engine([done, result] { done(result); });
    });
}

// A file a NetStream plays from the web: its bytes reach the engine as
// they arrive, so playback starts long before the download ends.
void SwfControl::Impl::fetchStream(const std::string& url, size_t maxBytes, swf::FetchPart part,
                                   swf::FetchDone done) {
    if (!networkingAllows(settings.allowNetworking, NetworkUse::LoadData)) {
        if (log) log(swf::LogLevel::Warning, "AllowNetworking refuses loading " + url);
        QMetaObject::invokeMethod(
            q, [done] { done(swf::FetchResult{false, 0, {}, "refused by AllowNetworking"}); }, Qt::QueuedConnection);
        return;
    }
    QNetworkReply* reply = startDownload(QNetworkRequest(QUrl(QString::fromStdString(url))), maxBytes);
    QObject::connect(reply, &QNetworkReply::readyRead, q, [self = QPointer<SwfControl>(q), reply, part] {
        const QByteArray bytes = reply->readAll();
        // An error page is no part of the file.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!self || bytes.isEmpty() || status >= 300) return;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        self->d->engine([part, bytes, length] {
            part(std::vector<uint8_t>(bytes.begin(), bytes.end()), uint64_t(std::max<qint64>(length, 0)));
        });
    });
    QObject::connect(reply, &QNetworkReply::finished, q, [self = QPointer<SwfControl>(q), reply, done] {
        reply->deleteLater();
        swf::FetchResult result;
        result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.ok = reply->error() == QNetworkReply::NoError && result.httpStatus < 300;
        if (!result.ok) result.error = reply->errorString().toStdString();
        if (self) self->d->engine([done, result] { done(result); });
    });
}

void SwfControl::Impl::loadBytes(QByteArray bytes, const QString& url) {
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    bytes.clear();
    if (!player->load(std::move(data), url.toStdString())) {
        showEmpty();
        return;
    }
    startMovie();
}

void SwfControl::Impl::startMovie() {
    // The sound device is opened at once only for movies with sound tags (an
    // idle output still wakes up every few milliseconds); others open it when
    // a sound first starts.
    swf::SoundPlayer* sound = player->soundPlayer();
    bool wantsSound = movieHasSound(*player->movie());
    if (wantsSound && !sound->output()) sound->setOutput(std::make_unique<swf::QtAudioOutput>(log));
    else if (!wantsSound && sound->output()) sound->setOutput(nullptr);
    applySettings();
    player->setViewport(q->width(), q->height());
    // Playing or not is settled before the first frame runs, so that a
    // stop() in the movie's first frame holds.
    if (autoPlay) player->play();
    else player->stop();
    player->runFrame(); // the first frame shows at once
    lastTickNs = clock.nsecsElapsed();
    scheduleTick();
    requestRender();
}

QString SwfControl::movie() const { return d->movie; }

void SwfControl::putPlaying(bool playing) {
    d->autoPlay = playing;
    d->engine([this, playing] {
        if (!d->player->isLoaded()) return;
        if (playing) d->player->play();
        else d->player->stop();
    });
}

bool SwfControl::playing() const { return d->player->isLoaded() ? d->player->isPlaying() : d->autoPlay; }

void SwfControl::Stop() {
    d->engine([this] { d->player->stop(); });
}

void SwfControl::Back() {
    d->engine([this] {
        d->player->back();
        d->requestRender();
    });
}

void SwfControl::Forward() {
    d->engine([this] {
        d->player->forward();
        d->requestRender();
    });
}

void SwfControl::Zoom(int percent) {
    d->engine([this, percent] {
        d->player->zoom(percent);
        d->requestRender();
    });
}

void SwfControl::putScaleMode(int mode) {
    if (mode < 0 || mode > 3) return; // not a scale mode: left as it was
    d->scaleMode = mode;
    d->engine([this, mode] {
        d->player->setScaleMode(swf::ScaleMode(mode));
        d->requestRender();
    });
}

int SwfControl::scaleMode() const { return d->scaleMode; }

const SwfControl::Settings& SwfControl::settings() const { return d->settings; }

void SwfControl::setUrlHandler(std::function<void(const QString&, const QString&)> handler) {
    d->urlHandler = std::move(handler);
}

bool SwfControl::isMovieLoaded() const { return d->player->isLoaded(); }
int SwfControl::currentFrame() const { return int(d->player->currentFrame()); }
int SwfControl::totalFrames() const { return int(d->player->frameCount()); }
QImage SwfControl::frameImage() const { return d->shown; }
bool SwfControl::isRendering() const { return d->rendering; }

// ---- clock and drawing ------------------------------------------------------

void SwfControl::Impl::scheduleTick() {
    if (!player->isLoaded()) return;
    frameTimer.start(std::max(1, int(std::ceil(player->msUntilNextFrame()))));
}

void SwfControl::Impl::tick() {
    if (!player->isLoaded()) return;
    // Steady time, measured rather than counted: timer lateness is made up
    // by the next advance, so frames are neither lost nor gained.
    qint64 now = clock.nsecsElapsed();
    double elapsedMs = double(now - lastTickNs) / 1e6;
    lastTickNs = now;
    player->advance(elapsedMs);
    // A button may have come or gone under a pointer that did not move.
    if (q->underMouse()) {
        Qt::CursorShape shape = shapeOf(player->cursor());
        if (q->cursor().shape() != shape) q->setCursor(shape);
    }
    // Frames run to catch up are not drawn: one drawing shows the latest.
    requestRender();
    scheduleTick();
}

void SwfControl::Impl::requestRender() {
    if (rendering) {
        renderAgain = true;
        return;
    }
    if (!player->needsRedraw()) return;
    auto job = player->prepareRender();
    if (!job) return;
    rendering = true;
    renderAgain = false;
    std::shared_ptr<RenderTarget> t = target;
    QPointer<SwfControl> self(q);
    QThreadPool* pool = renderPool;
    pool->start([t, self, pool, job = std::move(*job)]() mutable {
        QImage finished;
        {
            QMutexLocker lock(&t->mutex);
            // Bands of the frame are drawn on the same pool as the frame.
            t->backend->setThreadPool(pool);
            job.execute(*t->backend, t->image);
            finished = t->image; // shared; the next frame's drawing detaches it
        }
        // The control may be destroyed meanwhile on the GUI thread: hand the
        // frame to the application object and look at the control only there.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, finished] {
                if (self) self->d->engine([self, finished] { self->d->renderDone(finished); });
            },
            Qt::QueuedConnection);
    });
}

void SwfControl::Impl::renderDone(const QImage& image) {
    rendering = false;
    shown = image;
    q->update();
    if (renderAgain) {
        renderAgain = false;
        requestRender();
    }
}

void SwfControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!d->player->isLoaded() || d->shown.isNull()) {
        swf::Rgba bg = d->player->backgroundColor();
        p.fillRect(rect(), QColor(bg.r, bg.g, bg.b));
        return;
    }
    p.drawImage(0, 0, d->shown);
    // While a resize is being drawn the old frame may be smaller.
    if (d->shown.width() < width() || d->shown.height() < height()) {
        swf::Rgba bg = d->player->backgroundColor();
        p.fillRect(QRect(d->shown.width(), 0, width() - d->shown.width(), height()), QColor(bg.r, bg.g, bg.b));
        p.fillRect(QRect(0, d->shown.height(), d->shown.width(), height() - d->shown.height()),
                   QColor(bg.r, bg.g, bg.b));
    }
}

void SwfControl::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    d->engine([this] {
        d->player->setViewport(width(), height());
        d->requestRender();
    });
}

// ---- input ------------------------------------------------------------------

void SwfControl::mouseMoveEvent(QMouseEvent* e) {
    const QPointF at = e->position();
    d->engine([this, at] {
        d->player->mouseMove(at.x(), at.y());
        setCursor(shapeOf(d->player->cursor()));
        d->requestRender();
    });
}

void SwfControl::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    if (e->button() != Qt::LeftButton) return;
    const QPointF at = e->position();
    d->engine([this, at] {
        d->player->mouseDown(at.x(), at.y());
        d->requestRender();
    });
}

void SwfControl::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const QPointF at = e->position();
    d->engine([this, at] {
        d->player->mouseUp(at.x(), at.y());
        setCursor(shapeOf(d->player->cursor()));
        d->requestRender();
    });
}

void SwfControl::leaveEvent(QEvent* e) {
    QWidget::leaveEvent(e);
    d->engine([this] {
        d->player->mouseLeave();
        unsetCursor();
        d->requestRender();
    });
}

void SwfControl::keyPressEvent(QKeyEvent* e) {
    int code = flashKeyCode(e->key());
    uint32_t ch = e->text().isEmpty() ? 0 : e->text().at(0).unicode();
    if (code == 0 && ch == 0) return QWidget::keyPressEvent(e);
    const QList<uint> typed = e->text().toUcs4();
    d->engine([this, code, ch, typed] {
        d->player->keyDown(code, ch);
        // What the key types goes to the focused input field (each character of a composed text).
        // Enter, Backspace and Tab are keys, not text: the engine handles them from keyDown.
        for (uint c : typed)
            if (QChar::isPrint(c)) d->player->textInput(c);
        d->requestRender();
    });
}

void SwfControl::keyReleaseEvent(QKeyEvent* e) {
    int code = flashKeyCode(e->key());
    uint32_t ch = e->text().isEmpty() ? 0 : e->text().at(0).unicode();
    if (code == 0 && ch == 0) return QWidget::keyReleaseEvent(e);
    d->engine([this, code, ch] { d->player->keyUp(code, ch); });
}

bool SwfControl::focusNextPrevChild(bool) { return false; } // Tab belongs to the movie

// ---- the player's own menu --------------------------------------------------

QMenu* SwfControl::createContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    swf::Player& p = *d->player;
    const bool loaded = p.isLoaded();
    if (d->settings.menu) {
        QAction* zoomIn = menu->addAction(QStringLiteral("放大"), this, [this] { Zoom(50); });
        QAction* zoomOut = menu->addAction(QStringLiteral("缩小"), this, [this] { Zoom(200); });
        QAction* showAll = menu->addAction(QStringLiteral("全部显示"), this, [this] { Zoom(0); });
        zoomIn->setEnabled(loaded);
        zoomOut->setEnabled(loaded && p.stage().zoomed());
        showAll->setEnabled(loaded && p.stage().zoomed());
        menu->addSeparator();
        QMenu* quality = menu->addMenu(QStringLiteral("品质"));
        auto* group = new QActionGroup(quality);
        const std::pair<const char16_t*, swf::Quality> levels[] = {
            {u"低", swf::Quality::Low}, {u"中", swf::Quality::Medium}, {u"高", swf::Quality::High}};
        for (const auto& [label, level] : levels) {
            QAction* a = quality->addAction(QString::fromUtf16(label));
            a->setCheckable(true);
            a->setChecked(p.quality() == level || (level == swf::Quality::High && p.quality() == swf::Quality::Best));
            group->addAction(a);
            swf::Quality lv = level;
            connect(a, &QAction::triggered, this, [this, lv] {
                d->engine([this, lv] {
                    d->player->setQuality(lv);
                    d->requestRender();
                });
            });
        }
        menu->addSeparator();
        QAction* play = menu->addAction(QStringLiteral("播放"));
        play->setCheckable(true);
        play->setChecked(loaded && p.isPlaying());
        play->setEnabled(loaded && p.frameCount() > 1);
        connect(play, &QAction::triggered, this, [this](bool on) { putPlaying(on); });
        QAction* loop = menu->addAction(QStringLiteral("循环"));
        loop->setCheckable(true);
        loop->setChecked(p.loop());
        loop->setEnabled(loaded && p.frameCount() > 1);
        connect(loop, &QAction::triggered, this, [this](bool on) {
            d->settings.loop = on;
            d->engine([this, on] { d->player->setLoop(on); });
        });
        menu->addSeparator();
        QAction* rewind = menu->addAction(QStringLiteral("倒带"), this, [this] {
            d->engine([this] {
                d->player->rewind();
                d->requestRender();
            });
        });
        QAction* forward = menu->addAction(QStringLiteral("前进"), this, [this] { Forward(); });
        QAction* back = menu->addAction(QStringLiteral("后退"), this, [this] { Back(); });
        rewind->setEnabled(loaded && p.currentFrame() > 1);
        back->setEnabled(loaded && p.currentFrame() > 1);
        forward->setEnabled(loaded && p.currentFrame() < p.frameCount());
        menu->addSeparator();
    }
    QAction* about = menu->addAction(QStringLiteral("关于 Swiftreel SWF 引擎 1.00"));
    about->setEnabled(false);
    return menu;
}

void SwfControl::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}
