#include "engine/display/player.h"

#include "engine/core/limits.h"
#include "engine/display/button.h"
#include "engine/render/bounds.h"
#include "engine/sound/sound_player.h"
#include "engine/swf/parser.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace swf {

namespace {

// When the machine falls far behind, at most this many frames run in one
// advance(); older backlog is dropped so the player never spirals.
constexpr int kMaxCatchUpFrames = 10;

// Key-press codes of button conditions for the keys that are not characters.
int buttonKeyCode(int flashKeyCode, uint32_t charCode) {
    switch (flashKeyCode) {
    case 37: return 1;  // left
    case 39: return 2;  // right
    case 36: return 3;  // home
    case 35: return 4;  // end
    case 45: return 5;  // insert
    case 46: return 6;  // delete
    case 8: return 8;   // backspace
    case 13: return 13; // enter
    case 38: return 14; // up
    case 40: return 15; // down
    case 33: return 16; // page up
    case 34: return 17; // page down
    case 9: return 18;  // tab
    case 27: return 19; // escape
    default: break;
    }
    return charCode >= 32 && charCode < 127 ? int(charCode) : 0;
}

void forEachButton(MovieClip& clip, const std::function<void(ButtonObject&)>& f) {
    for (const auto& [depth, child] : clip.children()) {
        if (child->type() == DisplayObject::Type::Button) f(static_cast<ButtonObject&>(*child));
        else if (child->type() == DisplayObject::Type::MovieClip) forEachButton(static_cast<MovieClip&>(*child), f);
    }
}

// The yellow frame around the object with the keyboard focus: a band three
// pixels wide inside `stageRect` (stage twips). Flash puts its edges on the
// quarter-pixel grid, inside the rectangle.
render::DrawShape focusFrame(const Rect& stageRect, const Matrix& toDevice) {
    constexpr double kWidthPx = 3, kGrid = 4;
    // The stage maps to the window by scaling and moving only.
    Point a = toDevice.map({double(stageRect.xMin), double(stageRect.yMin)});
    Point b = toDevice.map({double(stageRect.xMax), double(stageRect.yMax)});
    double x0 = std::ceil(std::min(a.x, b.x) * kGrid) / kGrid, y0 = std::ceil(std::min(a.y, b.y) * kGrid) / kGrid;
    double x1 = std::floor(std::max(a.x, b.x) * kGrid) / kGrid, y1 = std::floor(std::max(a.y, b.y) * kGrid) / kGrid;
    double band = std::min({kWidthPx, (x1 - x0) / 2, (y1 - y0) / 2});
    auto contour = [](std::vector<Edge>& out, double l, double t, double r, double b, bool clockwise) {
        Point corners[] = {{l * 20, t * 20}, {r * 20, t * 20}, {r * 20, b * 20}, {l * 20, b * 20}};
        if (!clockwise) std::swap(corners[1], corners[3]);
        for (int i = 0; i < 4; ++i) {
            Point from = corners[i], to = corners[(i + 1) % 4];
            out.push_back({from, {(from.x + to.x) / 2, (from.y + to.y) / 2}, to, false});
        }
    };
    ShapeLayer layer;
    FillStyle yellow;
    yellow.color = Rgba{255, 255, 0, 255};
    layer.fillStyles.push_back(yellow);
    StyledPath path;
    if (band > 0) {
        contour(path.edges, x0, y0, x1, y1, true);
        contour(path.edges, x0 + band, y0 + band, x1 - band, y1 - band, false);
    }
    layer.fills.push_back(std::move(path));
    auto shape = std::make_shared<ShapeDef>();
    shape->version = 3;
    shape->bounds = shape->edgeBounds = Rect{int32_t(x0 * 20), int32_t(x1 * 20), int32_t(y0 * 20), int32_t(y1 * 20)};
    shape->layers.push_back(std::move(layer));
    render::DrawShape cmd;
    cmd.shape = std::move(shape);
    cmd.matrix = Matrix{1 / 20.0, 0, 0, 1 / 20.0, 0, 0}; // the frame is made in device pixels
    return cmd;
}

} // namespace

void RenderJob::execute(render::RenderBackend& backend, QImage& image) const {
    bool whole = full;
    if (image.size() != size || image.format() != QImage::Format_ARGB32_Premultiplied) {
        image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        whole = true;
    }
    if (size.isEmpty()) return;
    backend.draw(commands, image, quality, whole ? QRect() : dirty);
}

