#pragma once
// The Player façade: one loaded movie with its runtime, stage, clock, input
// tracking and sound. Front ends (the `swf` control, swfrender) own one
// Player each and drive it from one thread; drawing may happen elsewhere
// through a RenderJob.
#include "engine/core/log.h"
#include "engine/core/result.h"
#include "engine/display/button.h"
#include "engine/display/loader.h"
#include "engine/display/movie_clip.h"
#include "engine/display/script_host.h"
#include "engine/display/stage.h"
#include "engine/render/commands.h"
#include "engine/render/backend.h"

#include <QImage>
#include <QRect>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace swf {

class SoundPlayer;

// How the engine reaches its host. Every callback may be empty (no-op) and
// only notifies: it must never call back into the Player.
struct HostCallbacks {
    std::function<void(const std::string& url, const std::string& target)> openUrl;
    std::function<void(const std::string& command, const std::string& args)> fscommand;
    std::function<void(const std::string& line)> trace;
    LogFn log;
    // Called every few milliseconds while scripts run long, between actions.
    // The host may let its window answer input meanwhile, but must neither
    // call the Player nor let anything else call it until it returns.
    std::function<void()> scriptsBusy;
};

enum class Cursor { Arrow, Hand, Hidden };
enum class MouseButton { Left, Right, Middle };

// One frame's drawing, prepared on the Player's thread and executable on any
// thread (it holds only immutable movie data and copies).
struct RenderJob {
    render::CommandList commands;
    QSize size;
    QRect dirty;   // the part of the image to redraw; the whole image when `full`
    bool full = true;
    Quality quality = Quality::High;

    // Draws into `image`, which must hold the previous frame unless `full`;
    // an image of another size is reallocated and drawn whole.
    void execute(render::RenderBackend& backend, QImage& image) const;
    // Takes over a newer job when this one was never executed: the newer
    // drawing with both dirty areas.
    void merge(RenderJob&& newer);
};

class Player {
public:
    explicit Player(HostCallbacks host = {});
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // The script engine for each movie loaded from now on (none: scripts are
    // ignored). ActionScript 3 movies never get one.
    using ScriptHostFactory = std::function<std::unique_ptr<ScriptHost>(Player&)>;
    void setScriptHostFactory(ScriptHostFactory factory) { m_scriptFactory = std::move(factory); }
    ScriptHost* scriptHost() const { return m_scripts.get(); }
    // Where sound goes; null (the default) plays nothing. Owned by the Player.
    void setSoundPlayer(std::unique_ptr<SoundPlayer> sound);
    SoundPlayer* soundPlayer() const { return m_sound.get(); }

    // Loading. A movie that cannot be loaded leaves the stage empty.
    Result<std::shared_ptr<const Movie>> load(std::vector<uint8_t> bytes, const std::string& url);
    Result<std::shared_ptr<const Movie>> loadFile(const std::string& path);
    // Plays an already parsed movie.
    void load(const std::shared_ptr<const Movie>& movie);
    void unload();
    // Writes what the movie stored (SharedObject) without unloading it: for
    // a process that ends while a script is still running.
    void writeStoredData() { m_loader.runClearWorkNow(); }
    bool isLoaded() const { return m_root != nullptr; }
    // The movie at _level0 (a movie loaded there replaces the first one).
    const std::shared_ptr<const Movie>& movie() const { return m_root ? m_root->runtime().movie : m_rt->movie; }
    MovieClip* root() const { return m_root.get(); }
    const HostCallbacks& host() const { return m_host; }
    // A page the movie `asker` wants opened (getURL): the sandbox decides,
    // then the host's openUrl gets it.
    void openPage(const Asker& asker, const std::string& url, const std::string& target);

    // Playback of the root timeline (frames are 1-based). Nested clips keep
    // their own timelines running while the root is stopped, as in Flash.
    void play();
    void stop();
    bool isPlaying() const;
    // One frame back or forward without sound; playback stops. Back at the
    // first frame and Forward at the last stay where they are.
    void back();
    void forward();
    void rewind();
    void gotoFrame(uint32_t frame, bool andPlay = false);
    uint32_t currentFrame() const;
    uint32_t frameCount() const;
    void setLoop(bool loop);
    bool loop() const { return m_loop; }
    double frameRate() const;
    double frameIntervalMs() const { return 1000.0 / frameRate(); }

    // One tick: run the frame (timelines, then queued scripts), then advance
    // script timers by one frame time.
    void runFrame();
    // Runs the frames that fall due in `elapsedMs` of steady time; the rest
    // carries over, so timer jitter never loses or gains frames. Returns the
    // frames run (render once afterwards: frames run to catch up are not drawn).
    int advance(double elapsedMs);
    // Milliseconds until the next frame is due.
    double msUntilNextFrame() const;

    // View.
    void setViewport(int width, int height);
    QSize viewport() const { return {m_stage.viewportWidth(), m_stage.viewportHeight()}; }
    void setScaleMode(ScaleMode mode);
    ScaleMode scaleMode() const { return m_stage.scaleMode(); }
    void setAlign(uint8_t alignFlags);
    void zoom(int percent);
    const Stage& stage() const { return m_stage; }
    void setQuality(Quality q);
    Quality quality() const { return m_rt->quality; }
    // Background colour: the override if set, else the movie's, else white.
    void setBackgroundOverride(std::optional<Rgba> color);
    Rgba backgroundColor() const;

