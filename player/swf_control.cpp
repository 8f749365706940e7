#include "player/swf_control.h"

// Placeholder body until the engine-backed control lands: it keeps the
// values it is given so that the program can be built and tested.
struct SwfControl::Impl {
    Settings settings;
    QString movie;
    bool playing = false;
    int scaleMode = 0;
    std::function<void(const QString&, const QString&)> urlHandler;
};

SwfControl::SwfControl(QWidget* parent, Settings settings) : QWidget(parent), d(std::make_unique<Impl>()) {
    d->settings = std::move(settings);
    d->playing = d->settings.play;
    setFocusPolicy(Qt::StrongFocus);
}
SwfControl::SwfControl(QWidget* parent) : SwfControl(parent, Settings{}) {}
SwfControl::~SwfControl() = default;
void SwfControl::putMovie(const QString& pathOrUrl) { d->movie = pathOrUrl; }
QString SwfControl::movie() const { return d->movie; }
void SwfControl::putPlaying(bool playing) { d->playing = playing; }
bool SwfControl::playing() const { return d->playing; }
void SwfControl::Stop() { d->playing = false; }
void SwfControl::Back() {}
void SwfControl::Forward() {}
void SwfControl::Zoom(int) {}
void SwfControl::putScaleMode(int mode) { d->scaleMode = mode; }
int SwfControl::scaleMode() const { return d->scaleMode; }
const SwfControl::Settings& SwfControl::settings() const { return d->settings; }
void SwfControl::setUrlHandler(std::function<void(const QString&, const QString&)> handler) {
    d->urlHandler = std::move(handler);
}