Player::Player(HostCallbacks host)
    : m_host(std::move(host)), m_rt(std::make_unique<Runtime>()), m_nullScripts(std::make_unique<ScriptHost>()) {
    m_rt->log = [this](LogLevel level, const std::string& msg) { log(level, msg); };
    m_rt->scripts = m_nullScripts.get();
    m_rt->soundTag = [this](MovieClip& clip, const Timeline& tl, uint32_t frame, const ControlTag& t) {
        if (m_sound && m_rt->movie) m_sound->controlTag(m_rt->movie, &clip, tl, frame, t);
    };
    m_rt->stopStream = [this](const MovieClip& clip) {
        if (m_sound) m_sound->stopStream(&clip);
    };
    m_rt->destroyed = [this](const DisplayObject* obj) {
        if (m_hover == obj) m_hover = nullptr;
        if (m_pressed == obj) m_pressed = nullptr;
        m_rt->scripts->objectDestroyed(*obj);
    };
}

Player::~Player() {
    unload();
    m_sound.reset();
}

void Player::openPage(const Asker& asker, const std::string& url, const std::string& target) {
    std::string why;
    if (auto page = m_loader.sandbox().pageToOpen(asker, url, &why)) {
        if (m_host.openUrl) m_host.openUrl(*page, target);
        return;
    }
    log(LogLevel::Warning, "not opening " + url.substr(0, 200) + ": " + why);
}

void Player::log(LogLevel level, const std::string& msg) const {
    if (m_host.log) m_host.log(level, msg);
}

void Player::setSoundPlayer(std::unique_ptr<SoundPlayer> sound) {
    if (m_sound) m_sound->stopAll();
    m_sound = std::move(sound);
}

// ---- loading --------------------------------------------------------------

Result<std::shared_ptr<const Movie>> Player::loadFile(const std::string& path) {
    unload();
    auto movie = loadMovieFile(path, m_rt->log);
    if (!movie) {
        log(LogLevel::Error, "cannot load " + path + ": " + movie.error().message);
        return movie.error();
    }
    load(*movie);
    return *movie;
}

Result<std::shared_ptr<const Movie>> Player::load(std::vector<uint8_t> bytes, const std::string& url) {
    unload();
    auto movie = parseMovie(std::move(bytes), url, m_rt->log);
    if (!movie) {
        log(LogLevel::Error, "cannot load " + url + ": " + movie.error().message);
        return movie.error();
    }
    load(*movie);
    return *movie;
}

void Player::load(const std::shared_ptr<const Movie>& movie) {
    unload();
    bindMovie(*m_rt, movie);
    m_stage.setMovieRect(movie->header.frameSize);
    m_rt->trace = m_host.trace;
    if (m_scriptFactory) {
        m_scripts = m_scriptFactory(*this);
        if (m_scripts) m_rt->scripts = m_scripts.get();
    }
    if (movie->isAs3() && !m_scripts)
        log(LogLevel::Warning, "ActionScript 3 movie: its scripts are not run, only its timeline is shown");
    bindImports(*movie);
    m_root = std::make_unique<MovieClip>(*m_rt, 0, &movie->timeline);
    m_root->setLoops(m_loop);
    m_firstFrame = true;
    m_clockMs = 0;
    m_fullRedraw = true;
    m_rt->changed = true;
    m_rt->scripts->movieLoaded(*this, *m_root);
}

void Player::bindMovie(Runtime& rt, const std::shared_ptr<const Movie>& movie) {
    rt.movie = movie;
    rt.bitmaps = [movie](uint16_t id) { return movie->get<BitmapDef>(id); };
    rt.fonts.byId = [movie](uint16_t id) { return movie->get<FontDef>(id); };
    rt.fonts.byName = [movie](const std::string& name, bool bold, bool italic) {
        // A font of the movie by name; the closest style wins.
        std::shared_ptr<const FontDef> best;
        int bestScore = -1;
        for (const auto& [id, c] : movie->dictionary) {
            auto f = std::get_if<std::shared_ptr<const FontDef>>(&c);
            if (!f || (*f)->name != name) continue;
            int score = ((*f)->bold == bold) + ((*f)->italic == italic) + !(*f)->glyphs.empty();
            if (score > bestScore) { best = *f; bestScore = score; }
        }
        return best;
    };
}