    // Drawing. needsRedraw() is false when nothing visible changed since the
    // last prepareRender(); a frame at rest costs no drawing.
    bool needsRedraw() const;
    // The drawing of the current frame, or nullopt when nothing changed.
    std::optional<RenderJob> prepareRender();
    // Force the next prepareRender() to draw everything (e.g. a new image).
    void invalidate() { m_fullRedraw = true; }
    // The command list of the current frame (for tests and tools).
    render::CommandList buildCommands() const;
    // Draws into `image` (kept between calls: only changed parts are redrawn).
    // Returns false when nothing needed drawing.
    bool render(QImage& image);
    // A fresh image of the whole viewport.
    QImage renderImage();

    // Input, in viewport pixels.
    void mouseMove(double x, double y);
    void mouseDown(double x, double y, MouseButton button = MouseButton::Left);
    void mouseUp(double x, double y, MouseButton button = MouseButton::Left);
    void mouseLeave();
    // Flash key codes (65 'A', 37 left arrow, 13 enter, ...) and the character typed (0 if none).
    void keyDown(int flashKeyCode, uint32_t charCode = 0);
    void keyUp(int flashKeyCode, uint32_t charCode = 0);
    // A typed character (after its keyDown), for the focused input field.
    void textInput(uint32_t codepoint);
    Cursor cursor() const;
    // The stage point (twips) under a viewport pixel.
    Point stagePoint(double x, double y) const;
    // The object under the pointer that takes mouse input (a button, or a
    // clip the script engine calls a button); null if none.
    DisplayObject* mouseTarget() const { return m_hover; }
    // The last pointer position on the stage (twips).
    Point mousePosition() const { return m_mouse; }

    // For the script engine: the runtime shared by the display objects.
    Runtime& runtime() { return *m_rt; }

    // Movies loaded at run time into levels and clips. Requests complete on
    // a later frame through the loader; http(s) goes through `fetch` (none:
    // only local files load).
    Loader& loader() { return m_loader; }
    void setFetch(FetchFn fetch) { m_loader.setFetch(std::move(fetch)); }
    void setResolve(ResolveFn resolve) { m_loader.setResolve(std::move(resolve)); }
    // A runtime for a loaded movie: its objects find their characters in
    // that movie. It lives while any of its objects does (null over the limit).
    Runtime* addMovieRuntime(const std::shared_ptr<const Movie>& movie);
    // _levelN for N >= 1, or null.
    MovieClip* level(int n) const;
    const std::map<int, std::unique_ptr<MovieClip>>& levels() const { return m_levels; }
    // Puts a loaded movie's clip at level n >= 1, replacing what was there;
    // null empties the level. Returns the clip.
    MovieClip* setLevel(int n, std::unique_ptr<MovieClip> clip);
    // Puts a loaded movie in place of the root clip (a load into _level0);
    // the scripts and their globals stay.
    MovieClip* replaceRoot(std::unique_ptr<MovieClip> clip);

private:
    void log(LogLevel level, const std::string& msg) const;
    void runScripts();
    DisplayObject* findMouseTarget(MovieClip& clip, Point stagePoint, const Matrix& parentWorld) const;
    // The mouse target over all levels, the highest first.
    DisplayObject* mouseTargetAt(Point stagePoint) const;
    void bindMovie(Runtime& rt, const std::shared_ptr<const Movie>& movie);
    // Loads the local movies the movie imports from and binds their exported characters.
    void bindImports(const Movie& movie);
    bool anyRuntimeChanged() const;
    void buttonTransition(DisplayObject* target, ButtonEvent event, ButtonObject::State state);
    void updateHover(Point stagePoint);

    HostCallbacks m_host;
    std::unique_ptr<Runtime> m_rt;
    ScriptHostFactory m_scriptFactory;
    std::unique_ptr<ScriptHost> m_scripts;
    std::unique_ptr<ScriptHost> m_nullScripts;
    std::unique_ptr<SoundPlayer> m_sound;
    // Loaded movies: their runtimes (declared before the clips that use them) and levels.
    std::vector<std::unique_ptr<Runtime>> m_movieRuntimes;
    std::unique_ptr<MovieClip> m_root;
    std::map<int, std::unique_ptr<MovieClip>> m_levels;
    Loader m_loader;
    Stage m_stage;
    bool m_loop = true;
    std::optional<Rgba> m_bgOverride;

    bool m_firstFrame = true;      // init actions go to the scripts before the first frame
    bool m_mouseInside = false;
    bool m_mouseDown = false;      // the left button is held
    double m_clockMs = 0;          // time carried over towards the next frame
    bool m_fullRedraw = true;
    std::optional<render::CommandList> m_lastDrawn;
    QSize m_lastSize;

    DisplayObject* m_hover = nullptr;   // under the pointer
    DisplayObject* m_pressed = nullptr; // pressed and still held
    Point m_mouse;
    std::unique_ptr<render::RenderBackend> m_backend; // for render()/renderImage()
};

} // namespace swf