void Player::bindImports(const Movie& movie) {
    std::map<std::string, Runtime*> sources; // by resolved path; null when it did not load
    for (const ImportedAsset& asset : movie.imports) {
        auto path = Loader::resolve(movie.url, asset.url);
        if (!path || !Loader::isLocal(*path)) {
            log(LogLevel::Warning, "imports from " + asset.url + " are not loaded: only local files are");
            continue;
        }
        if (!sources.count(*path) && sources.size() >= limits::kMaxImportSources) {
            log(LogLevel::Warning, "imports from " + asset.url + " are not loaded: too many files imported from");
            continue;
        }
        auto [it, isNew] = sources.emplace(*path, nullptr);
        if (isNew) {
            auto source = loadMovieFile(*path, m_rt->log);
            if (!source) {
                log(LogLevel::Warning, "cannot import from " + asset.url + ": " + source.error().message);
                continue;
            }
            if ((it->second = addMovieRuntime(*source))) it->second->pinned = true;
        }
        Runtime* from = it->second;
        if (!from) continue;
        auto exported = from->movie->exports.find(asset.name);
        if (exported == from->movie->exports.end()) {
            log(LogLevel::Warning, "\"" + asset.name + "\" is not exported by " + asset.url);
            continue;
        }
        m_rt->imports[asset.id] = Runtime::ImportedCharacter{from, exported->second};
    }
}

Runtime* Player::addMovieRuntime(const std::shared_ptr<const Movie>& movie) {
    if (!movie || m_movieRuntimes.size() >= limits::kMaxLoadedMovies) return nullptr;
    auto rt = std::make_unique<Runtime>();
    bindMovie(*rt, movie);
    rt->scripts = m_rt->scripts;
    rt->log = m_rt->log;
    rt->quality = m_rt->quality;
    rt->destroyed = m_rt->destroyed;
    rt->stopStream = m_rt->stopStream;
    rt->soundTag = [this, movie](MovieClip& clip, const Timeline& tl, uint32_t frame, const ControlTag& t) {
        if (m_sound) m_sound->controlTag(movie, &clip, tl, frame, t);
    };
    // Serials stay unique across the player's runtimes.
    static constexpr uint64_t kSerialsPerRuntime = uint64_t(1) << 40;
    uint64_t highest = m_rt->nextSerial;
    for (const auto& other : m_movieRuntimes) highest = std::max(highest, other->nextSerial);
    rt->nextSerial = (highest / kSerialsPerRuntime + 1) * kSerialsPerRuntime;
    m_movieRuntimes.push_back(std::move(rt));
    return m_movieRuntimes.back().get();
}

MovieClip* Player::level(int n) const {
    auto it = m_levels.find(n);
    return it == m_levels.end() ? nullptr : it->second.get();
}

MovieClip* Player::setLevel(int n, std::unique_ptr<MovieClip> clip) {
    if (n < 1 || n > limits::kMaxLevel) return nullptr;
    auto it = m_levels.find(n);
    if (it != m_levels.end()) {
        // Taken out of the map first: its unload handlers may look at the levels.
        std::unique_ptr<MovieClip> old = std::move(it->second);
        m_levels.erase(it);
        old->runtime().scripts->objectRemoved(*old);
    }
    m_fullRedraw = true;
    if (!clip) return nullptr;
    clip->setDepth(n);
    MovieClip* raw = clip.get();
    m_levels[n] = std::move(clip);
    return raw;
}

MovieClip* Player::replaceRoot(std::unique_ptr<MovieClip> clip) {
    if (!clip || !m_root) return nullptr;
    std::unique_ptr<MovieClip> old = std::move(m_root);
    m_root = std::move(clip);
    m_root->setDepth(0);
    m_root->setLoops(m_loop);
    if (m_root->runtime().movie) m_stage.setMovieRect(m_root->runtime().movie->header.frameSize);
    old->runtime().scripts->objectRemoved(*old);
    old.reset();
    m_hover = m_pressed = nullptr;
    m_fullRedraw = true;
    return m_root.get();
}

bool Player::anyRuntimeChanged() const {
    if (m_rt->changed) return true;
    for (const auto& rt : m_movieRuntimes)
        if (rt->changed) return true;
    return false;
}

void Player::unload() {
    if (m_sound) m_sound->stopAll();
    m_loader.clear();
    while (!m_levels.empty()) setLevel(m_levels.rbegin()->first, nullptr);
    if (m_root) m_rt->scripts->movieUnloading();
    m_root.reset();
    m_movieRuntimes.clear();
    m_rt->scripts = m_nullScripts.get();
    m_scripts.reset();
    m_rt->movie.reset();
    m_rt->bitmaps = nullptr;
    m_rt->fonts = {};
    m_rt->imports.clear();
    m_hover = m_pressed = nullptr;
    m_lastDrawn.reset();
    m_fullRedraw = true;
    m_rt->changed = true;
}

// ---- playback -------------------------------------------------------------

void Player::play() {
    if (m_root) m_root->play();
}

void Player::stop() {
    if (m_root) m_root->stop();
}

bool Player::isPlaying() const { return m_root && m_root->isPlaying(); }

uint32_t Player::currentFrame() const { return m_root ? m_root->currentFrame() : 0; }

uint32_t Player::frameCount() const { return m_root ? m_root->totalFrames() : 0; }

double Player::frameRate() const {
    double rate = m_rt->movie ? m_rt->movie->header.frameRate : 0;
    // A rate of 0 or one beyond any screen would stall or flood the clock.
    return rate > 0.01 ? std::min(rate, 1000.0) : 12.0;
}

void Player::setLoop(bool loop) {
    m_loop = loop;
    if (m_root) m_root->setLoops(loop);
}

void Player::gotoFrame(uint32_t frame, bool andPlay) {
    if (!m_root) return;
    m_rt->scripts->beginTick();
    if (m_firstFrame) runFrame();
    m_root->gotoFrame(frame, andPlay);
    runScripts();
}

void Player::back() {
    if (!m_root) return;
    m_rt->silent = true;
    m_root->stop();
    if (m_root->currentFrame() > 1) gotoFrame(m_root->currentFrame() - 1, false);
    m_rt->silent = false;
}

void Player::forward() {
    if (!m_root) return;
    m_rt->silent = true;
    m_root->stop();
    if (m_root->currentFrame() < m_root->totalFrames()) gotoFrame(m_root->currentFrame() + 1, false);
    m_rt->silent = false;
}

void Player::rewind() {
    if (!m_root) return;
    m_rt->silent = true;
    gotoFrame(1, false);
    m_rt->silent = false;
}

void Player::runScripts() { m_rt->scripts->runQueued(); }

void Player::runFrame() {
    if (!m_root) return;
    m_rt->scripts->beginTick();
    if (m_firstFrame) {
        m_firstFrame = false;
        for (const auto& [spriteId, t] : m_rt->movie->initActions)
            m_rt->scripts->initActions(*m_root, spriteId, t.body);
    }
    // Objects kept for their unload event go before the frame begins.
    for (uint64_t serial : std::exchange(m_rt->pendingRemovals, {}))
        if (DisplayObject* o = m_rt->find(serial); o && o->parent()) o->parent()->removeChild(o->depth());
    m_root->tick();
    std::vector<MovieClip*> levels;
    for (const auto& [n, clip] : m_levels) levels.push_back(clip.get());
    for (MovieClip* clip : levels)
        if (std::any_of(m_levels.begin(), m_levels.end(), [clip](const auto& l) { return l.second.get() == clip; }))
            clip->tick();
    runScripts();
    m_loader.runDeferred();
    runScripts();
    m_rt->scripts->advanceTimers(frameIntervalMs());
    runScripts();
    // Loads asked for until now land between frames: a loaded movie plays
    // its first frame on the next tick.
    m_loader.poll();
    runScripts();
    // A loaded movie's runtime goes with its last object.
    std::erase_if(m_movieRuntimes, [](const std::unique_ptr<Runtime>& rt) { return rt->objectCount == 0 && !rt->pinned; });
    // Objects may have moved under a still pointer.
    if (m_mouseInside) updateHover(m_mouse);
}

int Player::advance(double elapsedMs) {
    if (!m_root || !(elapsedMs >= 0)) return 0;
    const double interval = frameIntervalMs();
    m_clockMs += elapsedMs;
    int ran = 0;
    // A streaming sound is the clock of its timeline: follow it.
    if (m_sound && m_root->isPlaying()) {
        if (auto pos = m_sound->streamPositionFrames(m_root.get())) {
            uint32_t target = uint32_t(std::floor(*pos)) + 1;
            while (m_root->currentFrame() < target && ran < kMaxCatchUpFrames && m_root->isPlaying()) {
                runFrame();
                ++ran;
            }
            m_clockMs = 0;
            return ran;
        }
    }
    // A microsecond of slack keeps rounding of the caller's times from losing a frame.
    while (m_clockMs >= interval - 1e-3 && ran < kMaxCatchUpFrames) {
        runFrame();
        m_clockMs -= interval;
        ++ran;
    }
    if (m_clockMs >= interval) m_clockMs = std::fmod(m_clockMs, interval);
    m_clockMs = std::max(0.0, m_clockMs);
    return ran;
}

double Player::msUntilNextFrame() const { return std::max(0.0, frameIntervalMs() - m_clockMs); }

// ---- view -----------------------------------------------------------------

void Player::setViewport(int width, int height) {
    if (width == m_stage.viewportWidth() && height == m_stage.viewportHeight()) return;
    m_stage.setViewport(std::max(0, width), std::max(0, height));
    m_fullRedraw = true;
}

void Player::setScaleMode(ScaleMode mode) {
    if (mode == m_stage.scaleMode()) return;
    m_stage.setScaleMode(mode);
    m_fullRedraw = true;
}

void Player::setAlign(uint8_t alignFlags) {
    if (alignFlags == m_stage.alignFlags()) return;
    m_stage.setAlign(alignFlags);
    m_fullRedraw = true;
}

void Player::zoom(int percent) {
    if (m_stage.zoom(percent)) m_fullRedraw = true;
}

void Player::setQuality(Quality q) {
    if (q == m_rt->quality) return;
    m_rt->quality = q;
    for (auto& rt : m_movieRuntimes) rt->quality = q;
    m_fullRedraw = true;
}

void Player::setBackgroundOverride(std::optional<Rgba> color) {
    m_bgOverride = color;
    m_fullRedraw = true;
}

Rgba Player::backgroundColor() const {
    if (m_bgOverride) return *m_bgOverride;
    // The movie at _level0 sets the stage colour; without one, the lowest
    // loaded level that has one does.
    std::optional<Rgba> color = movie() ? movie()->backgroundColor : std::nullopt;
    for (auto it = m_levels.begin(); !color && it != m_levels.end(); ++it)
        if (const auto& m = it->second->runtime().movie) color = m->backgroundColor;
    if (!color) return Rgba{255, 255, 255, 255};
    color->a = 255;
    return *color;
}

// ---- drawing --------------------------------------------------------------

bool Player::needsRedraw() const { return m_fullRedraw || anyRuntimeChanged(); }

render::CommandList Player::buildCommands() const {
    render::CommandList list;
    list.background = backgroundColor();
    if (m_root && m_root->visible())
        m_root->draw(list, m_stage.matrix() * m_root->matrix(), m_root->colorTransform());
    for (const auto& [n, clip] : m_levels)
        if (clip->visible()) clip->draw(list, m_stage.matrix() * clip->matrix(), clip->colorTransform());
    if (std::optional<Rect> focus = m_rt->scripts->focusHighlight())
        list.commands.push_back(focusFrame(*focus, m_stage.matrix()));
    return list;
}

std::optional<RenderJob> Player::prepareRender() {
    if (!needsRedraw()) return std::nullopt;
    RenderJob job;
    job.size = viewport();
    job.quality = m_rt->quality;
    job.commands = buildCommands();
    QRect whole(QPoint(0, 0), job.size);
    if (m_fullRedraw || !m_lastDrawn || job.size != m_lastSize) {
        job.full = true;
        job.dirty = whole;
    } else {
        job.full = false;
        job.dirty = render::dirtyRect(*m_lastDrawn, job.commands, whole);
    }
    m_rt->changed = false;
    for (auto& rt : m_movieRuntimes) rt->changed = false;
    m_fullRedraw = false;
    m_lastSize = job.size;
    m_lastDrawn = job.commands;
    if (job.dirty.isEmpty()) return std::nullopt;
    return job;
}

bool Player::render(QImage& image) {
    if (image.size() != viewport()) m_fullRedraw = true;
    auto job = prepareRender();
    if (!job) return false;
    if (!m_backend) m_backend = render::makeBackend();
    job->execute(*m_backend, image);
    return true;
}

QImage Player::renderImage() {
    QImage image;
    m_fullRedraw = true;
    render(image);
    if (image.isNull()) {
        image = QImage(viewport(), QImage::Format_ARGB32_Premultiplied);
        Rgba bg = backgroundColor();
        image.fill(QColor(bg.r, bg.g, bg.b));
    }
    return image;
}

void RenderJob::merge(RenderJob&& newer) {
    bool wasFull = full;
    QRect oldDirty = dirty;
    *this = std::move(newer);
    full = full || wasFull;
    dirty = full ? QRect(QPoint(0, 0), size) : (dirty | oldDirty);
}

// ---- input ----------------------------------------------------------------

Point Player::stagePoint(double x, double y) const { return inverted(m_stage.matrix()).map({x, y}); }

DisplayObject* Player::findMouseTarget(MovieClip& clip, Point pt, const Matrix& parentWorld) const {
    const auto& children = clip.children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        DisplayObject& c = *it->second;
        if (!c.visible() || c.clipDepth() > 0) continue;
        Matrix world = parentWorld * c.matrix();
        Point local = inverted(world).map(pt);
        if (c.type() == DisplayObject::Type::Button) {
            auto& b = static_cast<ButtonObject&>(c);
            if (!m_rt->scripts->buttonEnabled(b)) continue;
            // Buttons inside the clips of its shown state come before the button itself.
            for (auto inner = b.children().rbegin(); inner != b.children().rend(); ++inner)
                if (inner->second->type() == DisplayObject::Type::MovieClip && inner->second->visible())
                    if (DisplayObject* found = findMouseTarget(static_cast<MovieClip&>(*inner->second), pt,
                                                               world * inner->second->matrix()))
                        return found;
            if (b.hitTest(local)) return &b;
        } else if (c.type() == DisplayObject::Type::MovieClip) {
            auto& mc = static_cast<MovieClip&>(c);
            if (m_rt->scripts->clipIsButton(mc)) {
                if (mc.hitTest(local)) return &mc;
            } else if (DisplayObject* found = findMouseTarget(mc, pt, world)) {
                return found;
            }
        }
    }
    return nullptr;
}

DisplayObject* Player::mouseTargetAt(Point pt) const {
    for (auto it = m_levels.rbegin(); it != m_levels.rend(); ++it)
        if (it->second->visible())
            if (DisplayObject* found = findMouseTarget(*it->second, pt, it->second->matrix())) return found;
    return m_root ? findMouseTarget(*m_root, pt, m_root->matrix()) : nullptr;
}

void Player::buttonTransition(DisplayObject* target, ButtonEvent event, ButtonObject::State state) {
    if (!target) return;
    if (target->type() == DisplayObject::Type::Button) {
        auto& b = static_cast<ButtonObject&>(*target);
        b.setState(state);
        if (m_sound && m_rt->movie) {
            int sound = event == ButtonEvent::RollOut ? 0 : event == ButtonEvent::RollOver ? 1
                      : event == ButtonEvent::Press ? 2 : event == ButtonEvent::Release ? 3 : -1;
            if (sound >= 0 && b.def().sounds[sound].soundId) m_sound->buttonSound(m_rt->movie, b.def().sounds[sound]);
        }
        auto actions = b.actionsFor(event);
        m_rt->scripts->buttonEvent(b, event, actions);
        return;
    }
    if (std::optional<ClipEvent> ev = clipEventFor(event))
        m_rt->scripts->clipEvent(*target, *ev);
}

void Player::updateHover(Point pt) {
    if (!m_root) return;
    DisplayObject* target = m_mouseInside ? mouseTargetAt(pt) : nullptr;
    if (m_mouseDown && target && target != m_hover && target != m_pressed && m_rt->scripts->tracksAsMenu(*target) &&
        (!m_pressed || m_rt->scripts->tracksAsMenu(*m_pressed))) {
        // Held down elsewhere (or on another menu item), the pointer drags
        // onto a menu item, which then counts as pressed.
        DisplayObject* old = m_pressed;
        bool overOld = old && m_hover == old; // dragged out of it already otherwise
        m_hover = m_pressed = target;
        if (overOld) buttonTransition(old, ButtonEvent::MenuDragOut, ButtonObject::State::Up);
        if (m_pressed == target) buttonTransition(target, ButtonEvent::MenuDragOver, ButtonObject::State::Down);
        return;
    }
    if (m_pressed) {
        // While a button is held only it reacts: dragged out of and back over it.
        if (target == m_pressed && m_hover != m_pressed) {
            m_hover = target;
            buttonTransition(m_pressed, ButtonEvent::DragOver, ButtonObject::State::Down);
        } else if (target != m_pressed && m_hover == m_pressed) {
            m_hover = target;
            buttonTransition(m_pressed, ButtonEvent::DragOut, ButtonObject::State::Over);
        } else {
            m_hover = target;
        }
        return;
    }
    if (target == m_hover) return;
    DisplayObject* old = m_hover;
    m_hover = target;
    buttonTransition(old, ButtonEvent::RollOut, ButtonObject::State::Up);
    // The script host may have removed the new target meanwhile.
    if (m_hover == target) buttonTransition(target, ButtonEvent::RollOver, ButtonObject::State::Over);
}

void Player::mouseMove(double x, double y) {
    m_mouseInside = true;
    m_mouse = stagePoint(x, y);
    if (!m_root) return;
    m_rt->scripts->beginTick();
    m_rt->scripts->mouseEvent(ClipEvent::MouseMove);
    updateHover(m_mouse);
    runScripts();
}

void Player::mouseLeave() {
    m_mouseInside = false;
    if (!m_root) return;
    m_rt->scripts->beginTick();
    updateHover(m_mouse);
    runScripts();
}

void Player::mouseDown(double x, double y, MouseButton button) {
    m_mouseInside = true;
    m_mouse = stagePoint(x, y);
    m_loader.sandbox().userAction();
    if (!m_root || button != MouseButton::Left) return;
    m_rt->scripts->beginTick();
    updateHover(m_mouse);
    m_mouseDown = true;
    m_rt->scripts->mouseEvent(ClipEvent::MouseDown);
    m_rt->scripts->pointerPressed(m_mouse);
    if (m_hover) {
        m_pressed = m_hover;
        buttonTransition(m_pressed, ButtonEvent::Press, ButtonObject::State::Down);
    }
    runScripts();
}

void Player::mouseUp(double x, double y, MouseButton button) {
    m_mouse = stagePoint(x, y);
    if (!m_root || button != MouseButton::Left) return;
    m_rt->scripts->beginTick();
    m_mouseDown = false;
    m_rt->scripts->mouseEvent(ClipEvent::MouseUp);
    if (DisplayObject* pressed = m_pressed) {
        m_pressed = nullptr;
        DisplayObject* target = mouseTargetAt(m_mouse);
        if (target == pressed) {
            m_hover = pressed;
            buttonTransition(pressed, ButtonEvent::Release, ButtonObject::State::Over);
        } else {
            m_hover = nullptr;
            buttonTransition(pressed, ButtonEvent::ReleaseOutside, ButtonObject::State::Up);
        }
    }
    updateHover(m_mouse);
    runScripts();
}

void Player::keyDown(int flashKeyCode, uint32_t charCode) {
    m_loader.sandbox().userAction();
    if (!m_root) return;
    m_rt->scripts->beginTick();
    m_rt->scripts->keyDown(flashKeyCode, charCode);
    bool claimed = false;
    if (int code = buttonKeyCode(flashKeyCode, charCode)) {
        // The first shown button with this key condition takes the key;
        // hidden buttons (or buttons in hidden clips) never see it.
        ButtonObject* taker = nullptr;
        forEachButton(*m_root, [&](ButtonObject& b) {
            if (taker || !b.visible() || b.actionsForKey(code).empty()) return;
            for (const DisplayObject* p = b.parent(); p; p = p->parent())
                if (!p->visible()) return;
            taker = &b;
        });
        if (taker) m_rt->scripts->buttonKey(*taker, taker->actionsForKey(code).front());
        claimed = taker != nullptr;
    }
    m_rt->scripts->keyDownDone(flashKeyCode, charCode, claimed);
    runScripts();
}

void Player::textInput(uint32_t codepoint) {
    if (!m_root) return;
    m_rt->scripts->beginTick();
    m_rt->scripts->textInput(codepoint);
    runScripts();
}

void Player::keyUp(int flashKeyCode, uint32_t charCode) {
    if (!m_root) return;
    m_rt->scripts->beginTick();
    m_rt->scripts->keyUp(flashKeyCode, charCode);
    runScripts();
}

Cursor Player::cursor() const {
    if (m_rt->scripts->pointerHidden()) return Cursor::Hidden;
    if (!m_hover) return Cursor::Arrow;
    if (m_hover->type() == DisplayObject::Type::Button && !static_cast<const ButtonObject*>(m_hover)->enabled())
        return Cursor::Arrow;
    return m_rt->scripts->showsHandCursor(*m_hover) ? Cursor::Hand : Cursor::Arrow;
}

} // namespace swf
